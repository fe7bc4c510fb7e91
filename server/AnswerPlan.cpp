#include "AnswerPlan.h"

#include <algorithm>

#include "AsciiCase.h"
#include "ByteRange.h"
#include "ContentType.h"
#include "HttpDate.h"
#include "PathResolver.h"
#include "ReloadScript.h"

namespace {
// A path the guards let through. They judge it lower-cased, so no spelling of
// a name slips by.
bool MayLookUp(std::string strPath) {
    LowerAscii(strPath);
    return !IsForbiddenPath(strPath);
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

// A folder named without its trailing slash: the browser is sent to the
// slashed name, so the default page and its relative links work.
SAnswerPlan PlanRedirect(const SParsedRequest& request) {
    return {.head = {.nStatus = 301,
                     .bHttp11 = request.bHttp11,
                     .nContentLength = 0,
                     .strLocation = EscapeForHeader(OneLeadingSeparator(request.strRawPath)) + "/" +
                                    EscapeForHeader(request.strQuery)}};
}

std::string ContentTypeOf(const SFound& file) {
    std::string strType = ContentTypeFor(file.strName);
    if (IsCharsetLabelledType(strType) &&
        IsUtf8Text(file.start, file.facts.nSize > file.start.size())) {
        strType += "; charset=utf-8";
    }
    return strType;
}

SAnswerPlan PlanFile(const SParsedRequest& request, const SFound& file) {
    const SFileAnswer answer = PlanFileAnswer(request.headers, file.facts);
    SAnswerPlan plan{.head = {.nStatus = answer.nStatus,
                              .bHttp11 = request.bHttp11,
                              .strLastModified = HttpDate(file.facts.nModifiedSeconds),
                              .strEntityTag = EntityTagFor(file.facts)}};
    const std::string strSize = std::to_string(file.facts.nSize);
    if (answer.nStatus == 416) {
        plan.head.nContentLength = 0;
        plan.head.strContentRange = "bytes */" + strSize;
        return plan;
    }
    if (answer.nStatus == 304) {
        return plan;
    }
    plan.head.strContentType = ContentTypeOf(file);
    plan.head.nContentLength = answer.nCount;
    plan.head.bAcceptRanges = true;
    if (answer.nStatus == 206) {
        plan.head.strContentRange = "bytes " + std::to_string(answer.nFirst) + "-" +
                                    std::to_string(answer.nFirst + answer.nCount - 1) + "/" +
                                    strSize;
        // A media player that has buffered enough stops reading, and asks
        // again where it stopped: its stall is cut short.
        plan.phase = ESendPhase::Range;
    }
    if (!request.bHead && answer.nCount > 0) {
        plan.body = EBody::File;
        plan.nFirst = answer.nFirst;
        plan.nCount = answer.nCount;
    }
    return plan;
}
// ---- Previewing a website ---------------------------------------------------

// A page answered to a navigation: the file with the reload script, read
// whole. A 200 page's validator is marked as the scripted page's own; the
// site's 404 page has none. HEAD gets the length GET would send.
SAnswerPlan PlanScriptedPage(const SParsedRequest& request, const SFound& page, int nStatus,
                             CRootLookup& lookup) {
    const std::string strFileTag = EntityTagFor(page.facts);
    const bool bMissingPage = nStatus == 404;
    SAnswerPlan plan{.head = {.nStatus = nStatus, .bHttp11 = request.bHttp11},
                     .phase = ESendPhase::Memory};
    if (!bMissingPage) {
        plan.head.strLastModified = HttpDate(page.facts.nModifiedSeconds);
        plan.head.strEntityTag = ScriptedEntityTag(strFileTag);
        // Only its own tag: a date alone would also match a copy kept without the script.
        if (request.headers.strIfNoneMatch &&
            EntityTagListMatches(*request.headers.strIfNoneMatch, plan.head.strEntityTag)) {
            plan.head.nStatus = 304;
            return plan;
        }
    }
    const std::string strScript =
        ReloadScriptFor({.entityTag = strFileTag, .bMissingPage = bMissingPage});
    plan.head.strContentType = ContentTypeOf(page);
    if (request.bHead) {
        plan.head.nContentLength = page.facts.nSize + strScript.size();
        return plan;
    }
    std::string strPage;
    if (!lookup.ReadWhole(page.facts.nSize, strPage)) {
        return PlanErrorPage(request);
    }
    strPage.insert(ReloadScriptPlace(strPage), strScript);
    plan.head.nContentLength = strPage.size();
    plan.body = EBody::Memory;
    plan.strBody = std::move(strPage);
    return plan;
}

// A page's start is read only for this: HTML needs no charset label.
bool CarriesReloadScript(const SParsedRequest& request, const SFound& page, CRootLookup& lookup) {
    return IsNavigation(request.headers) &&
           MayCarryReloadScript(ContentTypeFor(page.strName), page.facts.nSize,
                                lookup.ReadStart(2));
}

// What would get the fixed error page gets the site's own 404.html instead,
// sent whole and without validators: never a 304, never a range.
SAnswerPlan PlanMissing(const SParsedRequest& request, const SServeOptions& options,
                        CRootLookup& lookup) {
    if (!options.bPreview || !request.bVersioned) {
        return PlanErrorPage(request);
    }
    const SFound page = lookup.Look("/404.html");
    if (page.kind != SFound::EKind::File) {
        return PlanErrorPage(request);
    }
    if (CarriesReloadScript(request, page, lookup)) {
        return PlanScriptedPage(request, page, 404, lookup);
    }
    SAnswerPlan plan{.head = {.nStatus = 404,
                              .bHttp11 = request.bHttp11,
                              .strContentType = ContentTypeOf(page),
                              .nContentLength = page.facts.nSize}};
    if (!request.bHead && page.facts.nSize > 0) {
        plan.body = EBody::File;
        plan.nCount = page.facts.nSize;
    }
    return plan;
}

// A folder whose default page is missing: its front page. A name that names
// nothing: the page it names without its ending. Each is judged by the guards
// as if it had been asked for by its full name.
SFound LookPreviewPage(const SParsedRequest& request, const STarget& target, CRootLookup& lookup) {
    static constexpr std::string_view kFrontPages[] = {"index.html", "index.htm"};
    static constexpr std::string_view kPageEndings[] = {".html", ".htm"};
    for (size_t i = 0; i < std::size(kFrontPages); ++i) {
        std::string strPath = target.bFolderRequest ? request.strPath : target.strPath;
        strPath += target.bFolderRequest ? kFrontPages[i] : kPageEndings[i];
        if (!MayLookUp(strPath)) {
            continue;
        }
        SFound found = lookup.Look(strPath);
        if (found.kind == SFound::EKind::File) {
            return found;
        }
    }
    return {};
}

// A folder request whose default page is not a file that would be served,
// with listings on: the folder's entries, or the 404 when it cannot be read.
SAnswerPlan PlanListing(const SParsedRequest& request, const SServeOptions& options,
                        CRootLookup& lookup) {
    const SFound folder = lookup.Look(request.strPath);
    std::vector<SFolderEntry> entries;
    if (folder.kind != SFound::EKind::Folder ||
        !lookup.ReadFolder(folder, request.strPath, entries)) {
        return PlanMissing(request, options, lookup);
    }
    SAnswerPlan plan{.head = {.nStatus = 200,
                              .bHttp11 = request.bHttp11,
                              .strContentType = "text/html; charset=utf-8"},
                     .phase = ESendPhase::Memory};
    std::string strPage =
        BuildFolderListing(request.strPath, std::move(entries), ListingOrderOf(request.strQuery));
    plan.head.nContentLength = strPage.size();
    if (!request.bHead) {
        plan.body = EBody::Memory;
        plan.strBody = std::move(strPage);
    }
    return plan;
}
}  // namespace

std::optional<STarget> TargetOf(const SParsedRequest& request, std::string_view defaultPage) {
    if (request.bRefused) {
        return std::nullopt;
    }
    STarget target{.strPath = request.strPath};
    if (!target.strPath.empty() && target.strPath.back() == '/') {
        std::string strDefault(defaultPage);
        std::replace(strDefault.begin(), strDefault.end(), '\\', '/');
        target.strPath += strDefault;
        target.bFolderRequest = true;
    }
    // The default page included.
    if (!MayLookUp(target.strPath)) {
        return std::nullopt;
    }
    return target;
}

SFileAnswer PlanFileAnswer(const SRequestHeaders& headers, const SFileFacts& facts) {
    const SFileAnswer whole{200, 0, facts.nSize};
    if (IsNotModified(headers, facts)) {
        return {304, 0, 0};
    }
    if (!headers.strRange || !IfRangeHolds(headers, facts)) {
        return whole;
    }
    SByteRange range = EvaluateRange(*headers.strRange, facts.nSize);
    switch (range.kind) {
        case SByteRange::EKind::None:
            return whole;
        case SByteRange::EKind::Unsatisfiable:
            return {416, 0, 0};
        case SByteRange::EKind::Satisfiable:
            return {206, range.nFirst, range.nLast - range.nFirst + 1};
    }
    return whole;
}

SAnswerPlan PlanErrorPage(const SParsedRequest& request) {
    if (!request.bVersioned) {
        return {.bStatusLine = false, .body = EBody::ErrorPage};
    }
    return {.head = {.nStatus = 404,
                     .bHttp11 = request.bHttp11,
                     .strContentType = "text/html",
                     .nContentLength = kErrorPage.size()},
            .body = request.bHead ? EBody::None : EBody::ErrorPage};
}

SAnswerPlan PlanAnswer(const SParsedRequest& request, const SServeOptions& options,
                       CRootLookup& lookup) {
    const std::optional<STarget> target = TargetOf(request, options.defaultPage);
    if (!target || !request.bVersioned) {
        return PlanMissing(request, options, lookup);
    }
    SFound found = lookup.Look(target->strPath);
    if (found.kind == SFound::EKind::Folder && !target->bFolderRequest) {
        return PlanRedirect(request);
    }
    if (found.kind != SFound::EKind::File && options.bPreview) {
        found = LookPreviewPage(request, *target, lookup);
    }
    if (found.kind == SFound::EKind::File) {
        // A range is of the file's own bytes: it never carries the script.
        if (options.bPreview && !request.headers.strRange &&
            CarriesReloadScript(request, found, lookup)) {
            return PlanScriptedPage(request, found, 200, lookup);
        }
        return PlanFile(request, found);
    }
    if (target->bFolderRequest && options.bListFolders) {
        return PlanListing(request, options, lookup);
    }
    return PlanMissing(request, options, lookup);
}
