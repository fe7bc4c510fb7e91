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
// Why an upload is refused before its body is read; each has its status and text.
enum class EUploadRefusal {
    NotFromHere,   // 403: another site's page sent it
    NoLength,      // 411: no Content-Length (or a chunked body)
    BadLength,     // 400
    NotHere,       // 403: no folder that may take files
    FolderOnly,    // 403: a form sent elsewhere than a folder's address
    NotAForm,      // 400: a POST that is no multipart/form-data
    PutNeedsName,  // 400: a PUT to an address ending in '/'
    Exists,        // 409
    TooLarge,      // 413: larger than the whole file system
    NoRoom,        // 507
    HeadNotWhole,  // 400: the head arrived unfinished
};
// The refusal with its short page.
SAnswerPlan PlanUploadRefusal(const SParsedRequest& request, EUploadRefusal why);
// The answer once the body has been read: 201, 303 or the page of what was
// refused.
SAnswerPlan PlanUploadAnswer(const SParsedRequest& request, const SUploadPlan& plan,
                             const SUploadOutcome& outcome);
