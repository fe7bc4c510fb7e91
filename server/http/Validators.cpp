#include "Validators.h"

#include <cstdio>

#include "AsciiCase.h"
#include "HttpDate.h"

namespace {
bool IsWeak(std::string_view entityTag) {
    return entityTag.starts_with("W/");
}

std::string_view Opaque(std::string_view entityTag) {
    return IsWeak(entityTag) ? entityTag.substr(2) : entityTag;
}
}  // namespace

std::string EntityTagFor(const SFileFacts& facts) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "\"%llx-%llx-%llx.%lx\"",
                  static_cast<unsigned long long>(facts.inode),
                  static_cast<unsigned long long>(facts.nSize),
                  static_cast<unsigned long long>(facts.nModifiedSeconds),
                  static_cast<unsigned long>(facts.nModifiedNanoseconds));
    return buffer;
}

bool EntityTagListMatches(std::string_view list, std::string_view entityTag) {
    list = TrimBlanks(list);
    if (list == "*") {
        return true;
    }
    while (!list.empty()) {
        size_t nComma = std::min(list.find(','), list.size());
        std::string_view candidate = TrimBlanks(list.substr(0, nComma));
        list.remove_prefix(std::min(nComma + 1, list.size()));
        if (!candidate.empty() && Opaque(candidate) == Opaque(entityTag)) {
            return true;
        }
    }
    return false;
}

bool IsNotModified(const SRequestHeaders& headers, const SFileFacts& facts) {
    if (headers.strIfNoneMatch) {
        return EntityTagListMatches(*headers.strIfNoneMatch, EntityTagFor(facts));
    }
    if (headers.strIfModifiedSince) {
        std::optional<time_t> since = ParseHttpDate(*headers.strIfModifiedSince);
        return since && *since >= facts.nModifiedSeconds;
    }
    return false;
}

bool IfRangeHolds(const SRequestHeaders& headers, const SFileFacts& facts) {
    if (!headers.strIfRange) {
        return true;
    }
    // Strong comparison for a tag; a date must be the Last-Modified exactly.
    std::string_view condition = TrimBlanks(*headers.strIfRange);
    if (condition.starts_with('"')) {
        return condition == EntityTagFor(facts);
    }
    return !IsWeak(condition) && ParseHttpDate(condition) == facts.nModifiedSeconds;
}
