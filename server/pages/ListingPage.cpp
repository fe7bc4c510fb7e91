#include "ListingPage.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "PathSegments.h"
#include "PercentEncoding.h"
#include "ShownText.h"

namespace {
// Sizes and times are appended in place: a large folder's page is built for
// every request of it.
void AppendNumber(std::string& strOut, uint64_t nValue) {
    char digits[20];
    strOut.append(digits, std::to_chars(digits, digits + sizeof digits, nValue).ptr);
}

void AppendSize(std::string& strOut, uint64_t nBytes) {
    if (nBytes < 1024) {
        AppendNumber(strOut, nBytes);
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
            AppendNumber(strOut, nTenths / 10);
            const char tail[] = {'.', static_cast<char>('0' + nTenths % 10), ' ', kUnits[nIndex][0],
                                 kUnits[nIndex][1]};
            strOut.append(tail, sizeof tail);
            return;
        }
    }
}

char* PutTwoDigits(char* pOut, int nValue) {
    *pOut++ = static_cast<char>('0' + nValue / 10);
    *pOut++ = static_cast<char>('0' + nValue % 10);
    return pOut;
}

// Written out by hand: strftime's locale handling costs more than the rest of a row.
void AppendModified(std::string& strOut, time_t nSeconds) {
    struct tm local {};
    if (::localtime_r(&nSeconds, &local) == nullptr) {
        return;
    }
    char text[40];  // the year's digits and sign, then "-MM-DD HH:MM"
    char* pOut = std::to_chars(text, text + 20, 1900L + local.tm_year).ptr;
    *pOut++ = '-';
    pOut = PutTwoDigits(pOut, local.tm_mon + 1);
    *pOut++ = '-';
    pOut = PutTwoDigits(pOut, local.tm_mday);
    *pOut++ = ' ';
    pOut = PutTwoDigits(pOut, local.tm_hour);
    *pOut++ = ':';
    pOut = PutTwoDigits(pOut, local.tm_min);
    strOut.append(text, pOut);
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
// A table: it is asked of every byte of every name a listing links to.
constexpr std::array<bool, 256> kUnreservedBytes = [] {
    std::array<bool, 256> unreserved{};
    for (int c = 0; c < 256; ++c) {
        unreserved[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    }
    return unreserved;
}();

// Every other byte percent-encoded, so the link reaches exactly this name and
// is safe inside a quoted attribute.
void AppendLinkTarget(std::string& strPage, std::string_view name) {
    AppendPercentEncoded(strPage, name, [](unsigned char c) { return kUnreservedBytes[c]; });
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
    return ForEachSegment(requestPath, [](std::string_view segment) { return segment == "."; });
}

void AppendPageHead(std::string& strPage, std::string_view requestPath, SListingOrder order,
                    bool bAddFiles) {
    using EColumn = SListingOrder::EColumn;
    strPage +=
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    AppendShownText(strPage, requestPath, EShownIn::Page);
    strPage += "</title>\n<style>";
    strPage += kStyle;
    if (bAddFiles) {
        strPage += kAddFilesStyle;
    }
    strPage += "</style></head>\n<body><h1>";
    AppendShownText(strPage, requestPath, EShownIn::Page);
    strPage += "</h1>\n";
    // Above the rows, where a phone's thumb finds it however long the folder.
    if (bAddFiles) {
        AppendAddFilesForm(strPage);
    }
    strPage += "<table><thead><tr>";
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
    AppendShownText(strPage, entry.strName, EShownIn::Page);
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
                               SListingOrder order, const std::optional<SAddFiles>& addFiles) {
    SortEntries(entries, order);
    // Markup and columns of a row, its name twice; most names need no escapes.
    size_t nReserve = 1024 + kStyle.size() + 4 * requestPath.size();
    for (const SFolderEntry& entry : entries) {
        nReserve += 60 + 2 * entry.strName.size();
    }
    std::string strPage;
    strPage.reserve(nReserve);
    AppendPageHead(strPage, requestPath, order, addFiles.has_value());
    for (const SFolderEntry& entry : entries) {
        AppendEntry(strPage, entry);
    }
    strPage += "</tbody></table>";
    if (addFiles) {
        strPage += '\n';
        AppendAddFilesScript(strPage, *addFiles);
    }
    strPage += "</body></html>\n";
    return strPage;
}
