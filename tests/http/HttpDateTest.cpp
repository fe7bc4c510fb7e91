// HTTP dates written and read.
#include <gtest/gtest.h>

#include "HttpDate.h"

namespace {

const std::string kDate = "Sun, 06 Nov 1994 08:49:37 GMT";

TEST(HttpDate, FormatsAndReadsTheThreeForms) {
    EXPECT_EQ(HttpDate(784111777), kDate);
    EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    const std::pair<const char*, std::optional<time_t>> cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {"  Sun, 06 Nov 1994 08:49:37 GMT ", 784111777},
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 8:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT; length=5", std::nullopt},
        {"", std::nullopt},
        {"784111777", std::nullopt},
    };
    for (const auto& [pszText, expected] : cases) {
        EXPECT_EQ(ParseHttpDate(pszText), expected) << pszText;
    }
}

}  // namespace
