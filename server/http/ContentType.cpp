#include "ContentType.h"

#include <utility>

#include "AsciiCase.h"
#include "Utf8.h"

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

bool IsCharsetLabelledType(std::string_view contentType) {
    return contentType == "text/plain" || contentType == "text/csv" ||
           contentType == "text/markdown" || contentType == "text/vtt";
}

bool IsLabelledByItsBytes(std::string_view fileName) {
    return IsCharsetLabelledType(ContentTypeFor(fileName));
}

bool MayRunScript(std::string_view contentType) {
    const std::string_view type = contentType.substr(0, contentType.find(';'));
    return type == "text/html" || type == "application/xhtml+xml" || type == "text/xml" ||
           type == "application/xml" || type.ends_with("+xml");
}
