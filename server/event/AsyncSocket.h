// The socket layer over POSIX non-blocking IPv4 TCP sockets. CAsyncSocket: a
// socket whose events (accept, read, close) arrive through the dispatcher as
// calls of its virtual handlers; CSocket (Socket.h) adds blocking calls.
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
// FALSE, with errno saying why, when the dispatcher cannot be made.
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
    // Records nError for GetLastError; returns -1.
    static int Fail(int nError);
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
