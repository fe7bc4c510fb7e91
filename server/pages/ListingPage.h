// The page that lists a folder without a default page. Names are bytes that
// may hold anything, so every byte of a name is percent-encoded in a link and
// escaped in text; no byte of a name reaches the page as it is unless it is
// plain, well-formed UTF-8 text.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AddFilesForm.h"
#include "EntryOrder.h"

// "N B" under 1,024 bytes, else KB, MB, GB or TB in units of 1,024 with one
// decimal: 2,500,000 gives "2.4 MB".
std::string FormatSize(uint64_t nBytes);

// "2026-12-08 14:05" in the server's local time.
std::string FormatModified(time_t nSeconds);

// The whole page (text/html; charset=utf-8), entries sorted by order.
// requestPath: the folder as requested (decoded bytes), for the heading.
// addFiles: the "Add files" form and its script, for visitors who may add
// files; without it the page has neither.
std::string BuildFolderListing(std::string_view requestPath, std::vector<SFolderEntry> entries,
                               SListingOrder order,
                               const std::optional<SAddFiles>& addFiles = std::nullopt);
