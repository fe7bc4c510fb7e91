// The folder listing: which entries it shows, how names are encoded and shown,
// their order, and the size and order texts.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "ListingPage.h"
#include "TestSupport.h"

namespace {
using tarvel_test::CTempDir;
using tarvel_test::WriteFile;
namespace fs = std::filesystem;
using EColumn = SListingOrder::EColumn;

SFileIdentity OwnProgram() {
    struct stat status {};
    ::stat("/proc/self/exe", &status);
    return {status.st_dev, status.st_ino};
}

std::set<std::string> ListedNames(const std::string& strFolder, std::string_view requestPath) {
    std::vector<SFolderEntry> entries;
    EXPECT_TRUE(ReadFolderEntries(strFolder, requestPath, OwnProgram(), entries));
    std::set<std::string> names;
    for (const SFolderEntry& entry : entries) {
        names.insert(entry.strName + (entry.bFolder ? "/" : ""));
    }
    return names;
}

TEST(FolderListing, ListsExactlyTheNamesThatWouldBeServed) {
    CTempDir root;
    CTempDir elsewhere;
    WriteFile(elsewhere / "target.txt", "t");
    fs::create_directories(elsewhere / "shared");
    for (const char* pszName : {"Readme.TXT", "README.TXT", ".hidden", "a..b", "TARVEL.EXE",
                                "back\\slash", ".well-known/x"}) {
        WriteFile(root / pszName, "x");
    }
    fs::create_directories(root / "Folder");
    fs::create_directories(root / ".git");
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", root / "device");
    fs::create_symlink(root / "nowhere", root / "broken");
    fs::create_symlink(elsewhere / "target.txt", root / "file link");
    fs::create_directory_symlink(elsewhere / "shared", root / "folder link");
    // The running program, by hard link where the file system allows it.
    std::error_code error;
    fs::create_hard_link("/proc/self/exe", root / "program", error);
    if (error) {
        fs::create_symlink("/proc/self/exe", root / "program");
    }
    const int hSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, (root / "socket").c_str(), sizeof address.sun_path - 1);
    const bool bSocket =
        ::bind(hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(hSocket);

    const std::set<std::string> expected = {"Readme.TXT", "README.TXT", ".well-known/",
                                            "Folder/",    "file link",  "folder link/"};
    EXPECT_EQ(ListedNames(root.Path().string(), "/"), expected) << "socket made: " << bSocket;
    // The names are judged under the folder as requested.
    EXPECT_EQ(ListedNames(root.Path().string(), "/.private/"), std::set<std::string>{});
    std::vector<SFolderEntry> entries;
    EXPECT_FALSE(ReadFolderEntries(root / "missing", "/missing/", OwnProgram(), entries));
}

TEST(FolderListing, EntriesCarryTheSizeAndTimeOfWhatTheyName) {
    CTempDir root;
    WriteFile(root / "data.bin", std::string(2500, 'd'));
    fs::create_symlink(root / "data.bin", root / "link");
    // The link's own time differs from its file's.
    const timespec times[2] = {{.tv_sec = 1000, .tv_nsec = 0}, {.tv_sec = 1000, .tv_nsec = 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (root / "link").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    struct stat status {};
    ::stat((root / "data.bin").c_str(), &status);
    std::vector<SFolderEntry> entries;
    ASSERT_TRUE(ReadFolderEntries(root.Path().string(), "/", OwnProgram(), entries));
    ASSERT_EQ(entries.size(), 2u);
    for (const SFolderEntry& entry : entries) {
        EXPECT_EQ(entry.nSize, 2500u) << entry.strName;
        EXPECT_EQ(entry.nModified, status.st_mtime) << entry.strName;
    }
}

// No tag of the page holds a script, a picture or an event attribute, whatever
// the names' text says.
void ExpectNoActiveContent(const std::string& strPage) {
    EXPECT_EQ(strPage.find("<script"), std::string::npos);
    EXPECT_EQ(strPage.find("<img"), std::string::npos);
    for (size_t nOpen = strPage.find('<'); nOpen != std::string::npos;
         nOpen = strPage.find('<', nOpen + 1)) {
        const std::string tag = strPage.substr(nOpen, strPage.find('>', nOpen) - nOpen);
        EXPECT_EQ(tag.find(" on"), std::string::npos) << tag;
    }
}

TEST(FolderListing, NamesAreEncodedInLinksAndEscapedInText) {
    const std::string strLong(255, 'n');
    struct {
        std::string strName;
        bool bFolder = false;
        std::string strLink;
        std::string strShown;
    } cases[] = {
        {.strName = "<img src=x onerror=alert(1)>",
         .strLink = "%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E",
         .strShown = "&lt;img src=x onerror=alert(1)&gt;"},
        {.strName = "a b", .strLink = "a%20b", .strShown = "a b"},
        {.strName = "#", .strLink = "%23", .strShown = "#"},
        {.strName = "&", .strLink = "%26", .strShown = "&amp;"},
        {.strName = "%", .strLink = "%25", .strShown = "%"},
        {.strName = "?", .strLink = "%3F", .strShown = "?"},
        {.strName = "q\"'", .strLink = "q%22%27", .strShown = "q&quot;&#39;"},
        {.strName = "caf\xE9", .strLink = "caf%E9", .strShown = "caf\\xE9"},
        {.strName = "caf\xC3\xA9", .strLink = "caf%C3%A9", .strShown = "caf\xC3\xA9"},
        {.strName = "a\nb\x7F", .strLink = "a%0Ab%7F", .strShown = "a\\x0Ab\\x7F"},
        {.strName = "c1\xC2\x85", .strLink = "c1%C2%85", .strShown = "c1\\xC2\\x85"},
        {.strName = "\\x41", .strLink = "%5Cx41", .strShown = "\\x5Cx41"},
        {.strName = "Az09-._~", .strLink = "Az09-._~", .strShown = "Az09-._~"},
        {.strName = strLong, .strLink = strLong, .strShown = strLong},
        {.strName = "My Photos",
         .bFolder = true,
         .strLink = "My%20Photos/",
         .strShown = "My Photos/"},
    };
    for (const auto& c : cases) {
        const std::string strPage =
            BuildFolderListing("/", {{.strName = c.strName, .bFolder = c.bFolder}}, {});
        EXPECT_NE(strPage.find("<a href=\"" + c.strLink + "\">" + c.strShown + "</a>"),
                  std::string::npos)
            << c.strName << "\n"
            << strPage;
        ExpectNoActiveContent(strPage);
    }
}

TEST(FolderListing, HeadingNamesTheFolderAsRequestedAndLinksItsParent) {
    const std::string strPage = BuildFolderListing("/<b>/caf\xE9\\/", {}, {});
    EXPECT_NE(strPage.find("<title>/&lt;b&gt;/caf\\xE9\\x5C/</title>"), std::string::npos);
    EXPECT_NE(strPage.find("<h1>/&lt;b&gt;/caf\\xE9\\x5C/</h1>"), std::string::npos);
    EXPECT_NE(strPage.find("<a href=\"../\">../</a>"), std::string::npos);
    // The root, however it is spelled, has no parent to link to.
    for (const char* pszRoot : {"/", "//", "/./", "//.//"}) {
        EXPECT_EQ(BuildFolderListing(pszRoot, {}, {}).find("href=\"../\""), std::string::npos)
            << pszRoot;
    }
    EXPECT_NE(BuildFolderListing("//a/", {}, {}).find("href=\"../\""), std::string::npos);
    ExpectNoActiveContent(strPage);
}

// The names in the order sorted, separated by blanks.
std::string SortedNames(std::vector<SFolderEntry> entries, SListingOrder order) {
    SortEntries(entries, order);
    std::string strNames;
    for (const SFolderEntry& entry : entries) {
        strNames += (strNames.empty() ? "" : " ") + entry.strName;
    }
    return strNames;
}

TEST(FolderListing, NamesInNaturalOrderIgnoringCase) {
    std::vector<SFolderEntry> entries;
    for (const char* pszName : {"photo10", "b", "photo2", "Photo1", "a", "A", "a01", "a1", "a001",
                                "x100000000000000000000000", "x99999999999999999999999", "x_", "a_",
                                "a!", "a00", "a0"}) {
        entries.push_back({.strName = pszName});
    }
    entries.push_back({.strName = "zeta", .bFolder = true});
    EXPECT_EQ(SortedNames(entries, {}),
              "zeta A a a! a0 a00 a001 a01 a1 a_ b Photo1 photo2 photo10 x99999999999999999999999 "
              "x100000000000000000000000 x_");
}

TEST(FolderListing, EachColumnSortsBothWaysWithFoldersFirst) {
    const std::vector<SFolderEntry> entries = {
        {.strName = "big", .nSize = 900, .nModified = 100},
        {.strName = "small", .nSize = 10, .nModified = 300},
        {.strName = "same", .nSize = 10, .nModified = 200},
        {.strName = "dir", .bFolder = true, .nModified = 50},
        {.strName = "Dir2", .bFolder = true, .nModified = 400},
    };
    struct {
        SListingOrder order;
        const char* pszExpected;
    } cases[] = {
        {.order = {EColumn::Name, false}, .pszExpected = "dir Dir2 big same small"},
        {.order = {EColumn::Name, true}, .pszExpected = "Dir2 dir small same big"},
        {.order = {EColumn::Size, false}, .pszExpected = "dir Dir2 same small big"},
        {.order = {EColumn::Size, true}, .pszExpected = "dir Dir2 big same small"},
        {.order = {EColumn::Modified, false}, .pszExpected = "dir Dir2 big same small"},
        {.order = {EColumn::Modified, true}, .pszExpected = "Dir2 dir small same big"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SortedNames(entries, c.order), c.pszExpected) << c.pszExpected;
    }
}

TEST(FolderListing, QueryChoosesTheOrderAndHeadingsLinkTheNext) {
    struct {
        std::string_view query;
        SListingOrder expected;
        std::string_view sizeOrder = "asc";  // where the Size heading links
    } cases[] = {
        {.query = "", .expected = {EColumn::Name, false}},
        {.query = "?sort=size", .expected = {EColumn::Size, false}, .sizeOrder = "desc"},
        {.query = "?sort=size&order=desc", .expected = {EColumn::Size, true}},
        {.query = "?order=desc&sort=date", .expected = {EColumn::Modified, true}},
        {.query = "?x=1&&sort=name&order=desc&", .expected = {EColumn::Name, true}},
        {.query = "?sort=SIZE&order=up&sort", .expected = {EColumn::Name, false}},
        {.query = "sort=date", .expected = {EColumn::Modified, false}},
    };
    for (const auto& c : cases) {
        const SListingOrder order = ListingOrderOf(c.query);
        EXPECT_EQ(order.column, c.expected.column) << c.query;
        EXPECT_EQ(order.bDescending, c.expected.bDescending) << c.query;
        const std::string strPage = BuildFolderListing("/", {}, order);
        EXPECT_NE(
            strPage.find("<a href=\"?sort=size&amp;order=" + std::string(c.sizeOrder) + "\">Size"),
            std::string::npos)
            << c.query;
    }
}

TEST(FolderListing, SizesInUnitsOf1024WithOneDecimal) {
    struct {
        uint64_t nBytes;
        const char* pszShown;
    } cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KB"},
        {1587, "1.5 KB"},
        {2'500'000, "2.4 MB"},
        {1'048'575, "1.0 MB"},
        {5ull << 30, "5.0 GB"},
        {UINT64_MAX, "16777216.0 TB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSize(c.nBytes), c.pszShown) << c.nBytes;
    }
    const std::string strPage = BuildFolderListing(
        "/", {{.strName = "f", .nSize = 2'500'000}, {.strName = "d", .bFolder = true}}, {});
    EXPECT_NE(strPage.find(">f</a><td>2.4 MB<td>"), std::string::npos);
    EXPECT_NE(strPage.find(">d/</a><td><td>"), std::string::npos);
}

TEST(FolderListing, ModifiedInLocalTime) {
    struct tm local {};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 8;
    local.tm_hour = 14;
    local.tm_min = 5;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    EXPECT_EQ(FormatModified(std::mktime(&local)), "2026-12-08 14:05");
}

}  // namespace
