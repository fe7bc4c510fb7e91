// Random base32 text: the length asked for, from the whole alphabet, never
// twice the same.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "RandomText.h"

namespace {

TEST(RandomText, EveryLengthFromTheWholeAlphabet) {
    for (const size_t nLength : {0u, 1u, 7u, 8u, 26u, 41u}) {
        const std::string strText = RandomBase32(nLength);
        EXPECT_EQ(strText.size(), nLength);
        EXPECT_EQ(strText.find_first_not_of("abcdefghijklmnopqrstuvwxyz234567"), std::string::npos)
            << strText;
    }
    std::set<std::string> texts;
    std::set<char> symbols;
    for (int n = 0; n < 200; ++n) {
        const std::string strText = RandomBase32(8);  // 40 bits: a repeat would be a fault
        texts.insert(strText);
        symbols.insert(strText.begin(), strText.end());
    }
    EXPECT_EQ(texts.size(), 200u);
    EXPECT_EQ(symbols.size(), 32u);
}

}  // namespace
