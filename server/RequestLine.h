// Reading a request's first line: bytes in, the decision of what was asked for
// out. No sockets and no files here, so every rule can be tested on its own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct SParsedRequest {
    bool bVersioned = false;        // the line ends in "HTTP/d.d": the answer gets a status line
    bool bHead = false;             // HEAD: status line and headers only
    bool bRefused = true;           // answer with the error page
    bool bDefaultAppended = false;  // the target named a folder (trailing separator)
    std::string strPath;            // decoded, '/'-separated, relative to the root
    std::string strRawPath;         // the target as received, without query and fragment
    std::string strQuery;           // "?..." as received, or empty
};

// nBufferSize: the size of the buffer the request was read into; a line that
// filled it without ending is refused.
SParsedRequest ParseRequest(std::string_view request, size_t nBufferSize,
                            std::string_view defaultURL);

// "%XX" escapes decoded; a "%" without two hex digits stays as it is. False when
// a zero byte was decoded (no file name holds one).
bool DecodePercentEscapes(std::string_view text, std::string& strDecoded);

// True for the request guards: parent folders, the program's own name, hidden names.
bool IsForbiddenPath(std::string_view lowerPath);
