#include "PortSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvel_test {
namespace {

sockaddr_in AnyAddress(unsigned nPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return address;
}

}  // namespace

unsigned FreePort() {
    const int hSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = AnyAddress(0);
    socklen_t nLength = sizeof address;
    unsigned nPort = 0;
    if (::bind(hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(hSocket, reinterpret_cast<sockaddr*>(&address), &nLength) == 0) {
        nPort = ntohs(address.sin_port);
    }
    ::close(hSocket);
    return nPort;
}

CPortBlocker::CPortBlocker(unsigned nPort) {
    m_hSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Connections of an earlier server linger in TIME_WAIT; only a listener counts.
    const int nReuse = 1;
    ::setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, &nReuse, sizeof nReuse);
    const sockaddr_in address = AnyAddress(nPort);
    if (::bind(m_hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_hSocket, 1) != 0) {
        ::close(m_hSocket);
        m_hSocket = -1;
    }
}

CPortBlocker::~CPortBlocker() {
    if (m_hSocket >= 0) {
        ::close(m_hSocket);
    }
}

bool PortIsFree(unsigned nPort) {
    return CPortBlocker(nPort).Blocking();
}

}  // namespace tarvel_test
