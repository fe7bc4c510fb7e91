// The reload script of a previewed site: where it goes, what it carries, which pages may carry it.
#include <gtest/gtest.h>

#include <algorithm>

#include "ReloadScript.h"

namespace {
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
