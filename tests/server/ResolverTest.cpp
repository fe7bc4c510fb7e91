// Finding files under the root: case folding, links, and what is never served.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "AnswerPlan.h"
#include "PathResolver.h"
#include "RootLookup.h"
#include "TestSupport.h"

namespace {
using tarvel_test::CTempDir;
using tarvel_test::WriteFile;
namespace fs = std::filesystem;

SFileIdentity OwnProgram() {
    struct stat status {};
    ::stat("/proc/self/exe", &status);
    return {status.st_dev, status.st_ino};
}

class PlanTest : public ::testing::Test {
protected:
    SAnswerPlan Plan(const std::string& strLine, bool bListFolders = false) {
        CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
        return PlanAnswer(ParseRequest(strLine, 8192),
                          {.defaultPage = "index.htm", .bListFolders = bListFolders}, lookup);
    }
    // With the preview on: front pages, links without ".html", the 404 page and
    // the reload script.
    SAnswerPlan Preview(const std::string& strLine, bool bListFolders = false) {
        CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
        return PlanAnswer(
            ParseRequest(strLine, 8192),
            {.defaultPage = "home.htm", .bListFolders = bListFolders, .bPreview = true}, lookup);
    }
    // What the plan's look-up finds for the line's target.
    SFound Find(const std::string& strLine) {
        std::optional<STarget> target = TargetOf(ParseRequest(strLine, 8192), "index.htm");
        CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
        return target ? lookup.Look(target->strPath) : SFound{};
    }
    std::string In(const std::string& strName) { return m_root / strName; }
    CTempDir m_root;
    const std::string m_strRoot = m_root.Path().string();
    char m_start[64];
};

TEST_F(PlanTest, NamesAreMatchedAsOnACaseInsensitiveFileSystem) {
    WriteFile(In("Docs/Readme.HTM"), "r");
    WriteFile(In("lower.htm"), "l");
    WriteFile(In("Both.txt"), "upper");
    WriteFile(In("both.txt"), "lower");
    WriteFile(In("BOTH.TXT"), "all upper");
    WriteFile(In("Mixed/B.txt"), "B");
    WriteFile(In("Mixed/b.TXT"), "b");
    WriteFile(In("caf\xc3\xa9.htm"), "accent");

    struct {
        const char* pszLine;
        std::string strExpected;
    } cases[] = {
        {"GET /docs/readme.htm HTTP/1.0", In("Docs/Readme.HTM")},
        {"GET /DOCS/README.HTM HTTP/1.0", In("Docs/Readme.HTM")},
        {"GET /lower.htm HTTP/1.0", In("lower.htm")},
        // The name as requested first, then lower-cased.
        {"GET /BOTH.TXT HTTP/1.0", In("BOTH.TXT")},
        {"GET /Both.txt HTTP/1.0", In("Both.txt")},
        {"GET /BOTH.txt HTTP/1.0", In("both.txt")},
        // Else the byte-wise smallest of the folded matches.
        {"GET /mixed/b.txt HTTP/1.0", In("Mixed/B.txt")},
        // Bytes from 0x80 up compare exactly.
        {"GET /caf%C3%A9.htm HTTP/1.0", In("caf\xc3\xa9.htm")},
    };
    for (const auto& c : cases) {
        SFound found = Find(c.pszLine);
        EXPECT_EQ(found.kind, SFound::EKind::File) << c.pszLine;
        EXPECT_EQ(found.strName, c.strExpected) << c.pszLine;
    }
    EXPECT_EQ(Find("GET /CAF%C3%89.htm HTTP/1.0").kind, SFound::EKind::Nothing);
}

TEST_F(PlanTest, FolderThatMayBeTraversedButNotListedServesItsExactNames) {
    WriteFile(In("noread/File.txt"), "f");
    fs::permissions(In("noread"), fs::perms::owner_exec);
    SFound found = Find("GET /noread/File.txt HTTP/1.0");
    fs::permissions(In("noread"), fs::perms::owner_all);
    EXPECT_EQ(found.kind, SFound::EKind::File);
    EXPECT_EQ(found.strName, In("noread/File.txt"));
}

TEST_F(PlanTest, OnlyRegularFilesUnderTheRootAreServed) {
    WriteFile(In("a.htm"), "a");
    fs::create_directories(In("folder"));
    ASSERT_EQ(::mkfifo(In("pipe").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", In("device"));
    fs::create_symlink("/proc/self/exe", In("program"));
    fs::create_symlink(In("nowhere"), In("dangling"));

    fs::create_directories(In("Photos/2026"));
    fs::create_directories(In(".git"));
    WriteFile(In("Site/index.htm"), "site");
    fs::create_directories(In("Site/index.htm.d"));
    fs::create_directories(In("Odd/index.htm"));  // a folder by the default page's name

    struct {
        const char* pszLine;
        int nStatus;  // 0: the bare page without a status line
        EBody body;
        bool bListFolders = false;
    } cases[] = {
        {"GET /a.htm HTTP/1.0", 200, EBody::File},
        {"HEAD /a.htm HTTP/1.0", 200, EBody::None},
        {"GET /missing.htm HTTP/1.0", 404, EBody::ErrorPage},
        {"HEAD /missing.htm HTTP/1.0", 404, EBody::None},
        {"GET /pipe HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /device HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /program HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /dangling HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /folder/ HTTP/1.0", 404, EBody::ErrorPage},  // no default page there
        {"GET /folder HTTP/1.0", 301, EBody::None},
        {"GET /folder", 0, EBody::ErrorPage},  // no version: the bare page
        {"GET /a.htm", 0, EBody::ErrorPage},
        {"GET //etc/passwd HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /a.htm/ HTTP/1.0", 404, EBody::ErrorPage},
        // With listings on, a folder without its default page is listed.
        {"GET /photos/ HTTP/1.1", 200, EBody::Memory, true},
        {"GET /Photos/2026/?sort=size HTTP/1.1", 200, EBody::Memory, true},
        {"HEAD /photos/ HTTP/1.1", 200, EBody::None, true},
        {"GET / HTTP/1.0", 200, EBody::Memory, true},
        {"GET /odd/ HTTP/1.0", 200, EBody::Memory, true},
        {"GET /site/ HTTP/1.0", 200, EBody::File, true},  // its page, as without listings
        {"GET /photos HTTP/1.0", 301, EBody::None, true},
        {"GET /photos/", 0, EBody::ErrorPage, true},
        {"GET /.git/ HTTP/1.0", 404, EBody::ErrorPage, true},
        {"GET /a.htm/ HTTP/1.0", 404, EBody::ErrorPage, true},
        {"GET /missing/ HTTP/1.0", 404, EBody::ErrorPage, true},
        {"GET /photos/ HTTP/1.0", 404, EBody::ErrorPage, false},
    };
    for (const auto& c : cases) {
        SAnswerPlan plan = Plan(c.pszLine, c.bListFolders);
        EXPECT_EQ(plan.bStatusLine ? plan.head.nStatus : 0, c.nStatus) << c.pszLine;
        EXPECT_EQ(plan.body, c.body) << c.pszLine;
        if (c.bListFolders && c.nStatus == 200 && c.body != EBody::File) {
            EXPECT_EQ(plan.head.strContentType, "text/html; charset=utf-8") << c.pszLine;
            EXPECT_EQ(plan.phase, ESendPhase::Memory) << c.pszLine;
            EXPECT_TRUE(plan.head.strEntityTag.empty()) << c.pszLine;
        }
    }
    // HEAD gets the length GET would send.
    EXPECT_EQ(Plan("HEAD /photos/ HTTP/1.1", true).head.nContentLength,
              Plan("GET /photos/ HTTP/1.1", true).strBody.size());
}

TEST_F(PlanTest, TargetWithoutSlashStaysInsideTheRoot) {
    // Root /tmp/x and target "y" once named the sibling /tmp/xy.
    CTempDir parent;
    fs::create_directories(parent / "web");
    WriteFile(parent / "webx", "sibling");
    WriteFile(parent / "web/x", "inside");
    const std::string strRoot = parent / "web";
    CRootLookup lookup(strRoot, {}, {});
    EXPECT_EQ(lookup.Look(TargetOf(ParseRequest("GET x HTTP/1.0", 8192), "")->strPath).strName,
              parent / "web/x");
}

TEST_F(PlanTest, LinksInsideTheRootAreFollowed) {
    CTempDir elsewhere;
    WriteFile(elsewhere / "shared/page.htm", "shared");
    fs::create_directory_symlink(elsewhere / "shared", In("linked"));
    SFound found = Find("GET /Linked/PAGE.htm HTTP/1.0");
    EXPECT_EQ(found.kind, SFound::EKind::File);
    EXPECT_EQ(found.strName, In("linked/page.htm"));
}

TEST_F(PlanTest, RedirectKeepsTheTargetAsReceivedAndItsQuery) {
    fs::create_directories(In("My Folder"));
    SAnswerPlan plan = Plan("GET /My%20Folder?a=1&b=2 HTTP/1.1");
    ASSERT_EQ(plan.head.nStatus, 301);
    EXPECT_EQ(plan.head.strLocation, "/My%20Folder/?a=1&b=2");
    // Doubled separators in front cannot turn it into another host's address.
    fs::create_directories(In("docs"));
    EXPECT_EQ(Plan("GET //docs HTTP/1.1").head.strLocation, "/docs/");
    EXPECT_EQ(Plan("GET /\\docs HTTP/1.1").head.strLocation, "/docs/");
    // A raw blank or control byte cannot break the header line.
    fs::create_directories(In("a b"));
    plan = Plan("GET /a b HTTP/1.1");
    ASSERT_EQ(plan.head.nStatus, 301);
    EXPECT_EQ(plan.head.strLocation, "/a%20b/");
}

TEST_F(PlanTest, AFileSwappedAfterItsLookUpIsJudgedAsOpened) {
    WriteFile(In("file.txt"), "f");
    ASSERT_EQ(::mkfifo(In("pipe").c_str(), 0644), 0);
    struct stat pipe {};
    ASSERT_EQ(::stat(In("pipe").c_str(), &pipe), 0);
    // "link" turns from the file to the pipe and back while it is looked up.
    std::atomic<bool> bStop{false};
    std::thread swapper([&] {
        for (int i = 0; !bStop; ++i) {
            const std::string strSpare = In("spare");
            ::symlink(i % 2 ? "pipe" : "file.txt", strSpare.c_str());
            ::rename(strSpare.c_str(), In("link").c_str());
        }
    });
    CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
    int nFiles = 0;
    int nPipesServed = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; i < 20000 && std::chrono::steady_clock::now() < until; ++i) {
        const SFound found = lookup.Look("/link");
        nFiles += found.kind == SFound::EKind::File;
        nPipesServed += found.kind == SFound::EKind::File && found.facts.inode == pipe.st_ino;
    }
    bStop = true;
    swapper.join();
    EXPECT_EQ(nPipesServed, 0);
    EXPECT_GT(nFiles, 0);
}

TEST_F(PlanTest, PreviewFindsFrontPagesAndPagesNamedWithoutTheirEnding) {
    WriteFile(In("both/index.html"), "html");
    WriteFile(In("both/index.htm"), "htm");
    WriteFile(In("old/index.htm"), "htm");
    WriteFile(In("own/home.htm"), "default");
    WriteFile(In("own/index.html"), "html");
    fs::create_directories(In("empty"));
    WriteFile(In("about.html"), "about");
    WriteFile(In("about.htm"), "older");
    WriteFile(In("page.htm"), "page");
    WriteFile(In("abou..html"), "two dots");
    WriteFile(In(".secret.html"), "hidden");
    ASSERT_EQ(::mkfifo(In("pipe.html").c_str(), 0644), 0);
    fs::create_directories(In("docs"));
    WriteFile(In("docs.html"), "a page beside a folder");
    const struct {
        const char* pszLine;
        int nStatus;
        std::string strBody;  // the file sent, or "" for none
    } cases[] = {
        {"GET /both/ HTTP/1.0", 200, In("both/index.html")},
        {"GET /old/ HTTP/1.0", 200, In("old/index.htm")},
        {"GET /own/ HTTP/1.0", 200, In("own/home.htm")},
        {"GET /empty/ HTTP/1.0", 404, ""},
        {"GET /about HTTP/1.0", 200, In("about.html")},
        {"GET /ABOUT HTTP/1.0", 200, In("about.html")},
        {"GET /page HTTP/1.0", 200, In("page.htm")},
        {"GET /about/ HTTP/1.0", 404, ""},
        {"GET /.secret HTTP/1.0", 404, ""},
        {"GET /pipe HTTP/1.0", 404, ""},
        {"GET /docs HTTP/1.0", 301, ""},
        {"GET /abou%2e HTTP/1.0", 404, ""},
    };
    for (const auto& c : cases) {
        CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
        const SAnswerPlan plan = PlanAnswer(ParseRequest(c.pszLine, 8192),
                                            {.defaultPage = "home.htm", .bPreview = true}, lookup);
        EXPECT_EQ(plan.head.nStatus, c.nStatus) << c.pszLine;
        if (!c.strBody.empty()) {
            EXPECT_EQ(plan.body, EBody::File) << c.pszLine;
            struct stat file {};
            ASSERT_EQ(::stat(c.strBody.c_str(), &file), 0);
            EXPECT_EQ(lookup.OpenFile().Status().st_ino, file.st_ino) << c.pszLine;
        }
    }
    // Off, none of it: the plain 404.
    EXPECT_EQ(Plan("GET /about HTTP/1.0").head.nStatus, 404);
    EXPECT_EQ(Plan("GET /own/ HTTP/1.0").head.nStatus, 404);
    // The page found so keeps its own validators and ranges.
    const SAnswerPlan range = Preview("GET /about HTTP/1.1\r\nRange: bytes=1-2\r\n\r\n");
    EXPECT_EQ(range.head.nStatus, 206);
    EXPECT_EQ(range.head.strContentRange, "bytes 1-2/5");
}

TEST_F(PlanTest, PreviewAnswersMissingPagesWithTheSites404Page) {
    WriteFile(In("404.html"), "<p>gone</p>");
    fs::create_directories(In("empty"));
    for (const char* pszLine : {"GET /missing HTTP/1.1\r\nIf-None-Match: *\r\n\r\n",
                                "GET /missing HTTP/1.1\r\nRange: bytes=0-1\r\n\r\n",
                                "GET /empty/ HTTP/1.0", "GET /../x HTTP/1.0"}) {
        const SAnswerPlan plan = Preview(pszLine);
        EXPECT_EQ(plan.head.nStatus, 404) << pszLine;
        EXPECT_EQ(plan.body, EBody::File) << pszLine;
        EXPECT_EQ(plan.nFirst, 0u);
        EXPECT_EQ(plan.nCount, 11u);
        EXPECT_EQ(plan.head.nContentLength, 11u);
        EXPECT_EQ(plan.head.strContentType, "text/html");
        EXPECT_TRUE(plan.head.strEntityTag.empty() && plan.head.strLastModified.empty() &&
                    !plan.head.bAcceptRanges)
            << pszLine;
    }
    EXPECT_EQ(Preview("HEAD /missing HTTP/1.0").body, EBody::None);
    EXPECT_EQ(Preview("HEAD /missing HTTP/1.0").head.nContentLength, 11u);
    EXPECT_FALSE(Preview("GET /missing").bStatusLine);
    EXPECT_EQ(Preview("GET /missing").body, EBody::ErrorPage);
    EXPECT_EQ(Preview("GET /empty/ HTTP/1.0", true).body, EBody::Memory);  // the listing stays
    EXPECT_EQ(Plan("GET /missing HTTP/1.0").body, EBody::ErrorPage);
}

TEST_F(PlanTest, PreviewPagesShownCarryTheReloadScriptAndOnlyThey) {
    const std::string strPage = "<html><body><p>x</p></body></html>";
    WriteFile(In("home.htm"), strPage);
    WriteFile(In("style.css"), "p{}");
    WriteFile(In("404.html"), "<p>gone");
    const std::string kShow = " HTTP/1.1\r\nSec-Fetch-Dest: document\r\n";
    const SAnswerPlan page = Preview("GET /" + kShow + "\r\n");
    ASSERT_EQ(page.head.nStatus, 200);
    ASSERT_EQ(page.body, EBody::Memory);
    EXPECT_EQ(page.head.nContentLength, page.strBody.size());
    EXPECT_TRUE(page.strBody.starts_with("<html><body><p>x</p><script>"));
    EXPECT_TRUE(page.strBody.ends_with("</script></body></html>"));
    const SAnswerPlan plain = Preview("GET / HTTP/1.1\r\nAccept: */*\r\n\r\n");
    EXPECT_EQ(plain.body, EBody::File);
    EXPECT_EQ(page.strBody.find(plain.head.strEntityTag), page.strBody.find("const T = '") + 11);
    EXPECT_NE(page.head.strEntityTag, plain.head.strEntityTag);
    EXPECT_FALSE(page.head.bAcceptRanges);
    // Its own validator gives a 304; the plain file's does not.
    EXPECT_EQ(Preview("GET /" + kShow + "If-None-Match: " + page.head.strEntityTag + "\r\n\r\n")
                  .head.nStatus,
              304);
    EXPECT_EQ(
        Preview("GET /" + kShow + "If-None-Match: " + plain.head.strEntityTag + "\r\n\r\n").body,
        EBody::Memory);
    // A date alone could match a copy kept without the script.
    EXPECT_EQ(
        Preview("GET /" + kShow + "If-Modified-Since: " + page.head.strLastModified + "\r\n\r\n")
            .body,
        EBody::Memory);
    const SAnswerPlan head = Preview("HEAD /" + kShow + "\r\n");
    EXPECT_EQ(head.body, EBody::None);
    EXPECT_EQ(head.head.nContentLength, page.strBody.size());
    // Not a range, a stylesheet, the fixed error page or a listing.
    EXPECT_EQ(Preview("GET /" + kShow + "Range: bytes=0-3\r\n\r\n").head.nStatus, 206);
    EXPECT_EQ(Preview("GET /style.css" + kShow + "\r\n").body, EBody::File);
    WriteFile(In("wide.html"),
              std::string("\xff\xfe<\0p\0>\0", 8));  // UTF-16: ASCII would break it
    EXPECT_EQ(Preview("GET /wide.html" + kShow + "\r\n").body, EBody::File);
    fs::remove(In("home.htm"));
    fs::create_directories(In("sub"));
    EXPECT_EQ(Preview("GET /sub/" + kShow + "\r\n", true).strBody.find("<script>"),
              std::string::npos);
    // The site's 404 page: the script watches the file it came from.
    const SAnswerPlan missing = Preview("GET /nothing" + kShow + "\r\n");
    EXPECT_EQ(missing.head.nStatus, 404);
    EXPECT_TRUE(missing.strBody.starts_with("<p>gone<script>"));
    EXPECT_NE(missing.strBody.find("', M = 1;"), std::string::npos);
    EXPECT_TRUE(missing.head.strEntityTag.empty());
    fs::remove(In("404.html"));
    EXPECT_EQ(Preview("GET /nothing" + kShow + "\r\n").body, EBody::ErrorPage);
}

TEST(JoinPath, OneSeparatorBetween) {
    EXPECT_EQ(JoinPath("/srv/web", "a"), "/srv/web/a");
    EXPECT_EQ(JoinPath("/", "a"), "/a");
    EXPECT_EQ(JoinPath(".", "a"), "./a");
}

}  // namespace
