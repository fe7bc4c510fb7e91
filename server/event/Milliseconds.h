// Whole milliseconds from one time point to another, for the waits of the
// event loop: rounded up, so a wait never ends just before its time, and
// never negative.
#pragma once

#include <algorithm>
#include <chrono>

template <typename TimePoint>
int MillisecondsBetween(TimePoint from, TimePoint to) {
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(to - from);
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, remaining.count()));
}
