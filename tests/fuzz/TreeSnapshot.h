// What a folder tree holds, entry by entry, so the fuzzer can tell what one
// request changed on disk: which entries are new, gone, or no longer the same
// (another file under the name, other bytes, another kind, another link).
// Links are recorded, never followed; FIFOs are never opened. Beside a file's
// bytes its change time is kept, which no caller can set back: a file written
// again with the same bytes has changed too.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct STreeEntry {
    std::filesystem::file_type type = std::filesystem::file_type::none;
    ino_t nInode = 0;
    off_t nSize = 0;
    struct timespec changed {};  // the change time
    struct timespec modified {};
    std::string strBytes;  // a regular file's content, a link's target
};

// Paths relative to the tree's base, '/'-separated.
using CTreeSnapshot = std::map<std::string, STreeEntry>;

CTreeSnapshot TakeSnapshot(const std::filesystem::path& base);

struct STreeChanges {
    std::vector<std::string> added;
    std::vector<std::string> removed;
    std::vector<std::string> changed;
};

// What changed in the tree at base since before was taken of it.
STreeChanges ChangesSince(const CTreeSnapshot& before, const std::filesystem::path& base);
