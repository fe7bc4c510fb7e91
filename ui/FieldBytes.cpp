#include "FieldBytes.h"

#include <cstdint>

#include "AsciiCase.h"
#include "Utf8.h"

namespace {
// The byte value of a "\xHH" escape at nAt, or -1 when none stands there.
int EscapeAt(std::string_view text, size_t nAt) {
    if (nAt + 4 > text.size() || text[nAt] != '\\' || text[nAt + 1] != 'x') {
        return -1;
    }
    const int nHigh = HexValue(text[nAt + 2]);
    const int nLow = HexValue(text[nAt + 3]);
    return nHigh < 0 || nLow < 0 ? -1 : nHigh * 16 + nLow;
}
}  // namespace

std::string FieldTextOfBytes(std::string_view bytes) {
    std::string strText;
    strText.reserve(bytes.size());
    size_t nAt = 0;
    while (nAt < bytes.size()) {
        const size_t nLength = Utf8SequenceLength(bytes, nAt);
        if (nLength == 0 || IsControlSequence(bytes, nAt, nLength) || EscapeAt(bytes, nAt) >= 0) {
            const size_t nEscaped = nLength == 0 ? 1 : nLength;
            for (size_t n = 0; n < nEscaped; ++n) {
                AppendByteEscape(strText, static_cast<uint8_t>(bytes[nAt + n]));
            }
            nAt += nEscaped;
        } else {
            strText.append(bytes.substr(nAt, nLength));
            nAt += nLength;
        }
    }
    return strText;
}

std::string BytesOfFieldText(std::string_view text) {
    std::string strBytes;
    strBytes.reserve(text.size());
    size_t nAt = 0;
    while (nAt < text.size()) {
        const int nByte = EscapeAt(text, nAt);
        // No name holds a zero byte: "\x00" stays the text it is.
        if (nByte > 0) {
            strBytes += static_cast<char>(nByte);
            nAt += 4;
        } else {
            strBytes += text[nAt++];
        }
    }
    return strBytes;
}
