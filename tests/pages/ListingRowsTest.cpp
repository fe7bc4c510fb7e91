// A listing row's date written out digit by digit: every year a file system
// can hold, against the same fields put through printf.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "ListingPage.h"

namespace {
std::string PrintedLocalTime(time_t nSeconds) {
    struct tm local {};
    if (::localtime_r(&nSeconds, &local) == nullptr) {
        return "";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%ld-%02d-%02d %02d:%02d", 1900L + local.tm_year,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    return text;
}

TEST(ListingRows, ModifiedForEveryYear) {
    const time_t cases[] = {
        0,
        1'765'000'000,            // 2025
        -1,                       // just before 1970
        -62'135'596'800,          // the year 1
        -62'167'219'200 - 86400,  // before the year 0: a minus sign
        253'402'300'799,          // the last second of 9999
        253'402'300'800,          // 10000: five digits
        4'000'000'000'000,        // far beyond
    };
    for (const time_t nSeconds : cases) {
        EXPECT_EQ(FormatModified(nSeconds), PrintedLocalTime(nSeconds)) << nSeconds;
    }
}
}  // namespace
