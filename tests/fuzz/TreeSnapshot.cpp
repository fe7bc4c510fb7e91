#include "TreeSnapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

namespace fs = std::filesystem;

namespace {
// Into strBytes, whose room is kept from call to call: each run reads every
// file, and a fresh large buffer each time would make runs slow.
void ReadBytes(const fs::path& path, off_t nSize, std::string& strBytes) {
    strBytes.resize(static_cast<size_t>(nSize));
    const int hFile = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    size_t nHave = 0;
    while (hFile >= 0 && nHave < strBytes.size()) {
        const ssize_t nRead = ::read(hFile, strBytes.data() + nHave, strBytes.size() - nHave);
        if (nRead <= 0) {
            break;
        }
        nHave += static_cast<size_t>(nRead);
    }
    if (hFile >= 0) {
        ::close(hFile);
    }
    strBytes.resize(nHave);
}

// The entry as it is now; a regular file's bytes or a link's target go to
// strBytes rather than into the entry.
STreeEntry Describe(const fs::directory_entry& entry, std::string& strBytes) {
    STreeEntry described;
    described.type = entry.symlink_status().type();
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) == 0) {
        described.nInode = status.st_ino;
        described.nSize = status.st_size;
        described.changed = status.st_ctim;
        described.modified = status.st_mtim;
    }
    strBytes.clear();
    if (described.type == fs::file_type::regular) {
        ReadBytes(entry.path(), described.nSize, strBytes);
    } else if (described.type == fs::file_type::symlink) {
        strBytes = fs::read_symlink(entry.path()).string();
    }
    return described;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameEntry(const STreeEntry& before, const STreeEntry& now, const std::string& strBytes) {
    if (before.type != now.type || before.nInode != now.nInode) {
        return false;
    }
    // A folder's times move with every file added to it and removed from it.
    return before.type == fs::file_type::directory ||
           (before.nSize == now.nSize && SameTime(before.changed, now.changed) &&
            SameTime(before.modified, now.modified) && before.strBytes == strBytes);
}

std::string RelativePath(const fs::directory_entry& entry, const fs::path& base) {
    return entry.path().lexically_relative(base).generic_string();
}
}  // namespace

CTreeSnapshot TakeSnapshot(const fs::path& base) {
    CTreeSnapshot snapshot;
    // Without following links: a link out of the tree is an entry, not a way out.
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(base)) {
        std::string strBytes;
        STreeEntry& recorded = snapshot[RelativePath(entry, base)];
        recorded = Describe(entry, strBytes);
        recorded.strBytes = std::move(strBytes);
    }
    return snapshot;
}

STreeChanges ChangesSince(const CTreeSnapshot& before, const fs::path& base) {
    static std::string strBytes;
    STreeChanges changes;
    std::set<std::string> seen;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(base)) {
        std::string strPath = RelativePath(entry, base);
        const STreeEntry now = Describe(entry, strBytes);
        const auto found = before.find(strPath);
        if (found == before.end()) {
            changes.added.push_back(std::move(strPath));
            continue;
        }
        if (!SameEntry(found->second, now, strBytes)) {
            changes.changed.push_back(strPath);
        }
        seen.insert(std::move(strPath));
    }
    for (const auto& [strPath, entry] : before) {
        if (!seen.contains(strPath)) {
            changes.removed.push_back(strPath);
        }
    }
    return changes;
}
