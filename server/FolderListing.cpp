#include "FolderListing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>

#include "AsciiCase.h"
#include "Utf8.h"

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

// A name with a backslash can never be reached: the request path turns it into
// a separator.
bool IsListedName(std::string_view name, const std::string& strLowerPath) {
    return name != "." && name != ".." && name.find('\\') == std::string_view::npos &&
           !IsForbiddenPath(strLowerPath);
}
}  // namespace

bool ReadFolderEntries(const std::string& strFolder, std::string_view requestPath,
                       const SFileIdentity& ownProgram, std::vector<SFolderEntry>& entries) {
    std::unique_ptr<DIR, int (*)(DIR*)> pDir(::opendir(strFolder.c_str()), ::closedir);
    if (!pDir) {
        return false;
    }
    const int hFolder = ::dirfd(pDir.get());
    std::string strLowerPath(requestPath);
    if (strLowerPath.empty() || strLowerPath.back() != '/') {
        strLowerPath += '/';
    }
    LowerAscii(strLowerPath);
    entries.clear();
    const size_t nFolderLength = strLowerPath.size();
    for (;;) {
        errno = 0;  // readdir tells the end from a failure only through errno
        const dirent* pEntry = ::readdir(pDir.get());
        if (pEntry == nullptr) {
            break;
        }
        const std::string_view name(pEntry->d_name);
        strLowerPath.resize(nFolderLength);
        strLowerPath += name;
        std::transform(strLowerPath.begin() + nFolderLength, strLowerPath.end(),
                       strLowerPath.begin() + nFolderLength, FoldAscii);
        if (!IsListedName(name, strLowerPath)) {
            continue;
        }
        // Links count as what they point to; a broken one fails here and is left out.
        struct stat status {};
        if (::fstatat(hFolder, pEntry->d_name, &status, 0) != 0) {
            continue;
        }
        const bool bFolder = S_ISDIR(status.st_mode);
        if ((!bFolder && !S_ISREG(status.st_mode)) || ownProgram.Matches(status)) {
            continue;
        }
        entries.push_back({.strName = std::string(name),
                           .bFolder = bFolder,
                           .nSize = bFolder ? 0 : static_cast<uint64_t>(status.st_size),
                           .nModified = status.st_mtime});
    }
    return errno == 0;
}

SListingOrder ListingOrderOf(std::string_view query) {
    using EColumn = SListingOrder::EColumn;
    SListingOrder order;
    if (!query.empty() && query.front() == '?') {
        query.remove_prefix(1);
    }
    while (!query.empty()) {
        const size_t nEnd = std::min(query.find('&'), query.size());
        const std::string_view pair = query.substr(0, nEnd);
        query.remove_prefix(std::min(nEnd + 1, query.size()));
        if (pair == "sort=name") {
            order.column = EColumn::Name;
        } else if (pair == "sort=size") {
            order.column = EColumn::Size;
        } else if (pair == "sort=date") {
            order.column = EColumn::Modified;
        } else if (pair == "order=asc") {
            order.bDescending = false;
        } else if (pair == "order=desc") {
            order.bDescending = true;
        }
    }
    return order;
}

namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A key whose bytewise order is the natural order ignoring ASCII case: other
// bytes folded; each digit run as '0' (so it still sorts against any other
// byte as a digit does), then its significant length, big-endian behind its
// own byte count, then its significant digits. Runs of any length compare by
// value; built once per entry, so sorting compares keys, not names.
std::string NaturalKeyOf(std::string_view name) {
    std::string strKey;
    strKey.reserve(name.size() + 8);
    size_t nAt = 0;
    while (nAt < name.size()) {
        if (!IsDigit(name[nAt])) {
            strKey += FoldAscii(name[nAt++]);
            continue;
        }
        size_t nEnd = nAt;
        while (nEnd < name.size() && IsDigit(name[nEnd])) {
            ++nEnd;
        }
        while (nAt < nEnd && name[nAt] == '0') {
            ++nAt;
        }
        const size_t nLength = nEnd - nAt;
        char lengthBytes[sizeof(size_t)];
        size_t nLengthBytes = 0;
        for (size_t n = nLength; n != 0; n >>= 8) {
            lengthBytes[nLengthBytes++] = static_cast<char>(n & 0xFF);
        }
        strKey += '0';
        strKey += static_cast<char>(nLengthBytes);
        for (size_t n = nLengthBytes; n != 0; --n) {
            strKey += lengthBytes[n - 1];
        }
        strKey.append(name.substr(nAt, nLength));
        nAt = nEnd;
    }
    return strKey;
}

template <typename T>
int CompareValues(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}
}  // namespace

