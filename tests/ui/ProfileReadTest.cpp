// Reading the profile: the rules of the desktop's profile functions on hand-written files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <climits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Profile.h"
#include "ProfileFiles.h"
#include "ProfileText.h"

namespace {

using namespace std::string_literals;

const std::string kDefault = "<default>";

struct SStringRow {
    const char* pszName;
    std::string strFile;
    std::string strExpected;
    friend void PrintTo(const SStringRow& row, std::ostream* pStream) { *pStream << row.pszName; }
};

class ProfileStringRead : public testing::TestWithParam<SStringRow> {};

TEST_P(ProfileStringRead, ReadsRootAsTheRulesSay) {
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), GetParam().strFile);
    CProfile profile(folder.Path("p.INI"));
    EXPECT_EQ(profile.GetProfileString("Defaults", "Root", kDefault), GetParam().strExpected);
}

const std::string kLongLine(CProfileText::kMaxLineBytes - 5, 'x');  // "Root=" + this: 64 KiB

std::string Repeated(std::string_view strLine, std::size_t nTimes) {
    std::string str;
    str.reserve(strLine.size() * nTimes);
    for (std::size_t n = 0; n < nTimes; ++n) {
        str += strLine;
    }
    return str;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileStringRead,
    testing::Values(
        SStringRow{"Plain", "[Defaults]\nRoot=/srv\n", "/srv"},
        SStringRow{"NamesIgnoreCase", "[dEFAULTS]\nROOT=/srv\n", "/srv"},
        SStringRow{"BlanksAroundKeyAndValue", "[Defaults]\n \t Root \t=  /srv \t \n", "/srv"},
        SStringRow{"BlanksInsideValueKept", "[Defaults]\nRoot=/my  dir\n", "/my  dir"},
        SStringRow{"HeaderWithBlanks", "  [ Defaults ]  \nRoot=/srv\n", "/srv"},
        SStringRow{"DoubleQuotes", "[Defaults]\nRoot=\"/srv\"\n", "/srv"},
        SStringRow{"SingleQuotes", "[Defaults]\nRoot='/srv'\n", "/srv"},
        SStringRow{"QuotesKeepInnerBlanks", "[Defaults]\nRoot=  \" /srv \"  \n", " /srv "},
        SStringRow{"OnlyOnePairOfQuotes", "[Defaults]\nRoot=\"\"/srv\"\"\n", "\"/srv\""},
        SStringRow{"MismatchedQuotesStay", "[Defaults]\nRoot=\"/srv'\n", "\"/srv'"},
        SStringRow{"LoneQuoteStays", "[Defaults]\nRoot=\"\n", "\""},
        SStringRow{"EmptyValueIsNotMissing", "[Defaults]\nRoot=\n", ""},
        SStringRow{"FirstEqualsSplits", "[Defaults]\nRoot=a=b\n", "a=b"},
        SStringRow{"CrLfEndings", "[Defaults]\r\nRoot=/srv\r\n", "/srv"},
        SStringRow{"LastLineWithoutEnding", "[Defaults]\nRoot=/srv", "/srv"},
        SStringRow{"LastLineEndsInCr", "[Defaults]\nRoot=/srv\r", "/srv"},
        SStringRow{"ByteOrderMark", "\xEF\xBB\xBF[Defaults]\nRoot=/srv\n", "/srv"},
        SStringRow{"AnyBytesKept", "[Defaults]\nRoot=/\xff\xfe\x01\x7f\n", "/\xff\xfe\x01\x7f"},
        SStringRow{"FirstOfTwoKeys", "[Defaults]\nRoot=/one\nroot=/two\n", "/one"},
        SStringRow{"SectionRepeated", "[Defaults]\nChannel=1\n[Other]\n[defaults]\nRoot=/srv\n",
                   "/srv"},
        SStringRow{"MissingKey", "[Defaults]\nChannel=80\n", kDefault},
        SStringRow{"MissingSection", "[Other]\nRoot=/srv\n", kDefault},
        SStringRow{"KeyBeforeAnySection", "Root=/srv\n[Defaults]\n", kDefault},
        SStringRow{"SectionEndsAtNextHeader", "[Defaults]\n[Other]\nRoot=/srv\n", kDefault},
        SStringRow{"CommentIsNoKey", "[Defaults]\n;Root=/srv\n#Root=/srv\n", kDefault},
        SStringRow{"LineWithoutEquals", "[Defaults]\nRoot\n", kDefault},
        SStringRow{"EmptyFile", "", kDefault},
        SStringRow{"ZeroByteLinePassedOver", "[Defaults]\nRoot=/a\0b\n"s, kDefault},
        SStringRow{"ZeroByteElsewhereHarmless", "[Defaults]\nJunk=\0\nRoot=/srv\n"s, "/srv"},
        SStringRow{"LineOf64KiBRead", "[Defaults]\nRoot=" + kLongLine + "\n",
                   kLongLine.substr(0, CProfile::kMaxValueBytes)},
        SStringRow{"LongerLinePassedOver", "[Defaults]\nRoot=" + kLongLine + "y\n", kDefault},
        SStringRow{"LongHeaderPassedOver",
                   "[Defaults]\n[" + std::string(70000, 'x') + "]\nRoot=/srv\n", "/srv"},
        SStringRow{"ManyEmptyLines", std::string(1 << 20, '\n') + "[Defaults]\nRoot=/srv\n",
                   "/srv"},
        SStringRow{"ManyBracketLines", Repeated("[\n", 1 << 19) + "[Defaults]\nRoot=/srv\n",
                   "/srv"},
        SStringRow{"ManyKeyLines", "[Defaults]\n" + Repeated("k=v\n", 1 << 18) + "Root=/srv\n",
                   "/srv"}),
    [](const testing::TestParamInfo<SStringRow>& info) { return info.param.pszName; });

