// The decision of an upload, before and after its body: whether the request
// may add a file here at all (the option, the place, the name, the length,
// the page it came from), and the answer once its files are stored. No
// sockets and no writing here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "AnswerPlan.h"
#include "UploadReceiver.h"

// With uploads on, POST and PUT add files; every other method is answered as before.
bool IsUploadRequest(const SParsedRequest& request, const SServeOptions& options);

struct SUploadPlan {
    std::optional<SAnswerPlan> refusal{};  // answered at once: nothing is written
    bool bForm = false;                    // POST of a form, else PUT of one file
    std::string strFolder{};               // the folder on disk
    std::string strName{};                 // a PUT's file name
    std::string strBoundary{};             // a form's
    uint64_t nLength = 0;                  // the body's
    bool bContinue = false;                // the client waits for "100 Continue"
    std::string strLocation{};             // of the stored file (PUT) or the listing (form)
};

// Judges everything the head says: nothing is written yet. The folder is
// found as a reading would find it, under every rule of reading.
SUploadPlan PlanUpload(const SParsedRequest& request, const SServeOptions& options,
                       CRootLookup& lookup);
// A refusal with its short page; nStatus one of 400, 403, 409, 411, 413, 507.
SAnswerPlan PlanUploadRefusal(const SParsedRequest& request, int nStatus, std::string_view why);
// The answer once the body has been read: 201, 303 or the page of what was
// refused.
SAnswerPlan PlanUploadAnswer(const SParsedRequest& request, const SUploadPlan& plan,
                             const SUploadOutcome& outcome);
