#include "AsyncSocket.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>


namespace {
thread_local int g_nLastError = 0;
}  // namespace

int CAsyncSocket::Fail(int nError) {
    g_nLastError = nError;
    return -1;
}

namespace {
// How long accepting pauses when the process is out of descriptors.
constexpr int kAcceptPauseMs = 200;
// Discarding what a peer sent beyond its request stops here; past it the
// kernel may reset, but a peer that sends this much is not waiting for an answer.
constexpr long kDiscardLimit = 256 * 1024;
}  // namespace

BOOL AfxSocketInit() {
    return CSocketDispatcher::Create() ? TRUE : FALSE;
}

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket() {
    CAsyncSocket::Close();
}

int CAsyncSocket::GetLastError() {
    return g_nLastError;
}

unsigned CAsyncSocket::KindsOf(long lEvent) {
    unsigned nKinds = 0;
    if (lEvent & FD_READ) {
        nKinds |= kEventRead;
    }
    if (lEvent & FD_CLOSE) {
        nKinds |= kEventClose;
    }
    return nKinds;
}

void CAsyncSocket::Attach(int hSocket, long lEvent) {
    m_hSocket = hSocket;
    m_lEvent = lEvent;
    CSocketDispatcher::Get().Watch(*this, hSocket, KindsOf(lEvent));
}

