#include "PathResolver.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "AsciiCase.h"

namespace {
// The component ".well-known" is the one dot-name meant for the public.
bool IsHiddenComponent(std::string_view component) {
    return !component.empty() && component.front() == '.' && component != ".well-known";
}

std::optional<std::string> FindFolded(const std::string& strFolder, std::string_view name) {
    std::unique_ptr<DIR, int (*)(DIR*)> pDir(::opendir(strFolder.c_str()), ::closedir);
    if (!pDir) {
        return std::nullopt;
    }
    std::optional<std::string> best;
    while (dirent* pEntry = ::readdir(pDir.get())) {
        std::string_view entry(pEntry->d_name);
        if (EqualFolded(entry, name) && (!best || entry < *best)) {
            best = std::string(entry);
        }
    }
    return best;
}
}  // namespace

bool IsForbiddenPath(std::string_view lowerPath) {
    if (lowerPath.find("..") != std::string_view::npos ||
        lowerPath.find("tarvel.exe") != std::string_view::npos) {
        return true;
    }
    size_t nStart = 0;
    while (nStart <= lowerPath.size()) {
        size_t nEnd = lowerPath.find('/', nStart);
        if (nEnd == std::string_view::npos) {
            nEnd = lowerPath.size();
        }
        if (IsHiddenComponent(lowerPath.substr(nStart, nEnd - nStart))) {
            return true;
        }
        nStart = nEnd + 1;
    }
    return false;
}

std::string JoinPath(const std::string& strFolder, std::string_view name) {
    std::string strJoined = strFolder;
    if (strJoined.empty() || strJoined.back() != '/') {
        strJoined += '/';
    }
    strJoined += name;
    return strJoined;
}

namespace {
std::string JoinComponents(const std::string& strRoot, std::string_view path) {
    std::string strJoined = strRoot;
    for (size_t nStart = 0; nStart < path.size();) {
        size_t nEnd = std::min(path.find('/', nStart), path.size());
        if (nEnd > nStart) {
            strJoined = JoinPath(strJoined, path.substr(nStart, nEnd - nStart));
        }
        nStart = nEnd + 1;
    }
    return strJoined;
}
}  // namespace

std::optional<std::string> ResolveUnderRoot(const std::string& strRoot, std::string_view path,
                                            struct stat& status) {
    // The name as requested is the common case: one look-up for all of it.
    std::string strAsRequested = JoinComponents(strRoot, path);
    if (::stat(strAsRequested.c_str(), &status) == 0) {
        return strAsRequested;
    }
    std::string strCurrent = strRoot;
    size_t nStart = 0;
    while (nStart < path.size()) {
        size_t nEnd = path.find('/', nStart);
        if (nEnd == std::string_view::npos) {
            nEnd = path.size();
        }
        std::string_view component = path.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (component.empty()) {
            continue;
        }
        std::string strExact = JoinPath(strCurrent, component);
        if (::lstat(strExact.c_str(), &status) == 0) {
            strCurrent = std::move(strExact);
            continue;
        }
        std::string strLower(component);
        LowerAscii(strLower);
        if (strLower != component) {
            std::string strLowerPath = JoinPath(strCurrent, strLower);
            if (::lstat(strLowerPath.c_str(), &status) == 0) {
                strCurrent = std::move(strLowerPath);
                continue;
            }
        }
        std::optional<std::string> folded = FindFolded(strCurrent, component);
        if (!folded) {
            return std::nullopt;
        }
        strCurrent = JoinPath(strCurrent, *folded);
    }
    if (::stat(strCurrent.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return strCurrent;
}
