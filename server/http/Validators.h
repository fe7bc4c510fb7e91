// Validators and the conditions that use them (RFC 9110 section 13): the
// entity tag of a file, If-None-Match / If-Modified-Since and If-Range.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "FileFacts.h"
#include "RequestLine.h"

// A strong validator, quoted: it changes when the file is replaced (another
// inode), or changes size or modification time.
std::string EntityTagFor(const SFileFacts& facts);

// True when an entity-tag list ("*" or tags) names the tag, compared weakly.
bool EntityTagListMatches(std::string_view list, std::string_view entityTag);

// The client's copy is current: If-None-Match decides when present, the date
// only without it (section 13.2.2).
bool IsNotModified(const SRequestHeaders& headers, const SFileFacts& facts);

// A Range may be honoured: no If-Range, or one that names the current file,
// by a strong tag or its exact Last-Modified date (section 13.1.5).
bool IfRangeHolds(const SRequestHeaders& headers, const SFileFacts& facts);
