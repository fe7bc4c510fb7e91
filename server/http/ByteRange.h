// The Range header (RFC 9110 section 14): one byte range of a file.
#pragma once

#include <cstdint>
#include <string_view>

struct SByteRange {
    enum class EKind { None, Satisfiable, Unsatisfiable } kind = EKind::None;
    uint64_t nFirst = 0;
    uint64_t nLast = 0;  // inclusive
};

// One "bytes=a-b", "bytes=a-" or "bytes=-n" range, clipped to the file. None
// for an invalid header, another unit or several ranges (answered whole).
SByteRange EvaluateRange(std::string_view header, uint64_t nSize);
