#include "PercentEncoding.h"

#include "AsciiCase.h"

bool DecodePercentEscapes(std::string_view text, std::string& strDecoded) {
    strDecoded.clear();
    strDecoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        int nHigh = -1;
        int nLow = -1;
        if (text[i] == '%' && i + 2 < text.size()) {
            nHigh = HexValue(text[i + 1]);
            nLow = HexValue(text[i + 2]);
        }
        if (nHigh < 0 || nLow < 0) {
            strDecoded += text[i];
            continue;
        }
        char c = static_cast<char>(nHigh * 16 + nLow);
        if (c == '\0') {
            return false;
        }
        strDecoded += c;
        i += 2;
    }
    return true;
}
