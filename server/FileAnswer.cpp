#include "FileAnswer.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "AsciiCase.h"

namespace {
constexpr std::array<std::string_view, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Digits only, the whole text; no sign, no blanks.
std::optional<uint64_t> ParseDigits(std::string_view text) {
    uint64_t nValue = 0;
    auto [pEnd, error] = std::from_chars(text.data(), text.data() + text.size(), nValue);
    if (error != std::errc() || pEnd != text.data() + text.size()) {
        return std::nullopt;  // empty, not digits, or too large
    }
    return nValue;
}

std::optional<int> MonthIndex(std::string_view name) {
    for (size_t i = 0; i < kMonths.size(); ++i) {
        if (kMonths[i] == name) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

// Splits "a b c" on single blanks (asctime pads a day with a second one).
template <size_t N>
bool SplitWords(std::string_view text, std::array<std::string_view, N>& words) {
    for (size_t i = 0; i < N; ++i) {
        while (!text.empty() && text.front() == ' ') {
            text.remove_prefix(1);
        }
        size_t nEnd = std::min(text.find(' '), text.size());
        words[i] = text.substr(0, nEnd);
        text.remove_prefix(nEnd);
        if (words[i].empty()) {
            return false;
        }
    }
    return TrimBlanks(text).empty();
}

std::optional<time_t> MakeTime(std::string_view day, std::string_view month, std::string_view year,
                               std::string_view clock) {
    auto nDay = ParseDigits(day);
    auto nMonth = MonthIndex(month);
    auto nYear = ParseDigits(year);
    if (clock.size() != 8 || clock[2] != ':' || clock[5] != ':') {
        return std::nullopt;
    }
    auto nHour = ParseDigits(clock.substr(0, 2));
    auto nMinute = ParseDigits(clock.substr(3, 2));
    auto nSecond = ParseDigits(clock.substr(6, 2));
    if (!nDay || !nMonth || !nYear || !nHour || !nMinute || !nSecond || *nDay < 1 || *nDay > 31 ||
        *nHour > 23 || *nMinute > 59 || *nSecond > 60 || *nYear > 9999) {
        return std::nullopt;
    }
    struct tm broken {};
    broken.tm_mday = static_cast<int>(*nDay);
    broken.tm_mon = *nMonth;
    broken.tm_year = static_cast<int>(*nYear) - 1900;
    broken.tm_hour = static_cast<int>(*nHour);
    broken.tm_min = static_cast<int>(*nMinute);
    broken.tm_sec = static_cast<int>(*nSecond);
    return ::timegm(&broken);
}

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

std::string HttpDate(time_t nSeconds) {
    struct tm broken {};
    ::gmtime_r(&nSeconds, &broken);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3s, %02d %.3s %04d %02d:%02d:%02d GMT",
                  kDays[static_cast<size_t>(broken.tm_wday) % 7].data(), broken.tm_mday,
                  kMonths[static_cast<size_t>(broken.tm_mon) % 12].data(), broken.tm_year + 1900,
                  broken.tm_hour, broken.tm_min, broken.tm_sec);
    return buffer;
}

std::optional<time_t> ParseHttpDate(std::string_view text) {
    text = TrimBlanks(text);
    size_t nComma = text.find(',');
    if (nComma == 3) {
        // Sun, 06 Nov 1994 08:49:37 GMT
        std::array<std::string_view, 5> words;
        if (!SplitWords(text.substr(4), words) || words[4] != "GMT" || words[0].size() != 2 ||
            words[2].size() != 4) {
            return std::nullopt;
        }
        return MakeTime(words[0], words[1], words[2], words[3]);
    }
    if (nComma != std::string_view::npos) {
        // Sunday, 06-Nov-94 08:49:37 GMT: a two-digit year within 50 years of 2000
        std::array<std::string_view, 3> words;
        if (!SplitWords(text.substr(nComma + 1), words) || words[2] != "GMT" ||
            words[0].size() != 9 || words[0][2] != '-' || words[0][6] != '-') {
            return std::nullopt;
        }
        auto nShortYear = ParseDigits(words[0].substr(7));
        if (!nShortYear) {
            return std::nullopt;
        }
        std::string strYear =
            std::to_string(*nShortYear < 50 ? 2000 + *nShortYear : 1900 + *nShortYear);
        return MakeTime(words[0].substr(0, 2), words[0].substr(3, 3), strYear, words[1]);
    }
    // Sun Nov  6 08:49:37 1994
    std::array<std::string_view, 5> words;
    if (!SplitWords(text, words) || words[0].size() != 3) {
        return std::nullopt;
    }
    return MakeTime(words[2], words[1], words[4], words[3]);
}

SByteRange EvaluateRange(std::string_view header, uint64_t nSize) {
    SByteRange range;
    header = TrimBlanks(header);
    size_t nEquals = header.find('=');
    if (nEquals == std::string_view::npos || TrimBlanks(header.substr(0, nEquals)) != "bytes") {
        return range;  // another unit (compared as RFC 9110 says: case-sensitively here)
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

SFileAnswer PlanFileAnswer(const SRequestHeaders& headers, const SFileFacts& facts) {
    SFileAnswer answer{200, 0, facts.nSize};
    const std::string strEntityTag = EntityTagFor(facts);

    // Revalidation: If-None-Match decides when present; the date only without it.
    bool bNotModified = false;
    if (headers.strIfNoneMatch) {
        bNotModified = EntityTagListMatches(*headers.strIfNoneMatch, strEntityTag);
    } else if (headers.strIfModifiedSince) {
        std::optional<time_t> since = ParseHttpDate(*headers.strIfModifiedSince);
        bNotModified = since && *since >= facts.nModifiedSeconds;
    }
    if (bNotModified) {
        return {304, 0, 0};
    }

    if (!headers.strRange) {
        return answer;
    }
    if (headers.strIfRange) {
        // Strong comparison for a tag; a date must be the Last-Modified exactly.
        std::string_view condition = TrimBlanks(*headers.strIfRange);
        bool bCurrent =
            condition.starts_with('"')
                ? condition == strEntityTag
                : !IsWeak(condition) && ParseHttpDate(condition) == facts.nModifiedSeconds;
        if (!bCurrent) {
            return answer;
        }
    }
    SByteRange range = EvaluateRange(*headers.strRange, facts.nSize);
    switch (range.kind) {
        case SByteRange::EKind::None:
            return answer;
        case SByteRange::EKind::Unsatisfiable:
            return {416, 0, 0};
        case SByteRange::EKind::Satisfiable:
            return {206, range.nFirst, range.nLast - range.nFirst + 1};
    }
    return answer;
}
