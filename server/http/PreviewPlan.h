// The answers of a previewed website: pages that carry the reload script, the
// site's own 404.html, front pages and links without ".html".
#pragma once

#include "AnswerPlan.h"

// A page answered to a navigation: the file with the reload script, read
// whole, with status 200 or, for the site's 404 page, 404.
SAnswerPlan PlanScriptedPage(const SParsedRequest& request, const SFound& page, int nStatus,
                             CRootLookup& lookup);
// The page is HTML a browser asked for to show, and may carry the script.
bool CarriesReloadScript(const SParsedRequest& request, const SFound& page, CRootLookup& lookup);
// What would get the fixed error page: with the preview, the site's 404.html.
SAnswerPlan PlanMissing(const SParsedRequest& request, const SServeOptions& options,
                        CRootLookup& lookup);
// A folder's front page, or the page a name without its ending names.
SFound LookPreviewPage(const SParsedRequest& request, const STarget& target, CRootLookup& lookup);
