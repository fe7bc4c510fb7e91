// The reload script of a previewed website: which answers carry it, where it
// goes in a page, and the script itself. The script asks about once a second,
// with ordinary short requests and the validators every answer has, whether
// the page or a file it loaded has changed; nothing is watched on disk and no
// connection is held open, so the one thread never waits for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Pages larger than this are sent as they are: they are read whole to carry it.
constexpr uint64_t kScriptedPageMaxBytes = 4 * 1024 * 1024;

// A page of this type, size and start may carry the script: HTML of at most
// the bound, not UTF-16 (whose bytes an ASCII script would break).
bool MayCarryReloadScript(std::string_view contentType, uint64_t nSize, std::string_view start);

// Where the script goes: before the last "</body>" (ASCII case ignored), or
// at the very end when there is none.
size_t ReloadScriptPlace(std::string_view page);

// What the script compares with: the page's own validator as it was sent
// (the others are those the browser's cache holds), and for the site's 404
// page the file it came from, so that the missing page appears once created.
struct SReloadWatch {
    std::string_view entityTag;  // of the file the page's bytes are
    bool bMissingPage = false;   // the site's 404.html, shown for a missing page
};
// The script, ASCII only, for one answer.
std::string ReloadScriptFor(const SReloadWatch& watch);

// The validator of a page with the script: the file's own, marked, so the
// plain file and the page with the script are never taken for each other.
std::string ScriptedEntityTag(std::string_view fileEntityTag);
