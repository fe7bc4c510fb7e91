// Names shown to a person: UTF-8 as it is, every other byte escaped, in a text
// field and in a page.
#include <gtest/gtest.h>

#include <string>

#include "ShownText.h"

namespace {

TEST(ShownText, EscapesWhatCannotBeShownInAFieldAndInAPage) {
    const struct {
        std::string bytes;
        std::string strField;
        std::string strPage;
    } rows[] = {
        {.bytes = "", .strField = "", .strPage = ""},
        {.bytes = "plain", .strField = "plain", .strPage = "plain"},
        {.bytes = "caf\xc3\xa9 \xf0\x9f\x98\x80",
         .strField = "caf\xc3\xa9 \xf0\x9f\x98\x80",
         .strPage = "caf\xc3\xa9 \xf0\x9f\x98\x80"},
        {.bytes = "latin1 caf\xe9", .strField = "latin1 caf\\xE9", .strPage = "latin1 caf\\xE9"},
        {.bytes = "cut \xe2\x82", .strField = "cut \\xE2\\x82", .strPage = "cut \\xE2\\x82"},
        {.bytes = "lone \x80", .strField = "lone \\x80", .strPage = "lone \\x80"},
        {.bytes = "tab\tline\nnul" + std::string(1, '\0') + "del\x7f",
         .strField = "tab\\x09line\\x0Anul\\x00del\\x7F",
         .strPage = "tab\\x09line\\x0Anul\\x00del\\x7F"},
        {.bytes = "C1 \xc2\x85 nbsp \xc2\xa0",
         .strField = "C1 \\xC2\\x85 nbsp \xc2\xa0",
         .strPage = "C1 \\xC2\\x85 nbsp \xc2\xa0"},
        {.bytes = "<a href='x'>&\"",
         .strField = "<a href='x'>&\"",
         .strPage = "&lt;a href=&#39;x&#39;&gt;&amp;&quot;"},
        // A backslash that would read as an escape is one itself; in a page, every one is.
        {.bytes = "\\x41", .strField = "\\x5Cx41", .strPage = "\\x5Cx41"},
        {.bytes = "a\\b \\x4 \\xG1",
         .strField = "a\\b \\x4 \\xG1",
         .strPage = "a\\x5Cb \\x5Cx4 \\x5CxG1"},
    };
    for (const auto& row : rows) {
        std::string strField = "kept:";
        AppendShownText(strField, row.bytes, EShownIn::Field);
        EXPECT_EQ(strField, "kept:" + row.strField) << row.bytes;
        std::string strPage;
        AppendShownText(strPage, row.bytes, EShownIn::Page);
        EXPECT_EQ(strPage, row.strPage) << row.bytes;
    }
}

TEST(ShownText, ByteEscapeAtReadsOnlyAWholeEscape) {
    const struct {
        std::string_view text;
        size_t nAt;
        int nByte;
    } rows[] = {
        {.text = "\\x41", .nAt = 0, .nByte = 0x41}, {.text = "\\xff", .nAt = 0, .nByte = 0xFF},
        {.text = "\\x00", .nAt = 0, .nByte = 0},    {.text = "a\\x5C", .nAt = 1, .nByte = 0x5C},
        {.text = "a\\x5C", .nAt = 0, .nByte = -1},  {.text = "\\x4", .nAt = 0, .nByte = -1},
        {.text = "\\x4G", .nAt = 0, .nByte = -1},   {.text = "\\X41", .nAt = 0, .nByte = -1},
        {.text = "/x41", .nAt = 0, .nByte = -1},    {.text = "\\x41", .nAt = 1, .nByte = -1},
        {.text = "", .nAt = 0, .nByte = -1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ByteEscapeAt(row.text, row.nAt), row.nByte) << row.text << " at " << row.nAt;
    }
}

}  // namespace
