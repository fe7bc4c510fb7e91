// Shared pieces of the loopback tests: temp folders, plain blocking clients,
// and a server core pumped on the test's own thread while clients run beside it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>

#include "AnswerPlan.h"
#include "RootLookup.h"
#include "ServerCore.h"
#include "Socket.h"

namespace tarvel_test {

class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    const std::filesystem::path& Path() const { return m_path; }
    std::string operator/(const std::string& strName) const { return (m_path / strName).string(); }

private:
    std::filesystem::path m_path;
};

void WriteFile(const std::string& strPath, const std::string& strContent);
std::string ReadFile(const std::string& strPath);
int OpenDescriptorCount();
// The running test program, which no look-up serves and no listing shows.
SFileIdentity OwnProgram();

// A temp root and what the look-up finds under it.
class CRootTest : public ::testing::Test {
protected:
    // path: as a request names it, '/'-separated and decoded.
    SFound Find(std::string_view path);
    std::string In(const std::string& strName) const { return m_root / strName; }

    CTempDir m_root;
    const std::string m_strRoot = m_root.Path().string();
    char m_start[64];  // the look-up's buffer for a file's first bytes
};

// The same root, and the one decision of the answer to a request.
class CPlannedRootTest : public CRootTest {
protected:
    // Default page index.htm.
    SAnswerPlan Plan(const std::string& strLine, bool bListFolders = false);
    // With the preview on: front pages, links without ".html", the 404 page and
    // the reload script; default page home.htm.
    SAnswerPlan Preview(const std::string& strLine, bool bListFolders = false);
};

struct SAnswer {
    std::string strRaw;  // every byte received
    int nStatus = 0;     // 0: no status line
    std::map<std::string, std::string> headers;
    std::string strBody;  // after the blank line, or everything when there is no status line
    bool bReset = false;  // the connection ended with a reset instead of a close
};
SAnswer ParseAnswer(const std::string& strRaw);

// A blocking client socket to 127.0.0.1 with a receive time-out, so no test hangs.
// pszFrom: another loopback address (127.0.0.2, ...) to connect from, as another host.
class CClient {
public:
    explicit CClient(unsigned nPort, const char* pszFrom = nullptr);
    ~CClient();
    CClient(const CClient&) = delete;
    CClient& operator=(const CClient&) = delete;

    bool Connected() const { return m_hSocket >= 0; }
    void Send(const std::string& strBytes);
    void ShutdownSending();
    // Reads until the server closes (or resets, or 10 s pass).
    SAnswer ReadAll();
    // Reads at most nCount bytes (blocking).
    std::string ReadSome(size_t nCount);
    // Closes with a reset (linger 0).
    void Reset();
    void SetReceiveBuffer(int nBytes);
    int Handle() const { return m_hSocket; }

private:
    int m_hSocket = -1;
};

// Sends strRequest, reads the whole answer.
SAnswer Fetch(unsigned nPort, const std::string& strRequest);
// Runs fn again and again on a thread of its own until the object goes.
class CBackgroundLoop {
public:
    explicit CBackgroundLoop(std::function<void(const std::atomic<bool>& stop)> fn);
    ~CBackgroundLoop();

private:
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// A server core that records what it would show, on a temp root.
class CServedRootTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts on a free port.
    void Start();
    unsigned Port() const;
    // Runs fn on a thread of its own while this thread pumps the dispatcher,
    // until fn returns (at most 30 s).
    template <typename F>
    auto WhileServing(F fn) -> decltype(fn()) {
        auto result = std::async(std::launch::async, fn);
        PumpUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return result.get();
    }
    // Pumps the dispatcher until done() or 30 s.
    void PumpUntil(const std::function<bool()>& done, int nLimitMs = 30000);
    // Pumps for about nMs.
    void PumpFor(int nMs);
    SAnswer Get(const std::string& strRequest) {
        return WhileServing([&] { return Fetch(Port(), strRequest); });
    }

    CTempDir m_root;
    CServerCore m_server;
};

}  // namespace tarvel_test
