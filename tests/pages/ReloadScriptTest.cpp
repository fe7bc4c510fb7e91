// The reload script of a previewed site: which requests get it, where it goes.
#include <gtest/gtest.h>

#include <algorithm>

#include "ReloadScript.h"
#include "RequestLine.h"

namespace {
struct SNavigationCase {
    const char* pszName;
    const char* pszHeaders;
    bool bNavigation;
};

const SNavigationCase kNavigationCases[] = {
    {"document", "Sec-Fetch-Dest: document\r\nAccept: */*\r\n", true},
    {"iframe", "sec-fetch-dest: IFRAME\r\n", true},
    {"fetch_destination_decides", "Sec-Fetch-Dest: empty\r\nAccept: text/html\r\n", false},
    {"script_destination", "Sec-Fetch-Dest: script\r\n", false},
    {"accept_without_destination",
     "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n", true},
    {"accept_case_ignored", "Accept: Text/HTML\r\n", true},
    {"fetch_default_accept", "Accept: */*\r\n", false},
    {"no_headers", "", false},
};

class NavigationTest : public ::testing::TestWithParam<SNavigationCase> {};

TEST_P(NavigationTest, OnlyABrowsersPageRequestIsANavigation) {
    const std::string strRequest =
        std::string("GET / HTTP/1.1\r\n") + GetParam().pszHeaders + "\r\n";
    EXPECT_EQ(IsNavigation(ParseRequest(strRequest, 8192).headers), GetParam().bNavigation);
}

INSTANTIATE_TEST_SUITE_P(Requests, NavigationTest, ::testing::ValuesIn(kNavigationCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(ReloadScript, GoesBeforeTheLastBodyEndOrAtTheVeryEnd) {
    const struct {
        std::string strPage;
        size_t nPlace;
    } cases[] = {
        {"<p>x</body></html>", 4},
        {"<p>x</BODY></html>", 4},
        {"<p>x</Body >", 12},  // not the tag as written: the end
        {"<p>no body at all", 17},
        {"", 0},
        {"a</body>b</body>c", 9},
        {"<body><!-- </body> --></body>", 22},
        {"<script>s = '</body>';</script>", 13},  // the last one counts, even in a string
        {"</body><!-- </body> -->", 12},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReloadScriptPlace(c.strPage), c.nPlace) << c.strPage;
    }
}

TEST(ReloadScript, IsAsciiCarriesTheFilesValidatorAndMarksTheAnswers) {
    const std::string strScript = ReloadScriptFor({.entityTag = "\"1-2-3.4\""});
    EXPECT_TRUE(
        std::all_of(strScript.begin(), strScript.end(), [](unsigned char c) { return c < 0x80; }));
    EXPECT_TRUE(strScript.starts_with("<script>"));
    EXPECT_TRUE(strScript.ends_with("</script>"));
    EXPECT_NE(strScript.find("const T = '\"1-2-3.4\"', M = 0;\n"), std::string::npos);
    EXPECT_NE(ReloadScriptFor({.entityTag = "\"5\"", .bMissingPage = true})
                  .find("const T = '\"5\"', M = 1;\n"),
              std::string::npos);
    const std::string strTag = ScriptedEntityTag("\"1-2-3.4\"");
    EXPECT_NE(strTag, "\"1-2-3.4\"");
    EXPECT_TRUE(strTag.starts_with("\"1-2-3.4-") && strTag.ends_with('"')) << strTag;
}

TEST(ReloadScript, OnlyHtmlWithinTheBoundThatIsNotUtf16MayCarryIt) {
    EXPECT_TRUE(MayCarryReloadScript("text/html", kScriptedPageMaxBytes, "<!doctype html>"));
    EXPECT_TRUE(MayCarryReloadScript("text/html; charset=utf-8", 10, "\xef\xbb\xbf<p>"));
    EXPECT_FALSE(MayCarryReloadScript("text/html", kScriptedPageMaxBytes + 1, "<p>"));
    EXPECT_FALSE(MayCarryReloadScript("text/css", 10, "p{}"));
    EXPECT_FALSE(MayCarryReloadScript("text/html", 10, "\xff\xfe<\0p\0"));
    EXPECT_FALSE(MayCarryReloadScript("text/html", 10, "\xfe\xff\0<\0p"));
}
}  // namespace
