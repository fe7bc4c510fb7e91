#include "ChannelText.h"

#include <algorithm>

#include "AsciiCase.h"

namespace {
constexpr long kHighestPort = 65535;
// Digits beyond this value cannot change the verdict: such a number names no port.
constexpr long kSaturation = 1000000;

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t';
}
}  // namespace

SChannelRead ReadChannelText(std::string_view strText) {
    const SChannelRead notInteger{EChannelRead::kNotInteger, 0};
    strText = strText.substr(0, kChannelTextLimit);
    size_t nAt = 0;
    while (nAt < strText.size() && IsBlank(strText[nAt])) {
        ++nAt;
    }
    if (nAt == strText.size()) {
        return notInteger;
    }
    const char chFirst = strText[nAt];
    const bool bNegative = chFirst == '-';
    if (chFirst == '-' || chFirst == '+') {
        ++nAt;
    }
    if (nAt == strText.size() || !IsDigit(strText[nAt])) {
        return notInteger;
    }
    long nValue = 0;
    while (nAt < strText.size() && IsDigit(strText[nAt])) {
        nValue = std::min(kSaturation, nValue * 10 + (strText[nAt] - '0'));
        ++nAt;
    }
    while (nAt < strText.size() && IsBlank(strText[nAt])) {
        ++nAt;
    }
    // A signed zero ("+0", "-0") is no integer, as an empty field is not.
    if (nAt != strText.size() || (nValue == 0 && chFirst != '0')) {
        return notInteger;
    }
    if (bNegative || nValue == 0 || nValue > kHighestPort) {
        return {EChannelRead::kNoPort, 0};
    }
    return {EChannelRead::kPort, static_cast<int16_t>(static_cast<uint16_t>(nValue))};
}

std::string ChannelText(int16_t nChannel) {
    return std::to_string(static_cast<uint16_t>(nChannel));
}