void SortEntries(std::vector<SFolderEntry>& entries, SListingOrder order) {
    using EColumn = SListingOrder::EColumn;
    struct SKeyed {
        std::string strKey;
        SFolderEntry* pEntry;
    };
    std::vector<SKeyed> keyed;
    keyed.reserve(entries.size());
    for (SFolderEntry& entry : entries) {
        keyed.push_back({NaturalKeyOf(entry.strName), &entry});
    }
    std::sort(keyed.begin(), keyed.end(), [order](const SKeyed& x, const SKeyed& y) {
        const SFolderEntry& a = *x.pEntry;
        const SFolderEntry& b = *y.pEntry;
        if (a.bFolder != b.bFolder) {
            return a.bFolder;
        }
        int nOrder = 0;
        if (order.column == EColumn::Size) {
            nOrder = CompareValues(a.nSize, b.nSize);
        } else if (order.column == EColumn::Modified) {
            nOrder = CompareValues(a.nModified, b.nModified);
        }
        if (nOrder == 0) {
            // Ties of the key go to the exact bytes, so the order is total.
            nOrder = x.strKey.compare(y.strKey);
            nOrder = nOrder != 0 ? nOrder : a.strName.compare(b.strName);
            // Equal sizes or times read by name ascending in both directions.
            if (order.column != EColumn::Name) {
                return nOrder < 0;
            }
        }
        return order.bDescending ? nOrder > 0 : nOrder < 0;
    });
    std::vector<SFolderEntry> sorted;
    sorted.reserve(entries.size());
    for (SKeyed& one : keyed) {
        sorted.push_back(std::move(*one.pEntry));
    }
    entries = std::move(sorted);
}

namespace {
// Sizes and times are appended in place: a large folder's page is built for
// every request of it.
void AppendSize(std::string& strOut, uint64_t nBytes) {
    if (nBytes < 1024) {
        strOut += std::to_string(nBytes);
        strOut += " B";
        return;
    }
    static constexpr std::array<const char*, 4> kUnits = {"KB", "MB", "GB", "TB"};
    uint64_t nUnit = 1024;
    for (size_t nIndex = 0;; ++nIndex, nUnit *= 1024) {
        // Rounded to tenths without overflow, however large the size.
        const uint64_t nTenths = nBytes / nUnit * 10 + ((nBytes % nUnit) * 10 + nUnit / 2) / nUnit;
        // "1024.0 KB" reads better as "1.0 MB".
        if (nTenths < 10240 || nIndex + 1 == kUnits.size()) {
            strOut += std::to_string(nTenths / 10);
            strOut += '.';
            strOut += static_cast<char>('0' + nTenths % 10);
            strOut += ' ';
            strOut += kUnits[nIndex];
            return;
        }
    }
}

void AppendTwoDigits(std::string& strOut, int nValue) {
    strOut += static_cast<char>('0' + nValue / 10);
    strOut += static_cast<char>('0' + nValue % 10);
}

// Written out by hand: strftime's locale handling costs more than the rest of a row.
void AppendModified(std::string& strOut, time_t nSeconds) {
    struct tm local {};
    if (::localtime_r(&nSeconds, &local) == nullptr) {
        return;
    }
    strOut += std::to_string(1900L + local.tm_year);
    strOut += '-';
    AppendTwoDigits(strOut, local.tm_mon + 1);
    strOut += '-';
    AppendTwoDigits(strOut, local.tm_mday);
    strOut += ' ';
    AppendTwoDigits(strOut, local.tm_hour);
    strOut += ':';
    AppendTwoDigits(strOut, local.tm_min);
}
}  // namespace

std::string FormatSize(uint64_t nBytes) {
    std::string strSize;
    AppendSize(strSize, nBytes);
    return strSize;
}

std::string FormatModified(time_t nSeconds) {
    std::string strModified;
    AppendModified(strModified, nSeconds);
    return strModified;
}

namespace {
const char* EntityOf(char c) {
    switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '"':
            return "&quot;";
        case '\'':
            return "&#39;";
        default:
            return nullptr;
    }
}

// Text as the window shows names: well-formed UTF-8 as it is, every byte of a
// control character, of a sequence that is not UTF-8 and every backslash as
// \xHH (so no name reads as another's escape), and HTML's specials as entities.
void AppendShownText(std::string& strPage, std::string_view bytes) {
    size_t nAt = 0;
    while (nAt < bytes.size()) {
        const size_t nLength = Utf8SequenceLength(bytes, nAt);
        if (nLength == 0 || bytes[nAt] == '\\' || IsControlSequence(bytes, nAt, nLength)) {
            const size_t nEscaped = std::max<size_t>(nLength, 1);
            for (size_t n = 0; n < nEscaped; ++n) {
                AppendByteEscape(strPage, static_cast<uint8_t>(bytes[nAt + n]));
            }
            nAt += nEscaped;
        } else if (const char* pszEntity = EntityOf(bytes[nAt])) {
            strPage += pszEntity;
            ++nAt;
        } else {
            strPage.append(bytes.substr(nAt, nLength));
            nAt += nLength;
        }
    }
}

