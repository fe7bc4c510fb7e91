#include "FieldBytes.h"

#include "ShownText.h"

std::string FieldTextOfBytes(std::string_view bytes) {
    std::string strText;
    strText.reserve(bytes.size());
    AppendShownText(strText, bytes, EShownIn::Field);
    return strText;
}

std::string BytesOfFieldText(std::string_view text) {
    std::string strBytes;
    strBytes.reserve(text.size());
    size_t nAt = 0;
    while (nAt < text.size()) {
        const int nByte = ByteEscapeAt(text, nAt);
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
