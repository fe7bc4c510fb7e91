// An upload under way on a connection: the request it came with, what was
// decided of it before its body, and the receiver its body goes to.
#pragma once

#include <memory>

#include "RequestLine.h"
#include "UploadPlan.h"
#include "UploadReceiver.h"

struct SUpload {
    SParsedRequest request{};
    SUploadPlan plan{};
    std::unique_ptr<CUploadReceiver> pReceiver{};
};
