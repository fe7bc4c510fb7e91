// Ports on every local address: a free one, one kept busy, one checked.
#pragma once

namespace tarvel_test {

// A port nothing listens on right now.
unsigned FreePort();

// A socket listening on every local address at nPort, so a start there fails.
class CPortBlocker {
public:
    explicit CPortBlocker(unsigned nPort);
    ~CPortBlocker();
    CPortBlocker(const CPortBlocker&) = delete;
    CPortBlocker& operator=(const CPortBlocker&) = delete;
    bool Blocking() const { return m_hSocket >= 0; }

private:
    int m_hSocket = -1;
};

// True when a listener could bind nPort on every local address now.
bool PortIsFree(unsigned nPort);

}  // namespace tarvel_test
