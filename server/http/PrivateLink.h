// The private link: a secret first segment of every address, so only the
// people who got the address (or scanned its QR code) reach the folder. A
// request names the secret in its path, or carries it in the cookie an answer
// under the secret set, so a site's root-relative links keep working.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "RequestLine.h"

// 26 characters of lower-case base32: 130 bits.
constexpr size_t kPrivateKeyLength = 26;
constexpr std::string_view kPrivateCookieName = "tarvel-link";

// A fresh secret from the system's random source; empty when it fails.
std::string NewPrivateKey();

// key has the secret's form: kPrivateKeyLength characters of a-z and 2-7.
bool IsPrivateKey(std::string_view key);

// text is the secret, ASCII case ignored (request paths are resolved so), in
// a time that depends only on the secret's length, never on where they differ.
bool MatchesPrivateKey(std::string_view text, std::string_view key);

// The value of the cookie named name in a Cookie header, if there.
std::optional<std::string_view> CookieValue(std::string_view cookies, std::string_view name);

// A request let in: as it is when the cookie admitted it, or with the secret
// segment taken off its path; bNamedSecret says which.
struct SAdmitted {
    SParsedRequest request;
    bool bNamedSecret = false;  // the path held the secret: its answer sets the cookie
};
// Nothing when the request's path (decoded, its first non-empty segment)
// is not the secret and no cookie holds it.
std::optional<SAdmitted> AdmitPrivate(const SParsedRequest& request, std::string_view key);

// The Set-Cookie value that lets the site's root-relative links in.
std::string PrivateCookieFor(std::string_view key);