struct SIntRow {
    const char* pszName;
    std::string strValue;
    int nExpected;
    friend void PrintTo(const SIntRow& row, std::ostream* pStream) { *pStream << row.pszName; }
};

class ProfileIntRead : public testing::TestWithParam<SIntRow> {};

TEST_P(ProfileIntRead, ReadsChannelAsTheRulesSay) {
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), "[Defaults]\nChannel=" + GetParam().strValue + "\n");
    CProfile profile(folder.Path("p.INI"));
    EXPECT_EQ(profile.GetProfileInt("Defaults", "Channel", 80), GetParam().nExpected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileIntRead,
    testing::Values(SIntRow{"Plain", "8080", 8080}, SIntRow{"Blanks", " \t 8080 ", 8080},
                    SIntRow{"Plus", "+8080", 8080}, SIntRow{"Negative", "-25536", -25536},
                    SIntRow{"AboveSixteenBits", "70000", 70000}, SIntRow{"LeadingZeros", "007", 7},
                    SIntRow{"RestIgnored", "12abc", 12}, SIntRow{"DecimalPointEnds", "3.9", 3},
                    SIntRow{"Quoted", "\"42\"", 42}, SIntRow{"Letters", "abc", 0},
                    SIntRow{"Empty", "", 0}, SIntRow{"SignAlone", "-", 0},
                    SIntRow{"BlankAfterSign", "- 5", 0}, SIntRow{"TwoSigns", "--5", 0},
                    SIntRow{"PlusMinus", "+-5", 0}, SIntRow{"HexIsNotRead", "0x10", 0},
                    SIntRow{"Largest", "2147483647", INT_MAX},
                    SIntRow{"Smallest", "-2147483648", INT_MIN},
                    SIntRow{"TooLargeSaturates", "2147483648", INT_MAX},
                    SIntRow{"TooSmallSaturates", "-99999999999999999999999", INT_MIN}),
    [](const testing::TestParamInfo<SIntRow>& info) { return info.param.pszName; });

TEST(ProfileRead, OnlyAMissingKeyGivesTheIntegerDefault) {
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), "[Defaults]\nAutoStart=\n[Channel]\nChannel=1\n");
    CProfile profile(folder.Path("p.INI"));
    EXPECT_EQ(profile.GetProfileInt("Defaults", "Channel", 80), 80);
    EXPECT_EQ(profile.GetProfileInt("Defaults", "AutoStart", 5), 0);
    EXPECT_EQ(profile.GetProfileInt("Nowhere", "AutoStart", 5), 5);
}

TEST(ProfileRead, MissingFileGivesDefaultsAndCreatesNothing) {
    CTempFolder folder;
    CProfile profile(folder.Path("config/tarvel.INI"));
    EXPECT_EQ(profile.GetProfileString("Defaults", "Root", "."), ".");
    EXPECT_EQ(profile.GetProfileInt("Defaults", "Channel", 80), 80);
    EXPECT_FALSE(Exists(folder.Path("config")));
}

TEST(ProfileRead, TextValueIsCutTo4095Bytes) {
    for (std::size_t nLength : {4094, 4095, 4096, 5000}) {
        SCOPED_TRACE(nLength);
        CTempFolder folder;
        std::string strRoot;
        for (std::size_t i = 0; i < nLength; ++i) {
            strRoot += static_cast<char>('a' + i % 26);
        }
        WriteBytes(folder.Path("p.INI"), "[Defaults]\nRoot=" + strRoot + "\n");
        std::string strRead =
            CProfile(folder.Path("p.INI")).GetProfileString("Defaults", "Root", "");
        EXPECT_EQ(strRead, strRoot.substr(0, 4095));
    }
}

