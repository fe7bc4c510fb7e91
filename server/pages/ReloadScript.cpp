#include "ReloadScript.h"

#include <cstdio>

#include "AsciiCase.h"
#include "ReloadScriptBody.h"

namespace {
// Marks the page's validator with the script's own text, so a page cached
// with an older script is sent again.
std::string ScriptMark() {
    uint32_t nHash = 2166136261u;  // FNV-1a
    for (unsigned char c : kReloadScriptBody) {
        nHash = (nHash ^ c) * 16777619u;
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "-p%08x", nHash);
    return buffer;
}
}  // namespace

bool MayCarryReloadScript(std::string_view contentType, uint64_t nSize, std::string_view start) {
    const bool bUtf16 = start.starts_with("\xff\xfe") || start.starts_with("\xfe\xff");
    return contentType.starts_with("text/html") && nSize <= kScriptedPageMaxBytes && !bUtf16;
}

size_t ReloadScriptPlace(std::string_view page) {
    constexpr std::string_view kBodyEnd = "</body>";
    for (size_t nAt = page.size(); nAt >= kBodyEnd.size(); --nAt) {
        if (EqualFolded(page.substr(nAt - kBodyEnd.size(), kBodyEnd.size()), kBodyEnd)) {
            return nAt - kBodyEnd.size();
        }
    }
    return page.size();
}

std::string ReloadScriptFor(const SReloadWatch& watch) {
    std::string strScript =
        "<script>/* Tarvel preview: this page reloads itself when its files change. */\n{\n"
        "const T = '";
    strScript += watch.entityTag;  // quotes, hex digits, '-' and '.': safe in '...'
    strScript += watch.bMissingPage ? "', M = 1;\n" : "', M = 0;\n";
    // The body follows the lines that give T, the validator of the file the
    // page is, and M, 1 when the page is the site's 404 page standing in for a
    // missing one. A block, not a function, keeps its names out of the page's
    // globals.
    strScript += kReloadScriptBody;
    strScript += "}\n</script>";
    return strScript;
}

std::string ScriptedEntityTag(std::string_view fileEntityTag) {
    static const std::string strMark = ScriptMark();
    std::string strTag(fileEntityTag);
    if (strTag.size() >= 2 && strTag.back() == '"') {
        strTag.insert(strTag.size() - 1, strMark);
    }
    return strTag;
}
