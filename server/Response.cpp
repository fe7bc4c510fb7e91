#include "Response.h"

#include <array>
#include <utility>

#include "AsciiCase.h"
#include "PathResolver.h"

const std::string_view kErrorPage =
    "\n<HTML><HEAD><TITLE>HTTP Error</TITLE></HEAD><BODY><H1>Error 404: Not "
    "Found</H1></BODY></HTML>";

namespace {
constexpr std::array<std::pair<std::string_view, const char*>, 26> kContentTypes{{
    {"htm", "text/html"},      {"html", "text/html"},        {"css", "text/css"},
    {"js", "text/javascript"}, {"mjs", "text/javascript"},   {"json", "application/json"},
    {"txt", "text/plain"},     {"xml", "application/xml"},   {"svg", "image/svg+xml"},
    {"png", "image/png"},      {"jpg", "image/jpeg"},        {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},      {"ico", "image/x-icon"},      {"webp", "image/webp"},
    {"avif", "image/avif"},    {"wasm", "application/wasm"}, {"pdf", "application/pdf"},
    {"mp3", "audio/mpeg"},     {"mp4", "video/mp4"},         {"webm", "video/webm"},
    {"woff", "font/woff"},     {"woff2", "font/woff2"},      {"ttf", "font/ttf"},
    {"otf", "font/otf"},       {"zip", "application/zip"},
}};

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
    std::optional<std::string> resolved = ResolveUnderRoot(strRoot, request.strPath);
    struct stat status {};
    if (!resolved || ::stat(resolved->c_str(), &status) != 0) {
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

std::string StatusHeader(int nStatus, std::string_view contentType, uint64_t nContentLength) {
    std::string strHeader = nStatus == 200 ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 404 Not Found\r\n";
    strHeader += "Content-Type: ";
    strHeader += contentType;
    strHeader += "\r\nContent-Length: ";
    strHeader += std::to_string(nContentLength);
    strHeader += "\r\nConnection: close\r\n\r\n";
    return strHeader;
}

std::string RedirectHeader(std::string_view location) {
    std::string strHeader = "HTTP/1.0 301 Moved Permanently\r\nLocation: ";
    strHeader += location;
    strHeader += "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    return strHeader;
}
