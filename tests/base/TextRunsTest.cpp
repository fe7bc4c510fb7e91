// Names written into a listing a run of plain bytes at a time: every run
// boundary (at the start, between specials, at the end) gives the same text
// as byte by byte.
#include <gtest/gtest.h>

#include <string>

#include "PercentEncoding.h"
#include "ShownText.h"

namespace {
std::string Shown(std::string_view bytes, EShownIn where) {
    std::string strOut = "|";  // appended to, not replaced
    AppendShownText(strOut, bytes, where);
    return strOut;
}

TEST(TextRuns, ShownTextAroundEverySpecial) {
    struct {
        std::string strBytes;
        std::string strPage;
        std::string strField;
    } cases[] = {
        {.strBytes = "", .strPage = "|", .strField = "|"},
        {.strBytes = "plain name.txt", .strPage = "|plain name.txt", .strField = "|plain name.txt"},
        {.strBytes = "a&b<c>d\"e'f",
         .strPage = "|a&amp;b&lt;c&gt;d&quot;e&#39;f",
         .strField = "|a&b<c>d\"e'f"},
        {.strBytes = "&start", .strPage = "|&amp;start", .strField = "|&start"},
        {.strBytes = "end>", .strPage = "|end&gt;", .strField = "|end>"},
        {.strBytes = "&&", .strPage = "|&amp;&amp;", .strField = "|&&"},
        {.strBytes = "ab\\x41cd", .strPage = "|ab\\x5Cx41cd", .strField = "|ab\\x5Cx41cd"},
        {.strBytes = "ab\\cd", .strPage = "|ab\\x5Ccd", .strField = "|ab\\cd"},
        {.strBytes = "x\xC3\xA9y\xC3\xA9",
         .strPage = "|x\xC3\xA9y\xC3\xA9",
         .strField = "|x\xC3\xA9y\xC3\xA9"},
        {.strBytes = "\x01"
                     "abc\x7F",
         .strPage = "|\\x01abc\\x7F",
         .strField = "|\\x01abc\\x7F"},
        {.strBytes = "ok\xFFok", .strPage = "|ok\\xFFok", .strField = "|ok\\xFFok"},
        {.strBytes = "tab\there", .strPage = "|tab\\x09here", .strField = "|tab\\x09here"},
        {.strBytes = "cut\xE2\x82", .strPage = "|cut\\xE2\\x82", .strField = "|cut\\xE2\\x82"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Shown(c.strBytes, EShownIn::Page), c.strPage) << c.strBytes;
        EXPECT_EQ(Shown(c.strBytes, EShownIn::Field), c.strField) << c.strBytes;
    }
}

TEST(TextRuns, PercentEncodedAroundEveryEscape) {
    const auto keepLetters = [](unsigned char c) { return c >= 'a' && c <= 'z'; };
    struct {
        std::string strText;
        std::string strEncoded;
    } cases[] = {
        {.strText = "", .strEncoded = "|"},
        {.strText = "abc", .strEncoded = "|abc"},
        {.strText = "a b", .strEncoded = "|a%20b"},
        {.strText = " a", .strEncoded = "|%20a"},
        {.strText = "a ", .strEncoded = "|a%20"},
        {.strText = "  ", .strEncoded = "|%20%20"},
        {.strText = "\xC3\xA9x", .strEncoded = "|%C3%A9x"},
        {.strText = "x%y", .strEncoded = "|x%25y"},
    };
    for (const auto& c : cases) {
        std::string strOut = "|";
        AppendPercentEncoded(strOut, c.strText, keepLetters);
        EXPECT_EQ(strOut, c.strEncoded) << c.strText;
    }
}
}  // namespace
