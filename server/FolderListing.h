// The page that lists a folder without a default page: which entries a visitor
// may see, their order, and the HTML that shows them. Names are bytes that may
// hold anything, so every byte of a name is percent-encoded in a link and
// escaped in text; no byte of a name reaches the page as it is unless it is
// plain, well-formed UTF-8 text.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "PathResolver.h"

struct SFolderEntry {
    std::string strName;  // the name's exact bytes as the folder holds them
    bool bFolder = false;
    uint64_t nSize = 0;    // files only
    time_t nModified = 0;  // seconds, the entry's mtime (links: of what they point to)
};

// The entries of strFolder (a path on disk) that would be served if requested.
// requestPath: the folder's '/'-separated request path as decoded ("/Photos/2026/"),
// so each name is judged by IsForbiddenPath on the lower-cased joined path.
// Reads the folder once, at most one stat per entry; entries is replaced. False
// when the folder cannot be opened or reading it fails.
bool ReadFolderEntries(const std::string& strFolder, std::string_view requestPath,
                       const SFileIdentity& ownProgram, std::vector<SFolderEntry>& entries);

struct SListingOrder {
    enum class EColumn { Name, Size, Modified } column = EColumn::Name;
    bool bDescending = false;
};

// From the request's query ("?sort=name|size|date&order=asc|desc", the '?'
// optional); whatever it does not understand leaves the default.
SListingOrder ListingOrderOf(std::string_view query);

// Folders before files in every order; names in natural order ignoring ASCII
// case; equal sizes or times by name ascending.
void SortEntries(std::vector<SFolderEntry>& entries, SListingOrder order);

// "N B" under 1,024 bytes, else KB, MB, GB or TB in units of 1,024 with one
// decimal: 2,500,000 gives "2.4 MB".
std::string FormatSize(uint64_t nBytes);

// "2026-12-08 14:05" in the server's local time.
std::string FormatModified(time_t nSeconds);

// The whole page (text/html; charset=utf-8), entries sorted by order.
// requestPath: the folder as requested (decoded bytes), for the heading.
std::string BuildFolderListing(std::string_view requestPath, std::vector<SFolderEntry> entries,
                               SListingOrder order);
