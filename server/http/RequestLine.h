// Reading a request's first line: bytes in, the decision of what was asked for
// out. No sockets and no files here, so every rule can be tested on its own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "PercentEncoding.h"

// The request headers an answer depends on: trimmed values, absent when not
// sent; a field sent on several lines is joined with ", ".
struct SRequestHeaders {
    std::optional<std::string> strRange{};
    std::optional<std::string> strIfRange{};
    std::optional<std::string> strIfNoneMatch{};
    std::optional<std::string> strIfModifiedSince{};
    std::optional<std::string> strAccept{};        // whether a page is asked for to be shown
    std::optional<std::string> strSecFetchDest{};
    std::optional<std::string> strCookie{};  // several Cookie lines joined with "; "
    // What an upload is judged by.
    std::optional<std::string> strContentLength{};
    std::optional<std::string> strContentType{};
    std::optional<std::string> strTransferEncoding{};
    std::optional<std::string> strOrigin{};
    std::optional<std::string> strHost{};
    std::optional<std::string> strExpect{};
    bool bAnnouncesBody = false;  // Content-Length (not 0) or Transfer-Encoding
};

struct SParsedRequest {
    bool bVersioned = false;    // the line ends in "HTTP/d.d": the answer gets a status line
    bool bHttp11 = false;       // version 1.1 or later: answered with an HTTP/1.1 status line
    bool bHead = false;         // HEAD: status line and headers only
    std::string strMethod{};    // the method word as sent (only uploads look at it)
    bool bExpectsBody = true;   // not a GET or HEAD, or a body is announced
    bool bRefused = true;       // names no path: the error page
    std::string strPath{};      // decoded, '/'-separated, relative to the root, case kept
    std::string strRawPath{};   // the target as received, without query and fragment
    std::string strQuery{};     // "?..." as received, or empty
    SRequestHeaders headers{};  // of a versioned request; complete lines only
};

// A browser asking for a page to show: Sec-Fetch-Dest decides when present;
// without it (browsers send none to a plain-http LAN address), an Accept that
// names text/html. A page's own script fetching with "*/*" is no navigation.
bool IsNavigation(const SRequestHeaders& headers);

// True once the received bytes hold a whole request head: up to the empty line
// that ends the headers, or a first line without a version word (which has none).
bool IsRequestHeadComplete(std::string_view received);

// The length of a whole request head, its empty line included: where a body
// sent behind it begins. 0 while the head is not whole.
size_t RequestHeadLength(std::string_view received);

// A first line cut off before its end and without a version word: served,
// it would get the bare page, which clients read as a success.
bool IsBareLineFragment(std::string_view received);

// nBufferSize: the size of the buffer the request was read into; a line that
// filled it without ending is refused. A header line cut off by the end of the
// bytes does not count. The path is judged by the answer's plan.
SParsedRequest ParseRequest(std::string_view request, size_t nBufferSize);
