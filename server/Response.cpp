#include "Response.h"

#include <utility>

#include "AsciiCase.h"
#include "FileAnswer.h"
#include "PathResolver.h"
#include "Utf8.h"

const std::string_view kErrorPage =
    "\n<HTML><HEAD><TITLE>HTTP Error</TITLE></HEAD><BODY><H1>Error 404: Not "
    "Found</H1></BODY></HTML>";

namespace {
constexpr std::pair<std::string_view, const char*> kContentTypes[] = {
    {"htm", "text/html"},        {"html", "text/html"},
    {"css", "text/css"},         {"js", "text/javascript"},
    {"mjs", "text/javascript"},  {"json", "application/json"},
    {"map", "application/json"}, {"webmanifest", "application/manifest+json"},
    {"txt", "text/plain"},       {"log", "text/plain"},
    {"csv", "text/csv"},         {"md", "text/markdown"},
    {"vtt", "text/vtt"},         {"xml", "application/xml"},
    {"svg", "image/svg+xml"},    {"png", "image/png"},
    {"jpg", "image/jpeg"},       {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},        {"ico", "image/x-icon"},
    {"webp", "image/webp"},      {"avif", "image/avif"},
    {"bmp", "image/bmp"},        {"tif", "image/tiff"},
    {"tiff", "image/tiff"},      {"wasm", "application/wasm"},
    {"pdf", "application/pdf"},  {"mp3", "audio/mpeg"},
    {"ogg", "audio/ogg"},        {"oga", "audio/ogg"},
    {"opus", "audio/ogg"},       {"m4a", "audio/mp4"},
    {"aac", "audio/aac"},        {"wav", "audio/wav"},
    {"flac", "audio/flac"},      {"mp4", "video/mp4"},
    {"m4v", "video/mp4"},        {"mov", "video/quicktime"},
    {"mkv", "video/x-matroska"}, {"ogv", "video/ogg"},
    {"webm", "video/webm"},      {"woff", "font/woff"},
    {"woff2", "font/woff2"},     {"ttf", "font/ttf"},
    {"otf", "font/otf"},         {"zip", "application/zip"},
};

constexpr std::pair<int, const char*> kStatusLines[] = {
    {200, "200 OK"},           {206, "206 Partial Content"}, {301, "301 Moved Permanently"},
    {304, "304 Not Modified"}, {404, "404 Not Found"},       {416, "416 Range Not Satisfiable"},
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

// The Location keeps the target as received, but a control byte or blank in a
// header line would let a request write headers of its own.
std::string EscapeForHeader(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string strEscaped;
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7f) {
            strEscaped += '%';
            strEscaped += kHex[c >> 4];
            strEscaped += kHex[c & 0xf];
        } else {
            strEscaped += static_cast<char>(c);
        }
    }
    return strEscaped;
}
// "//name" in a Location would send the browser to a host called name.
std::string OneLeadingSeparator(std::string_view path) {
    size_t nSeparators = 0;
    while (nSeparators < path.size() && (path[nSeparators] == '/' || path[nSeparators] == '\\')) {
        ++nSeparators;
    }
    if (nSeparators <= 1) {
        return std::string(path);
    }
    std::string strPath(1, '/');  // (appended, not "/" + ...: GCC 12 warns falsely)
    strPath += path.substr(nSeparators);
    return strPath;
}
}  // namespace

const char* ContentTypeFor(std::string_view fileName) {
    size_t nSlash = fileName.find_last_of('/');
    if (nSlash != std::string_view::npos) {
        fileName.remove_prefix(nSlash + 1);
    }
    size_t nDot = fileName.find_last_of('.');
    if (nDot != std::string_view::npos) {
        std::string_view extension = fileName.substr(nDot + 1);
        for (const auto& [known, type] : kContentTypes) {
            if (EqualFolded(extension, known)) {
                return type;
            }
        }
    }
    return "application/octet-stream";
}

SResponsePlan PlanResponse(const SParsedRequest& request, const std::string& strRoot,
                           const SFileIdentity& ownProgram) {
    SResponsePlan plan;
    if (request.bRefused) {
        return plan;
    }
    struct stat status {};
    std::optional<std::string> resolved = ResolveUnderRoot(strRoot, request.strPath, status);
    if (!resolved) {
        return plan;
    }
    if (S_ISDIR(status.st_mode)) {
        // A folder named without its trailing slash: send the browser to the
        // slashed name, so the default page and its relative links work.
        if (request.bVersioned && !request.bDefaultAppended) {
            plan.answer = EAnswer::Redirect;
            plan.strLocation = EscapeForHeader(OneLeadingSeparator(request.strRawPath)) + "/" +
                               EscapeForHeader(request.strQuery);
        }
        return plan;
    }
    if (!S_ISREG(status.st_mode) || ownProgram.Matches(status)) {
        return plan;
    }
    plan.answer = EAnswer::File;
    plan.strFile = std::move(*resolved);
    return plan;
}

bool IsCharsetLabelledType(std::string_view contentType) {
    return contentType == "text/plain" || contentType == "text/csv" ||
           contentType == "text/markdown" || contentType == "text/vtt";
}

bool IsUtf8Text(std::string_view text, bool bStartOfLonger) {
    for (size_t nAt = 0; nAt < text.size();) {
        bool bCutOff = false;
        const size_t nLength = Utf8SequenceLength(text, nAt, &bCutOff);
        if (nLength == 0) {
            return bCutOff && bStartOfLonger;  // cut off by the end of what was looked at
        }
        nAt += nLength;
    }
    return true;
}

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
    AddHeader(strHead, "Cache-Control", "no-cache");
    AddHeader(strHead, "Connection", "close");
    strHead += "\r\n";
    return strHead;
}
