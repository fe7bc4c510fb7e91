#include "PreviewPlan.h"

#include "ContentType.h"
#include "HttpDate.h"
#include "ReloadScript.h"

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