BOOL CAsyncSocket::Socket(int nSocketType, long lEvent) {
    Close();
    int nType = (nSocketType == 2) ? SOCK_DGRAM : SOCK_STREAM;
    int hSocket = ::socket(AF_INET, nType | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (hSocket < 0) {
        Fail(errno);
        return FALSE;
    }
    // Nothing is armed until the socket listens: an unconnected socket reports
    // a hang-up that means nothing.
    m_hSocket = hSocket;
    m_lEvent = lEvent;
    CSocketDispatcher::Get().Watch(*this, hSocket, 0);
    return TRUE;
}

BOOL CAsyncSocket::SetSockOpt(int nOptionName, const void* pValue, int nValueLength, int nLevel) {
    if (::setsockopt(m_hSocket, nLevel, nOptionName, pValue,
                     static_cast<socklen_t>(nValueLength)) != 0) {
        Fail(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL CAsyncSocket::Bind(unsigned nPort, const char* pszAddress) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (pszAddress != nullptr && ::inet_pton(AF_INET, pszAddress, &address.sin_addr) != 1) {
        Fail(EINVAL);
        return FALSE;
    }
    if (::bind(m_hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Fail(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL CAsyncSocket::Create(unsigned nPort, int nSocketType, long lEvent, const char* pszAddress) {
    if (!Socket(nSocketType, lEvent)) {
        return FALSE;
    }
    if (!Bind(nPort, pszAddress)) {
        int nError = g_nLastError;
        Close();
        g_nLastError = nError;
        return FALSE;
    }
    return TRUE;
}

BOOL CAsyncSocket::Listen(int nBacklog) {
    if (::listen(m_hSocket, nBacklog) != 0) {
        Fail(errno);
        return FALSE;
    }
    if (m_lEvent & FD_ACCEPT) {
        // Made now: when accepting pauses for want of descriptors, there are
        // none left to make a timer with.
        if (!m_pAcceptPause) {
            m_pAcceptPause = std::make_unique<CDispatchTimer>([this] {
                m_pAcceptPause->Stop();
                m_bAcceptPaused = false;
                CSocketDispatcher::Get().Arm(*this, kEventAccept);
            });
        }
        CSocketDispatcher::Get().Arm(*this, kEventAccept);
    }
    return TRUE;
}

BOOL CAsyncSocket::Accept(CAsyncSocket& connected) {
    if (m_hSocket < 0) {
        Fail(EBADF);
        return FALSE;
    }
    int hSocket;
    sockaddr_in peer{};
    do {
        socklen_t nLength = sizeof peer;
        hSocket = ::accept4(m_hSocket, reinterpret_cast<sockaddr*>(&peer), &nLength,
                            SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (hSocket < 0 && errno == EINTR);
    if (hSocket < 0) {
        int nError = errno;
        if (nError == EMFILE || nError == ENFILE || nError == ENOBUFS || nError == ENOMEM) {
            // The connection stays pending; retrying at once would spin, so wait
            // for descriptors to be freed.
            PauseAccepting();
        } else if (m_lEvent & FD_ACCEPT) {
            CSocketDispatcher::Get().Arm(*this, kEventAccept);
        }
        Fail(nError == EAGAIN ? EWOULDBLOCK : nError);
        return FALSE;
    }
    if (m_bAcceptPaused) {
        // Descriptors were freed at once (see the server's room-making): the
        // pause is over.
        m_pAcceptPause->Stop();
        m_bAcceptPaused = false;
    }
    connected.Close();
    connected.Attach(hSocket, m_lEvent);
    connected.m_nPeerAddress = ntohl(peer.sin_addr.s_addr);
    if (m_lEvent & FD_ACCEPT) {
        CSocketDispatcher::Get().Arm(*this, kEventAccept);
    }
    return TRUE;
}

void CAsyncSocket::PauseAccepting() {
    if (m_pAcceptPause && m_pAcceptPause->IsValid()) {
        m_pAcceptPause->Start(kAcceptPauseMs);
        m_bAcceptPaused = true;
    }
}

int CAsyncSocket::Receive(void* pBuffer, int nCount, int nFlags) {
    if (m_hSocket < 0) {
        return Fail(EBADF);
    }
    // A receive asks for the next read event, as the event contract says.
    if (m_lEvent & FD_READ) {
        CSocketDispatcher::Get().Arm(*this, kEventRead);
    }
    for (;;) {
        ssize_t nReceived = ::recv(m_hSocket, pBuffer, static_cast<size_t>(nCount), nFlags);
        if (nReceived >= 0) {
            m_bReadToEnd = nReceived < nCount;
            return static_cast<int>(nReceived);
        }
        if (errno != EINTR) {
            m_bReadToEnd = errno == EAGAIN;
            return Fail(errno == EAGAIN ? EWOULDBLOCK : errno);
        }
    }
}

int CAsyncSocket::Send(const void* pBuffer, int nCount, int nFlags) {
    if (m_hSocket < 0) {
        return Fail(EBADF);
    }
    for (;;) {
        ssize_t nSent =
            ::send(m_hSocket, pBuffer, static_cast<size_t>(nCount), nFlags | MSG_NOSIGNAL);
        if (nSent >= 0) {
            return static_cast<int>(nSent);
        }
        if (errno != EINTR) {
            return Fail(errno == EAGAIN ? EWOULDBLOCK : errno);
        }
    }
}

BOOL CAsyncSocket::ShutDown(int nHow) {
    int nMode = nHow == 0 ? SHUT_RD : nHow == 1 ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(m_hSocket, nMode) != 0) {
        Fail(errno);
        return FALSE;
    }
    return TRUE;
}

long CAsyncSocket::DiscardPending() {
    if (m_hSocket < 0 || (m_bReadToEnd && m_bInputComplete && !ReadReported())) {
        return 0;
    }
    char buffer[4096];
    long nDiscarded = 0;
    while (nDiscarded < kDiscardLimit) {
        ssize_t nReceived = ::recv(m_hSocket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (nReceived <= 0) {
            break;
        }
        nDiscarded += nReceived;
    }
    return nDiscarded;
}

void CAsyncSocket::Close() {
    if (m_pAcceptPause) {
        m_pAcceptPause->Stop();
    }
    if (m_hSocket < 0) {
        return;
    }
    CSocketDispatcher::Get().Forget(*this);
    ::close(m_hSocket);
    m_hSocket = -1;
}

int CAsyncSocket::QueuedToSend() const {
    int nQueued = 0;
    if (m_hSocket < 0 || ::ioctl(m_hSocket, SIOCOUTQ, &nQueued) != 0) {
        return -1;
    }
    return nQueued;
}

int CAsyncSocket::BytesAvailable() const {
    int nAvailable = 0;
    if (m_hSocket < 0 || ::ioctl(m_hSocket, FIONREAD, &nAvailable) != 0) {
        return 0;
    }
    return nAvailable;
}

unsigned CAsyncSocket::LocalPort() const {
    sockaddr_in address{};
    socklen_t nLength = sizeof address;
    if (m_hSocket < 0 ||
        ::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&address), &nLength) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

void CAsyncSocket::OnDispatcherEvent(EventKind kind) {
    switch (kind) {
        case kEventAccept:
            OnAccept(0);
            break;
        case kEventRead:
            OnReceive(0);
            break;
        case kEventWrite:
            OnSend(0);
            break;
        case kEventClose:
            OnClose(0);
            break;
        case kEventTimer:
            break;
    }
}
