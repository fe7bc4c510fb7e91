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
#include "WaitBounds.h"

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
    // Bytes sent that the peer has not acknowledged yet; -1 when unknown.
    int QueuedToSend() const;
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
    bool m_bAcceptPaused = false;
};

class CPeerShares;

// A blocking call that fails returns -1 (FALSE for Accept) with the socket's
// own error in GetLastError, or ETIMEDOUT when its bounds ended it;
// LastWaitEnd says which bound.
class CSocket : public CAsyncSocket {
public:
    // Each pass of a blocking call waits at most this long, then retries.
    int m_nTimeOut = CWaitJudge::kPassMs;

    BOOL Accept(CAsyncSocket& connected) override;
    int Receive(void* pBuffer, int nCount, int nFlags = 0) override;
    // Returns nCount only when every byte went out, else -1.
    int Send(const void* pBuffer, int nCount, int nFlags = 0) override;
    // Sends nCount bytes of the file hFile from nOffset with sendfile(2),
    // waiting as Send does. Returns the bytes sent: fewer than nCount when the
    // file ended early; -1 on an error of the socket or the file.
    long long SendFile(int hFile, long long nOffset, long long nCount);

    // The bounds of the blocking calls from now on, in a phase that began at
    // phaseStart (its deadline counts from there). Without bounds a call
    // waits until it completes.
    void SetWaitBounds(const SWaitBounds& bounds, CSocketDispatcher::Clock::time_point phaseStart =
                                                      CSocketDispatcher::Clock::now());
    // The ledger that shared waits on this socket are charged to, by its
    // peer's address.
    void SetShare(CPeerShares* pShares) { m_pShares = pShares; }
    // What ended the last blocking call.
    EWaitEnd LastWaitEnd() const { return m_lastWaitEnd; }

private:
    // The rule of every blocking call: attempt(nMoved) tries once without
    // blocking and returns true when the call is over; while it would block,
    // one nested wait for kind, then it tries again. False when the bounds
    // ended the call (LastWaitEnd says why).
    template <typename Attempt>
    bool Retry(EventKind kind, long long nWanted, Attempt attempt);
    // One nested wait; nOthersWaitedMs: how long it took if other peers waited.
    bool WaitOnce(EventKind kind, CWaitJudge& judge, int& nOthersWaitedMs);
    bool EndedByBounds(EWaitEnd end);
    // The end of a call that returned: done, or the peer closed, or failed.
    void Ended(bool bFailed, bool bClosed);

    SWaitBounds m_bounds;
    CSocketDispatcher::Clock::time_point m_deadline;
    CPeerShares* m_pShares = nullptr;  // not owning
    EWaitEnd m_lastWaitEnd = EWaitEnd::Done;
};
