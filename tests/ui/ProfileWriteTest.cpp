// Writing the profile: only the set key's line changes, new lines end in LF, and a write
// that cannot happen leaves the stored file whole.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Profile.h"
#include "ProfileFile.h"
#include "ProfileFiles.h"
#include "ProfileText.h"

namespace {

using namespace std::string_literals;

std::vector<std::string> FolderEntries(const std::string& strFolder) {
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(strFolder)) {
        entries.push_back(entry.path().filename().string());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The four writes of a save with the values of a first run.
void WriteFirstRunSettings(CProfile& profile) {
    EXPECT_TRUE(profile.WriteProfileString("Defaults", "Root", "."));
    EXPECT_TRUE(profile.WriteProfileInt("Defaults", "Channel", 80));
    EXPECT_TRUE(profile.WriteProfileString("Defaults", "DefaultURL", "index.htm"));
    EXPECT_TRUE(profile.WriteProfileInt("Defaults", "AutoStart", 0));
}

const char* const kFirstFile =
    "[Defaults]\nRoot=.\nChannel=80\nDefaultURL=index.htm\nAutoStart=0\n";

TEST(ProfileWrite, FirstSaveWritesFiveLinesAndMakesAPrivateFolder) {
    CTempFolder folder;
    CProfile profile(folder.Path("config/sub/tarvel.INI"));
    WriteFirstRunSettings(profile);
    EXPECT_EQ(ReadBytes(profile.Path()), kFirstFile);
    struct stat status {};
    ASSERT_EQ(::stat(folder.Path("config").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_EQ(FolderEntries(folder.Path("config/sub")), std::vector<std::string>{"tarvel.INI"});
}

TEST(ProfileWrite, HandWrittenFileKeepsEveryOtherLineByteForByte) {
    const std::string strBefore =
        "; Tarvel settings, edited by hand\r\n"
        "[Other]\r\n"
        "Root=/not/this\r\n"
        "\r\n"
        "  [ defaults ]  \r\n"
        "  root = \"/old root\"   \r\n"
        "CHANNEL=8080\r\n"
        "; keep this comment\r\n"
        "\r\n"
        "[Last]\r\n"
        "key = value";
    const std::string strAfter =
        "; Tarvel settings, edited by hand\r\n"
        "[Other]\r\n"
        "Root=/not/this\r\n"
        "\r\n"
        "  [ defaults ]  \r\n"
        "  root = /srv/www\r\n"
        "CHANNEL=-25536\r\n"
        "DefaultURL=home.html\n"
        "AutoStart=1\n"
        "; keep this comment\r\n"
        "\r\n"
        "[Last]\r\n"
        "key = value";
    // Four writes of one key each, and one write of all four: the same file.
    const std::vector<std::function<bool(CProfile&)>> saves = {
        [](CProfile& profile) {
            return profile.WriteProfileString("Defaults", "Root", "/srv/www") &&
                   profile.WriteProfileInt("Defaults", "Channel", -25536) &&
                   profile.WriteProfileString("Defaults", "DefaultURL", "home.html") &&
                   profile.WriteProfileInt("Defaults", "AutoStart", 1);
        },
        [](CProfile& profile) {
            return profile.WriteProfileStrings("Defaults",
                                               {{.strKey = "Root", .strValue = "/srv/www"},
                                                {.strKey = "Channel", .strValue = "-25536"},
                                                {.strKey = "DefaultURL", .strValue = "home.html"},
                                                {.strKey = "AutoStart", .strValue = "1"}});
        }};
    for (const auto& fnSave : saves) {
        CTempFolder folder;
        WriteBytes(folder.Path("p.INI"), strBefore);
        CProfile profile(folder.Path("p.INI"));
        EXPECT_TRUE(fnSave(profile));
        EXPECT_EQ(ReadBytes(profile.Path()), strAfter);

        EXPECT_EQ(profile.GetProfileString("Defaults", "Root", "."), "/srv/www");
        EXPECT_EQ(profile.GetProfileInt("Defaults", "Channel", 80), -25536);
        EXPECT_EQ(profile.GetProfileString("Defaults", "DefaultURL", ""), "home.html");
        EXPECT_EQ(profile.GetProfileInt("Defaults", "AutoStart", 0), 1);
        EXPECT_EQ(profile.GetProfileString("Last", "Key", ""), "value");
    }
}

struct SEditRow {
    const char* pszName;
    std::string strBefore;
    std::string strAfter;  // after Root is set to /srv
    friend void PrintTo(const SEditRow& row, std::ostream* pStream) { *pStream << row.pszName; }
};

class ProfileEdit : public testing::TestWithParam<SEditRow> {};

// The text model in memory; the file layer around it is tested on real files below.
TEST_P(ProfileEdit, SetsRootAndNothingElse) {
    CProfileText text(GetParam().strBefore);
    EXPECT_TRUE(text.Set("Defaults", "Root", "/srv"));
    EXPECT_EQ(text.Bytes(), GetParam().strAfter);
    EXPECT_EQ(text.Find("Defaults", "Root"), "/srv");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileEdit,
    testing::Values(
        SEditRow{"MissingSectionAppended", "[Other]\nx=1\n",
                 "[Other]\nx=1\n[Defaults]\nRoot=/srv\n"},
        SEditRow{"LastLineGetsItsLineBreak", "[Other]\nx=1",
                 "[Other]\nx=1\n[Defaults]\nRoot=/srv\n"},
        SEditRow{"LastLineEndingInCr", "[Defaults]\nx=1\r", "[Defaults]\nx=1\r\nRoot=/srv\n"},
        SEditRow{"ReplacedLineWithoutEndingStaysSo", "[Defaults]\nRoot=/old",
                 "[Defaults]\nRoot=/srv"},
        SEditRow{"SectionWithoutKeys", "[Defaults]\n; none yet\n\n[Next]\n",
                 "[Defaults]\nRoot=/srv\n; none yet\n\n[Next]\n"},
        SEditRow{"AfterLastKeyLine", "[Defaults]\nA=1\n\n; c\nB=2\n; end\n[Next]\nRoot=/x\n",
                 "[Defaults]\nA=1\n\n; c\nB=2\nRoot=/srv\n; end\n[Next]\nRoot=/x\n"},
        SEditRow{"OnlyTheFirstOfTwoKeys", "[Defaults]\nROOT=/a\nRoot=/b\n",
                 "[Defaults]\nROOT=/srv\nRoot=/b\n"},
        SEditRow{"EmptyValueFilled", "[Defaults]\nRoot=\r\n", "[Defaults]\nRoot=/srv\r\n"},
        SEditRow{"ByteOrderMarkKept", "\xEF\xBB\xBF[Defaults]\r\nRoot=.\r\n",
                 "\xEF\xBB\xBF[Defaults]\r\nRoot=/srv\r\n"},
        SEditRow{
            "UnreadableLinesKept",
            "[Defaults]\nRoot=/a\0b\n"s + std::string(70000, 'R') + "\nChannel=1\n",
            "[Defaults]\nRoot=/a\0b\n"s + std::string(70000, 'R') + "\nChannel=1\nRoot=/srv\n"}),
    [](const testing::TestParamInfo<SEditRow>& info) { return info.param.pszName; });

TEST(ProfileWrite, EveryValueReadsBackAsWritten) {
    std::string strAllBytes;
    for (int c = 1; c < 256; ++c) {
        if (c != '\n' && c != '\r') {
            strAllBytes += static_cast<char>(c);
        }
    }
    for (const std::string& strValue :
         {""s, "/plain path"s, " /lead"s, "/trail\t"s, "  "s, "\"/q\""s, "'/q'"s, "\""s, "'x\""s,
          "a=b"s, "; not a comment"s, "[not a section]"s, "\"\""s, strAllBytes}) {
        SCOPED_TRACE(strValue);
        CTempFolder folder;
        CProfile profile(folder.Path("p.INI"));
        ASSERT_TRUE(profile.WriteProfileString("Defaults", "Root", strValue));
        EXPECT_EQ(profile.GetProfileString("Defaults", "Root", "<default>"), strValue);
    }
}

TEST(ProfileWrite, PlainValuesAreWrittenExactly) {
    CTempFolder folder;
    CProfile profile(folder.Path("p.INI"));
    ASSERT_TRUE(profile.WriteProfileString("Defaults", "Root", "/my dir/\xc3\xa9t\xc3\xa9"));
    ASSERT_TRUE(profile.WriteProfileInt("Defaults", "Channel", -25536));
    EXPECT_EQ(ReadBytes(profile.Path()),
              "[Defaults]\nRoot=/my dir/\xc3\xa9t\xc3\xa9\nChannel=-25536\n");
}

// A line break in a value would plant keys of its own; such a write does not happen.
TEST(ProfileWrite, ValueThatCannotBeALineIsRefused) {
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), "[Defaults]\nRoot=/old\n");
    CProfile profile(folder.Path("p.INI"));
    for (const std::string& strValue : {"/a\nChannel=1"s, "/a\rb"s, "/a\0b"s}) {
        EXPECT_FALSE(profile.WriteProfileString("Defaults", "Root", strValue));
    }
    EXPECT_FALSE(profile.WriteProfileString("Def]aults", "Root", "/x"));
    EXPECT_FALSE(profile.WriteProfileString("Defaults", "Ro=ot", "/x"));
    EXPECT_FALSE(profile.WriteProfileString("Defaults", ";Root", "/x"));
    EXPECT_EQ(ReadBytes(profile.Path()), "[Defaults]\nRoot=/old\n");
    // In a save of several keys only that key is passed over, as its own write would be.
    EXPECT_FALSE(profile.WriteProfileStrings(
        "Defaults",
        {{.strKey = "Root", .strValue = "/a\nb"}, {.strKey = "Channel", .strValue = "81"}}));
    EXPECT_EQ(ReadBytes(profile.Path()), "[Defaults]\nRoot=/old\nChannel=81\n");
}

TEST(ProfileWrite, KeepsTheModeOfTheOldFileAndGivesNewOnesTheUmask) {
    CTempFolder folder;
    mode_t nOldMask = ::umask(027);
    CProfile fresh(folder.Path("new.INI"));
    EXPECT_TRUE(fresh.WriteProfileInt("Defaults", "Channel", 80));
    ::umask(nOldMask);

    WriteBytes(folder.Path("old.INI"), "[Defaults]\nChannel=80\n");
    ASSERT_EQ(::chmod(folder.Path("old.INI").c_str(), 0604), 0);
    CProfile old(folder.Path("old.INI"));
    EXPECT_TRUE(old.WriteProfileInt("Defaults", "Channel", 81));

    struct stat status {};
    ASSERT_EQ(::stat(fresh.Path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    ASSERT_EQ(::stat(old.Path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0604u);
    EXPECT_EQ(ReadBytes(old.Path()), "[Defaults]\nChannel=81\n");
}

// A file that holds a secret is readable by its owner only, from the save that writes it on;
// saves that write none keep the mode as it is.
TEST(ProfileWrite, ASecretMakesTheFileTheOwnersAlone) {
    struct SSaveRow {
        const char* pszName;
        std::vector<SProfileValue> values;
        mode_t nModeAfter;
    };
    const SSaveRow kRows[] = {
        {.pszName = "no secret",
         .values = {{.strKey = "Root", .strValue = "/a"}},
         .nModeAfter = 0664},
        {.pszName = "a secret the file does not hold, passed over",
         .values = {{.strKey = "Root", .strValue = "/b"},
                    {.strKey = "Key", .strValue = "", .bOnlyWhereStored = true, .bSecret = true}},
         .nModeAfter = 0664},
        {.pszName = "a secret written",
         .values = {{.strKey = "Key", .strValue = "s3cret", .bSecret = true}},
         .nModeAfter = 0600},
        {.pszName = "then no secret: the mode stays",
         .values = {{.strKey = "Root", .strValue = "/c"}},
         .nModeAfter = 0600},
    };
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), "[Defaults]\nRoot=/old\n");
    ASSERT_EQ(::chmod(folder.Path("p.INI").c_str(), 0664), 0);
    CProfile profile(folder.Path("p.INI"));
    for (const SSaveRow& row : kRows) {
        SCOPED_TRACE(row.pszName);
        EXPECT_TRUE(profile.WriteProfileStrings("Defaults", row.values));
        struct stat status {};
        ASSERT_EQ(::stat(profile.Path().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, row.nModeAfter);
    }
    EXPECT_EQ(ReadBytes(profile.Path()), "[Defaults]\nRoot=/c\nKey=s3cret\n");

    // A file that already held the secret, open to others: the first save that sets it closes
    // the file, though not one byte changes.
    WriteBytes(folder.Path("held.INI"), "[Defaults]\r\nKey = s3cret\r\n");
    ASSERT_EQ(::chmod(folder.Path("held.INI").c_str(), 0644), 0);
    CProfile held(folder.Path("held.INI"));
    EXPECT_TRUE(held.WriteProfileStrings("Defaults", {{.strKey = "Root", .strValue = ""}}));
    EXPECT_TRUE(held.WriteProfileStrings(
        "Defaults", {{.strKey = "Root", .strValue = ""},
                     {.strKey = "Key", .strValue = "s3cret", .bSecret = true}}));
    EXPECT_EQ(ReadBytes(held.Path()), "[Defaults]\r\nKey = s3cret\r\nRoot=\n");
    struct stat heldStatus {};
    ASSERT_EQ(::stat(held.Path().c_str(), &heldStatus), 0);
    EXPECT_EQ(heldStatus.st_mode & 07777, 0600u);

    // A new file with a secret is never readable by others, whatever the umask allows.
    const mode_t nOldMask = ::umask(0);
    CProfile fresh(folder.Path("fresh.INI"));
    EXPECT_TRUE(fresh.WriteProfileStrings(
        "Defaults", {{.strKey = "Key", .strValue = "s3cret", .bSecret = true}}));
    ::umask(nOldMask);
    struct stat status {};
    ASSERT_EQ(::stat(fresh.Path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u);
}

TEST(ProfileWrite, RootKeepsTheOwnerOfAUsersFile) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root writes another user's file";
    }
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), "[Defaults]\nChannel=80\n");
    ASSERT_EQ(::chown(folder.Path("p.INI").c_str(), NobodyUser(), NobodyGroup()), 0);
    CProfile profile(folder.Path("p.INI"));
    EXPECT_TRUE(profile.WriteProfileInt("Defaults", "Channel", 81));
    struct stat status {};
    ASSERT_EQ(::stat(profile.Path().c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, NobodyUser());
    EXPECT_EQ(status.st_gid, NobodyGroup());
}

TEST(ProfileWrite, SymbolicLinksStayLinks) {
    CTempFolder folder;
    ASSERT_EQ(::mkdir(folder.Path("real").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(folder.Path("config").c_str(), 0755), 0);
    WriteBytes(folder.Path("real/tarvel.INI"), "[Defaults]\nRoot=/old\n");
    // config/tarvel.INI -> hop.INI -> ../real/tarvel.INI, both relative to their own folder.
    ASSERT_EQ(::symlink("hop.INI", folder.Path("config/tarvel.INI").c_str()), 0);
    ASSERT_EQ(::symlink("../real/tarvel.INI", folder.Path("config/hop.INI").c_str()), 0);
    CProfile profile(folder.Path("config/tarvel.INI"));
    EXPECT_TRUE(profile.WriteProfileString("Defaults", "Root", "/srv"));

    EXPECT_EQ(std::filesystem::read_symlink(profile.Path()), "hop.INI");
    EXPECT_EQ(std::filesystem::read_symlink(folder.Path("config/hop.INI")), "../real/tarvel.INI");
    EXPECT_EQ(ReadBytes(folder.Path("real/tarvel.INI")), "[Defaults]\nRoot=/srv\n");
    EXPECT_EQ(FolderEntries(folder.Path("config")),
              (std::vector<std::string>{"hop.INI", "tarvel.INI"}));
    EXPECT_EQ(FolderEntries(folder.Path("real")), std::vector<std::string>{"tarvel.INI"});
}

TEST(ProfileWrite, DanglingLinkGetsItsTargetCreated) {
    CTempFolder folder;
    ASSERT_EQ(::symlink(folder.Path("target.INI").c_str(), folder.Path("p.INI").c_str()), 0);
    CProfile profile(folder.Path("p.INI"));
    EXPECT_TRUE(profile.WriteProfileInt("Defaults", "Channel", 80));
    EXPECT_EQ(std::filesystem::read_symlink(profile.Path()), folder.Path("target.INI"));
    EXPECT_EQ(ReadBytes(folder.Path("target.INI")), "[Defaults]\nChannel=80\n");
}

TEST(ProfileWrite, SaveBelowProcFailsQuietly) {
    CProfile missing("/proc/self/tarvel-test/tarvel.INI");
    EXPECT_FALSE(missing.WriteProfileString("Defaults", "Root", "/srv"));
    std::string strVersion = ReadBytes("/proc/version");
    CProfile existing("/proc/version");
    EXPECT_FALSE(existing.WriteProfileString("Defaults", "Root", "/srv"));
    EXPECT_EQ(ReadBytes("/proc/version"), strVersion);
}

// The folder and the file belong to root and the write runs as nobody: no temporary file can
// be made beside the profile, so it must stay as it was, with nothing left behind.
TEST(ProfileWrite, SaveIntoAFolderWithoutWriteAccessLeavesTheOldFile) {
    CTempFolder folder;
    ASSERT_EQ(::chmod(folder.Root().c_str(), 0755), 0);
    const std::string strOld = "[Defaults]\r\nRoot=/old\r\nChannel=80\r\n";
    WriteBytes(folder.Path("p.INI"), strOld);
    ASSERT_EQ(::chmod(folder.Path("p.INI").c_str(), 0666), 0);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(folder.Root().c_str(), 0555), 0);
    }
    int nResult = RunUnprivileged([&] {
        CProfile profile(folder.Path("p.INI"));
        return profile.WriteProfileString("Defaults", "Root", "/new");
    });
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(ReadBytes(folder.Path("p.INI")), strOld);
    EXPECT_EQ(FolderEntries(folder.Root()), std::vector<std::string>{"p.INI"});
}

// Here a rename would work, as the folder is writable: a read-only profile still stays, both
// as the tests run (root in CI, whom access(2) lets write any file) and as nobody.
TEST(ProfileWrite, ReadOnlyProfileStaysAsItWas) {
    using FRun = int (*)(const std::function<bool()>&);
    for (FRun fnRun : {&RunInChild, &RunUnprivileged}) {
        CTempFolder folder;
        ASSERT_EQ(::chmod(folder.Root().c_str(), 0777), 0);
        const std::string strOld = "[Defaults]\nRoot=/old\n";
        WriteBytes(folder.Path("p.INI"), strOld);
        ASSERT_EQ(::chmod(folder.Path("p.INI").c_str(), 0444), 0);
        int nResult = fnRun([&] {
            CProfile profile(folder.Path("p.INI"));
            bool bSame = profile.WriteProfileString("Defaults", "Root", "/old");  // nothing to do
            return bSame && profile.WriteProfileString("Defaults", "Root", "/new");
        });
        EXPECT_EQ(nResult, 0);
        EXPECT_EQ(ReadBytes(folder.Path("p.INI")), strOld);
        EXPECT_EQ(FolderEntries(folder.Root()), std::vector<std::string>{"p.INI"});
    }
}

// The file size limit makes the write of the new content fail halfway, as a full disk does.
TEST(ProfileWrite, WriteFailingHalfwayLeavesTheOldFileAndNoLeftovers) {
    CTempFolder folder;
    const std::string strOld = "[Defaults]\nRoot=/old\nChannel=80\n";
    WriteBytes(folder.Path("p.INI"), strOld);
    int nResult = RunInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = 100;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(2);
        }
        CProfile profile(folder.Path("p.INI"));
        return profile.WriteProfileString("Defaults", "Root", "/" + std::string(200, 'n'));
    });
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(ReadBytes(folder.Path("p.INI")), strOld);
    EXPECT_EQ(FolderEntries(folder.Root()), std::vector<std::string>{"p.INI"});
}

