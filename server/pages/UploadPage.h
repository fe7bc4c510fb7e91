// The page that answers an upload: what was stored, what was refused and why.
#pragma once

#include <string>
#include <utility>
#include <vector>

// What became of the files of one upload, for its answer's page.
struct SUploadReport {
    std::vector<std::string> stored;                           // names as stored (bytes)
    std::vector<std::pair<std::string, std::string>> refused;  // name as sent (bytes), why (plain ASCII text)
    std::string strWhy;  // the headline: why the upload was refused, or empty when all went well
};
// A short text/html; charset=utf-8 page: the headline, then "Stored:" and
// "Refused:" lists; every byte of a name escaped as in the listing; fits a
// 360 px screen; links back to "./" (the folder).
std::string BuildUploadPage(const SUploadReport& report);
