// The rules of transfers nobody waits on: whether one still moves, judged by
// what its peer took, and how much one turn may hand to the socket. Pure, with
// the clock passed in.
#pragma once

#include <chrono>
#include <cstddef>

struct STransferBounds {
    // Below the minimum rate over a whole stall period a transfer is closed:
    // far below any real network, so only a peer that stopped reading is.
    int nStallMs = 10000;
    long long nMinimumRate = 1024;  // bytes a second
    // At most this much per turn, so one fast peer cannot starve the others.
    size_t nPieceBytes = 256 * 1024;
    // Bodies held in memory by all transfers together; beyond, a new answer
    // with such a body is refused for a moment.
    size_t nHeldBytes = 64 * 1024 * 1024;
};

class CTransferJudge {
public:
    using Clock = std::chrono::steady_clock;

    // nTaken: what the peer has taken so far (acknowledged bytes).
    CTransferJudge(const STransferBounds& bounds, Clock::time_point now, long long nTaken);
    // False once a whole stall period has passed in which the peer took less
    // than the minimum rate's worth; each period that made the rate starts the next.
    bool Progressing(Clock::time_point now, long long nTaken);

private:
    STransferBounds m_bounds;
    Clock::time_point m_periodStart;
    long long m_nTakenAtStart;
};

// One turn's piece of a transfer whose peer address has nTransfers under way:
// the address's transfers share a piece, so an address with many downloads
// gets no more of the thread than one with a single download. Never below
// a floor that keeps each transfer moving.
size_t PieceForTurn(const STransferBounds& bounds, size_t nTransfersOfAddress);
