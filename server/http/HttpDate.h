// The HTTP date format of Date, Last-Modified and If-* headers (RFC 9110
// section 5.6.7), independent of the locale.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(time_t nSeconds);
// That form back to seconds; also the two obsolete forms (RFC 850 and
// asctime), which recipients must accept. Nothing for anything else.
std::optional<time_t> ParseHttpDate(std::string_view text);
