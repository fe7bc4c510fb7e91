#include "FolderEntries.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

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

bool ReadFolderEntries(const std::string& strFolder, std::string_view requestPath,
                       const SFileIdentity& ownProgram, std::vector<SFolderEntry>& entries) {
    std::unique_ptr<DIR, int (*)(DIR*)> pDir(::opendir(strFolder.c_str()), ::closedir);
    if (!pDir) {
        return false;
    }
    const int hFolder = ::dirfd(pDir.get());
    std::string strLowerPath(requestPath);
    if (strLowerPath.empty() || strLowerPath.back() != '/') {
        strLowerPath += '/';
    }
    LowerAscii(strLowerPath);
    entries.clear();
    const size_t nFolderLength = strLowerPath.size();
    for (;;) {
        errno = 0;  // readdir tells the end from a failure only through errno
        const dirent* pEntry = ::readdir(pDir.get());
        if (pEntry == nullptr) {
            break;
        }
        const std::string_view name(pEntry->d_name);
        strLowerPath.resize(nFolderLength);
        strLowerPath += name;
        std::transform(strLowerPath.begin() + nFolderLength, strLowerPath.end(),
                       strLowerPath.begin() + nFolderLength, FoldAscii);
        if (!IsListedName(name, strLowerPath)) {
            continue;
        }
        // Links count as what they point to; a broken one fails here and is left out.
        struct stat status {};
        if (::fstatat(hFolder, pEntry->d_name, &status, 0) != 0) {
            continue;
        }
        const bool bFolder = S_ISDIR(status.st_mode);
        if ((!bFolder && !S_ISREG(status.st_mode)) || ownProgram.Matches(status)) {
            continue;
        }
        entries.push_back({.strName = std::string(name),
                           .bFolder = bFolder,
                           .nSize = bFolder ? 0 : static_cast<uint64_t>(status.st_size),
                           .nModified = status.st_mtime});
    }
    return errno == 0;
}
