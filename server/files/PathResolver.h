// Finding a requested path under the root. Names are served without regard to
// case, as on a case-insensitive file system, while Linux names are
// case-sensitive: each component is tried as requested, then lower-cased, and
// only then is its folder scanned for the byte-wise smallest name that equals
// it with ASCII letters folded.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>

#include "FileFacts.h"
#include "FolderNames.h"

// True for the request guards: parent folders, the program's own name, hidden
// names. lowerPath: '/'-separated and lower-cased.
bool IsForbiddenPath(std::string_view lowerPath);
// The guards on a path as received: they judge it lower-cased, so no spelling
// of a name slips by.
bool MayLookUp(std::string strPath);

// strPath is '/'-separated; empty components are skipped. Returns the file name
// to open and its status (links followed), or nothing when a component does
// not exist or the name leads nowhere. scanned holds the names of the last
// folder searched for a case-folded name, and is searched again without a new
// read when the same folder comes up.
std::optional<std::string> ResolveUnderRoot(const std::string& strRoot, std::string_view path,
                                            struct stat& status, CFolderNames& scanned);

// The root, one separator, then the name.
std::string JoinPath(const std::string& strFolder, std::string_view name);
