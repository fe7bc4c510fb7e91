// The entries of a folder that may be served from it, read once, for a listing.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "FileFacts.h"
#include "FolderNames.h"

struct SFolderEntry {
    std::string strName;  // the name's exact bytes as the folder holds them
    bool bFolder = false;
    uint64_t nSize = 0;    // files only
    time_t nModified = 0;  // seconds, the entry's mtime (links: of what they point to)
};

// The entries of a folder whose names were read that would be served if requested.
// requestPath: the folder's '/'-separated request path as decoded ("/Photos/2026/"):
// a name is listed only when the guards would let the folder's path joined with
// it be looked up. At most one stat per entry, relative to the open folder; entries is replaced.
void ListServedEntries(const CFolderNames& names, std::string_view requestPath,
                       const SFileIdentity& ownProgram, std::vector<SFolderEntry>& entries);

// The same of strFolder (a path on disk), read once. False when the folder
// cannot be opened or reading it fails.
bool ReadFolderEntries(const std::string& strFolder, std::string_view requestPath,
                       const SFileIdentity& ownProgram, std::vector<SFolderEntry>& entries);
