// The answers of the preview: front pages, pages named without their ending,
// the site's 404 page, and the reload script on the pages shown.
#include <sys/stat.h>

#include <filesystem>

#include "AnswerPlan.h"
#include "TestSupport.h"

namespace {
using tarvel_test::OwnProgram;
using tarvel_test::WriteFile;
namespace fs = std::filesystem;

class PreviewPlanTest : public tarvel_test::CPlannedRootTest {};

TEST_F(PreviewPlanTest, PreviewFindsFrontPagesAndPagesNamedWithoutTheirEnding) {
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

TEST_F(PreviewPlanTest, PreviewAnswersMissingPagesWithTheSites404Page) {
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

TEST_F(PreviewPlanTest, PreviewPagesShownCarryTheReloadScriptAndOnlyThey) {
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

}  // namespace
