// The page that answers an upload: its headline, its lists, and names escaped
// exactly as the listing escapes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ActiveContent.h"
#include "ListingPage.h"
#include "UploadPage.h"

namespace {
using tarvel_test::ExpectNoActiveContent;

TEST(UploadPage, NamesAreEscapedAsInTheListing) {
    const struct {
        std::string strName;
        std::string strShown;
    } cases[] = {
        {"<img src=x onerror=alert(1)>.jpg", "&lt;img src=x onerror=alert(1)&gt;.jpg"},
        {"say \"hi\" it's & more.txt", "say &quot;hi&quot; it&#39;s &amp; more.txt"},
        {"caf\xE9.txt", "caf\\xE9.txt"},                                   // Latin-1
        {"cut \xE2\x82.txt", "cut \\xE2\\x82.txt"},                        // not UTF-8
        {"a\nb\x7F\xC2\x85", "a\\x0Ab\\x7F\\xC2\\x85"},                    // control characters
        {"\\x41", "\\x5Cx41"},                                             // reads like an escape
        {"\xE6\xB5\x8B\xE8\xAF\x95.txt", "\xE6\xB5\x8B\xE8\xAF\x95.txt"},  // other scripts
        {"caf\xC3\xA9 #1 50%.jpg", "caf\xC3\xA9 #1 50%.jpg"},
    };
    for (const auto& c : cases) {
        const std::string strStored = BuildUploadPage({.stored = {c.strName}});
        EXPECT_NE(strStored.find("<li>" + c.strShown + "</li>"), std::string::npos)
            << c.strName << "\n"
            << strStored;
        ExpectNoActiveContent(strStored);
        const std::string strRefused =
            BuildUploadPage({.refused = {{c.strName, "a file of this name exists"}},
                             .strWhy = "Not stored: a name was refused"});
        EXPECT_NE(strRefused.find("<li>" + c.strShown + ": a file of this name exists</li>"),
                  std::string::npos)
            << c.strName << "\n"
            << strRefused;
        ExpectNoActiveContent(strRefused);
        const std::string strListing = BuildFolderListing("/", {{.strName = c.strName}}, {});
        EXPECT_NE(strListing.find("\">" + c.strShown + "</a>"), std::string::npos) << c.strName;
    }
}

TEST(UploadPage, HeadlineThenTheListsThatHoldNamesThenTheWayBack) {
    const struct {
        SUploadReport report;
        std::string strHeadline;
        bool bStored = false;
        bool bRefused = false;
    } cases[] = {
        {.report = {.stored = {"a.jpg", "b.jpg"}}, .strHeadline = "Files added", .bStored = true},
        {.report = {.strWhy = "No room: the disk is full"},
         .strHeadline = "No room: the disk is full"},
        {.report = {.stored = {"a.jpg"}, .refused = {{"b.jpg", "no room"}}, .strWhy = "No room"},
         .strHeadline = "No room",
         .bStored = true,
         .bRefused = true},
        {.report = {.refused = {{"..", "not a name a file can have"}}},
         .strHeadline = "Some files were refused",
         .bRefused = true},
        {.report = {.strWhy = "Refused: <b> & \"x\""},
         .strHeadline = "Refused: &lt;b&gt; &amp; &quot;x&quot;"},
    };
    for (const auto& c : cases) {
        const std::string strPage = BuildUploadPage(c.report);
        EXPECT_TRUE(
            strPage.starts_with("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
                                "<meta name=\"viewport\" content=\"width=device-width, "
                                "initial-scale=1\">\n<title>" +
                                c.strHeadline + "</title>"))
            << strPage;
        const size_t nHeadline = strPage.find("<h1>" + c.strHeadline + "</h1>");
        const size_t nStored = strPage.find("<h2>Stored:</h2>");
        const size_t nRefused = strPage.find("<h2>Refused:</h2>");
        const size_t nBack = strPage.find("<a href=\"./\">Back to the folder</a>");
        EXPECT_NE(nHeadline, std::string::npos) << strPage;
        EXPECT_EQ(nStored != std::string::npos, c.bStored) << strPage;
        EXPECT_EQ(nRefused != std::string::npos, c.bRefused) << strPage;
        EXPECT_EQ(strPage.find("<ul>") != std::string::npos, c.bStored || c.bRefused) << strPage;
        // In reading order; a list left out stands nowhere.
        EXPECT_LT(nHeadline, std::min(nStored, nBack));
        EXPECT_LT(c.bStored ? nStored : nHeadline, std::min(nRefused, nBack));
        EXPECT_LT(c.bRefused ? nRefused : nHeadline, nBack);
        EXPECT_TRUE(strPage.ends_with("</p></body></html>\n"));
    }
    const std::string strPage = BuildUploadPage({.stored = {"b.jpg", "a.jpg"}});
    EXPECT_LT(strPage.find("<li>b.jpg</li>"), strPage.find("<li>a.jpg</li>"));  // as given
}

}  // namespace
