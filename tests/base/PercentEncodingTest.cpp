// Bytes written as "%XX" and read back.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "PercentEncoding.h"

namespace {

TEST(PercentEncoding, DecodesWholeEscapesOnlyAndRefusesAZeroByte) {
    const struct {
        std::string_view text;
        bool bDecoded;
        std::string strDecoded = "";  // when decoded
    } rows[] = {
        {.text = "", .bDecoded = true, .strDecoded = ""},
        {.text = "plain", .bDecoded = true, .strDecoded = "plain"},
        {.text = "a%20b", .bDecoded = true, .strDecoded = "a b"},
        {.text = "%41", .bDecoded = true, .strDecoded = "A"},
        {.text = "x%4a%4A", .bDecoded = true, .strDecoded = "xJJ"},
        {.text = "%C3%A9", .bDecoded = true, .strDecoded = "\xc3\xa9"},
        {.text = "%e9", .bDecoded = true, .strDecoded = "\xe9"},
        {.text = "100%", .bDecoded = true, .strDecoded = "100%"},
        {.text = "%4", .bDecoded = true, .strDecoded = "%4"},
        {.text = "a%zz", .bDecoded = true, .strDecoded = "a%zz"},
        {.text = "%%41", .bDecoded = true, .strDecoded = "%A"},
        {.text = "%2541", .bDecoded = true, .strDecoded = "%41"},  // once, not again
        {.text = "%2e%2E/", .bDecoded = true, .strDecoded = "../"},
        {.text = "a%00b", .bDecoded = false},
    };
    for (const auto& row : rows) {
        std::string strDecoded = "left from before";
        EXPECT_EQ(DecodePercentEscapes(row.text, strDecoded), row.bDecoded) << row.text;
        if (row.bDecoded) {
            EXPECT_EQ(strDecoded, row.strDecoded) << row.text;
        }
    }
}

TEST(PercentEncoding, EncodesEachByteNotKeptAsTwoUpperCaseDigits) {
    const auto keepLetters = [](unsigned char c) { return std::isalpha(c) != 0; };
    const struct {
        std::string text;
        std::string strEncoded;
    } rows[] = {
        {.text = "", .strEncoded = ""},
        {.text = "Az", .strEncoded = "Az"},
        {.text = "a b", .strEncoded = "a%20b"},
        {.text = "09/%", .strEncoded = "%30%39%2F%25"},
        {.text = std::string(1, '\0') + "\x0f\xab\xff", .strEncoded = "%00%0F%AB%FF"},
        {.text = "caf\xc3\xa9", .strEncoded = "caf%C3%A9"},
    };
    for (const auto& row : rows) {
        std::string strOut = "kept:";
        AppendPercentEncoded(strOut, row.text, keepLetters);
        EXPECT_EQ(strOut, "kept:" + row.strEncoded) << row.text;
    }
}

}  // namespace
