// Reading a folder for its listing: one read per request, shared with the
// search for a case-folded name in the same folder.
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "AsciiCase.h"
#include "FolderEntries.h"
#include "FolderNames.h"
#include "PathResolver.h"
#include "RootLookup.h"
#include "TestSupport.h"

namespace {
using tarvel_test::CTempDir;
using tarvel_test::WriteFile;
namespace fs = std::filesystem;

std::set<std::string> NamesOf(const std::vector<SFolderEntry>& entries) {
    std::set<std::string> names;
    for (const SFolderEntry& entry : entries) {
        names.insert(entry.strName + (entry.bFolder ? "/" : ""));
    }
    return names;
}

class ListingReadTest : public ::testing::Test {
protected:
    // The listing of requestPath as a request's lookup makes it: the default
    // page looked up first, then the folder.
    std::set<std::string> Listing(CRootLookup& lookup, const std::string& strRequestPath) {
        const SFound folder = lookup.Look(strRequestPath);
        EXPECT_EQ(folder.kind, SFound::EKind::Folder) << strRequestPath;
        std::vector<SFolderEntry> entries;
        EXPECT_TRUE(lookup.ReadFolder(folder, strRequestPath, entries)) << strRequestPath;
        return NamesOf(entries);
    }
    std::string In(const std::string& strName) { return m_root / strName; }
    CTempDir m_root;
    const std::string m_strRoot = m_root.Path().string();
    char m_start[64];
};

TEST(FolderNames, ReadsEveryNameOnceAndKeepsTheFolderOpen) {
    CTempDir root;
    WriteFile(root / "a.txt", "a");
    WriteFile(root / "Sub/b.txt", "b");
    CFolderNames names;
    ASSERT_TRUE(names.Read(root.Path().string()));
    EXPECT_TRUE(names.AreOf(root.Path().string()));
    EXPECT_FALSE(names.AreOf(root / "Sub"));
    std::multiset<std::string> read;
    names.ForEach([&](std::string_view name) {
        EXPECT_EQ(name.data()[name.size()], '\0');  // fit for calls that take a C string
        read.insert(std::string(name));
    });
    EXPECT_EQ(read, (std::multiset<std::string>{".", "..", "a.txt", "Sub"}));
    // The open folder answers for its names even once its path names another.
    fs::rename(root.Path(), root.Path().string() + ".moved");
    fs::create_directories(root.Path());
    struct stat status {};
    EXPECT_EQ(::fstatat(names.Handle(), "a.txt", &status, 0), 0);
    fs::remove_all(root.Path());
    fs::rename(root.Path().string() + ".moved", root.Path());

    names.Clear();
    EXPECT_FALSE(names.AreOf(root.Path().string()));
    EXPECT_EQ(names.Handle(), -1);
    EXPECT_FALSE(names.Read(root / "missing"));
    EXPECT_FALSE(names.AreOf(root / "missing"));
}

TEST_F(ListingReadTest, AListingTakesTheNamesTheDefaultPagesSearchRead) {
    WriteFile(In("Photos/a.jpg"), "a");
    CRootLookup lookup(m_strRoot, {}, m_start);
    // Neither the exact nor the lower-cased name is there: the folder is searched.
    ASSERT_EQ(lookup.Look("/Photos/index.htm").kind, SFound::EKind::Nothing);
    // A name that comes after that read is not in this request's listing: the
    // listing did not read the folder again.
    WriteFile(In("Photos/late.jpg"), "l");
    EXPECT_EQ(Listing(lookup, "/Photos/"), std::set<std::string>{"a.jpg"});
    // The next request reads it anew.
    CRootLookup next(m_strRoot, {}, m_start);
    ASSERT_EQ(next.Look("/Photos/index.htm").kind, SFound::EKind::Nothing);
    EXPECT_EQ(Listing(next, "/Photos/"), (std::set<std::string>{"a.jpg", "late.jpg"}));
}

TEST_F(ListingReadTest, AFolderNamedInAnotherCaseIsTheSameFolder) {
    WriteFile(In("photos/a.jpg"), "a");
    CRootLookup lookup(m_strRoot, {}, m_start);
    ASSERT_EQ(lookup.Look("/PHOTOS/INDEX.HTM").kind, SFound::EKind::Nothing);
    WriteFile(In("photos/late.jpg"), "l");
    EXPECT_EQ(Listing(lookup, "/PHOTOS/"), std::set<std::string>{"a.jpg"});
}

TEST_F(ListingReadTest, AnotherFoldersSearchIsNeverTakenForTheListing) {
    WriteFile(In("A/a.txt"), "a");
    WriteFile(In("B/b.txt"), "b");
    WriteFile(In("A/B/inner.txt"), "i");
    CRootLookup lookup(m_strRoot, {}, m_start);
    ASSERT_EQ(lookup.Look("/A/index.htm").kind, SFound::EKind::Nothing);
    EXPECT_EQ(Listing(lookup, "/B/"), std::set<std::string>{"b.txt"});
    ASSERT_EQ(lookup.Look("/A/index.htm").kind, SFound::EKind::Nothing);
    EXPECT_EQ(Listing(lookup, "/A/B/"), std::set<std::string>{"inner.txt"});
    // A default page in a subfolder is searched for there; its folder's
    // listing reads the folder itself.
    ASSERT_EQ(lookup.Look("/A/B/index.htm").kind, SFound::EKind::Nothing);
    EXPECT_EQ(Listing(lookup, "/A/"), (std::set<std::string>{"a.txt", "B/"}));
}

TEST_F(ListingReadTest, AListingWithoutASearchBeforeItReadsTheFolder) {
    WriteFile(In("Site/page.htm"), "p");
    CRootLookup lookup(m_strRoot, {}, m_start);
    EXPECT_EQ(Listing(lookup, "/Site/"), std::set<std::string>{"page.htm"});
    // The names go with the listing: a second one reads the folder again.
    WriteFile(In("Site/late.htm"), "l");
    EXPECT_EQ(Listing(lookup, "/Site/"), (std::set<std::string>{"page.htm", "late.htm"}));
}

TEST_F(ListingReadTest, OneRequestSearchesAFolderOnceForEveryName) {
    WriteFile(In("Docs/Readme.TXT"), "r");
    CRootLookup lookup(m_strRoot, {}, m_start);
    ASSERT_EQ(lookup.Look("/Docs/index.htm").kind, SFound::EKind::Nothing);
    // The search of a second name finds what the first read saw.
    WriteFile(In("Docs/Later.TXT"), "l");
    EXPECT_EQ(lookup.Look("/Docs/later.txt").kind, SFound::EKind::Nothing);
    const SFound readme = lookup.Look("/Docs/README.txt");
    EXPECT_EQ(readme.kind, SFound::EKind::File);
    EXPECT_EQ(readme.strName, In("Docs/Readme.TXT"));
    CRootLookup next(m_strRoot, {}, m_start);
    EXPECT_EQ(next.Look("/Docs/later.txt").strName, In("Docs/Later.TXT"));
}

TEST_F(ListingReadTest, AFileFoundLetsGoOfTheFolderSearchedOnTheWay) {
    WriteFile(In("Docs/Readme.TXT"), "r");
    const int nBefore = tarvel_test::OpenDescriptorCount();
    CRootLookup lookup(m_strRoot, {}, m_start);
    ASSERT_EQ(lookup.Look("/Docs/index.htm").kind, SFound::EKind::Nothing);
    EXPECT_EQ(tarvel_test::OpenDescriptorCount(), nBefore + 1);  // the folder searched
    ASSERT_EQ(lookup.Look("/Docs/README.txt").kind, SFound::EKind::File);
    EXPECT_EQ(tarvel_test::OpenDescriptorCount(), nBefore + 1);  // the file alone
    // Its names went with it: a listing reads the folder anew.
    WriteFile(In("Docs/late.txt"), "l");
    EXPECT_EQ(Listing(lookup, "/Docs/"), (std::set<std::string>{"Readme.TXT", "late.txt"}));
}

// The guards judge a listed name as the request for it would be judged: its
// folder's path joined with the name, lower-cased. Each name is judged apart
// from the folder's path, with the same result.
TEST(ListedNames, JudgedAsTheJoinedPathWouldBe) {
    const std::vector<std::string> names = {
        "plain.txt",   "a..b",          "x.",          "...",
        ".x",          "..x",           "x..",         ".well-known",
        ".WELL-KNOWN", ".Well-Known.d", "TARVEL.EXE",  "my Tarvel.Exe.bak",
        "tarvel.ex",   "arvel.exe",     "exe",         ".exe",
        "tarvel",      "TarVel.exE",    "back\\slash", "a.b.c"};
    const std::vector<std::string> folders = {"/sub/",
                                              "/sub",
                                              "/",
                                              "",
                                              "//",
                                              "/a./",
                                              "/a.",
                                              "/.",
                                              "/./",
                                              "/x./",
                                              "/a..b/",
                                              "/tarvel/",
                                              "/tarvel",
                                              "/Tarvel./",
                                              "/arvel.exe/",
                                              "/TARVEL.EXE/",
                                              "/x/tarvel.exe.d/",
                                              "/.private/",
                                              "/.well-known/",
                                              "/.Well-Known/"};
    CTempDir root;
    for (const std::string& strName : names) {
        WriteFile(root / strName, "n");
    }
    CFolderNames read;
    ASSERT_TRUE(read.Read(root.Path().string()));
    for (const std::string& strFolder : folders) {
        std::set<std::string> expected;
        for (const std::string& strName : names) {
            std::string strJoined = strFolder.empty() || strFolder.back() != '/'
                                        ? strFolder + "/" + strName
                                        : strFolder + strName;
            LowerAscii(strJoined);
            if (strName.find('\\') == std::string::npos && !IsForbiddenPath(strJoined)) {
                expected.insert(strName);
            }
        }
        std::vector<SFolderEntry> entries;
        ListServedEntries(read, strFolder, {}, entries);
        EXPECT_EQ(NamesOf(entries), expected) << "folder " << strFolder;
    }
}
}  // namespace
