#include "Socket.h"

#include <sys/sendfile.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "PeerShare.h"

void CSocket::SetWaitBounds(const SWaitBounds& bounds,
                            CSocketDispatcher::Clock::time_point phaseStart) {
    m_bounds = bounds;
    m_deadline = phaseStart + std::chrono::milliseconds(bounds.nDeadlineMs);
}

bool CSocket::EndedByBounds(EWaitEnd end) {
    m_lastWaitEnd = end;
    Fail(ETIMEDOUT);
    return false;
}

void CSocket::Ended(bool bFailed, bool bClosed) {
    m_lastWaitEnd = bFailed ? EWaitEnd::Failed : bClosed ? EWaitEnd::Closed : EWaitEnd::Done;
}

bool CSocket::WaitOnce(EventKind kind, CWaitJudge& judge, int& nOthersWaitedMs) {
    using Clock = CSocketDispatcher::Clock;
    CSocketDispatcher& dispatcher = CSocketDispatcher::Get();
    const auto now = Clock::now();
    const bool bShared = m_bounds.bShared && m_pShares != nullptr;
    SShareLeft share;
    bool bOthersWaiting = false;
    if (bShared) {
        share = m_pShares->Left(m_nPeerAddress, now);
        if (share.nPeerMs == 0 || share.nAllMs == 0) {
            // Who waits is known only once what epoll holds is in the queue;
            // without this, each new connection of a spent peer gets a pass.
            dispatcher.TakeInReady();
        }
        bOthersWaiting = dispatcher.OthersWaiting(*this);
    }
    const CWaitJudge::SNextWait next = judge.NextWait(now, share, bOthersWaiting);
    // Only a send that spent its own probes marks its peer: one let go for a
    // mark already there would keep the mark alive for as long as others wait.
    if (next.end == EWaitEnd::ShareUsed && judge.ProbesSpent()) {
        m_pShares->MarkStalled(m_nPeerAddress, now);
    }
    if (next.end) {
        return EndedByBounds(*next.end);
    }
    dispatcher.WaitFor(*this, kind, next.nWaitMs);
    if (CSocketDispatcher::TerminationRequested()) {
        return EndedByBounds(EWaitEnd::Terminated);
    }
    nOthersWaitedMs = 0;
    if (bShared && dispatcher.OthersWaiting(*this)) {
        nOthersWaitedMs = static_cast<int>(
            std::chrono::ceil<std::chrono::milliseconds>(Clock::now() - now).count());
    }
    return true;
}

template <typename Attempt>
bool CSocket::Retry(EventKind kind, long long nWanted, Attempt attempt) {
    using Clock = CSocketDispatcher::Clock;
    SWaitBounds bounds = m_bounds;
    bounds.bShared = bounds.bShared && m_pShares != nullptr;
    CWaitJudge judge(bounds, m_deadline, Clock::now(), nWanted);
    m_lastWaitEnd = EWaitEnd::Done;
    int nOthersWaitedMs = 0;  // the last wait, while other peers waited
    long long nTaken = 0;     // by the peer during it
    for (;;) {
        long long nMoved = 0;
        const bool bOver = attempt(nMoved);
        const int nCharge = judge.ChargeFor(nOthersWaitedMs, kind == kEventWrite, nTaken);
        if (nCharge > 0) {
            m_pShares->Charge(m_nPeerAddress, nCharge, Clock::now());
        }
        if (bOver) {
            return true;
        }
        judge.Moved(nMoved);
        const bool bWrite = kind == kEventWrite;
        CSocketDispatcher& dispatcher = CSocketDispatcher::Get();
        if (bWrite) {
            dispatcher.Arm(*this, kEventWrite);
        }
        // What the peer took is what left the send queue, acknowledged by its
        // kernel: bytes moved into the queue say nothing, as the kernel grows
        // the queue of a peer that never reads (whose kernel takes only what
        // its receive window holds).
        const long long nQueued = bWrite && bounds.bShared ? QueuedToSend() : -1;
        const bool bGoOn = WaitOnce(kind, judge, nOthersWaitedMs);
        if (bWrite) {
            dispatcher.Disarm(*this, kEventWrite);
            const long long nLeft = nQueued < 0 ? -1 : QueuedToSend();
            nTaken = nLeft < 0 ? 0 : std::max(0LL, nQueued - nLeft);
        }
        if (!bGoOn) {
            return false;
        }
    }
}

BOOL CSocket::Accept(CAsyncSocket& connected) {
    BOOL bAccepted = FALSE;
    if (Retry(kEventAccept, 0, [&](long long&) {
            bAccepted = CAsyncSocket::Accept(connected);
            return bAccepted || GetLastError() != EWOULDBLOCK;
        })) {
        Ended(!bAccepted, false);
    }
    return bAccepted;
}

int CSocket::Receive(void* pBuffer, int nCount, int nFlags) {
    int nReceived = -1;
    if (Retry(kEventRead, 0, [&](long long&) {
            nReceived = CAsyncSocket::Receive(pBuffer, nCount, nFlags);
            return nReceived >= 0 || GetLastError() != EWOULDBLOCK;
        })) {
        Ended(nReceived < 0, nReceived == 0);
    }
    return nReceived;
}

template <typename Step>
long long CSocket::SendAll(long long nCount, Step step) {
    if (m_hSocket < 0) {
        return Fail(EBADF);
    }
    long long nSent = 0;
    bool bFailed = false;
    const bool bOver = Retry(kEventWrite, nCount, [&](long long& nMoved) {
        while (nSent < nCount) {
            const long long nResult = step(nSent);
            if (nResult > 0) {
                nSent += nResult;
                nMoved += nResult;
            } else if (nResult == 0) {
                return true;  // nothing more to move (a file shorter than it was)
            } else if (errno == EAGAIN) {
                Fail(EWOULDBLOCK);
                return false;
            } else if (errno != EINTR) {
                Fail(errno);
                bFailed = true;
                return true;
            }
        }
        return true;
    });
    if (bOver) {
        Ended(bFailed, false);
    }
    return bOver && !bFailed ? nSent : -1;
}

long long CSocket::SendFile(int hFile, long long nOffset, long long nCount) {
    return SendAll(nCount, [&](long long nDone) -> long long {
        const auto nChunk = static_cast<size_t>(std::min<long long>(nCount - nDone, 1 << 30));
        off_t nAt = static_cast<off_t>(nOffset + nDone);
        return ::sendfile(m_hSocket, hFile, &nAt, nChunk);
    });
}

int CSocket::Send(const void* pBuffer, int nCount, int nFlags) {
    const char* pBytes = static_cast<const char*>(pBuffer);
    const long long nSent = SendAll(nCount, [&](long long nDone) -> long long {
        return ::send(m_hSocket, pBytes + nDone, static_cast<size_t>(nCount - nDone),
                      nFlags | MSG_NOSIGNAL);
    });
    return nSent == nCount ? nCount : -1;
}
