// The rules of background transfers with an injected clock: the stall judge
// and the turns' pieces.
#include <gtest/gtest.h>

#include "TransferJudge.h"

namespace {
using Clock = CTransferJudge::Clock;
using std::chrono::milliseconds;

struct SJudgeCase {
    const char* pszName;
    int nAfterMs;      // when the judge looks
    long long nTaken;  // what the peer has taken by then
    bool bProgressing;
};

TEST(TransferJudge, AStallPeriodBelowTheMinimumRateEndsTheTransfer) {
    const STransferBounds bounds{.nStallMs = 10000, .nMinimumRate = 1024};
    const SJudgeCase cases[] = {
        {"within the first period, nothing taken", 9999, 0, true},
        {"a whole period, nothing taken", 10000, 0, false},
        {"a whole period, one byte short of the rate", 10000, 10239, false},
        {"a whole period at the rate", 10000, 10240, true},
        {"a longer look, judged over the time that passed", 20000, 15000, false},
        {"a longer look at the rate", 20000, 20480, true},
    };
    const auto start = Clock::now();
    for (const SJudgeCase& c : cases) {
        CTransferJudge judge(bounds, start, 0);
        EXPECT_EQ(judge.Progressing(start + milliseconds(c.nAfterMs), c.nTaken), c.bProgressing)
            << c.pszName;
    }
}

TEST(TransferJudge, EachPeriodThatMadeTheRateStartsTheNext) {
    const STransferBounds bounds{.nStallMs = 1000, .nMinimumRate = 1000};
    const auto start = Clock::now();
    CTransferJudge judge(bounds, start, 500);
    EXPECT_TRUE(judge.Progressing(start + milliseconds(1000), 1500));
    // The bytes of the first period do not count again for the second.
    EXPECT_TRUE(judge.Progressing(start + milliseconds(1500), 1500));
    EXPECT_FALSE(judge.Progressing(start + milliseconds(2000), 2000));
}

struct SPieceCase {
    size_t nTransfers;
    size_t nPiece;
};

TEST(TransferJudge, AnAddressesTransfersShareOnePiece) {
    const STransferBounds bounds{.nPieceBytes = 256 * 1024};
    const SPieceCase cases[] = {
        {.nTransfers = 0, .nPiece = 256 * 1024},  {.nTransfers = 1, .nPiece = 256 * 1024},
        {.nTransfers = 2, .nPiece = 128 * 1024},  {.nTransfers = 4, .nPiece = 64 * 1024},
        {.nTransfers = 16, .nPiece = 16 * 1024},  {.nTransfers = 500, .nPiece = 16 * 1024},
    };
    for (const SPieceCase& c : cases) {
        EXPECT_EQ(PieceForTurn(bounds, c.nTransfers), c.nPiece) << c.nTransfers;
    }
    EXPECT_EQ(PieceForTurn({.nPieceBytes = 4096}, 1), 4096u);  // the floor never raises the bound
}
}  // namespace
