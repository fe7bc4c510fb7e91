// The judge of one blocking call, on a clock of the test's own.
#include <gtest/gtest.h>

#include "WaitBounds.h"

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

}  // namespace
