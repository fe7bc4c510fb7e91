#include "UploadPlan.h"

#include <charconv>
#include <cstring>

#include "AsciiCase.h"
#include "MultipartReader.h"
#include "PathResolver.h"
#include "PrivateLink.h"
#include "UploadName.h"
#include "UploadPage.h"

namespace {
constexpr std::string_view kNotFromHere = "Files can only be added from this server's own pages.";
constexpr std::string_view kNoLength = "The upload did not say its length.";
constexpr std::string_view kBadLength = "The upload's length could not be read.";
constexpr std::string_view kNotHere = "Files cannot be added here.";
constexpr std::string_view kFolderOnly = "Files are added to a folder: its address ends in /.";
constexpr std::string_view kNotAForm = "The upload was not a form of files (multipart/form-data).";
constexpr std::string_view kPutNeedsName = "A PUT names its file: its address cannot end in /.";
constexpr std::string_view kExists = "A file of this name exists already: nothing was changed.";
constexpr std::string_view kSomeRefused = "Some files were not stored.";
constexpr std::string_view kBadForm = "The form could not be read.";
constexpr const char* kReportPolicy = "default-src 'none'; style-src 'unsafe-inline'";
constexpr std::string_view kNoRoom = "There is not enough room left on the server's disk.";

// A page of its own (another site's form, a script elsewhere) may not add files:
// browsers say where a POST or PUT came from, other clients say nothing.
bool ComesFromElsewhere(const SRequestHeaders& headers) {
    if (!headers.strOrigin) {
        return false;
    }
    return !headers.strHost || !EqualFolded(*headers.strOrigin, "http://" + *headers.strHost);
}

// Content-Length as digits alone; a repeated field must repeat the same value.
std::optional<uint64_t> DeclaredLength(std::string_view value) {
    uint64_t nLength = 0;
    const auto [pEnd, error] = std::from_chars(value.data(), value.data() + value.size(), nLength);
    if (value.empty() || error != std::errc() || pEnd != value.data() + value.size()) {
        return std::nullopt;
    }
    return nLength;
}

SAnswerPlan PlanReport(const SParsedRequest& request, int nStatus, const SUploadReport& report) {
    std::string strPage = BuildUploadPage(report);
    SAnswerPlan plan{.head = {.nStatus = nStatus,
                              .bHttp11 = request.bHttp11,
                              .strContentType = "text/html; charset=utf-8",
                              .nContentLength = strPage.size(),
                              // It names what visitors sent: nothing in it may run.
                              .strContentSecurityPolicy = kReportPolicy},
                     .phase = ESendPhase::Memory};
    if (!request.bHead) {
        plan.body = EBody::Memory;
        plan.strBody = std::move(strPage);
    }
    return plan;
}

// What the head says of the body: its length, and for a form its boundary.
std::optional<SAnswerPlan> JudgeBody(const SParsedRequest& request, SUploadPlan& plan) {
    const SRequestHeaders& headers = request.headers;
    if (headers.strTransferEncoding || !headers.strContentLength) {
        return PlanUploadRefusal(request, 411, kNoLength);
    }
    const std::optional<uint64_t> nLength = DeclaredLength(*headers.strContentLength);
    if (!nLength) {
        return PlanUploadRefusal(request, 400, kBadLength);
    }
    plan.nLength = *nLength;
    if (plan.bForm) {
        std::optional<std::string> boundary =
            headers.strContentType ? MultipartBoundary(*headers.strContentType) : std::nullopt;
        if (!boundary) {
            return PlanUploadRefusal(request, 400, kNotAForm);
        }
        plan.strBoundary = std::move(*boundary);
    }
    return std::nullopt;
}

// The folder the files go to, and a PUT's name: the path's last segment.
std::optional<SAnswerPlan> JudgePlace(const SParsedRequest& admitted, const SParsedRequest& request,
                                      CRootLookup& lookup, SUploadPlan& plan) {
    const bool bFolderAddress = admitted.strPath.ends_with('/');
    if (plan.bForm != bFolderAddress) {
        return PlanUploadRefusal(request, plan.bForm ? 403 : 400,
                                 plan.bForm ? kFolderOnly : kPutNeedsName);
    }
    const size_t nNameAt = admitted.strPath.rfind('/') + 1;
    const std::string strFolderPath = admitted.strPath.substr(0, nNameAt);
    if (!plan.bForm) {
        plan.strName = admitted.strPath.substr(nNameAt);
        const ENameVerdict verdict = JudgeUploadName(plan.strName);
        if (verdict != ENameVerdict::Kept) {
            return PlanUploadRefusal(request, 400,
                                     std::string("The name was refused: ") +
                                         NameVerdictText(verdict) + ".");
        }
    }
    const SFound folder = MayLookUp(strFolderPath) ? lookup.Look(strFolderPath) : SFound{};
    if (folder.kind != SFound::EKind::Folder) {
        return PlanUploadRefusal(request, 403, kNotHere);
    }
    plan.strFolder = folder.strName;
    return std::nullopt;
}
}  // namespace

