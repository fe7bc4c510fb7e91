// Letter case as requests and names are compared here: ASCII letters only, so
// bytes from 0x80 up (UTF-8 names) always compare exactly.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline void LowerAscii(std::string& str) {
    std::transform(str.begin(), str.end(), str.begin(), FoldAscii);
}

inline bool EqualFolded(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}
