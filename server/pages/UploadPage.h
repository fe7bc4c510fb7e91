// The page that answers an upload: why it was refused, what was stored and
// what was refused. Names are bytes that may hold anything, so every byte of
// a name is escaped as the listing escapes it.
#pragma once

#include <string>
#include <utility>
#include <vector>

// What became of the files of one upload, for its answer's page.
struct SUploadReport {
    std::vector<std::string> stored{};  // names as stored (bytes)
    // name as sent (bytes), why (plain ASCII text)
    std::vector<std::pair<std::string, std::string>> refused{};
    // the headline: why the upload was refused, or empty when all went well
    std::string strWhy{};
};
// A short text/html; charset=utf-8 page: the headline, then "Stored:" and
// "Refused:" lists; every byte of a name escaped as in the listing; fits a
// 360 px screen; links back to "./" (the folder).
std::string BuildUploadPage(const SUploadReport& report);