bool IsUploadRequest(const SParsedRequest& request, const SServeOptions& options) {
    return options.bUpload && request.bVersioned &&
           (request.strMethod == "POST" || request.strMethod == "PUT");
}

SUploadPlan PlanUpload(const SParsedRequest& request, const SServeOptions& options,
                       CRootLookup& lookup) {
    SUploadPlan plan{.bForm = request.strMethod == "POST"};
    std::optional<SAdmitted> admitted;
    if (options.bPrivate) {
        admitted = AdmitPrivate(request, options.privateKey);
        if (!admitted) {
            plan.refusal = PlanErrorPage(request);  // outside the secret: as for every request
            return plan;
        }
    }
    const SParsedRequest& inside = admitted ? admitted->request : request;
    if (inside.bRefused) {
        plan.refusal = PlanUploadRefusal(request, 403, kNotHere);
        return plan;
    }
    if (ComesFromElsewhere(request.headers)) {
        plan.refusal = PlanUploadRefusal(request, 403, kNotFromHere);
        return plan;
    }
    plan.refusal = JudgeBody(request, plan);
    if (!plan.refusal) {
        plan.refusal = JudgePlace(inside, request, lookup, plan);
    }
    if (plan.refusal) {
        return plan;
    }
    plan.bContinue = request.bHttp11 && request.headers.strExpect &&
                     EqualFolded(*request.headers.strExpect, "100-continue");
    plan.strLocation = LocationOf(request.strRawPath, plan.bForm ? request.strQuery : "");
    return plan;
}

SAnswerPlan PlanUploadRefusal(const SParsedRequest& request, int nStatus, std::string_view why) {
    SUploadReport report;
    report.strWhy = why;
    return PlanReport(request, nStatus, report);
}

SAnswerPlan PlanUploadAnswer(const SParsedRequest& request, const SUploadPlan& plan,
                             const SUploadOutcome& outcome) {
    SUploadReport report;
    report.stored = outcome.stored;
    report.refused = outcome.refused;
    using EEnd = SUploadOutcome::EEnd;
    switch (outcome.end) {
        case EEnd::Stored:
            break;
        case EEnd::Refused:
            report.strWhy = kSomeRefused;
            return PlanReport(request, 400, report);
        case EEnd::Exists:
            report.strWhy = kExists;
            return PlanReport(request, 409, report);
        case EEnd::NoRoom:
            report.strWhy = kNoRoom;
            return PlanReport(request, 507, report);
        case EEnd::BadForm:
            report.strWhy = kBadForm;
            return PlanReport(request, 400, report);
        case EEnd::Failed:
            const int nError = outcome.nError;
            const bool bRefused = nError == EACCES || nError == EPERM || nError == EROFS;
            report.strWhy = bRefused ? std::string(kNotHere)
                                     : "The file could not be stored: " +
                                           std::string(std::strerror(nError)) + ".";
            return PlanReport(request, bRefused ? 403 : 500, report);
    }
    if (plan.bForm) {
        // The browser goes back to the listing, where the new names show.
        return {.head = {.nStatus = 303,
                         .bHttp11 = request.bHttp11,
                         .nContentLength = 0,
                         .strLocation = plan.strLocation}};
    }
    SAnswerPlan answer = PlanReport(request, 201, report);
    answer.head.strLocation = plan.strLocation;
    return answer;
}
