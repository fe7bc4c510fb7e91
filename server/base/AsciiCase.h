// The ASCII helpers that requests, names and profile text share. Letter case
// is ASCII letters only, so bytes from 0x80 up (UTF-8 names) always compare exactly.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline void LowerAscii(std::string& str) {
    std::transform(str.begin(), str.end(), str.begin(), FoldAscii);
}

// A hex digit's value, or -1.
inline int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Without the blanks and tabs around it, as header and profile values are read.
inline std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

inline bool EqualFolded(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

// Digits only, the whole text; no sign, no blanks.
inline std::optional<uint64_t> ParseDigits(std::string_view text) {
    uint64_t nValue = 0;
    auto [pEnd, error] = std::from_chars(text.data(), text.data() + text.size(), nValue);
    if (error != std::errc() || pEnd != text.data() + text.size()) {
        return std::nullopt;  // empty, not digits, or too large
    }
    return nValue;
}
