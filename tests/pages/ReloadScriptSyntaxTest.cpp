// The reload script as a browser gets it parses: Node's parser checks it, so a
// script that would run nothing cannot ship.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "ReloadScript.h"
#include "TestSupport.h"

namespace {
struct SCheck {
    int nStatus = -1;  // node's exit status, -1 when it did not run
    std::string strOutput;
};

// Runs `node --check` on strScript, written to a file of its own.
SCheck CheckWithNode(const std::string& strScript) {
    const std::string strNode = TARVEL_NODE_PATH;
    if (strNode.ends_with("NOTFOUND")) {
        return {.strOutput = "node was not found when the build was configured"};
    }
    const tarvel_test::CTempDir dir;
    const std::string strFile = dir / "script.js";
    tarvel_test::WriteFile(strFile, strScript);
    const std::string strCommand = "'" + strNode + "' --check '" + strFile + "' 2>&1";
    FILE* pPipe = ::popen(strCommand.c_str(), "r");
    if (!pPipe) {
        return {.strOutput = "cannot run " + strCommand};
    }
    SCheck check;
    char szChunk[256];
    while (size_t nRead = std::fread(szChunk, 1, sizeof szChunk, pPipe)) {
        check.strOutput.append(szChunk, nRead);
    }
    const int nWait = ::pclose(pPipe);
    check.nStatus = WIFEXITED(nWait) ? WEXITSTATUS(nWait) : -1;
    return check;
}

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
        const SCheck check = CheckWithNode(
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
    const SCheck check = CheckWithNode(strScript);
    EXPECT_EQ(check.nStatus, 1) << check.strOutput;
    EXPECT_NE(check.strOutput.find("SyntaxError"), std::string::npos) << check.strOutput;
}
