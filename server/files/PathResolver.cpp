#include "PathResolver.h"

#include <sys/stat.h>

#include "AsciiCase.h"
#include "PathSegments.h"

namespace {
// The component ".well-known" is the one dot-name meant for the public.
bool IsHiddenComponent(std::string_view component) {
    return !component.empty() && component.front() == '.' && component != ".well-known";
}

// When scanned already holds strFolder's names (an earlier search of the same
// lookup), they are searched without a new read. A read that failed part-way
// is searched as far as it got.
std::optional<std::string> FindFolded(const std::string& strFolder, std::string_view name,
                                      CFolderNames& scanned) {
    if (!scanned.AreOf(strFolder)) {
        scanned.Read(strFolder);
    }
    std::optional<std::string_view> best;
    scanned.ForEach([&](std::string_view entry) {
        if (EqualFolded(entry, name) && (!best || entry < *best)) {
            best = entry;
        }
    });
    return best ? std::optional<std::string>(*best) : std::nullopt;
}
}  // namespace

bool IsForbiddenPath(std::string_view lowerPath) {
    if (lowerPath.find("..") != std::string_view::npos ||
        lowerPath.find("tarvel.exe") != std::string_view::npos) {
        return true;
    }
    return !ForEachSegment(lowerPath, [](std::string_view segment) {
        return !IsHiddenComponent(segment);
    });
}

bool MayLookUp(std::string strPath) {
    LowerAscii(strPath);
    return !IsForbiddenPath(strPath);
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
    ForEachSegment(path, [&](std::string_view segment) {
        strJoined = JoinPath(strJoined, segment);
        return true;
    });
    return strJoined;
}

// The entry of strFolder named component: exactly, lower-cased, or the
// byte-wise smallest name equal to it with ASCII letters folded.
bool StepInto(std::string& strFolder, std::string_view component, struct stat& status,
              CFolderNames& scanned) {
    std::string strExact = JoinPath(strFolder, component);
    if (::lstat(strExact.c_str(), &status) == 0) {
        strFolder = std::move(strExact);
        return true;
    }
    std::string strLower(component);
    LowerAscii(strLower);
    if (strLower != component) {
        std::string strLowerPath = JoinPath(strFolder, strLower);
        if (::lstat(strLowerPath.c_str(), &status) == 0) {
            strFolder = std::move(strLowerPath);
            return true;
        }
    }
    std::optional<std::string> folded = FindFolded(strFolder, component, scanned);
    if (!folded) {
        return false;
    }
    strFolder = JoinPath(strFolder, *folded);
    return true;
}
}  // namespace

std::optional<std::string> ResolveUnderRoot(const std::string& strRoot, std::string_view path,
                                            struct stat& status, CFolderNames& scanned) {
    // The name as requested is the common case: one look-up for all of it.
    std::string strAsRequested = JoinComponents(strRoot, path);
    if (::stat(strAsRequested.c_str(), &status) == 0) {
        return strAsRequested;
    }
    std::string strCurrent = strRoot;
    if (!ForEachSegment(path, [&](std::string_view component) {
            return StepInto(strCurrent, component, status, scanned);
        })) {
        return std::nullopt;
    }
    if (::stat(strCurrent.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return strCurrent;
}
