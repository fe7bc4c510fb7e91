// What to answer, and the bytes of the status line and headers.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "RequestLine.h"

// The fixed error page: 94 bytes, beginning with a line feed.
extern const std::string_view kErrorPage;

enum class EAnswer { ErrorPage, Redirect, File };

struct SResponsePlan {
    EAnswer answer = EAnswer::ErrorPage;
    std::string strFile;      // File: the name to open
    std::string strLocation;  // Redirect: where the folder's page is
};

// A file that is never served, whatever it is called (the running program).
struct SFileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool Matches(const struct stat& status) const {
        return inode != 0 && status.st_dev == device && status.st_ino == inode;
    }
};

// Decides the answer by looking at the file system (stat and folder scans
// only; nothing is opened, so a FIFO or device never blocks).
SResponsePlan PlanResponse(const SParsedRequest& request, const std::string& strRoot,
                           const SFileIdentity& ownProgram);

// Content type by the name's extension, compared without regard to case.
const char* ContentTypeFor(std::string_view fileName);

std::string StatusHeader(int nStatus, std::string_view contentType, uint64_t nContentLength);
std::string RedirectHeader(std::string_view location);
