#include "FolderEntries.h"

#include <sys/stat.h>

#include "AsciiCase.h"
#include "PathResolver.h"

namespace {
// A name with a backslash can never be reached: the request path turns it into
// a separator.
bool IsListedName(std::string_view name, std::string& strLowerName) {
    if (name == "." || name == ".." || name.find('\\') != std::string_view::npos) {
        return false;
    }
    strLowerName.assign(name);
    LowerAscii(strLowerName);
    return !IsForbiddenPath(strLowerName);
}
}  // namespace

void ListServedEntries(const CFolderNames& names, std::string_view requestPath,
                       const SFileIdentity& ownProgram, std::vector<SFolderEntry>& entries) {
    entries.clear();
    // The guards judge the folder's path and each name apart: the path ends in
    // '/' and a name holds none, so a name can neither complete a ".." or
    // "tarvel.exe" that the path begins nor join one of its segments. The
    // joined path is refused exactly when the path or the name alone is.
    if (!MayLookUp(std::string(requestPath))) {
        return;
    }
    const int hFolder = names.Handle();
    std::string strLowerName;
    names.ForEach([&](std::string_view name) {
        if (!IsListedName(name, strLowerName)) {
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
