// The window's settings: what its constructor loads and what SaveSettings writes.
#include "Settings.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "ProfileFiles.h"

namespace {

// Defaults: what a profile without the keys loads.
struct SLoaded {
    int16_t nChannel = 80;
    std::string strRoot = ".";
    std::string strDefaultURL = "index.htm";
    int bAutoStart = 0;
    bool bListFolders = false;
    bool bPreview = false;
    bool bConcurrent = false;
    bool bUpload = false;
    bool bPrivate = false;
    std::string strPrivateKey = {};
};

SLoaded Load(const CProfile& profile) {
    CServerCore server;
    server.m_nChannel = 1234;
    server.m_strRoot = "/stale";
    server.m_strDefaultURL = "stale.htm";
    server.m_bListFolders = true;
    server.m_bPreview = true;
    server.m_bConcurrent = true;
    server.m_bUpload = true;
    server.m_bPrivate = true;
    server.m_strPrivateKey = "stale";
    int bAutoStart = 9;
    LoadServerSettings(profile, server, bAutoStart);
    return {.nChannel = server.m_nChannel,
            .strRoot = server.m_strRoot,
            .strDefaultURL = server.m_strDefaultURL,
            .bAutoStart = bAutoStart,
            .bListFolders = server.m_bListFolders,
            .bPreview = server.m_bPreview,
            .bConcurrent = server.m_bConcurrent,
            .bUpload = server.m_bUpload,
            .bPrivate = server.m_bPrivate,
            .strPrivateKey = server.m_strPrivateKey};
}

TEST(Settings, FirstRunLoadsDefaultsAndTheFirstSaveWritesFiveLines) {
    CTempFolder folder;
    CProfile profile(folder.Path("config/tarvel.INI"));
    SLoaded loaded = Load(profile);
    EXPECT_EQ(loaded.nChannel, 80);
    EXPECT_EQ(loaded.strRoot, ".");
    EXPECT_EQ(loaded.strDefaultURL, "index.htm");
    EXPECT_EQ(loaded.bAutoStart, 0);
    EXPECT_FALSE(loaded.bListFolders);
    EXPECT_FALSE(loaded.bPreview);
    EXPECT_FALSE(loaded.bConcurrent);
    EXPECT_FALSE(loaded.bUpload);
    EXPECT_FALSE(loaded.bPrivate);
    EXPECT_EQ(loaded.strPrivateKey, "");
    EXPECT_FALSE(Exists(folder.Path("config")));

    CServerCore server;
    int bAutoStart = 0;
    LoadServerSettings(profile, server, bAutoStart);
    StoreServerSettings(profile, server, bAutoStart);
    EXPECT_EQ(ReadBytes(profile.Path()),
              "[Defaults]\nRoot=.\nChannel=80\nDefaultURL=index.htm\nAutoStart=0\n");
}

struct SLoadRow {
    const char* pszName;
    std::string strFile;
    SLoaded expected;
    friend void PrintTo(const SLoadRow& row, std::ostream* pStream) { *pStream << row.pszName; }
};

class SettingsLoad : public testing::TestWithParam<SLoadRow> {};

TEST_P(SettingsLoad, LoadsTheMembers) {
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), GetParam().strFile);
    SLoaded loaded = Load(CProfile(folder.Path("p.INI")));
    const SLoaded& expected = GetParam().expected;
    EXPECT_EQ(loaded.nChannel, expected.nChannel);
    EXPECT_EQ(loaded.strRoot, expected.strRoot);
    EXPECT_EQ(loaded.strDefaultURL, expected.strDefaultURL);
    EXPECT_EQ(loaded.bAutoStart, expected.bAutoStart);
    EXPECT_EQ(loaded.bListFolders, expected.bListFolders);
    EXPECT_EQ(loaded.bPreview, expected.bPreview);
    EXPECT_EQ(loaded.bConcurrent, expected.bConcurrent);
    EXPECT_EQ(loaded.bUpload, expected.bUpload);
    EXPECT_EQ(loaded.bPrivate, expected.bPrivate);
    EXPECT_EQ(loaded.strPrivateKey, expected.strPrivateKey);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsLoad,
    testing::Values(
        SLoadRow{"AllFour",
                 "[Defaults]\nRoot=/srv/www\nChannel=8080\nDefaultURL=home.html\nAutoStart=1\n",
                 {8080, "/srv/www", "home.html", 1, false}},
        SLoadRow{"ChannelCutTo16Bits",
                 "[Defaults]\nChannel=70000\n",
                 {4464, ".", "index.htm", 0, false}},
        SLoadRow{"ChannelNotANumber", "[Defaults]\nChannel=abc\n", {0, ".", "index.htm", 0, false}},
        SLoadRow{"HighPortStoredNegative",
                 "[Defaults]\nChannel=-25536\n",
                 {-25536, ".", "index.htm", 0, false}},
        SLoadRow{"HighPortStoredPositive",
                 "[Defaults]\nChannel=40000\n",
                 {-25536, ".", "index.htm", 0, false}},
        SLoadRow{
            "AutoStartKeptWhole", "[Defaults]\nAutoStart=7\n", {80, ".", "index.htm", 7, false}},
        SLoadRow{"AutoStartEmpty", "[Defaults]\nAutoStart=\n", {80, ".", "index.htm", 0, false}},
        SLoadRow{"OtherSectionIgnored",
                 "[Server]\nChannel=8080\nRoot=/x\n",
                 {80, ".", "index.htm", 0, false}},
        SLoadRow{"BytesThatAreNotUtf8Kept",
                 "[Defaults]\nRoot=/srv/caf\xe9\xff\nDefaultURL=\xc3(.htm\n",
                 {80, "/srv/caf\xe9\xff", "\xc3(.htm", 0, false}},
        SLoadRow{"ListFoldersOn", "[Defaults]\nListFolders=1\n", {80, ".", "index.htm", 0, true}},
        SLoadRow{"ListFoldersOff", "[Defaults]\nListFolders=0\n", {80, ".", "index.htm", 0, false}},
        // Listing shows every served name: no value but 1 turns it on.
        SLoadRow{"ListFoldersTwo", "[Defaults]\nListFolders=2\n", {80, ".", "index.htm", 0, false}},
        SLoadRow{"ListFoldersGarbage",
                 "[Defaults]\nListFolders=yes\n",
                 {80, ".", "index.htm", 0, false}},
        SLoadRow{"PreviewOn", "[Defaults]\nPreview=1\n", {80, ".", "index.htm", 0, false, true}},
        SLoadRow{"PreviewOff", "[Defaults]\nPreview=0\n", {80, ".", "index.htm", 0, false, false}},
        SLoadRow{"PreviewTwo", "[Defaults]\nPreview=2\n", {80, ".", "index.htm", 0, false, false}},
        SLoadRow{"ConcurrentOn", "[Defaults]\nConcurrent=1\n", {.bConcurrent = true}},
        SLoadRow{"ConcurrentOff", "[Defaults]\nConcurrent=0\n", {}},
        // Several at once changes when answers go out: no value but 1 turns it on.
        SLoadRow{"ConcurrentTwo", "[Defaults]\nConcurrent=2\n", {}},
        SLoadRow{"ConcurrentBesideTheOthers",
                 "[Defaults]\nListFolders=1\nPreview=1\nconcurrent = \"1\"\n",
                 {.bListFolders = true,
                  .bPreview = true,
                  .bConcurrent = true}},
        SLoadRow{"UploadOn", "[Defaults]\nUpload=1\n", {.bUpload = true}},
        SLoadRow{"UploadOff", "[Defaults]\nUpload=0\n", {}},
        // Uploads let visitors write into the folder: no value but 1 turns them on.
        SLoadRow{"UploadTwo", "[Defaults]\nUpload=2\n", {}},
        SLoadRow{"UploadGarbage", "[Defaults]\nUpload=yes\n", {}},
        SLoadRow{"UploadBesideTheOthers",
                 "[Defaults]\nConcurrent=1\n UPLOAD = \"1\"\nPrivate=1\n",
                 {.bConcurrent = true,
                  .bUpload = true,
                  .bPrivate = true}},
        SLoadRow{"UploadInAnotherSectionIgnored", "[Server]\nUpload=1\n", {}},
        SLoadRow{"PrivateWithItsKey",
                 "[Defaults]\nPrivate=1\nPrivateKey=abcdefghijklmnopqrstuvwxyz\n",
                 {.bPrivate = true,
                  .strPrivateKey = "abcdefghijklmnopqrstuvwxyz"}},
        // Unticked, the key is kept for the next time.
        SLoadRow{"PrivateOffKeyKept",
                 "[Defaults]\nPrivate=0\nPrivateKey=234567abcdefghijklmnopqrst\n",
                 {.strPrivateKey = "234567abcdefghijklmnopqrst"}},
        SLoadRow{"PrivateTwo", "[Defaults]\nPrivate=2\n", {}},
        // Addresses ignore case, so a key typed in capitals is the same key.
        SLoadRow{"PrivateKeyLowerCased",
                 "[Defaults]\nPrivate=1\nPrivateKey=ABCDEFGHIJKLMNOPQRSTUVWXYZ\n",
                 {.bPrivate = true,
                  .strPrivateKey = "abcdefghijklmnopqrstuvwxyz"}},
        // A key of another form is dropped: the private link then makes a fresh one.
        SLoadRow{"PrivateKeyTooShort",
                 "[Defaults]\nPrivate=1\nPrivateKey=abcdefghijklmnopqrstuvwxy\n",
                 {.bPrivate = true}},
        SLoadRow{"PrivateKeyTooLong", "[Defaults]\nPrivateKey=abcdefghijklmnopqrstuvwxyza\n", {}},
        SLoadRow{"PrivateKeyOutsideBase32",
                 "[Defaults]\nPrivateKey=abcdefghijklmnopqrstuvwx18\n",
                 {}},
        SLoadRow{"PrivateKeyWithAPathInIt",
                 "[Defaults]\nPrivateKey=abcdefghijkl/nopqrstuvwxyz\n",
                 {}}),

    [](const testing::TestParamInfo<SLoadRow>& info) { return info.param.pszName; });

