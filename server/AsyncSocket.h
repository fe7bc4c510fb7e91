// The socket layer over POSIX non-blocking IPv4 TCP sockets.
//  CAsyncSocket: a socket whose events (accept, read, close) arrive through
//    the dispatcher as calls of its virtual handlers.
//  CSocket: the same socket with blocking calls; a call that would block waits
//    in the dispatcher's nested wait and retries (see SocketDispatcher.h).
// Calls report failure by result (FALSE, or -1 for a byte count); the reason is
// in GetLastError().
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>

#include "SocketDispatcher.h"

using BOOL = int;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// The event mask of Create: the listener and its connections register for all six.
enum : long {
    FD_READ = 1,
    FD_WRITE = 2,
    FD_OOB = 4,
    FD_ACCEPT = 8,
    FD_CONNECT = 16,
    FD_CLOSE = 32,
    FD_ALL_EVENTS = 63,
};

// Starts the socket layer: the dispatcher, and no SIGPIPE for sends to a closed peer.
BOOL AfxSocketInit();

class CAsyncSocket : public CEventSink {
public:
    CAsyncSocket();
    ~CAsyncSocket() override;
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // Socket + Bind in one: a TCP socket bound to every local address and nPort.
    BOOL Create(unsigned nPort = 0, int nSocketType = 1 /* SOCK_STREAM */,
                long lEvent = FD_ALL_EVENTS, const char* pszAddress = nullptr);
    BOOL Socket(int nSocketType = 1, long lEvent = FD_ALL_EVENTS);
    BOOL SetSockOpt(int nOptionName, const void* pValue, int nValueLength, int nLevel);
    BOOL Bind(unsigned nPort, const char* pszAddress = nullptr);
    BOOL Listen(int nBacklog);
    virtual BOOL Accept(CAsyncSocket& connected);
    virtual int Receive(void* pBuffer, int nCount, int nFlags = 0);
    virtual int Send(const void* pBuffer, int nCount, int nFlags = 0);
    BOOL ShutDown(int nHow);
    // Reads and discards what has already arrived, without waiting; returns the
    // count. Skipped when nothing can be there: the last receive emptied the
    // socket, no data was reported since, and the peer has sent all it will.
    long DiscardPending();
    // The peer has sent its whole request and nothing more is to come.
    void SetInputComplete() { m_bInputComplete = true; }
    virtual void Close();

    int Handle() const { return m_hSocket; }
    // Bytes that have arrived and not been read.
    int BytesAvailable() const;
    // Port the socket is bound to, or 0.
    unsigned LocalPort() const;
    // The peer's IPv4 address (host order) of an accepted connection, or 0.
    uint32_t PeerAddress() const { return m_nPeerAddress; }
    static int GetLastError();

protected:
    virtual void OnAccept(int /*nErrorCode*/) {}
    virtual void OnReceive(int /*nErrorCode*/) {}
    virtual void OnSend(int /*nErrorCode*/) {}
    virtual void OnClose(int /*nErrorCode*/) {}

    void Attach(int hSocket, long lEvent);
    static unsigned KindsOf(long lEvent);

    int m_hSocket = -1;
    long m_lEvent = 0;
    uint32_t m_nPeerAddress = 0;
    bool m_bReadToEnd = false;  // the last receive left nothing unread
    bool m_bInputComplete = false;

private:
    void OnDispatcherEvent(EventKind kind) override;
    void PauseAccepting();

    std::unique_ptr<CDispatchTimer> m_pAcceptPause;
};

class CPeerShares;

// Why a blocking call ended without its result, besides the socket's own errors.
inline constexpr int kErrorShareUsed = EBUSY;       // the peer used its share of the thread
inline constexpr int kErrorTerminated = ECANCELED;  // the program is asked to end

class CSocket : public CAsyncSocket {
public:
    // Each pass of a blocking call waits at most this long, then retries.
    int m_nTimeOut = 2000;

    BOOL Accept(CAsyncSocket& connected) override;
    int Receive(void* pBuffer, int nCount, int nFlags = 0) override;
    // Returns nCount only when every byte went out, else -1.
    int Send(const void* pBuffer, int nCount, int nFlags = 0) override;
    // Sends nCount bytes of the file hFile from nOffset with sendfile(2),
    // waiting as Send does. Returns the bytes sent: fewer than nCount when the
    // file ended early; -1 on an error of the socket or the file.
    long long SendFile(int hFile, long long nOffset, long long nCount);

    // A blocking call that waits this long without progress fails with
    // ETIMEDOUT; 0 waits without limit. A send must also move nBytesPerSecond
    // (or all it had left) in each such period: a trickle is no progress.
    void SetWaitLimit(int nMilliseconds) { m_nWaitLimit = nMilliseconds; }
    int WaitLimit() const { return m_nWaitLimit; }
    void SetMinimumRate(long long nBytesPerSecond) { m_nMinimumRate = nBytesPerSecond; }
    // Waits on this socket while other peers wait are charged to its address
    // (a send's only when it then moved less than the minimum rate); once the
    // share is used, a call that would wait fails with kErrorShareUsed.
    void SetShare(CPeerShares* pShares) { m_pShares = pShares; }

private:
    // Progress of a blocking call in the current period of the wait limit.
    struct SProgressWindow {
        CSocketDispatcher::Clock::time_point end;
        long long nMoved;
        long long nLeftAtStart;
        static SProgressWindow Starting(CSocketDispatcher::Clock::time_point now, int nLengthMs,
                                        long long nLeft);
    };
    // The rule of every blocking call: attempt(nMoved) tries once without
    // blocking and returns true when the call is over; while it would block,
    // one nested wait for kind, then it tries again. False when a wait ended
    // the call: the limit, the peer's share, or termination (GetLastError says).
    template <typename Attempt>
    bool Retry(EventKind kind, long long nWanted, Attempt attempt);
    // One nested wait; nOthersWaitedMs: how long it took if other peers waited.
    bool WaitOnce(EventKind kind, SProgressWindow& window, long long nLeft, int& nOthersWaitedMs);
    // Charges a wait to the peer's share, unless the send after it kept up.
    void ChargeWait(EventKind kind, int nWaitedMs, long long nMovedAfter);

    // A pass of a wait while the peer's share is watched.
    static constexpr int kSharePassMs = 100;

    int m_nWaitLimit = 0;
    long long m_nMinimumRate = 0;
    CPeerShares* m_pShares = nullptr;  // not owning
};
