// CSocket: a CAsyncSocket with blocking calls; a call that would block waits
// in the dispatcher's nested wait under its bounds and retries (see
// SocketDispatcher.h).
#pragma once

#include "AsyncSocket.h"
#include "WaitBounds.h"

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
    // The attempt loop of every send: step(nDone) moves bytes from nDone on and
    // returns how many, 0 when nothing more is to move, or -1 with errno set.
    // The count moved, or -1 when the socket failed or the bounds ended it.
    template <typename Step>
    long long SendAll(long long nCount, Step step);
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