// The strings are bytes that are not UTF-8: they are stored exactly as the members hold them.
TEST(Settings, HighPortIsWrittenSignExtendedAndComesBack) {
    CTempFolder folder;
    CProfile profile(folder.Path("p.INI"));
    CServerCore server;
    server.m_nChannel = static_cast<int16_t>(40000);
    server.m_strRoot = "/srv/caf\xe9\xff";
    server.m_strDefaultURL = "\xc3(.html";
    StoreServerSettings(profile, server, 1);
    EXPECT_EQ(ReadBytes(profile.Path()),
              "[Defaults]\nRoot=/srv/caf\xe9\xff\nChannel=-25536\nDefaultURL=\xc3(.html\n"
              "AutoStart=1\n");

    SLoaded loaded = Load(profile);
    EXPECT_EQ(loaded.nChannel, -25536);
    EXPECT_EQ(static_cast<uint16_t>(loaded.nChannel), 40000);
    EXPECT_EQ(loaded.strRoot, server.m_strRoot);
    EXPECT_EQ(loaded.strDefaultURL, server.m_strDefaultURL);
    EXPECT_EQ(loaded.bAutoStart, 1);
}

// A save is one replacement of the file, so a crash amid it cannot leave some keys old and
// some new: the folder sees exactly one file renamed into place per save.
TEST(Settings, SaveReplacesTheFileOnce) {
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), "; mine\r\n[Defaults]\r\nRoot=/old\r\nChannel=80\r\n");
    int hNotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(hNotify, 0);
    ASSERT_GE(::inotify_add_watch(hNotify, folder.Root().c_str(), IN_MOVED_TO), 0);
    CProfile profile(folder.Path("p.INI"));
    CServerCore server;
    server.m_strRoot = "/new";
    server.m_nChannel = 8080;
    server.m_strDefaultURL = "new.htm";
    StoreServerSettings(profile, server, 1);

    int nRenamed = 0;
    alignas(struct inotify_event) char buffer[64 * 1024];
    ssize_t nRead = 0;
    while ((nRead = ::read(hNotify, buffer, sizeof buffer)) > 0) {
        for (ssize_t nAt = 0; nAt < nRead;) {
            const auto* pEvent = reinterpret_cast<const struct inotify_event*>(buffer + nAt);
            if ((pEvent->mask & IN_MOVED_TO) != 0 && std::string(pEvent->name) == "p.INI") {
                ++nRenamed;
            }
            nAt += static_cast<ssize_t>(sizeof(struct inotify_event) + pEvent->len);
        }
    }
    ::close(hNotify);
    EXPECT_EQ(nRenamed, 1);
    EXPECT_EQ(ReadBytes(profile.Path()),
              "; mine\r\n[Defaults]\r\nRoot=/new\r\nChannel=8080\r\nDefaultURL=new.htm\n"
              "AutoStart=1\n");
}

