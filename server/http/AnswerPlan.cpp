#include "AnswerPlan.h"

#include <algorithm>

#include "ByteRange.h"
#include "ContentType.h"
#include "HttpDate.h"
#include "PathResolver.h"
#include "EntryOrder.h"
#include "ErrorPage.h"
#include "ListingPage.h"
#include "PercentEncoding.h"
#include "PreviewPlan.h"
#include "PrivateLink.h"
#include "RandomText.h"
#include "Utf8.h"

namespace {
constexpr std::string_view kBusyText = "Busy with other visitors: please try again in a few seconds.\n";
// 130 bits, as many as a private link's secret.
constexpr size_t kScriptNonceLength = 26;
// The Location keeps the target as received, but a control byte or blank in a
// header line would let a request write headers of its own.
std::string EscapeForHeader(std::string_view text) {
    std::string strEscaped;
    AppendPercentEncoded(strEscaped, text, [](unsigned char c) { return c > 0x20 && c != 0x7f; });
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
                     .strLocation = LocationOf(request.strRawPath + "/", request.strQuery)}};
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
// A page a visitor may have added shows, but runs no script on this server's
// address. On a 304 too: it renews the headers of the copy a browser keeps.
// The preview runs a site as the site needs.
std::string FilePolicy(const SFound& file, const SServeOptions& options) {
    const bool bSandboxed =
        options.bUpload && !options.bPreview && MayRunScript(ContentTypeFor(file.strName));
    return bSandboxed ? "sandbox" : "";
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
    std::optional<SAddFiles> addFiles;
    // Fresh for every answer: a nonce read from one page is of no use on another.
    const std::string strNonce = options.bUpload ? RandomBase32(kScriptNonceLength) : "";
    if (options.bUpload) {
        addFiles = SAddFiles{.scriptNonce = strNonce};
        plan.head.strContentSecurityPolicy = AddFilesPagePolicy(*addFiles);
    }
    std::string strPage = BuildFolderListing(request.strPath, std::move(entries),
                                             ListingOrderOf(request.strQuery), addFiles);
    plan.head.nContentLength = strPage.size();
    if (!request.bHead) {
        plan.body = EBody::Memory;
        plan.strBody = std::move(strPage);
    }
    return plan;
}
}  // namespace

std::string LocationOf(std::string_view rawPath, std::string_view query) {
    return EscapeForHeader(OneLeadingSeparator(rawPath)) + EscapeForHeader(query);
}

std::string ContentTypeOf(const SFound& file) {
    std::string strType = ContentTypeFor(file.strName);
    if (IsCharsetLabelledType(strType) &&
        IsUtf8Text(file.start, file.facts.nSize > file.start.size())) {
        strType += "; charset=utf-8";
    }
    return strType;
}

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

namespace {
SAnswerPlan PlanOpenAnswer(const SParsedRequest& request, const SServeOptions& options,
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
        SAnswerPlan plan = PlanFile(request, found);
        plan.head.strContentSecurityPolicy = FilePolicy(found, options);
        return plan;
    }
    if (target->bFolderRequest && options.bListFolders) {
        return PlanListing(request, options, lookup);
    }
    return PlanMissing(request, options, lookup);
}
}  // namespace

SAnswerPlan PlanBusy(const SParsedRequest& request) {
    if (!request.bVersioned) {
        return PlanErrorPage(request);  // no status line to say it with
    }
    return {.head = {.nStatus = 503,
                     .bHttp11 = request.bHttp11,
                     .strContentType = "text/plain; charset=utf-8",
                     .nContentLength = kBusyText.size(),
                     .strRetryAfter = "5"},
            .body = request.bHead ? EBody::None : EBody::Memory,
            .strBody = std::string(request.bHead ? std::string_view() : kBusyText)};
}

SAnswerPlan PlanAnswer(const SParsedRequest& request, const SServeOptions& options,
                       CRootLookup& lookup) {
    if (!options.bPrivate) {
        return PlanOpenAnswer(request, options, lookup);
    }
    // Outside the secret, whatever the path: the fixed page, never the site's
    // 404.html, and nothing that names the secret.
    const std::optional<SAdmitted> admitted = AdmitPrivate(request, options.privateKey);
    SAnswerPlan plan = admitted ? PlanOpenAnswer(admitted->request, options, lookup)
                                : PlanErrorPage(request);
    if (plan.bStatusLine) {
        // A link to another site does not carry the secret away, while the
        // page's own forms keep their Origin.
        plan.head.strReferrerPolicy = "same-origin";
        if (admitted && admitted->bNamedSecret) {
            plan.head.strSetCookie = PrivateCookieFor(options.privateKey);
        }
    }
    return plan;
}
