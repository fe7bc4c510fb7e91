// The fair share of the one thread: how long the server has waited on each
// peer address while other peers waited, and on all of them together, over a
// rolling window. A peer that has used its share is waited on no more until
// old waits leave the window; once all together have used theirs, neither is
// a peer one of whose sends spent its probes within it (see CWaitJudge), so
// many addresses cannot add up to the whole thread.
#pragma once

#include <cstdint>
#include <deque>
#include <unordered_map>

#include "SocketDispatcher.h"
#include "WaitBounds.h"

class CPeerShares {
public:
    using Clock = CSocketDispatcher::Clock;

    CPeerShares(int nShareMs, int nAllShareMs, int nWindowMs)
        : m_nShareMs(nShareMs), m_nAllShareMs(nAllShareMs), m_nWindowMs(nWindowMs) {}

    // Milliseconds of waiting the address has left in the window ending now.
    int Remaining(uint32_t nAddress, Clock::time_point now);
    // The address's share, that of all peers, and whether one of the
    // address's sends spent its probes within the window.
    SShareLeft Left(uint32_t nAddress, Clock::time_point now);
    void Charge(uint32_t nAddress, int nMilliseconds, Clock::time_point now);
    // A send of the address's spent its probes without its peer keeping up.
    void MarkStalled(uint32_t nAddress, Clock::time_point now) { m_stalledAt[nAddress] = now; }
    // Forgets waits that have left the window, and addresses with none left.
    void Prune(Clock::time_point now);

    void Set(int nShareMs, int nAllShareMs, int nWindowMs) {
        m_nShareMs = nShareMs;
        m_nAllShareMs = nAllShareMs;
        m_nWindowMs = nWindowMs;
    }

private:
    struct SCharge {
        Clock::time_point at;
        int nMilliseconds;
    };
    Clock::time_point WindowStart(Clock::time_point now) const;
    // Drops the charges that have left the window; returns what they came to.
    long long DropOld(std::deque<SCharge>& charges, Clock::time_point now) const;
    void DropOldOfAll(Clock::time_point now);  // and keeps m_nAllUsedMs their sum

    int m_nShareMs;
    int m_nAllShareMs;
    int m_nWindowMs;
    std::unordered_map<uint32_t, std::deque<SCharge>> m_charges;
    std::unordered_map<uint32_t, Clock::time_point> m_stalledAt;  // the last MarkStalled
    std::deque<SCharge> m_allCharges;
    long long m_nAllUsedMs = 0;  // the sum of m_allCharges
};
