// The waiting rules on a clock of the test's own: the judge of one blocking
// call, the fair share's ledger, and the bounds each phase is given.
#include <gtest/gtest.h>

#include "PeerShare.h"
#include "WaitBounds.h"
#include "WaitPolicy.h"

namespace {
using Clock = CWaitJudge::Clock;
using std::chrono::milliseconds;
const Clock::time_point kStart{};

struct SJudgeCase {
    const char* pszName;
    SWaitBounds bounds;
    long long nWanted;
    long long nMoved;  // before the wait at nAtMs
    int nAtMs;
    int nShareLeftMs = 1000;
    bool bOthersWaiting = false;
    std::optional<EWaitEnd> end = std::nullopt;
    int nMaxWaitMs = CWaitJudge::kPassMs;  // the wait allowed, when it may wait
    int nAllLeftMs = 1000;                 // what all peers together have left
    bool bStalledLately = false;
};

class WaitJudgeTest : public ::testing::TestWithParam<SJudgeCase> {};

TEST_P(WaitJudgeTest, JudgesTheNextWait) {
    const SJudgeCase& c = GetParam();
    CWaitJudge judge(c.bounds, kStart + milliseconds(c.bounds.nDeadlineMs), kStart, c.nWanted);
    judge.Moved(c.nMoved);
    const SShareLeft share{c.nShareLeftMs, c.nAllLeftMs, c.bStalledLately};
    const auto next = judge.NextWait(kStart + milliseconds(c.nAtMs), share, c.bOthersWaiting);
    EXPECT_EQ(next.end, c.end);
    if (!c.end) {
        EXPECT_EQ(next.nWaitMs, c.nMaxWaitMs);
    }
}

const SWaitBounds kSend{.nStallMs = 500, .nMinimumRate = 1024};
const SWaitBounds kShared{.nStallMs = 500, .nMinimumRate = 1024, .bShared = true};
const SWaitBounds kHead{.nDeadlineMs = 1000, .bShared = true};
constexpr EWaitEnd kTimedOut = EWaitEnd::TimedOut;

const SJudgeCase kJudgeCases[] = {
    // name, bounds, wanted, moved, at (ms), share left, others waiting, end, wait allowed
    {"no_bounds_waits_a_pass", {}, 0, 0, 60000, 1000, false, {}, 2000},
    {"stall_period_not_over", kSend, 1 << 20, 0, 200, 1000, false, {}, 300},
    {"stall_period_over_without_progress", kSend, 1 << 20, 0, 500, 1000, false, kTimedOut},
    // 512 bytes is the minimum rate's share of a 0.5 s period.
    {"trickle_below_the_rate", kSend, 1 << 20, 511, 500, 1000, false, kTimedOut},
    {"at_the_rate_goes_on", kSend, 1 << 20, 512, 500, 1000, false, {}, 500},
    {"what_was_left_is_enough", kSend, 100, 100, 500, 1000, false, {}, 500},
    {"a_receive_needs_one_byte", {.nStallMs = 500}, 0, 1, 500, 1000, false, {}, 500},
    {"before_the_deadline", kHead, 0, 0, 960, 1000, false, {}, 40},
    {"at_the_deadline", kHead, 0, 0, 1000, 1000, false, kTimedOut},
    {"progress_does_not_move_a_deadline", kHead, 0, 50, 1000, 1000, false, kTimedOut},
    {"shared_waits_in_short_passes", kShared, 1 << 20, 0, 0, 1000, false, {}, 100},
    {"share_left_bounds_the_wait", kShared, 1 << 20, 0, 0, 30, true, {}, 30},
    {"share_used_while_others_wait", kShared, 1 << 20, 0, 0, 0, true, EWaitEnd::ShareUsed},
    {"share_used_but_nobody_waits", kShared, 1 << 20, 0, 0, 0, false, {}, 100},
    {"unshared_ignores_the_share", kSend, 1 << 20, 0, 0, 0, true, {}, 500},
    // name, ..., wait allowed, all peers' share left, stalled lately
    {"all_spent_lets_a_staller_go", kShared, 1 << 20, 0, 0, 1000, true, EWaitEnd::ShareUsed, 0,
     0, true},
    {"all_spent_a_new_peer_gets_a_probe", kShared, 1 << 20, 0, 0, 1000, true, {}, 20, 0, false},
    {"all_left_bounds_the_wait", kShared, 1 << 20, 0, 0, 1000, true, {}, 30, 30, true},
    {"all_spent_but_nobody_waits", kShared, 1 << 20, 0, 0, 1000, false, {}, 100, 0, true},
};

INSTANTIATE_TEST_SUITE_P(Judge, WaitJudgeTest, ::testing::ValuesIn(kJudgeCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(WaitJudge, ADownloadThatKeepsUpIsNotCharged) {
    CWaitJudge judge(kShared, kStart, kStart, 1 << 20);
    // 200 ms waited while others waited: 205 bytes after it is the rate.
    EXPECT_EQ(judge.ChargeFor(200, true, 205), 0);
    EXPECT_EQ(judge.ChargeFor(200, true, 204), 200);
    EXPECT_EQ(judge.ChargeFor(200, false, 1 << 20), 200);  // a receive always
    EXPECT_EQ(judge.ChargeFor(0, true, 0), 0);
    // Having kept up at its last wait, it goes on in short passes after all
    // peers' share is spent, within its own share, though its peer has stalled.
    EXPECT_EQ(judge.ChargeFor(200, true, 205), 0);
    EXPECT_EQ(judge.NextWait(kStart, {1000, 0, true}, true).nWaitMs, 20);
    EXPECT_EQ(judge.NextWait(kStart, {0, 0, true}, true).end, EWaitEnd::ShareUsed);
}

TEST(WaitJudge, ASendNotKeepingUpGetsAFewProbesOnceAllHaveSpentTheirs) {
    CWaitJudge judge(kShared, kStart, kStart, 1 << 20);
    // Three passes of 20 ms: what each new address that stalls may cost.
    for (int i = 0; i < 3; ++i) {
        const auto next = judge.NextWait(kStart, {1000, 0, false}, true);
        ASSERT_FALSE(next.end);
        EXPECT_EQ(next.nWaitMs, 20);
        EXPECT_EQ(judge.ChargeFor(next.nWaitMs, true, 0), next.nWaitMs);
    }
    EXPECT_EQ(judge.NextWait(kStart, {1000, 0, false}, true).end, EWaitEnd::ShareUsed);
    EXPECT_TRUE(judge.ProbesSpent());
    // Keeping up at one wait gives back one probe, no more: a peer that never
    // reads lets a window probe through now and then.
    EXPECT_EQ(judge.ChargeFor(20, true, 2048), 0);
    EXPECT_EQ(judge.NextWait(kStart, {1000, 0, false}, true).nWaitMs, 20);  // kept up
    EXPECT_EQ(judge.ChargeFor(20, true, 0), 20);
    EXPECT_EQ(judge.NextWait(kStart, {1000, 0, false}, true).nWaitMs, 20);  // the probe given back
    EXPECT_EQ(judge.ChargeFor(20, true, 0), 20);
    EXPECT_EQ(judge.NextWait(kStart, {1000, 0, false}, true).end, EWaitEnd::ShareUsed);
    // A peer that spent its probes lately gets none.
    CWaitJudge next(kShared, kStart, kStart, 1 << 20);
    EXPECT_EQ(next.NextWait(kStart, {1000, 0, true}, true).end, EWaitEnd::ShareUsed);
    EXPECT_FALSE(next.ProbesSpent());  // so it marks nobody again
}

TEST(WaitJudge, EachStallPeriodIsJudgedOnItsOwn) {
    CWaitJudge judge(kSend, kStart, kStart, 1 << 20);
    judge.Moved(600);
    ASSERT_FALSE(judge.NextWait(kStart + milliseconds(500), {}, false).end);
    // The next period starts from nothing: what moved before does not count.
    EXPECT_EQ(judge.NextWait(kStart + milliseconds(1000), {}, false).end, EWaitEnd::TimedOut);
}

// The bounds the README's table promises, phase by phase.
TEST(WaitPolicy, EachPhaseHasItsBounds) {
    const SWaitPolicy policy;
    EXPECT_EQ(policy.requestHead.nDeadlineMs, 1000);
    EXPECT_EQ(policy.wholeFile.nStallMs, 10000);
    EXPECT_EQ(policy.wholeFile.nMinimumRate, 1024);
    EXPECT_EQ(policy.range.nStallMs, 500);
    EXPECT_EQ(policy.range.nMinimumRate, 1024);
    EXPECT_EQ(policy.memoryBody.nStallMs, policy.wholeFile.nStallMs);
    EXPECT_EQ(policy.stopDrain.nDeadlineMs, 2000);
    EXPECT_EQ(policy.nIdleClientMs, 30000);
    EXPECT_EQ(policy.nShareMs, 1000);
    EXPECT_EQ(policy.nShareWindowMs, 10000);
    EXPECT_EQ(policy.nAllShareMs, 1000);
    for (const SWaitBounds& bounds : {policy.wholeFile, policy.range, policy.stopDrain}) {
        EXPECT_TRUE(bounds.bShared);
    }
}

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
