#include "HttpDate.h"

#include <array>
#include <cstdio>

#include "AsciiCase.h"

namespace {
constexpr std::array<std::string_view, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

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
}  // namespace

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
