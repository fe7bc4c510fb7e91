// Reading UTF-8 one sequence at a time, and the escape of bytes that cannot be
// shown, shared by the charset label of served text, the window's display of
// names and the folder listing's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "PercentEncoding.h"

// The length of the well-formed UTF-8 sequence at nAt (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0. A sequence well-formed as far as
// the bytes go but cut off by their end gives 0 with *pbCutOff set.
inline size_t Utf8SequenceLength(std::string_view bytes, size_t nAt, bool* pbCutOff = nullptr) {
    const auto nLead = static_cast<uint8_t>(bytes[nAt]);
    size_t nLength = 0;
    uint8_t nSecondLow = 0x80;  // the allowed range of the second byte
    uint8_t nSecondHigh = 0xBF;
    if (nLead < 0x80) {
        return 1;
    } else if (nLead >= 0xC2 && nLead <= 0xDF) {
        nLength = 2;
    } else if (nLead >= 0xE0 && nLead <= 0xEF) {
        nLength = 3;
        nSecondLow = nLead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        nSecondHigh = nLead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (nLead >= 0xF0 && nLead <= 0xF4) {
        nLength = 4;
        nSecondLow = nLead == 0xF0 ? 0x90 : 0x80;
        nSecondHigh = nLead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (size_t n = 1; n < nLength; ++n) {
        if (nAt + n >= bytes.size()) {
            if (pbCutOff != nullptr) {
                *pbCutOff = true;
            }
            return 0;
        }
        const auto nByte = static_cast<uint8_t>(bytes[nAt + n]);
        if (nByte < (n == 1 ? nSecondLow : 0x80) || nByte > (n == 1 ? nSecondHigh : 0xBF)) {
            return 0;
        }
    }
    return nLength;
}

// A control character (C0, DEL, C1) at nAt, a sequence of nLength bytes: what a
// field or a page would show as nothing or as a box.
inline bool IsControlSequence(std::string_view bytes, size_t nAt, size_t nLength) {
    const auto nLead = static_cast<uint8_t>(bytes[nAt]);
    return (nLength == 1 && (nLead < 0x20 || nLead == 0x7F)) ||
           (nLength == 2 && nLead == 0xC2 && static_cast<uint8_t>(bytes[nAt + 1]) < 0xA0);
}

// The visible form of a byte that cannot be shown: "\xHH", upper-case hex.
inline void AppendByteEscape(std::string& strText, uint8_t nByte) {
    strText += "\\x";
    AppendHexByte(strText, nByte);
}

// The text is UTF-8. When it is only the start of a longer text, a multi-byte
// sequence cut off by its end counts as valid.
inline bool IsUtf8Text(std::string_view text, bool bStartOfLonger) {
    for (size_t nAt = 0; nAt < text.size();) {
        bool bCutOff = false;
        const size_t nLength = Utf8SequenceLength(text, nAt, &bCutOff);
        if (nLength == 0) {
            return bCutOff && bStartOfLonger;  // cut off by the end of what was looked at
        }
        nAt += nLength;
    }
    return true;
}
