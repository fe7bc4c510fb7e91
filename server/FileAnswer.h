// Which answer a file gets: whole, a byte range, not modified, or range not
// satisfiable, from the request's Range and If-* headers and the file's size,
// time and identity. Pure: the caller has stat'ed the open file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "RequestLine.h"

// What an answer's validators are made from.
struct SFileFacts {
    uint64_t nSize = 0;
    time_t nModifiedSeconds = 0;
    long nModifiedNanoseconds = 0;
    ino_t inode = 0;
};

struct SFileAnswer {
    int nStatus = 200;    // 200, 206, 304 or 416
    uint64_t nFirst = 0;  // first byte of the body
    uint64_t nCount = 0;  // body bytes (before HEAD drops them)
};

// A strong validator, quoted: it changes when the file is replaced (another
// inode), or changes size or modification time.
std::string EntityTagFor(const SFileFacts& facts);

// "Sun, 06 Nov 1994 08:49:37 GMT", independent of the locale.
std::string HttpDate(time_t nSeconds);
// That form back to seconds; also the two obsolete forms (RFC 850 and
// asctime), which recipients must accept. Nothing for anything else.
std::optional<time_t> ParseHttpDate(std::string_view text);

struct SByteRange {
    enum class EKind { None, Satisfiable, Unsatisfiable } kind = EKind::None;
    uint64_t nFirst = 0;
    uint64_t nLast = 0;  // inclusive
};
// One "bytes=a-b", "bytes=a-" or "bytes=-n" range, clipped to the file. None
// for an invalid header, another unit or several ranges (answered whole).
SByteRange EvaluateRange(std::string_view header, uint64_t nSize);

// True when an entity-tag list ("*" or tags) names the tag, compared weakly.
bool EntityTagListMatches(std::string_view list, std::string_view entityTag);

SFileAnswer PlanFileAnswer(const SRequestHeaders& headers, const SFileFacts& facts);
