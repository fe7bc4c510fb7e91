#include "ResponseHead.h"

#include <utility>

#include "HttpDate.h"

namespace {
constexpr std::pair<int, const char*> kStatusLines[] = {
    {200, "200 OK"},
    {201, "201 Created"},
    {206, "206 Partial Content"},
    {301, "301 Moved Permanently"},
    {303, "303 See Other"},
    {304, "304 Not Modified"},
    {400, "400 Bad Request"},
    {403, "403 Forbidden"},
    {404, "404 Not Found"},
    {409, "409 Conflict"},
    {411, "411 Length Required"},
    {413, "413 Content Too Large"},
    {416, "416 Range Not Satisfiable"},
    {500, "500 Internal Server Error"},
    {503, "503 Service Unavailable"},
    {507, "507 Insufficient Storage"},
};

const char* StatusLineOf(int nStatus) {
    for (const auto& [nKnown, pszLine] : kStatusLines) {
        if (nKnown == nStatus) {
            return pszLine;
        }
    }
    return "500 Internal Server Error";  // never planned: a table entry is missing
}

void AddHeader(std::string& strHead, std::string_view name, std::string_view value) {
    if (value.empty()) {
        return;
    }
    strHead += name;
    strHead += ": ";
    strHead += value;
    strHead += "\r\n";
}
}  // namespace

std::string BuildResponseHead(const SResponseHead& head, time_t nNow) {
    std::string strHead = head.bHttp11 ? "HTTP/1.1 " : "HTTP/1.0 ";
    strHead += StatusLineOf(head.nStatus);
    strHead += "\r\n";
    AddHeader(strHead, "Date", HttpDate(nNow));
    AddHeader(strHead, "Content-Type", head.strContentType);
    if (head.nContentLength) {
        AddHeader(strHead, "Content-Length", std::to_string(*head.nContentLength));
    }
    AddHeader(strHead, "Content-Range", head.strContentRange);
    AddHeader(strHead, "Accept-Ranges", head.bAcceptRanges ? "bytes" : "");
    AddHeader(strHead, "Last-Modified", head.strLastModified);
    AddHeader(strHead, "ETag", head.strEntityTag);
    AddHeader(strHead, "Location", head.strLocation);
    AddHeader(strHead, "Set-Cookie", head.strSetCookie);
    AddHeader(strHead, "Referrer-Policy", head.strReferrerPolicy);
    AddHeader(strHead, "Retry-After", head.strRetryAfter);
    AddHeader(strHead, "Content-Security-Policy", head.strContentSecurityPolicy);
    AddHeader(strHead, "Cache-Control", "no-cache");
    AddHeader(strHead, "Connection", "close");
    strHead += "\r\n";
    return strHead;
}
