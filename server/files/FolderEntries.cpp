#include "FolderEntries.h"

#include <sys/stat.h>

#include <algorithm>

#include "AsciiCase.h"
#include "PathResolver.h"

namespace {
// A name with a backslash can never be reached: the request path turns it into
// a separator.
bool IsListedName(std::string_view name, const std::string& strLowerPath) {
    return name != "." && name != ".." && name.find('\\') == std::string_view::npos &&
           !IsForbiddenPath(strLowerPath);
}
}  // namespace

void ListServedEntries(const CFolderNames& names, std::string_view requestPath,
                       const SFileIdentity& ownProgram, std::vector<SFolderEntry>& entries) {
    const int hFolder = names.Handle();
    std::string strLowerPath(requestPath);
    if (strLowerPath.empty() || strLowerPath.back() != '/') {
        strLowerPath += '/';
    }
    LowerAscii(strLowerPath);
    entries.clear();
    const size_t nFolderLength = strLowerPath.size();
    names.ForEach([&](std::string_view name) {
        strLowerPath.resize(nFolderLength);
        strLowerPath += name;
        std::transform(strLowerPath.begin() + nFolderLength, strLowerPath.end(),
                       strLowerPath.begin() + nFolderLength, FoldAscii);
        if (!IsListedName(name, strLowerPath)) {
            return;
        }
        // Links count as what they point to; a broken one fails here and is left out.
        struct stat status {};
        if (::fstatat(hFolder, name.data(), &status, 0) != 0) {
            return;
        }
        const bool bFolder = S_ISDIR(status.st_mode);
        if ((!bFolder && !S_ISREG(status.st_mode)) || ownProgram.Matches(status)) {
            return;
        }
        entries.push_back({.strName = std::string(name),
                           .bFolder = bFolder,
                           .nSize = bFolder ? 0 : static_cast<uint64_t>(status.st_size),
                           .nModified = status.st_mtime});
    });
}

bool ReadFolderEntries(const std::string& strFolder, std::string_view requestPath,
                       const SFileIdentity& ownProgram, std::vector<SFolderEntry>& entries) {
    CFolderNames names;
    if (!names.Read(strFolder)) {
        return false;
    }
    ListServedEntries(names, requestPath, ownProgram, entries);
    return true;
}
