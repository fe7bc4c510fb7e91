#include "WaitBounds.h"

#include <algorithm>

#include "Milliseconds.h"


CWaitJudge::CWaitJudge(const SWaitBounds& bounds, Clock::time_point deadline, Clock::time_point now,
                       long long nWanted)
    : m_bounds(bounds),
      m_deadline(deadline),
      m_periodEnd(now + std::chrono::milliseconds(bounds.nStallMs)),
      m_nLeftAtPeriodStart(nWanted),
      m_nLeft(nWanted) {}

void CWaitJudge::Moved(long long nBytes) {
    m_nMovedInPeriod += nBytes;
    m_nLeft -= nBytes;
}

CWaitJudge::SNextWait CWaitJudge::NextWait(Clock::time_point now, const SShareLeft& share,
                                           bool bOthersWaiting) {
    if (m_bounds.nDeadlineMs > 0 && now >= m_deadline) {
        return {EWaitEnd::TimedOut};
    }
    if (m_bounds.nStallMs > 0 && now >= m_periodEnd) {
        // A full period has passed: it must have moved enough to go on. A send
        // needs the minimum rate (or what was left); anything else, progress.
        long long nNeeded =
            std::max<long long>(1, m_bounds.nMinimumRate * m_bounds.nStallMs / 1000);
        if (m_nLeftAtPeriodStart > 0) {
            nNeeded = std::min(nNeeded, m_nLeftAtPeriodStart);
        }
        if (m_nMovedInPeriod < nNeeded) {
            return {EWaitEnd::TimedOut};
        }
        m_periodEnd = now + std::chrono::milliseconds(m_bounds.nStallMs);
        m_nMovedInPeriod = 0;
        m_nLeftAtPeriodStart = m_nLeft;
    }
    int nWait = kPassMs;
    if (m_bounds.nStallMs > 0) {
        nWait = std::min(nWait, MillisecondsBetween(now, m_periodEnd));
    }
    if (m_bounds.nDeadlineMs > 0) {
        nWait = std::min(nWait, MillisecondsBetween(now, m_deadline));
    }
    if (m_bounds.bShared) {
        nWait = std::min(nWait, kSharePassMs);
        if (bOthersWaiting) {
            if (share.nPeerMs <= 0) {
                return {EWaitEnd::ShareUsed};
            }
            nWait = std::min(nWait, share.nPeerMs);
            if (share.nAllMs > 0) {
                nWait = std::min(nWait, share.nAllMs);
            } else {
                // All peers together have spent theirs: each wait is short, so
                // a send stops soon after its peer does. One not seen keeping
                // up at its last wait spends one of a few probes, and ends
                // when they are spent, or at once where a send of its peer's
                // spent them lately. One that keeps up has only its own share,
                // as a reader at the minimum rate holds the thread anyway.
                if (!m_bKeptUp) {
                    if (share.bStalledLately || m_nProbes >= kProbes) {
                        return {EWaitEnd::ShareUsed};
                    }
                    ++m_nProbes;
                }
                nWait = std::min(nWait, kProbePassMs);
            }
        }
    }
    return {std::nullopt, std::max(nWait, 1)};
}

int CWaitJudge::ChargeFor(int nWaitedMs, bool bSend, long long nTaken) {
    if (nWaitedMs <= 0) {
        return 0;
    }
    // One wait's progress is no proof for later ones (a peer that never
    // reads still lets a window probe through now and then), but it gives
    // back one probe: a reader whose acknowledgements come in bursts is not
    // cut for the passes between them.
    m_bKeptUp = bSend && nTaken * 1000 >= m_bounds.nMinimumRate * nWaitedMs;
    if (m_bKeptUp && m_nProbes > 0) {
        --m_nProbes;
    }
    return m_bKeptUp ? 0 : nWaitedMs;
}