// A save that would grow the file past the size limit would leave a file read as missing.
TEST(ProfileWrite, SaveThatWouldPassTheSizeLimitLeavesTheFile) {
    std::string strOld = "[Defaults]\nRoot=/old\n";
    strOld += std::string(CProfileFile::kMaxBytes - strOld.size(), '\n');
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), strOld);
    CProfile profile(folder.Path("p.INI"));
    EXPECT_FALSE(profile.WriteProfileString("Defaults", "Root", "/older"));
    EXPECT_EQ(profile.GetProfileString("Defaults", "Root", "."), "/old");
    EXPECT_TRUE(profile.WriteProfileString("Defaults", "Root", "/new"));  // the same size
    EXPECT_EQ(profile.GetProfileString("Defaults", "Root", "."), "/new");
}

// A kill during a save leaves its temporary file behind; the next save removes those whose
// writer no longer runs, and nothing else.
TEST(ProfileWrite, SaveRemovesTemporariesOfWritersThatNoLongerRun) {
    pid_t nChild = ::fork();
    ASSERT_GE(nChild, 0);
    if (nChild == 0) {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(nChild, nullptr, 0), nChild);
    const std::string strGone = ".p.INI.tmp-" + std::to_string(nChild);
    const std::string strLive = ".p.INI.tmp-" + std::to_string(::getppid());
    struct SEntry {
        std::string strName;
        bool bKept;
    };
    const std::vector<SEntry> entries = {
        {.strName = strGone + "-0", .bKept = false},
        {.strName = strGone + "-4294967295", .bKept = false},
        {.strName = strLive + "-0", .bKept = true},    // its writer runs
        {.strName = ".p.INI.tmp-0-0", .bKept = true},  // kill(2) would reach a process group
        {.strName = ".p.INI.tmp--1-0", .bKept = true},
        {.strName = ".p.INI.tmp-0" + strGone.substr(11) + "-0", .bKept = true},
        {.strName = ".p.INI.tmp-99999999999-0", .bKept = true},
        {.strName = strGone, .bKept = true},
        {.strName = strGone + "-", .bKept = true},
        {.strName = strGone + "-01", .bKept = true},
        {.strName = strGone + "-0.bak", .bKept = true},
        {.strName = strGone + "-0-0", .bKept = true},
        {.strName = ".q.INI.tmp-" + strGone.substr(11) + "-0", .bKept = true},  // another file's
        {.strName = ".P.INI.tmp-" + strGone.substr(11) + "-0", .bKept = true},
        {.strName = strGone.substr(1) + "-0", .bKept = true},
    };
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), "[Defaults]\nRoot=/old\n");
    std::vector<std::string> expected = {"p.INI"};
    for (const SEntry& entry : entries) {
        WriteBytes(folder.Path(entry.strName), "[Defaults]\nRoot=/half");
        if (entry.bKept) {
            expected.push_back(entry.strName);
        }
    }
    // Only regular files are ever ours.
    ASSERT_EQ(::mkdir(folder.Path(strGone + "-1").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("p.INI", folder.Path(strGone + "-2").c_str()), 0);
    expected.push_back(strGone + "-1");
    expected.push_back(strGone + "-2");
    std::sort(expected.begin(), expected.end());

    CProfile profile(folder.Path("p.INI"));
    EXPECT_TRUE(profile.WriteProfileString("Defaults", "Root", "/srv"));
    EXPECT_EQ(FolderEntries(folder.Root()), expected);
    EXPECT_EQ(ReadBytes(profile.Path()), "[Defaults]\nRoot=/srv\n");
}

