// The bytes of an answer's status line and headers.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// The status line and headers of one answer. Every answer closes its connection
// and tells caches to ask again each time.
struct SResponseHead {
    int nStatus = 200;
    bool bHttp11 = false;          // the request's version was 1.1 or later
    std::string strContentType{};  // empty: no Content-Type
    std::optional<uint64_t> nContentLength{};
    std::string strContentRange{};  // "bytes a-b/size" or "bytes */size"
    bool bAcceptRanges = false;
    std::string strLastModified{};
    std::string strEntityTag{};
    std::string strLocation{};
    std::string strSetCookie{};
    std::string strReferrerPolicy{};
    std::string strRetryAfter{};
    std::string strContentSecurityPolicy{};
};
std::string BuildResponseHead(const SResponseHead& head, time_t nNow);
