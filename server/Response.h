// What to answer, and the bytes of the status line and headers.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "PathResolver.h"
#include "RequestLine.h"

// The fixed error page: 94 bytes, beginning with a line feed.
extern const std::string_view kErrorPage;

enum class EAnswer { ErrorPage, Redirect, File };

struct SResponsePlan {
    EAnswer answer = EAnswer::ErrorPage;
    std::string strFile;      // File: the name to open
    std::string strLocation;  // Redirect: where the folder's page is
};

// Decides the answer by looking at the file system (stat and folder scans
// only; nothing is opened, so a FIFO or device never blocks).
SResponsePlan PlanResponse(const SParsedRequest& request, const std::string& strRoot,
                           const SFileIdentity& ownProgram);

// Content type by the name's extension, compared without regard to case.
const char* ContentTypeFor(std::string_view fileName);
// Plain-text types a browser shows in the locale's legacy encoding unless told
// the charset; HTML is not among them: its own meta charset must win.
bool IsCharsetLabelledType(std::string_view contentType);
// The text is UTF-8. When it is only the start of a longer text, a multi-byte
// sequence cut off by its end counts as valid.
bool IsUtf8Text(std::string_view text, bool bStartOfLonger);

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
};
std::string BuildResponseHead(const SResponseHead& head, time_t nNow);
