#include "RequestLine.h"

#include <algorithm>

#include "AsciiCase.h"

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// "HTTP/" digit "." digit, exactly and case-sensitively.
bool IsVersionWord(std::string_view word) {
    return word.size() == 8 && word.substr(0, 5) == "HTTP/" && IsDigit(word[5]) && word[6] == '.' &&
           IsDigit(word[7]);
}

bool IsHttp11OrLater(std::string_view versionWord) {
    return versionWord[5] > '1' || (versionWord[5] == '1' && versionWord[7] >= '1');
}

// The request line's version word, or empty when the line has none.
std::string_view VersionWordOf(std::string_view line) {
    line = Trim(line);
    size_t nLastBlank = line.find_last_of(" \t\v\f\r");
    if (nLastBlank == std::string_view::npos || !IsVersionWord(line.substr(nLastBlank + 1))) {
        return {};
    }
    return line.substr(nLastBlank + 1);
}

void AddField(std::optional<std::string>& field, std::string_view value,
              std::string_view separator = ", ") {
    if (field) {
        *field += separator;
        *field += value;
    } else {
        field = std::string(value);
    }
}

// The header lines after the request line, up to the empty line. Only lines
// with their line end count: the last one may have been cut off.
SRequestHeaders ParseHeaders(std::string_view lines) {
    SRequestHeaders headers;
    for (size_t nEnd; (nEnd = lines.find('\n')) != std::string_view::npos;) {
        std::string_view line = lines.substr(0, nEnd);
        lines.remove_prefix(nEnd + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            break;
        }
        size_t nColon = line.find(':');
        std::string_view name = line.substr(0, nColon);
        if (nColon == std::string_view::npos || name.empty() || IsBlank(name.front()) ||
            IsBlank(name.back())) {
            continue;  // not a field line (or a folded continuation): passed over
        }
        std::string_view value = Trim(line.substr(nColon + 1));
        if (EqualFolded(name, "Range")) {
            AddField(headers.strRange, value);
        } else if (EqualFolded(name, "If-Range")) {
            AddField(headers.strIfRange, value);
        } else if (EqualFolded(name, "If-None-Match")) {
            AddField(headers.strIfNoneMatch, value);
        } else if (EqualFolded(name, "If-Modified-Since")) {
            AddField(headers.strIfModifiedSince, value);
        } else if (EqualFolded(name, "Accept")) {
            AddField(headers.strAccept, value);
        } else if (EqualFolded(name, "Sec-Fetch-Dest")) {
            AddField(headers.strSecFetchDest, value);
        } else if (EqualFolded(name, "Cookie")) {
            AddField(headers.strCookie, value, "; ");
        } else if (EqualFolded(name, "Content-Type")) {
            AddField(headers.strContentType, value);
        } else if (EqualFolded(name, "Origin")) {
            AddField(headers.strOrigin, value);
        } else if (EqualFolded(name, "Host")) {
            AddField(headers.strHost, value);
        } else if (EqualFolded(name, "Expect")) {
            AddField(headers.strExpect, value);
        }
        if (EqualFolded(name, "Content-Length")) {
            AddField(headers.strContentLength, value);
        } else if (EqualFolded(name, "Transfer-Encoding")) {
            AddField(headers.strTransferEncoding, value);
        }
        if ((EqualFolded(name, "Content-Length") && value != "0") ||
            EqualFolded(name, "Transfer-Encoding")) {
            headers.bAnnouncesBody = true;
        }
    }
    return headers;
}

}  // namespace

bool IsBareLineFragment(std::string_view received) {
    std::string_view text = received.substr(0, received.find('\0'));
    return text.find('\n') == std::string_view::npos && VersionWordOf(text).empty();
}

bool IsRequestHeadComplete(std::string_view received) {
    return RequestHeadLength(received) > 0;
}

size_t RequestHeadLength(std::string_view received) {
    size_t nLineEnd = received.find('\n');
    if (nLineEnd == std::string_view::npos) {
        return 0;
    }
    if (VersionWordOf(received.substr(0, nLineEnd)).empty()) {
        return nLineEnd + 1;
    }
    // An empty line ends the head: "\n\n" or "\n\r\n".
    for (size_t nAt = nLineEnd; nAt != std::string_view::npos; nAt = received.find('\n', nAt + 1)) {
        std::string_view rest = received.substr(nAt + 1);
        if (rest.starts_with('\n')) {
            return nAt + 2;
        }
        if (rest.starts_with("\r\n")) {
            return nAt + 3;
        }
    }
    return 0;
}

SParsedRequest ParseRequest(std::string_view request, size_t nBufferSize) {
    SParsedRequest result;
    // A zero byte ends the text.
    std::string_view text = request.substr(0, request.find('\0'));
    size_t nLineEnd = text.find('\n');
    if (nLineEnd == std::string_view::npos && request.size() >= nBufferSize) {
        result.bVersioned = true;  // a line this long is refused with a proper status
        return result;
    }
    std::string_view line = Trim(text.substr(0, nLineEnd));
    std::string_view versionWord = VersionWordOf(line);
    if (versionWord.empty()) {
        return result;  // no version word: the bare error page
    }
    result.bVersioned = true;
    result.bHttp11 = IsHttp11OrLater(versionWord);
    if (nLineEnd != std::string_view::npos) {
        result.headers = ParseHeaders(text.substr(nLineEnd + 1));
    }
    std::string_view beforeVersion = Trim(line.substr(0, line.size() - versionWord.size()));
    size_t nMethodEnd = std::min(beforeVersion.find_first_of(" \t\v\f\r"), beforeVersion.size());
    std::string_view method = beforeVersion.substr(0, nMethodEnd);
    result.bHead = method == "HEAD";
    result.strMethod = method;
    result.bExpectsBody = !(method == "GET" || result.bHead) || result.headers.bAnnouncesBody;
    std::string_view target = Trim(beforeVersion.substr(nMethodEnd));

    size_t nCut = std::min(target.find_first_of("?#"), target.size());
    result.strRawPath = target.substr(0, nCut);
    if (nCut < target.size() && target[nCut] == '?') {
        std::string_view query = target.substr(nCut);
        result.strQuery = query.substr(0, query.find('#'));
    }

    std::string strPath;
    if (!DecodePercentEscapes(result.strRawPath, strPath) || strPath.empty()) {
        return result;
    }
    std::replace(strPath.begin(), strPath.end(), '\\', '/');
    result.strPath = std::move(strPath);
    result.bRefused = false;
    return result;
}

bool IsNavigation(const SRequestHeaders& headers) {
    if (headers.strSecFetchDest) {
        return EqualFolded(*headers.strSecFetchDest, "document") ||
               EqualFolded(*headers.strSecFetchDest, "iframe");
    }
    if (!headers.strAccept) {
        return false;
    }
    std::string strAccept = *headers.strAccept;
    LowerAscii(strAccept);
    return strAccept.find("text/html") != std::string::npos;
}
