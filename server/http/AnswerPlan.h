// The one decision of a request: from the parsed request, the default page and
// what the file system says under the root, the whole answer: its status,
// headers and body. The sender carries it out and decides nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "RequestLine.h"
#include "ResponseHead.h"
#include "RootLookup.h"
#include "Validators.h"

// The Content-Type of a found file, with its charset label when its bytes decide one.
std::string ContentTypeOf(const SFound& file);

enum class EBody {
    None,       // the head alone (HEAD, 301, 304, 416)
    ErrorPage,  // the fixed page
    File,       // nCount bytes of the looked-up file from nFirst
    Memory,     // strBody
};

// Which bounds the answer's send waits under.
enum class ESendPhase { WholeFile, Range, Memory };

struct SAnswerPlan {
    bool bStatusLine = true;  // false: the bare body of a request without a version word
    SResponseHead head{};
    EBody body = EBody::None;
    uint64_t nFirst = 0;
    uint64_t nCount = 0;
    std::string strBody{};
    ESendPhase phase = ESendPhase::WholeFile;
};

// The path to look up: the request's, with the default page joined to a folder
// request (one ending in '/'); nothing when the guards refuse it.
struct STarget {
    std::string strPath;
    bool bFolderRequest = false;  // the default page was joined
};
std::optional<STarget> TargetOf(const SParsedRequest& request, std::string_view defaultPage);

// A Location header's value for a path and query as received: control bytes
// and blanks escaped, one leading separator.
std::string LocationOf(std::string_view rawPath, std::string_view query);

// A file's answer by its validators and the Range: whole, a byte range, not
// modified, or range not satisfiable.
struct SFileAnswer {
    int nStatus = 200;    // 200, 206, 304 or 416
    uint64_t nFirst = 0;  // first byte of the body
    uint64_t nCount = 0;  // body bytes (before HEAD drops them)
};
SFileAnswer PlanFileAnswer(const SRequestHeaders& headers, const SFileFacts& facts);

// The error page: a 404 with the page, or the bare page without a version word.
SAnswerPlan PlanErrorPage(const SParsedRequest& request);
// Too much is held for other visitors: 503, to be asked again in a few seconds.
SAnswerPlan PlanBusy(const SParsedRequest& request);

// The person's choices that shape answers.
struct SServeOptions {
    std::string_view defaultPage;
    bool bListFolders = false;  // a folder without its default page gets a listing
    bool bPreview = false;      // reload script, front pages, 404.html, links without .html
    // Only requests that name the secret (or carry its cookie) are let in;
    // without a key, none.
    bool bPrivate = false;
    std::string_view privateKey{};
    // Visitors may add files to the shared folders (POST of a form, PUT).
    bool bUpload = false;
};

SAnswerPlan PlanAnswer(const SParsedRequest& request, const SServeOptions& options,
                       CRootLookup& lookup);