// ListFolders=0, Preview=0, Concurrent=0 and Upload=0 go only where the file holds the key: a
// person who never turns any of them on keeps the five lines of the first save.
TEST(Settings, OptionalBoxesAreWrittenWhenOnOrWhereTheFileHoldsThem) {
    struct SFlag {
        bool CServerCore::*pbMember;
        bool SLoaded::*pbLoaded;
        std::string strKey;
        std::string strHandWritten;  // the key as a person may type it
    };
    const SFlag kFlags[] = {
        {&CServerCore::m_bListFolders, &SLoaded::bListFolders, "ListFolders", " listfolders "},
        {&CServerCore::m_bPreview, &SLoaded::bPreview, "Preview", " preview "},
        {&CServerCore::m_bConcurrent, &SLoaded::bConcurrent, "Concurrent", "CONCURRENT"},
        {&CServerCore::m_bUpload, &SLoaded::bUpload, "Upload", " UpLoad "},
        {&CServerCore::m_bPrivate, &SLoaded::bPrivate, "Private", "private"},
    };
    for (const SFlag& flag : kFlags) {
        SCOPED_TRACE(flag.strKey);
        CTempFolder folder;
        CProfile profile(folder.Path("p.INI"));
        CServerCore server;
        server.m_nChannel = 8080;
        server.m_strRoot = "/srv";
        server.m_strDefaultURL = "index.htm";
        const std::string strFive =
            "[Defaults]\nRoot=/srv\nChannel=8080\nDefaultURL=index.htm\n"
            "AutoStart=1\n";
        StoreServerSettings(profile, server, 1);
        EXPECT_EQ(ReadBytes(profile.Path()), strFive);
        StoreServerSettings(profile, server, 1);
        EXPECT_EQ(ReadBytes(profile.Path()), strFive);

        server.*flag.pbMember = true;
        StoreServerSettings(profile, server, 1);
        EXPECT_EQ(ReadBytes(profile.Path()), strFive + flag.strKey + "=1\n");
        EXPECT_TRUE(Load(profile).*flag.pbLoaded);
        server.*flag.pbMember = false;
        StoreServerSettings(profile, server, 1);
        EXPECT_EQ(ReadBytes(profile.Path()), strFive + flag.strKey + "=0\n");
        EXPECT_FALSE(Load(profile).*flag.pbLoaded);

        // A key written by hand keeps its spelling and gets the value.
        WriteBytes(profile.Path(), "[Defaults]\r\n" + flag.strHandWritten + "= yes\r\n");
        StoreServerSettings(profile, server, 0);
        EXPECT_EQ(ReadBytes(profile.Path()), "[Defaults]\r\n" + flag.strHandWritten +
                                                 "= 0\r\nRoot=/srv\nChannel=8080\n"
                                                 "DefaultURL=index.htm\nAutoStart=0\n");
    }
}