// Lines of random bytes, each holding a zero byte, then real settings: the garbage is passed
// over without reading past anything, and what follows it still reads.
TEST(ProfileRead, BinaryGarbageIsPassedOver) {
    std::mt19937 random(20240607);
    std::string strGarbage;
    for (int nLine = 0; nLine < 200; ++nLine) {
        std::size_t nLength = random() % 2000;
        for (std::size_t i = 0; i < nLength; ++i) {
            char c = static_cast<char>(random() % 256);
            strGarbage += c == '\n' ? '[' : c;
        }
        strGarbage += '\0';
        strGarbage += '\n';
    }
    strGarbage += std::string(100 * 1024, '=');  // a line far over the limit
    strGarbage += "\n[Defaults]\nRoot=/srv\nChannel=8080";
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), strGarbage);
    CProfile profile(folder.Path("p.INI"));
    EXPECT_EQ(profile.GetProfileString("Defaults", "Root", "."), "/srv");
    EXPECT_EQ(profile.GetProfileInt("Defaults", "Channel", 80), 8080);
}

TEST(ProfileRead, NonFilesReadAsMissingWithoutWaiting) {
    CTempFolder folder;
    ASSERT_EQ(::mkfifo(folder.Path("fifo.INI").c_str(), 0644), 0);
    ASSERT_EQ(::mkdir(folder.Path("folder.INI").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("loop.INI", folder.Path("loop.INI").c_str()), 0);
    auto start = std::chrono::steady_clock::now();
    for (const char* pszName : {"fifo.INI", "folder.INI", "loop.INI"}) {
        SCOPED_TRACE(pszName);
        CProfile profile(folder.Path(pszName));
        EXPECT_EQ(profile.GetProfileString("Defaults", "Root", "."), ".");
        EXPECT_EQ(profile.GetProfileInt("Defaults", "Channel", 80), 80);
    }
    // Reaching this line at all shows the FIFO did not block; the bound only names it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

struct SProgramRow {
    const char* pszPath;
    const char* pszName;
};

TEST(ProfilePlace, ProgramNameDropsFolderAndExtension) {
    for (const SProgramRow& row :
         {SProgramRow{"/usr/bin/tarvel", "tarvel"}, SProgramRow{"/opt/tarvel/TARVEL.EXE", "TARVEL"},
          SProgramRow{"/opt/my.tools/tarvel.bin", "tarvel"},
          SProgramRow{"/usr/bin/tarvel (deleted)", "tarvel"}, SProgramRow{"tarvel", "tarvel"}}) {
        SCOPED_TRACE(row.pszPath);
        EXPECT_EQ(CProfile::ProgramNameOf(row.pszPath), row.pszName);
    }
    EXPECT_EQ(CProfile::ProgramName(), "tarvel_profile_tests");
}

// Sets or clears environment variables for one test and puts them back afterwards.
class CEnvironment {
public:
    ~CEnvironment() {
        for (const auto& [strName, strOld] : m_saved) {
            if (strOld) {
                ::setenv(strName.c_str(), strOld->c_str(), 1);
            } else {
                ::unsetenv(strName.c_str());
            }
        }
    }
    void Set(const std::string& strName, const char* pszValue) {
        const char* pszOld = std::getenv(strName.c_str());
        m_saved.emplace_back(strName, pszOld ? std::optional<std::string>(pszOld) : std::nullopt);
        if (pszValue) {
            ::setenv(strName.c_str(), pszValue, 1);
        } else {
            ::unsetenv(strName.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(ProfilePlace, DefaultPathFollowsTheDesktopConvention) {
    struct SRow {
        const char* pszConfig;
        std::string strExpected;
    };
    for (const SRow& row : {SRow{"/home/ann/conf", "/home/ann/conf/tarvel_profile_tests.INI"},
                            SRow{"/home/ann/conf//", "/home/ann/conf/tarvel_profile_tests.INI"},
                            SRow{"/", "/tarvel_profile_tests.INI"},
                            SRow{nullptr, "/home/bob/.config/tarvel_profile_tests.INI"},
                            SRow{"", "/home/bob/.config/tarvel_profile_tests.INI"},
                            SRow{"relative/conf", "/home/bob/.config/tarvel_profile_tests.INI"}}) {
        SCOPED_TRACE(row.pszConfig ? row.pszConfig : "(unset)");
        CEnvironment environment;
        environment.Set("HOME", "/home/bob");
        environment.Set("XDG_CONFIG_HOME", row.pszConfig);
        EXPECT_EQ(CProfile::DefaultPath(), row.strExpected);
    }
}

TEST(ProfilePlace, RelativeHomeFallsBackToTheUsersEntry) {
    const struct passwd* pEntry = ::getpwuid(::geteuid());
    if (pEntry == nullptr || pEntry->pw_dir == nullptr || pEntry->pw_dir[0] != '/') {
        GTEST_SKIP() << "no home folder in the user database";
    }
    std::string strHome = pEntry->pw_dir;
    std::string strExpected = (strHome == "/" ? "" : strHome) + "/.config/tarvel_profile_tests.INI";
    CEnvironment environment;
    environment.Set("HOME", "somewhere");
    environment.Set("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(CProfile::DefaultPath(), strExpected);
}

}  // namespace
