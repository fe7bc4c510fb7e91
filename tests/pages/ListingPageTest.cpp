// The listing page: how names are encoded in links and shown in text, the
// heading, the links of the column headings, the size and time texts, and the
// "Add files" form of a folder visitors may add files to.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "ActiveContent.h"
#include "ListingPage.h"

namespace {
using tarvel_test::ExpectNoActiveContent;
using EColumn = SListingOrder::EColumn;

TEST(ListingPage, NamesAreEncodedInLinksAndEscapedInText) {
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

TEST(ListingPage, HeadingNamesTheFolderAsRequestedAndLinksItsParent) {
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

TEST(ListingPage, HeadingsLinkTheNextOrder) {
    struct {
        SListingOrder order;
        std::string_view sizeOrder = "asc";  // where the Size heading links
    } cases[] = {
        {.order = {EColumn::Name, false}},
        {.order = {EColumn::Size, false}, .sizeOrder = "desc"},
        {.order = {EColumn::Size, true}},
        {.order = {EColumn::Modified, true}},
        {.order = {EColumn::Name, true}},
        {.order = {EColumn::Modified, false}},
    };
    for (const auto& c : cases) {
        const std::string strPage = BuildFolderListing("/", {}, c.order);
        EXPECT_NE(
            strPage.find("<a href=\"?sort=size&amp;order=" + std::string(c.sizeOrder) + "\">Size"),
            std::string::npos)
            << static_cast<int>(c.order.column) << " " << c.order.bDescending;
    }
}

TEST(ListingPage, SizesInUnitsOf1024WithOneDecimal) {
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

// The page as it was before visitors could add files, its style aside.
TEST(ListingPage, WithoutTheAddFilesFormThePageIsUnchanged) {
    const time_t nModified = 1'765'000'000;
    const std::string strPage =
        BuildFolderListing("/sub/", {{.strName = "b.txt", .nSize = 5, .nModified = nModified}}, {});
    const size_t nStyle = strPage.find("<style>") + 7, nStyleEnd = strPage.find("</style>");
    ASSERT_LT(nStyle, nStyleEnd);
    const std::string strStyle = strPage.substr(nStyle, nStyleEnd - nStyle);
    EXPECT_EQ(strStyle.find("form"), std::string::npos) << strStyle;
    EXPECT_EQ(strPage.substr(0, nStyle),
              "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
              "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
              "<title>/sub/</title>\n<style>");
    EXPECT_EQ(strPage.substr(nStyleEnd),
              "</style></head>\n<body><h1>/sub/</h1>\n<table><thead><tr>"
              "<th><a href=\"?sort=name&amp;order=desc\">Name \xE2\x96\xB2</a></th>"
              "<th><a href=\"?sort=size&amp;order=asc\">Size</a></th>"
              "<th><a href=\"?sort=date&amp;order=asc\">Modified</a></th></tr></thead>\n"
              "<tbody>\n<tr><td><a href=\"../\">../</a></td></tr>\n"
              "<tr><td><a href=\"b.txt\">b.txt</a><td>5 B<td>" +
                  FormatModified(nModified) + "\n</tbody></table></body></html>\n");
}

// The page less its own script, for the checks that nothing else is active.
std::string WithoutOwnScript(std::string strPage, std::string_view nonce) {
    const size_t nOpen = strPage.find("<script nonce=\"" + std::string(nonce) + "\">");
    const size_t nClose = strPage.find("</script>\n", nOpen);
    EXPECT_NE(nClose, std::string::npos);
    if (nOpen != std::string::npos && nClose != std::string::npos) {
        strPage.erase(nOpen, nClose + 10 - nOpen);
    }
    return strPage;
}

TEST(ListingPage, AddFilesFormPostsToThePageItselfAndItsScriptEndsTheBody) {
    const std::string strTag = "<img src=x onerror=alert(1)>.jpg";
    const std::string strPage =
        BuildFolderListing("/p/", {{.strName = strTag}}, {}, SAddFiles{.scriptNonce = "n0nce"});
    // No action: the page's own address, its query and any secret prefix included.
    const size_t nForm = strPage.find(
        "</h1>\n<form id=\"add-files\" method=\"post\" enctype=\"multipart/form-data\">\n"
        "<input type=\"file\" name=\"file\" multiple required");
    EXPECT_NE(nForm, std::string::npos) << strPage;
    EXPECT_NE(strPage.find("<button>Add files</button>"), std::string::npos);
    EXPECT_LT(nForm, strPage.find("<table>"));
    const size_t nStyle = strPage.find(kAddFilesStyle);
    EXPECT_LT(strPage.find("<style>"), nStyle);
    EXPECT_LT(nStyle, strPage.find("</style>"));
    // One script: the page's own, closing the body.
    const size_t nScript = strPage.find("<script");
    EXPECT_EQ(strPage.rfind("<script"), nScript);
    EXPECT_EQ(strPage.find("</tbody></table>\n<script nonce=\"n0nce\">\n"),
              nScript - std::string_view("</tbody></table>\n").size());
    EXPECT_TRUE(strPage.ends_with("</script>\n</body></html>\n"));
    EXPECT_NE(strPage.find("<a href=\"%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E.jpg\">"
                           "&lt;img src=x onerror=alert(1)&gt;.jpg</a>"),
              std::string::npos);
    ExpectNoActiveContent(WithoutOwnScript(strPage, "n0nce"));
}

// The form works without script: a page whose nonce could not be made goes without.
TEST(ListingPage, WithoutANonceTheFormGoesWithoutItsScript) {
    const std::string strPage = BuildFolderListing("/", {}, {}, SAddFiles{});
    EXPECT_NE(strPage.find("<form id=\"add-files\""), std::string::npos);
    EXPECT_TRUE(strPage.ends_with("</tbody></table>\n</body></html>\n"));
    ExpectNoActiveContent(strPage);
}

TEST(AddFilesPagePolicy, OnlyThePagesOwnScriptRuns) {
    const struct {
        std::string_view nonce;
        std::string strScripts;
    } cases[] = {
        {.nonce = "n0nce", .strScripts = "script-src 'nonce-n0nce';"},
        {.nonce = "", .strScripts = "script-src 'none';"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AddFilesPagePolicy({.scriptNonce = c.nonce}),
                  "default-src 'none'; " + c.strScripts +
                      " style-src 'unsafe-inline'; img-src 'self' data:; connect-src 'self'; "
                      "form-action 'self'; base-uri 'none'; frame-ancestors 'none'");
    }
}

TEST(ListingPage, ModifiedInLocalTime) {
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