// A profile from before uploads, with the other boxes, comments and CRLF lines, keeps every byte
// while the box stays off; ticked, the key joins it as one line, and it stays once unticked.
TEST(Settings, AProfileThatNeverHadUploadKeepsEveryByteUntilTheBoxIsTicked) {
    CTempFolder folder;
    const std::string strFile =
        "; mine\r\n[Defaults]\r\nRoot=/srv\r\nChannel=8080\r\nDefaultURL=index.htm\r\n"
        "AutoStart=0\r\nListFolders=1\r\nConcurrent=0\r\n[Other]\r\nUpload=1\r\n";
    WriteBytes(folder.Path("p.INI"), strFile);
    CProfile profile(folder.Path("p.INI"));
    CServerCore server;
    int bAutoStart = 0;
    LoadServerSettings(profile, server, bAutoStart);
    EXPECT_FALSE(server.m_bUpload);  // another section's key is not ours
    StoreServerSettings(profile, server, bAutoStart);
    StoreServerSettings(profile, server, bAutoStart);
    EXPECT_EQ(ReadBytes(profile.Path()), strFile);

    server.m_bUpload = true;
    StoreServerSettings(profile, server, bAutoStart);
    const std::string strTicked =
        "; mine\r\n[Defaults]\r\nRoot=/srv\r\nChannel=8080\r\nDefaultURL=index.htm\r\n"
        "AutoStart=0\r\nListFolders=1\r\nConcurrent=0\r\nUpload=1\n[Other]\r\nUpload=1\r\n";
    EXPECT_EQ(ReadBytes(profile.Path()), strTicked);
    EXPECT_TRUE(Load(profile).bUpload);
    server.m_bUpload = false;
    StoreServerSettings(profile, server, bAutoStart);
    EXPECT_EQ(ReadBytes(profile.Path()),
              "; mine\r\n[Defaults]\r\nRoot=/srv\r\nChannel=8080\r\nDefaultURL=index.htm\r\n"
              "AutoStart=0\r\nListFolders=1\r\nConcurrent=0\r\nUpload=0\n[Other]\r\n"
              "Upload=1\r\n");
    EXPECT_FALSE(Load(profile).bUpload);
}

