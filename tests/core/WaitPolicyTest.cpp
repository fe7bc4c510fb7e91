// The bounds each phase of a request is given.
#include <gtest/gtest.h>

#include "WaitPolicy.h"

namespace {

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

}  // namespace
