// The names an upload may be stored under, and the names a taken one gives way to.
#include <gtest/gtest.h>

#include <string>

#include "UploadName.h"

namespace {
struct SNameCase {
    std::string strName;
    ENameVerdict verdict;
};

TEST(UploadName, RefusesWhatCouldEscapeHideOrBreakAndKeepsEveryOtherName) {
    const SNameCase cases[] = {
        {"photo.jpg", ENameVerdict::Kept},
        {"\xE6\xB5\x8B\xE8\xAF\x95.txt", ENameVerdict::Kept},
        {"caf\xE9.txt", ENameVerdict::Kept},  // Latin-1 bytes stay bytes
        {"say \"hi\" & #1 100%.txt", ENameVerdict::Kept},
        {"<img src=x onerror=alert(1)>.jpg", ENameVerdict::Kept},
        {"a.b.c", ENameVerdict::Kept},
        {std::string(255, 'n'), ENameVerdict::Kept},
        {std::string(256, 'n'), ENameVerdict::TooLong},
        {"", ENameVerdict::Empty},
        {".", ENameVerdict::Empty},
        {"..", ENameVerdict::Empty},
        {"a/b", ENameVerdict::Separator},
        {"a\\b", ENameVerdict::Separator},
        {"../../etc/passwd", ENameVerdict::Separator},
        {std::string("a\0b", 3), ENameVerdict::Control},
        {"a\rb", ENameVerdict::Control},
        {"tab\there", ENameVerdict::Control},
        {"del\x7F", ENameVerdict::Control},
        {".htaccess", ENameVerdict::Hidden},
        {"a..b", ENameVerdict::ParentLike},
        {"TARVEL.EXE", ENameVerdict::Guarded},
        {"my-tarvel.exe.txt", ENameVerdict::Guarded},
    };
    for (const SNameCase& c : cases) {
        EXPECT_EQ(JudgeUploadName(c.strName), c.verdict) << c.strName;
    }
}

struct SNumberedCase {
    const char* pszName;
    unsigned nNumber;
    const char* pszNumbered;
};

TEST(UploadName, ATakenNameGivesWayToANumberedOne) {
    const SNumberedCase cases[] = {
        {"photo.jpg", 1, "photo (1).jpg"},
        {"photo.jpg", 12, "photo (12).jpg"},
        {"archive.tar.gz", 1, "archive.tar (1).gz"},
        {"README", 2, "README (2)"},
        {"\xE6\xB5\x8B\xE8\xAF\x95.txt", 1, "\xE6\xB5\x8B\xE8\xAF\x95 (1).txt"},
    };
    for (const SNumberedCase& c : cases) {
        EXPECT_EQ(NumberedName(c.pszName, c.nNumber), c.pszNumbered) << c.pszName;
    }
    EXPECT_EQ(NumberedName(std::string(250, 'n') + ".jpg", 1), "");  // past 255 bytes
}
}  // namespace
