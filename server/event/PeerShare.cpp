#include "PeerShare.h"

#include <algorithm>

CPeerShares::Clock::time_point CPeerShares::WindowStart(Clock::time_point now) const {
    return now - std::chrono::milliseconds(m_nWindowMs);
}

long long CPeerShares::DropOld(std::deque<SCharge>& charges, Clock::time_point now) const {
    const auto cutoff = WindowStart(now);
    long long nDropped = 0;
    while (!charges.empty() && charges.front().at <= cutoff) {
        nDropped += charges.front().nMilliseconds;
        charges.pop_front();
    }
    return nDropped;
}

int CPeerShares::Remaining(uint32_t nAddress, Clock::time_point now) {
    auto it = m_charges.find(nAddress);
    if (it == m_charges.end()) {
        return m_nShareMs;
    }
    DropOld(it->second, now);
    long long nUsed = 0;
    for (const SCharge& charge : it->second) {
        nUsed += charge.nMilliseconds;
    }
    if (it->second.empty()) {
        m_charges.erase(it);
    }
    return static_cast<int>(std::max<long long>(0, m_nShareMs - nUsed));
}

void CPeerShares::DropOldOfAll(Clock::time_point now) {
    m_nAllUsedMs -= DropOld(m_allCharges, now);
}

SShareLeft CPeerShares::Left(uint32_t nAddress, Clock::time_point now) {
    DropOldOfAll(now);
    SShareLeft left;
    left.nPeerMs = Remaining(nAddress, now);
    left.nAllMs = static_cast<int>(std::max<long long>(0, m_nAllShareMs - m_nAllUsedMs));
    const auto stalled = m_stalledAt.find(nAddress);
    left.bStalledLately = stalled != m_stalledAt.end() && stalled->second > WindowStart(now);
    return left;
}

void CPeerShares::Charge(uint32_t nAddress, int nMilliseconds, Clock::time_point now) {
    if (nMilliseconds <= 0) {
        return;
    }
    std::deque<SCharge>& charges = m_charges[nAddress];
    DropOld(charges, now);
    charges.push_back({now, nMilliseconds});
    DropOldOfAll(now);
    m_allCharges.push_back({now, nMilliseconds});
    m_nAllUsedMs += nMilliseconds;
}

void CPeerShares::Prune(Clock::time_point now) {
    for (auto it = m_charges.begin(); it != m_charges.end();) {
        DropOld(it->second, now);
        it = it->second.empty() ? m_charges.erase(it) : std::next(it);
    }
    const auto cutoff = WindowStart(now);
    std::erase_if(m_stalledAt, [cutoff](const auto& entry) { return entry.second <= cutoff; });
    DropOldOfAll(now);
}