const std::string kKey = "abcdefghijklmnopqrstuvwxyz";

mode_t ModeOf(const std::string& strPath) {
    struct stat status {};
    EXPECT_EQ(::stat(strPath.c_str(), &status), 0);
    return status.st_mode & 07777;
}

// The key is written from the save where the box was first ticked, and stays once the box is
// unticked; the file then holds a secret, and only its owner may read it.
TEST(Settings, PrivateKeyIsWrittenOnceTickedAndTheFileIsTheOwnersAlone) {
    CTempFolder folder;
    const std::string strFile =
        "; mine\r\n[Defaults]\r\nRoot=/srv\r\nChannel=8080\r\nDefaultURL=index.htm\r\n"
        "AutoStart=0\r\n";
    WriteBytes(folder.Path("p.INI"), strFile);
    ASSERT_EQ(::chmod(folder.Path("p.INI").c_str(), 0644), 0);
    CProfile profile(folder.Path("p.INI"));
    CServerCore server;
    int bAutoStart = 0;
    LoadServerSettings(profile, server, bAutoStart);
    StoreServerSettings(profile, server, bAutoStart);
    EXPECT_EQ(ReadBytes(profile.Path()), strFile);  // never ticked: byte for byte
    EXPECT_EQ(ModeOf(profile.Path()), 0644u);

    server.m_bPrivate = true;
    server.m_strPrivateKey = kKey;
    StoreServerSettings(profile, server, bAutoStart);
    EXPECT_EQ(ReadBytes(profile.Path()), strFile + "Private=1\nPrivateKey=" + kKey + "\n");
    EXPECT_EQ(ModeOf(profile.Path()), 0600u);
    EXPECT_TRUE(Load(profile).bPrivate);
    EXPECT_EQ(Load(profile).strPrivateKey, kKey);

    server.m_bPrivate = false;
    StoreServerSettings(profile, server, bAutoStart);
    EXPECT_EQ(ReadBytes(profile.Path()), strFile + "Private=0\nPrivateKey=" + kKey + "\n");
    EXPECT_EQ(ModeOf(profile.Path()), 0600u);
    EXPECT_FALSE(Load(profile).bPrivate);
    EXPECT_EQ(Load(profile).strPrivateKey, kKey);
}

// A profile written by hand or by a script that holds the key is made the owner's alone by the
// first save, though the save changes none of its bytes.
TEST(Settings, AStoredKeyIsGuardedByTheFirstSave) {
    CTempFolder folder;
    const std::string strFile =
        "[Defaults]\nRoot=/srv\nChannel=8080\nDefaultURL=index.htm\n"
        "AutoStart=1\nPrivate=1\nPrivateKey=" +
        kKey + "\n";
    WriteBytes(folder.Path("p.INI"), strFile);
    ASSERT_EQ(::chmod(folder.Path("p.INI").c_str(), 0644), 0);
    CProfile profile(folder.Path("p.INI"));
    CServerCore server;
    int bAutoStart = 0;
    LoadServerSettings(profile, server, bAutoStart);
    StoreServerSettings(profile, server, bAutoStart);
    EXPECT_EQ(ReadBytes(profile.Path()), strFile);
    EXPECT_EQ(ModeOf(profile.Path()), 0600u);
}

