// Names as bytes in a text field: what the field shows, and which bytes a text stands for.
#include <gtest/gtest.h>

#include "FieldBytes.h"

namespace {

TEST(FieldBytes, ShowsWhatIsNotUtf8AsEscapesAndGivesBackTheSameBytes) {
    const struct {
        const char* pszName;
        std::string strBytes;
        std::string strShown;
    } rows[] = {
        {.pszName = "ascii", .strBytes = "/srv/www", .strShown = "/srv/www"},
        {.pszName = "utf-8",
         .strBytes = "/srv/caf\xc3\xa9/\xe2\x82\xac",
         .strShown = "/srv/caf\xc3\xa9/\xe2\x82\xac"},
        {.pszName = "four-byte", .strBytes = "\xf0\x9f\x93\xb7", .strShown = "\xf0\x9f\x93\xb7"},
        {.pszName = "latin-1", .strBytes = "/srv/caf\xe9", .strShown = "/srv/caf\\xE9"},
        {.pszName = "truncated", .strBytes = "a\xe2\x82", .strShown = "a\\xE2\\x82"},
        {.pszName = "overlong", .strBytes = "\xc0\xaf", .strShown = "\\xC0\\xAF"},
        {.pszName = "surrogate", .strBytes = "\xed\xa0\x80", .strShown = "\\xED\\xA0\\x80"},
        {.pszName = "above U+10FFFF",
         .strBytes = "\xf4\x90\x80\x80",
         .strShown = "\\xF4\\x90\\x80\\x80"},
        {.pszName = "stray continuation", .strBytes = "\x80x", .strShown = "\\x80x"},
        {.pszName = "controls",
         .strBytes = "a\tb\x7f"
                     "c\xc2\x85",
         .strShown = "a\\x09b\\x7Fc\\xC2\\x85"},
        {.pszName = "backslash as escape", .strBytes = "a\\x41", .strShown = "a\\x5Cx41"},
        {.pszName = "backslash alone", .strBytes = "a\\b\\x4", .strShown = "a\\b\\x4"},
        {.pszName = "empty", .strBytes = "", .strShown = ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszName);
        EXPECT_EQ(FieldTextOfBytes(row.strBytes), row.strShown);
        EXPECT_EQ(BytesOfFieldText(row.strShown), row.strBytes);
    }
}

TEST(FieldBytes, AnEditedTextIsUtf8WithEscapesAsTheirBytes) {
    const struct {
        const char* pszTyped;
        std::string strBytes;
    } rows[] = {
        {.pszTyped = "/srv/caf\\xE9/new", .strBytes = "/srv/caf\xe9/new"},
        {.pszTyped = "/srv/caf\\xe9", .strBytes = "/srv/caf\xe9"},
        {.pszTyped = "/srv/caf\xc3\xa9", .strBytes = "/srv/caf\xc3\xa9"},
        {.pszTyped = "\\xC3\\xA9", .strBytes = "\xc3\xa9"},
        {.pszTyped = "a\\x00b", .strBytes = "a\\x00b"},  // no name holds a zero byte
        {.pszTyped = "a\\xG1", .strBytes = "a\\xG1"},
        {.pszTyped = "a\\X41", .strBytes = "a\\X41"},
        {.pszTyped = "a\\x4", .strBytes = "a\\x4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszTyped);
        EXPECT_EQ(BytesOfFieldText(row.pszTyped), row.strBytes);
    }
}

}  // namespace
