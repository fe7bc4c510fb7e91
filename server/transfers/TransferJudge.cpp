#include "TransferJudge.h"

#include <algorithm>

namespace {
// Fewer bytes a turn would cost more in system calls than it shares out.
constexpr size_t kLeastPiece = 16 * 1024;
}  // namespace

CTransferJudge::CTransferJudge(const STransferBounds& bounds, Clock::time_point now,
                               long long nTaken)
    : m_bounds(bounds), m_periodStart(now), m_nTakenAtStart(nTaken) {}

bool CTransferJudge::Progressing(Clock::time_point now, long long nTaken) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_periodStart);
    if (elapsed.count() < m_bounds.nStallMs) {
        return true;
    }
    const long long nWanted = m_bounds.nMinimumRate * elapsed.count() / 1000;
    if (nTaken - m_nTakenAtStart < nWanted) {
        return false;
    }
    m_periodStart = now;
    m_nTakenAtStart = nTaken;
    return true;
}

size_t PieceForTurn(const STransferBounds& bounds, size_t nTransfersOfAddress) {
    const size_t nShare = bounds.nPieceBytes / std::max<size_t>(1, nTransfersOfAddress);
    return std::max(std::min(kLeastPiece, bounds.nPieceBytes), nShare);
}