// Every optional key on: they follow the others in the order of the boxes, the key last.
TEST(Settings, AllOptionalKeysAreWrittenInTheOrderOfTheBoxes) {
    CTempFolder folder;
    CProfile profile(folder.Path("p.INI"));
    CServerCore server;
    server.m_nChannel = 8080;
    server.m_strRoot = "/srv";
    server.m_strDefaultURL = "index.htm";
    server.m_bListFolders = true;
    server.m_bPreview = true;
    server.m_bConcurrent = true;
    server.m_bUpload = true;
    server.m_bPrivate = true;
    server.m_strPrivateKey = kKey;
    StoreServerSettings(profile, server, 0);
    EXPECT_EQ(ReadBytes(profile.Path()),
              "[Defaults]\nRoot=/srv\nChannel=8080\nDefaultURL=index.htm\nAutoStart=0\n"
              "ListFolders=1\nPreview=1\nConcurrent=1\nUpload=1\nPrivate=1\nPrivateKey=" +
                  kKey + "\n");
}

// A stored key of another form is not used; the next save leaves it out of the file's value.
TEST(Settings, AMalformedStoredKeyIsDropped) {
    CTempFolder folder;
    WriteBytes(folder.Path("p.INI"), "[Defaults]\nPrivate=1\nPrivateKey=short\n");
    CProfile profile(folder.Path("p.INI"));
    CServerCore server;
    int bAutoStart = 0;
    LoadServerSettings(profile, server, bAutoStart);
    EXPECT_TRUE(server.m_bPrivate);
    EXPECT_EQ(server.m_strPrivateKey, "");
    StoreServerSettings(profile, server, bAutoStart);
    EXPECT_EQ(ReadBytes(profile.Path()),
              "[Defaults]\nPrivate=1\nPrivateKey=\nRoot=.\nChannel=80\nDefaultURL=index.htm\n"
              "AutoStart=0\n");
    EXPECT_EQ(Load(profile).strPrivateKey, "");
}

TEST(Settings, LongRootIsSavedWholeAndLoadsCut) {
    CTempFolder folder;
    CProfile profile(folder.Path("p.INI"));
    CServerCore server;
    server.m_strRoot = "/" + std::string(4999, 'd');
    server.m_nChannel = 80;
    StoreServerSettings(profile, server, 0);
    EXPECT_NE(ReadBytes(profile.Path()).find("Root=" + server.m_strRoot + "\n"), std::string::npos);
    EXPECT_EQ(Load(profile).strRoot, server.m_strRoot.substr(0, 4095));
}

TEST(Settings, SaveThatCannotWriteChangesNothing) {
    CTempFolder folder;
    ASSERT_EQ(::chmod(folder.Root().c_str(), 0755), 0);  // readable, not writable, by nobody
    const std::string strOld = "[Defaults]\nRoot=/old\nChannel=80\nDefaultURL=a.htm\nAutoStart=0\n";
    WriteBytes(folder.Path("p.INI"), strOld);
    ASSERT_EQ(::chmod(folder.Path("p.INI").c_str(), 0444), 0);
    int nResult = RunUnprivileged([&] {
        CProfile profile(folder.Path("p.INI"));
        CServerCore server;
        server.m_strRoot = "/new";
        server.m_nChannel = 8080;
        server.m_strDefaultURL = "b.htm";
        StoreServerSettings(profile, server, 1);
        return server.m_strRoot == "/new" && server.m_nChannel == 8080 &&
               server.m_strDefaultURL == "b.htm";
    });
    EXPECT_EQ(nResult, 1);
    EXPECT_EQ(ReadBytes(folder.Path("p.INI")), strOld);

    CProfile unreachable("/proc/self/tarvel-test/tarvel.INI");
    CServerCore server;
    server.m_strRoot = "/kept";
    StoreServerSettings(unreachable, server, 1);
    EXPECT_EQ(server.m_strRoot, "/kept");
    EXPECT_EQ(Load(unreachable).strRoot, ".");
}

}  // namespace
