#include "ByteRange.h"

#include <algorithm>

#include "AsciiCase.h"

SByteRange EvaluateRange(std::string_view header, uint64_t nSize) {
    SByteRange range;
    header = TrimBlanks(header);
    size_t nEquals = header.find('=');
    if (nEquals == std::string_view::npos ||
        !EqualFolded(TrimBlanks(header.substr(0, nEquals)), "bytes")) {
        return range;  // another unit (units compare without regard to case, section 14.1)
    }
    std::string_view rangeText = TrimBlanks(header.substr(nEquals + 1));
    size_t nDash = rangeText.find('-');
    if (rangeText.find(',') != std::string_view::npos || nDash == std::string_view::npos) {
        return range;
    }
    std::string_view first = TrimBlanks(rangeText.substr(0, nDash));
    std::string_view last = TrimBlanks(rangeText.substr(nDash + 1));
    if (first.empty()) {
        // The last n bytes.
        auto nSuffix = ParseDigits(last);
        if (!nSuffix) {
            return range;
        }
        if (*nSuffix == 0 || nSize == 0) {
            range.kind = SByteRange::EKind::Unsatisfiable;
            return range;
        }
        range.kind = SByteRange::EKind::Satisfiable;
        range.nFirst = nSize - std::min(*nSuffix, nSize);
        range.nLast = nSize - 1;
        return range;
    }
    auto nFirst = ParseDigits(first);
    std::optional<uint64_t> nLast;
    if (!last.empty()) {
        nLast = ParseDigits(last);
        if (!nLast) {
            return range;
        }
    }
    if (!nFirst || (nLast && *nLast < *nFirst)) {
        return range;
    }
    if (*nFirst >= nSize) {
        range.kind = SByteRange::EKind::Unsatisfiable;
        return range;
    }
    range.kind = SByteRange::EKind::Satisfiable;
    range.nFirst = *nFirst;
    range.nLast = nLast ? std::min(*nLast, nSize - 1) : nSize - 1;
    return range;
}
