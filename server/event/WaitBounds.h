// The bounds a blocking call of the socket layer waits under, and the judge
// that applies them. The judge is given the time and what happened, and says
// how long the next wait may last or why the call ends, so every bound can be
// tested with a clock of the test's own. It knows no HTTP: the server names
// its phases and hands each its bounds.
#pragma once

#include <chrono>
#include <optional>

// What ended a blocking call.
enum class EWaitEnd {
    Done,        // it completed
    TimedOut,    // its deadline passed, or a stall period went by without enough progress
    ShareUsed,   // its peer has used its fair share of the thread while others wait
    Terminated,  // the program is asked to end
    Closed,      // the peer closed
    Failed,      // a socket error
};

struct SWaitBounds {
    int nDeadlineMs = 0;         // the call ends this long after its phase began; 0: none
    int nStallMs = 0;            // each period this long must show progress; 0: none
    long long nMinimumRate = 0;  // bytes a second a send must move over each period
    bool bShared = false;        // waits while others wait count against the peer's share
};

// The fair share as it stands before a wait.
struct SShareLeft {
    int nPeerMs = 0;              // the peer address's own share left
    int nAllMs = 0;               // what all peers together have left
    bool bStalledLately = false;  // a send of the peer's spent its probes within the window
};

class CWaitJudge {
public:
    using Clock = std::chrono::steady_clock;
    // Each wait is at most this long, then the call tries again.
    static constexpr int kPassMs = 2000;
    // While the peer's share is watched: short passes, so it is charged soon
    // after others start waiting.
    static constexpr int kSharePassMs = 100;
    // Once all peers' share is spent, passes are this short, and a send not
    // seen keeping up spends one of kProbes on each (a pass that keeps up
    // gives one back): each new address that stalls costs about this, not its
    // share; a pause of the reader's own (a busy phone) is allowed for.
    static constexpr int kProbePassMs = 20;
    static constexpr int kProbes = 3;

    // deadline: when the phase ends (bounds.nDeadlineMs after it began);
    // nWanted: the bytes the call is to move (0 for a receive or an accept).
    CWaitJudge(const SWaitBounds& bounds, Clock::time_point deadline, Clock::time_point now,
               long long nWanted);

    // Bytes moved by the call's last attempt.
    void Moved(long long nBytes);
    // Before a wait: how long it may last, or the end of the call when it may
    // not wait. share: what is left of the shares (unused when not shared).
    struct SNextWait {
        std::optional<EWaitEnd> end;
        int nWaitMs = 0;
    };
    SNextWait NextWait(Clock::time_point now, const SShareLeft& share, bool bOthersWaiting);
    // What a wait of nWaitedMs while others waited costs the peer's share: all
    // of it, unless it is a send whose peer took nTaken bytes meanwhile, at the
    // minimum rate or better (a download that keeps up is no stall, however
    // long it takes).
    // A send that was not charged has shown it keeps up, until it is charged.
    int ChargeFor(int nWaitedMs, bool bSend, long long nTaken);
    bool KeptUp() const { return m_bKeptUp; }
    bool ProbesSpent() const { return m_nProbes >= kProbes; }

private:
    SWaitBounds m_bounds;
    Clock::time_point m_deadline;
    Clock::time_point m_periodEnd;  // of the current stall period
    long long m_nMovedInPeriod = 0;
    long long m_nLeftAtPeriodStart;
    long long m_nLeft;
    bool m_bKeptUp = false;  // the last wait while others waited moved the minimum rate
    int m_nProbes = 0;       // probes spent, less those given back
};
