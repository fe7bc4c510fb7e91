// The fair share's ledger, on a clock of the test's own.
#include <gtest/gtest.h>

#include "PeerShare.h"

namespace {
using Clock = CWaitJudge::Clock;
using std::chrono::milliseconds;
const Clock::time_point kStart{};

struct SShareStep {
    uint32_t nAddress;
    int nAtMs;
    int nChargeMs;     // charged at nAtMs, before the reading
    int nRemainingMs;  // Remaining(nAddress) at nAtMs
};

TEST(PeerShares, ChargesLeaveTheWindowAndAddressesAreApart) {
    const SShareStep steps[] = {
        {1, 0, 0, 1000},     {1, 0, 300, 700},    {2, 100, 0, 1000},
        {1, 2000, 600, 100}, {1, 2500, 200, 0},   {2, 2500, 999, 1},
        {1, 9999, 0, 0},     {1, 10000, 0, 200},  // the first charge has left the 10 s window
        {1, 12000, 0, 800},  {1, 12600, 5000, 0},
    };
    CPeerShares shares(1000, 1000000, 10000);
    for (const SShareStep& step : steps) {
        const auto at = kStart + milliseconds(step.nAtMs);
        shares.Charge(step.nAddress, step.nChargeMs, at);
        EXPECT_EQ(shares.Remaining(step.nAddress, at), step.nRemainingMs)
            << "address " << step.nAddress << " at " << step.nAtMs << " ms";
    }
    shares.Prune(kStart + milliseconds(30000));
    EXPECT_EQ(shares.Remaining(1, kStart + milliseconds(30000)), 1000);
}

TEST(PeerShares, AllPeersTogetherHaveOneShare) {
    // Four addresses within their own shares spend what all have together.
    CPeerShares shares(1000, 1000, 10000);
    for (uint32_t nAddress = 1; nAddress <= 4; ++nAddress) {
        shares.Charge(nAddress, 300, kStart + milliseconds(100 * nAddress));
    }
    shares.MarkStalled(1, kStart + milliseconds(100));
    const auto at = kStart + milliseconds(500);
    SShareLeft left = shares.Left(1, at);
    EXPECT_EQ(left.nPeerMs, 700);
    EXPECT_EQ(left.nAllMs, 0);
    EXPECT_TRUE(left.bStalledLately);
    EXPECT_FALSE(shares.Left(5, at).bStalledLately);  // never charged: may show it keeps up
    EXPECT_FALSE(shares.Left(2, at).bStalledLately);  // charged, but never let go
    EXPECT_EQ(shares.Left(5, at).nPeerMs, 1000);
    // The mark lasts the window, no longer.
    EXPECT_TRUE(shares.Left(1, kStart + milliseconds(10099)).bStalledLately);
    EXPECT_FALSE(shares.Left(1, kStart + milliseconds(10100)).bStalledLately);
    // The first two charges leave the window: 400 ms are free again.
    left = shares.Left(4, kStart + milliseconds(10200));
    EXPECT_EQ(left.nAllMs, 400);
    shares.Prune(kStart + milliseconds(30000));
    left = shares.Left(4, kStart + milliseconds(30000));
    EXPECT_EQ(left.nAllMs, 1000);
    EXPECT_FALSE(left.bStalledLately);
}

}  // namespace