TEST(ProfileWrite, WhatIsNoPlainFileIsNeverReplaced) {
    CTempFolder folder;
    ASSERT_EQ(::mkfifo(folder.Path("fifo.INI").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("fifo.INI", folder.Path("link.INI").c_str()), 0);
    ASSERT_EQ(::mkdir(folder.Path("folder.INI").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("loop.INI", folder.Path("loop.INI").c_str()), 0);
    // A sparse file past the size limit: some other program's data, not a profile.
    WriteBytes(folder.Path("huge.INI"), "[Defaults]\nRoot=/old\n");
    ASSERT_EQ(::truncate(folder.Path("huge.INI").c_str(), CProfileFile::kMaxBytes + 1), 0);

    for (const char* pszName : {"fifo.INI", "link.INI", "folder.INI", "loop.INI", "huge.INI"}) {
        SCOPED_TRACE(pszName);
        CProfile profile(folder.Path(pszName));
        EXPECT_FALSE(profile.WriteProfileString("Defaults", "Root", "/new"));
        EXPECT_EQ(profile.GetProfileString("Defaults", "Root", "."), ".");
    }
    struct stat status {};
    ASSERT_EQ(::lstat(folder.Path("fifo.INI").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    ASSERT_EQ(::lstat(folder.Path("huge.INI").c_str(), &status), 0);
    EXPECT_EQ(static_cast<std::size_t>(status.st_size), CProfileFile::kMaxBytes + 1);
    EXPECT_EQ(
        FolderEntries(folder.Root()),
        (std::vector<std::string>{"fifo.INI", "folder.INI", "huge.INI", "link.INI", "loop.INI"}));
}

}  // namespace
