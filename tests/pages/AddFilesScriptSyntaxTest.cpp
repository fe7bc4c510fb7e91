// The "Add files" script as a browser gets it in a listing: it parses, its
// text cannot end its element early, and the elements it looks up are there.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "ListingPage.h"
#include "NodeCheck.h"

namespace {
const std::string& Page() {
    static const std::string strPage =
        BuildFolderListing("/", {{.strName = "a.jpg"}}, {}, SAddFiles{.scriptNonce = "abc234"});
    return strPage;
}

// The text between the script's tags.
std::string ScriptText() {
    constexpr std::string_view kOpen = "<script nonce=\"abc234\">";
    const std::string& strPage = Page();
    const size_t nOpen = strPage.find(kOpen);
    const size_t nClose = strPage.find("</script>", nOpen);
    EXPECT_NE(nClose, std::string::npos) << strPage;
    if (nClose == std::string::npos) {
        return {};
    }
    return strPage.substr(nOpen + kOpen.size(), nClose - nOpen - kOpen.size());
}
}  // namespace

TEST(AddFilesScriptSyntax, TheScriptOfAListingParses) {
    const SNodeCheck check = CheckWithNode(ScriptText());
    EXPECT_EQ(check.nStatus, 0) << check.strOutput;
}

// Without this, a check that passes everything would pass the script too.
TEST(AddFilesScriptSyntax, AScriptMissingABraceIsRejected) {
    std::string strScript = ScriptText();
    const size_t nClose = strScript.rfind('}');
    ASSERT_NE(nClose, std::string::npos);
    strScript.erase(nClose, 1);
    const SNodeCheck check = CheckWithNode(strScript);
    EXPECT_EQ(check.nStatus, 1) << check.strOutput;
    EXPECT_NE(check.strOutput.find("SyntaxError"), std::string::npos) << check.strOutput;
}

TEST(AddFilesScriptSyntax, EndsOnlyAtItsOwnEndTagAndFindsWhatItLooksUp) {
    const std::string strScript = ScriptText();
    // In a script element either would change where the HTML parser ends it.
    EXPECT_EQ(strScript.find("</"), std::string::npos);
    EXPECT_EQ(strScript.find("<!--"), std::string::npos);
    constexpr std::string_view kLookUp = "getElementById('";
    int nLookUps = 0;
    for (size_t nAt = strScript.find(kLookUp); nAt != std::string::npos;
         nAt = strScript.find(kLookUp, nAt + 1), ++nLookUps) {
        const size_t nId = nAt + kLookUp.size();
        const std::string strId = strScript.substr(nId, strScript.find('\'', nId) - nId);
        EXPECT_NE(Page().find(" id=\"" + strId + "\""), std::string::npos) << strId;
    }
    EXPECT_GT(nLookUps, 0);
}
