#include "PrivateLink.h"

#include <algorithm>

#include "AsciiCase.h"
#include "RandomText.h"

namespace {
bool IsBase32(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '2' && c <= '7');
}

// The first non-empty segment of a '/'-separated path, and where it ends.
std::string_view FirstSegment(std::string_view path, size_t& nEnd) {
    size_t nStart = path.find_first_not_of('/');
    if (nStart == std::string_view::npos) {
        nEnd = path.size();
        return {};
    }
    nEnd = std::min(path.find('/', nStart), path.size());
    return path.substr(nStart, nEnd - nStart);
}
}  // namespace

std::string NewPrivateKey() {
    return RandomBase32(kPrivateKeyLength);  // 130 bits
}

bool IsPrivateKey(std::string_view key) {
    return key.size() == kPrivateKeyLength && std::all_of(key.begin(), key.end(), IsBase32);
}

bool MatchesPrivateKey(std::string_view text, std::string_view key) {
    // Every byte of the key is compared whatever the text holds; the length
    // only decides the result.
    unsigned nDiffer = text.size() == key.size() ? 0 : 1;
    for (size_t nAt = 0; nAt < key.size(); ++nAt) {
        const char c = nAt < text.size() ? text[nAt] : '\0';
        nDiffer |= static_cast<unsigned char>(FoldAscii(c) ^ FoldAscii(key[nAt]));
    }
    return nDiffer == 0 && !key.empty();
}

std::optional<std::string_view> CookieValue(std::string_view cookies, std::string_view name) {
    while (!cookies.empty()) {
        const size_t nEnd = std::min(cookies.find(';'), cookies.size());
        const std::string_view pair = TrimBlanks(cookies.substr(0, nEnd));
        cookies.remove_prefix(std::min(nEnd + 1, cookies.size()));
        const size_t nEquals = pair.find('=');
        if (nEquals != std::string_view::npos && TrimBlanks(pair.substr(0, nEquals)) == name) {
            return TrimBlanks(pair.substr(nEquals + 1));
        }
    }
    return std::nullopt;
}

std::optional<SAdmitted> AdmitPrivate(const SParsedRequest& request, std::string_view key) {
    if (!IsPrivateKey(key)) {
        return std::nullopt;  // a broken key lets nobody in, never everybody
    }
    size_t nEnd = 0;
    const std::string_view first = FirstSegment(request.strPath, nEnd);
    if (!request.bRefused && MatchesPrivateKey(first, key)) {
        SAdmitted admitted{.request = request, .bNamedSecret = true};
        admitted.request.strPath = request.strPath.substr(nEnd);
        return admitted;
    }
    const std::optional<std::string>& cookies = request.headers.strCookie;
    if (cookies) {
        const std::optional<std::string_view> value = CookieValue(*cookies, kPrivateCookieName);
        if (value && MatchesPrivateKey(*value, key)) {
            return SAdmitted{.request = request};
        }
    }
    return std::nullopt;
}

std::string PrivateCookieFor(std::string_view key) {
    std::string strCookie(kPrivateCookieName);
    strCookie += '=';
    strCookie += key;
    strCookie += "; Path=/; HttpOnly; SameSite=Strict";
    return strCookie;
}
