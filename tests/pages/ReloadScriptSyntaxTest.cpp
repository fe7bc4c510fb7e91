// The reload script as a browser gets it parses.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "NodeCheck.h"
#include "ReloadScript.h"

namespace {
// The script without its <script> tags: the text a browser runs.
std::string ScriptText(const SReloadWatch& watch) {
    constexpr std::string_view kOpen = "<script>", kClose = "</script>";
    const std::string strTagged = ReloadScriptFor(watch);
    EXPECT_TRUE(strTagged.starts_with(kOpen) && strTagged.ends_with(kClose));
    return strTagged.substr(kOpen.size(), strTagged.size() - kOpen.size() - kClose.size());
}
}  // namespace

TEST(ReloadScriptSyntax, TheScriptOfAPageAndOfTheMissingPageParse) {
    for (const bool bMissingPage : {false, true}) {
        const SNodeCheck check = CheckWithNode(
            ScriptText({.entityTag = "\"1-2-3.4\"", .bMissingPage = bMissingPage}));
        EXPECT_EQ(check.nStatus, 0) << "missing page: " << bMissingPage << "\n"
                                    << check.strOutput;
    }
}

// Without this, a check that passes everything would pass the script too.
TEST(ReloadScriptSyntax, AScriptMissingABracketIsRejected) {
    std::string strScript = ScriptText({.entityTag = "\"1\""});
    const size_t nClose = strScript.find(')');
    ASSERT_NE(nClose, std::string::npos);
    strScript.erase(nClose, 1);
    const SNodeCheck check = CheckWithNode(strScript);
    EXPECT_EQ(check.nStatus, 1) << check.strOutput;
    EXPECT_NE(check.strOutput.find("SyntaxError"), std::string::npos) << check.strOutput;
}
