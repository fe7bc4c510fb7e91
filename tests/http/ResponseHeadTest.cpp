// The head of every answer, from one builder.
#include <gtest/gtest.h>

#include "ResponseHead.h"

namespace {

TEST(ResponseHead, OneBuilderForEveryAnswer) {
    const time_t nNow = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(BuildResponseHead({.nStatus = 200,
                                 .strContentType = "text/html",
                                 .nContentLength = 5,
                                 .bAcceptRanges = true,
                                 .strLastModified = "Sat, 05 Nov 1994 08:49:37 GMT",
                                 .strEntityTag = "\"1-5-2.0\""},
                                nNow),
              "HTTP/1.0 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "Content-Type: text/html\r\nContent-Length: 5\r\nAccept-Ranges: bytes\r\n"
              "Last-Modified: Sat, 05 Nov 1994 08:49:37 GMT\r\nETag: \"1-5-2.0\"\r\n"
              "Cache-Control: no-cache\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(
        BuildResponseHead(
            {.nStatus = 301, .bHttp11 = true, .nContentLength = 0, .strLocation = "/sub/?q=1"},
            nNow),
        "HTTP/1.1 301 Moved Permanently\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
        "Content-Length: 0\r\nLocation: /sub/?q=1\r\nCache-Control: no-cache\r\n"
        "Connection: close\r\n\r\n");
    EXPECT_NE(BuildResponseHead({.strContentSecurityPolicy = "sandbox"}, nNow)
                  .find("\r\nContent-Security-Policy: sandbox\r\n"),
              std::string::npos);
    const std::pair<int, const char*> statusLines[] = {
        {206, "HTTP/1.0 206 Partial Content\r\n"},
        {304, "HTTP/1.0 304 Not Modified\r\n"},
        {404, "HTTP/1.0 404 Not Found\r\n"},
        {416, "HTTP/1.0 416 Range Not Satisfiable\r\n"},
        {201, "HTTP/1.0 201 Created\r\n"},
        {303, "HTTP/1.0 303 See Other\r\n"},
        {400, "HTTP/1.0 400 Bad Request\r\n"},
        {403, "HTTP/1.0 403 Forbidden\r\n"},
        {409, "HTTP/1.0 409 Conflict\r\n"},
        {411, "HTTP/1.0 411 Length Required\r\n"},
        {413, "HTTP/1.0 413 Content Too Large\r\n"},
        {507, "HTTP/1.0 507 Insufficient Storage\r\n"},
    };
    for (const auto& [nStatus, pszLine] : statusLines) {
        EXPECT_TRUE(BuildResponseHead({.nStatus = nStatus}, nNow).starts_with(pszLine)) << nStatus;
    }
}

}  // namespace