bool IsUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// Every other byte percent-encoded, so the link reaches exactly this name and
// is safe inside a quoted attribute.
void AppendLinkTarget(std::string& strPage, std::string_view name) {
    for (const char c : name) {
        if (IsUnreserved(c)) {
            strPage += c;
        } else {
            const auto nByte = static_cast<uint8_t>(c);
            strPage += '%';
            strPage += kHexDigits[nByte >> 4];
            strPage += kHexDigits[nByte & 0xF];
        }
    }
}

// Wide screens get a table; narrow ones put size and date under the name.
// Rows leave out the end tags HTML lets them omit: a large folder's page is
// mostly row markup.
constexpr std::string_view kStyle =
    "body{font-family:sans-serif;margin:0 auto;max-width:60em;padding:0 .5em}"
    "h1{font-size:1.3em;overflow-wrap:anywhere}"
    "table{width:100%;border-collapse:collapse}"
    "tr{height:44px;border-bottom:1px solid #ddd}"
    "th,td{padding:.4em .5em;text-align:left}"
    "td:first-child{overflow-wrap:anywhere}"
    "td a{display:block;padding:.3em 0}"
    "td+td{white-space:nowrap;color:#555}"
    "td:nth-child(2){text-align:right}"
    "@media (max-width:600px){"
    "table,thead,tbody,tr,th,td{display:block}"
    "thead tr{display:flex;height:auto}"
    "tr{min-height:44px;height:auto;padding:.3em 0}"
    "td{padding:0 .5em}"
    "td+td{display:inline-block;font-size:.9em}"
    "td:nth-child(2){text-align:left}"
    "td:empty{display:none}}";

void AppendHeading(std::string& strPage, std::string_view label, std::string_view key,
                   SListingOrder::EColumn column, SListingOrder order) {
    const bool bCurrent = order.column == column;
    strPage += "<th><a href=\"?sort=";
    strPage += key;
    strPage += bCurrent && !order.bDescending ? "&amp;order=desc\">" : "&amp;order=asc\">";
    strPage += label;
    if (bCurrent) {
        strPage += order.bDescending ? " \xE2\x96\xBC" : " \xE2\x96\xB2";  // ▼ ▲
    }
    strPage += "</a></th>";
}

// "//" or "/./" name the root as "/" does: a parent link there would lead above it.
bool NamesTheRoot(std::string_view requestPath) {
    for (size_t nAt = 0; nAt < requestPath.size();) {
        const size_t nEnd = std::min(requestPath.find('/', nAt), requestPath.size());
        const std::string_view segment = requestPath.substr(nAt, nEnd - nAt);
        if (!segment.empty() && segment != ".") {
            return false;
        }
        nAt = nEnd + 1;
    }
    return true;
}

void AppendPageHead(std::string& strPage, std::string_view requestPath, SListingOrder order) {
    using EColumn = SListingOrder::EColumn;
    strPage +=
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    AppendShownText(strPage, requestPath);
    strPage += "</title>\n<style>";
    strPage += kStyle;
    strPage += "</style></head>\n<body><h1>";
    AppendShownText(strPage, requestPath);
    strPage += "</h1>\n<table><thead><tr>";
    AppendHeading(strPage, "Name", "name", EColumn::Name, order);
    AppendHeading(strPage, "Size", "size", EColumn::Size, order);
    AppendHeading(strPage, "Modified", "date", EColumn::Modified, order);
    strPage += "</tr></thead>\n<tbody>\n";
    if (!NamesTheRoot(requestPath)) {
        strPage += "<tr><td><a href=\"../\">../</a></td></tr>\n";
    }
}

void AppendEntry(std::string& strPage, const SFolderEntry& entry) {
    strPage += "<tr><td><a href=\"";
    AppendLinkTarget(strPage, entry.strName);
    if (entry.bFolder) {
        strPage += '/';
    }
    strPage += "\">";
    AppendShownText(strPage, entry.strName);
    if (entry.bFolder) {
        strPage += '/';
    }
    strPage += "</a><td>";
    if (!entry.bFolder) {
        AppendSize(strPage, entry.nSize);
    }
    strPage += "<td>";
    AppendModified(strPage, entry.nModified);
    strPage += '\n';
}
}  // namespace

std::string BuildFolderListing(std::string_view requestPath, std::vector<SFolderEntry> entries,
                               SListingOrder order) {
    SortEntries(entries, order);
    // Markup and columns of a row, its name twice; most names need no escapes.
    size_t nReserve = 1024 + kStyle.size() + 4 * requestPath.size();
    for (const SFolderEntry& entry : entries) {
        nReserve += 60 + 2 * entry.strName.size();
    }
    std::string strPage;
    strPage.reserve(nReserve);
    AppendPageHead(strPage, requestPath, order);
    for (const SFolderEntry& entry : entries) {
        AppendEntry(strPage, entry);
    }
    strPage += "</tbody></table></body></html>\n";
    return strPage;
}
