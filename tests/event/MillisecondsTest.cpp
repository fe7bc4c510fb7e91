// Whole milliseconds between two times, as the event loop's waits count them.
#include <gtest/gtest.h>

#include <chrono>

#include "Milliseconds.h"

namespace {

TEST(Milliseconds, BetweenTwoTimesRoundedUpAndNeverNegative) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point from{std::chrono::seconds(1000)};
    const struct {
        long long nLaterNs;  // the second time, after the first
        int nMs;
    } rows[] = {
        {.nLaterNs = 0, .nMs = 0},
        {.nLaterNs = 1, .nMs = 1},  // a wait never ends just before its time
        {.nLaterNs = 999'999, .nMs = 1},
        {.nLaterNs = 1'000'000, .nMs = 1},
        {.nLaterNs = 1'000'001, .nMs = 2},
        {.nLaterNs = 2'500'000'000, .nMs = 2500},
        {.nLaterNs = -1, .nMs = 0},  // a time that has passed
        {.nLaterNs = -1'500'000, .nMs = 0},
        {.nLaterNs = -60'000'000'000, .nMs = 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MillisecondsBetween(from, from + std::chrono::nanoseconds(row.nLaterNs)), row.nMs)
            << row.nLaterNs << " ns";
    }
}

}  // namespace
