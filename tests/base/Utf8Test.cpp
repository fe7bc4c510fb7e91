// Which bytes are UTF-8 text, whole or as the start of a longer text.
#include <gtest/gtest.h>

#include "Utf8.h"

namespace {

TEST(Utf8, TextAcceptsASequenceCutByTheLookLimitOnly) {
    const std::pair<std::string, bool> cases[] = {
        {"plain ascii", true},
        {"caf\xc3\xa9", true},
        {"\xe2\x82\xac euro", true},
        {"\xf0\x9f\x98\x80", true},
        {"cut \xe2\x82", true},
        {"cut \xf0", true},
        {"latin1 caf\xe9!", false},
        {"lone continuation \x80", false},
        {"overlong \xc0\xaf", false},
        {"overlong \xe0\x80\xaf", false},
        {"surrogate \xed\xa0\x80", false},
        {"beyond unicode \xf4\x90\x80\x80", false},
        {"broken \xe2\x28\xa1", false},
    };
    for (const auto& [strText, bValid] : cases) {
        EXPECT_EQ(IsUtf8Text(strText, true), bValid) << strText;
    }
    // A whole file that ends mid-sequence is not UTF-8.
    EXPECT_FALSE(IsUtf8Text("cut \xe2\x82", false));
    EXPECT_FALSE(IsUtf8Text("caf\xe9", false));
    EXPECT_TRUE(IsUtf8Text("caf\xc3\xa9", false));
}

}  // namespace
