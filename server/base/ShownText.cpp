#include "ShownText.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "AsciiCase.h"
#include "Utf8.h"

namespace {
constexpr const char* EntityOf(char c) {
    switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '"':
            return "&quot;";
        case '\'':
            return "&#39;";
        default:
            return nullptr;
    }
}

// Printable ASCII that shows as itself in a field and on a page alike: most of
// a name, appended a run at a time. A table: it is asked of every byte of every
// name a listing shows.
constexpr std::array<bool, 256> kPlainShownBytes = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c) {
        plain[c] = c != '\\' && EntityOf(static_cast<char>(c)) == nullptr;
    }
    return plain;
}();

bool IsPlainShownByte(char c) {
    return kPlainShownBytes[static_cast<uint8_t>(c)];
}

bool IsEscapedBackslash(std::string_view bytes, size_t nAt, EShownIn where) {
    return where == EShownIn::Page ? bytes[nAt] == '\\' : ByteEscapeAt(bytes, nAt) >= 0;
}
}  // namespace

int ByteEscapeAt(std::string_view text, size_t nAt) {
    if (nAt + 4 > text.size() || text[nAt] != '\\' || text[nAt + 1] != 'x') {
        return -1;
    }
    const int nHigh = HexValue(text[nAt + 2]);
    const int nLow = HexValue(text[nAt + 3]);
    return nHigh < 0 || nLow < 0 ? -1 : nHigh * 16 + nLow;
}

void AppendShownText(std::string& strOut, std::string_view bytes, EShownIn where) {
    size_t nAt = 0;
    while (nAt < bytes.size()) {
        size_t nPlainEnd = nAt;
        while (nPlainEnd < bytes.size() && IsPlainShownByte(bytes[nPlainEnd])) {
            ++nPlainEnd;
        }
        if (nPlainEnd > nAt) {
            strOut.append(bytes.substr(nAt, nPlainEnd - nAt));
            nAt = nPlainEnd;
            continue;
        }
        const size_t nLength = Utf8SequenceLength(bytes, nAt);
        const char* pszEntity = where == EShownIn::Page ? EntityOf(bytes[nAt]) : nullptr;
        if (nLength == 0 || IsControlSequence(bytes, nAt, nLength) ||
            IsEscapedBackslash(bytes, nAt, where)) {
            const size_t nEscaped = std::max<size_t>(nLength, 1);
            for (size_t n = 0; n < nEscaped; ++n) {
                AppendByteEscape(strOut, static_cast<uint8_t>(bytes[nAt + n]));
            }
            nAt += nEscaped;
        } else if (pszEntity != nullptr) {
            strOut += pszEntity;
            ++nAt;
        } else {
            strOut.append(bytes.substr(nAt, nLength));
            nAt += nLength;
        }
    }
}
