#include "UploadPlan.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <cstring>

#include "AsciiCase.h"
#include "MultipartReader.h"
#include "PathResolver.h"
#include "PrivateLink.h"
#include "UploadName.h"
#include "UploadPage.h"

namespace {
constexpr std::string_view kSomeRefused = "Some files were not stored.";
constexpr std::string_view kBadForm = "The form could not be read.";
constexpr const char* kReportPolicy = "default-src 'none'; style-src 'unsafe-inline'";

struct SRefusal {
    EUploadRefusal why;
    int nStatus;
    std::string_view text;
};
constexpr SRefusal kRefusals[] = {
    {EUploadRefusal::NotFromHere, 403, "Files can only be added from this server's own pages."},
    {EUploadRefusal::NoLength, 411, "The upload did not say its length."},
    {EUploadRefusal::BadLength, 400, "The upload's length could not be read."},
    {EUploadRefusal::NotHere, 403, "Files cannot be added here."},
    {EUploadRefusal::FolderOnly, 403, "Files are added to a folder: its address ends in /."},
    {EUploadRefusal::NotAForm, 400, "The upload was not a form of files (multipart/form-data)."},
    {EUploadRefusal::PutNeedsName, 400, "A PUT names its file: its address cannot end in /."},
    {EUploadRefusal::Exists, 409, "A file of this name exists already: nothing was changed."},
    {EUploadRefusal::TooLarge, 413, "The file is larger than the whole disk of the server."},
    {EUploadRefusal::NoRoom, 507, "There is not enough room left on the server's disk."},
    {EUploadRefusal::HeadNotWhole, 400, "The request's head did not arrive whole."},
};

const SRefusal& RefusalOf(EUploadRefusal why) {
    return *std::find_if(std::begin(kRefusals), std::end(kRefusals),
                         [why](const SRefusal& refusal) { return refusal.why == why; });
}

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
        return PlanUploadRefusal(request, EUploadRefusal::NoLength);
    }
    const std::optional<uint64_t> nLength = DeclaredLength(*headers.strContentLength);
    if (!nLength) {
        return PlanUploadRefusal(request, EUploadRefusal::BadLength);
    }
    plan.nLength = *nLength;
    if (plan.bForm) {
        std::optional<std::string> boundary =
            headers.strContentType ? MultipartBoundary(*headers.strContentType) : std::nullopt;
        if (!boundary) {
            return PlanUploadRefusal(request, EUploadRefusal::NotAForm);
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
        return PlanUploadRefusal(request, plan.bForm ? EUploadRefusal::FolderOnly
                                                     : EUploadRefusal::PutNeedsName);
    }
    const size_t nNameAt = admitted.strPath.rfind('/') + 1;
    const std::string strFolderPath = admitted.strPath.substr(0, nNameAt);
    if (!plan.bForm) {
        plan.strName = admitted.strPath.substr(nNameAt);
        const ENameVerdict verdict = JudgeUploadName(plan.strName);
        if (verdict != ENameVerdict::Kept) {
            SUploadReport report;
            report.strWhy = std::string("The name was refused: ") + NameVerdictText(verdict) + ".";
            return PlanReport(request, 400, report);
        }
    }
    const SFound folder = MayLookUp(strFolderPath) ? lookup.Look(strFolderPath) : SFound{};
    if (folder.kind != SFound::EKind::Folder) {
        return PlanUploadRefusal(request, EUploadRefusal::NotHere);
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
        plan.refusal = PlanUploadRefusal(request, EUploadRefusal::NotHere);
        return plan;
    }
    if (ComesFromElsewhere(request.headers)) {
        plan.refusal = PlanUploadRefusal(request, EUploadRefusal::NotFromHere);
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

SAnswerPlan PlanUploadRefusal(const SParsedRequest& request, EUploadRefusal why) {
    const SRefusal& refusal = RefusalOf(why);
    SUploadReport report;
    report.strWhy = refusal.text;
    return PlanReport(request, refusal.nStatus, report);
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
            report.strWhy = RefusalOf(EUploadRefusal::Exists).text;
            return PlanReport(request, 409, report);
        case EEnd::NoRoom:
            report.strWhy = RefusalOf(EUploadRefusal::NoRoom).text;
            return PlanReport(request, 507, report);
        case EEnd::BadForm:
            report.strWhy = kBadForm;
            return PlanReport(request, 400, report);
        case EEnd::Failed:
            const int nError = outcome.nError;
            const bool bRefused = IsRefusedByFolder(nError);
            report.strWhy = bRefused ? std::string(RefusalOf(EUploadRefusal::NotHere).text)
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
