// Bytes written as hex ("%XX" in addresses and headers, "\xHH" in shown text)
// and "%XX" read back: one table, one rule.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Two upper-case hex digits.
inline void AppendHexByte(std::string& strOut, uint8_t nByte) {
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    strOut += kHexDigits[nByte >> 4];
    strOut += kHexDigits[nByte & 0xF];
}

// Each byte of text as it is when keep(byte) holds, else as "%XX". Kept bytes
// are appended a run at a time: a listing encodes every name of its folder.
template <typename Keep>
void AppendPercentEncoded(std::string& strOut, std::string_view text, Keep keep) {
    size_t nAt = 0;
    while (nAt < text.size()) {
        size_t nKeptEnd = nAt;
        while (nKeptEnd < text.size() && keep(static_cast<unsigned char>(text[nKeptEnd]))) {
            ++nKeptEnd;
        }
        strOut.append(text.substr(nAt, nKeptEnd - nAt));
        if (nKeptEnd < text.size()) {
            strOut += '%';
            AppendHexByte(strOut, static_cast<uint8_t>(text[nKeptEnd]));
            ++nKeptEnd;
        }
        nAt = nKeptEnd;
    }
}

// "%XX" escapes decoded; a "%" without two hex digits stays as it is. False when
// a zero byte was decoded (no file name holds one).
bool DecodePercentEscapes(std::string_view text, std::string& strDecoded);
