#include "UploadName.h"

#include <algorithm>

#include "AsciiCase.h"

namespace {
constexpr size_t kMaxNameBytes = 255;
}  // namespace

ENameVerdict JudgeUploadName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return ENameVerdict::Empty;
    }
    if (name.find_first_of("/\\") != std::string_view::npos) {
        return ENameVerdict::Separator;
    }
    if (std::any_of(name.begin(), name.end(), [](char c) {
            const auto nByte = static_cast<unsigned char>(c);
            return nByte < 0x20 || nByte == 0x7F;
        })) {
        return ENameVerdict::Control;
    }
    if (name.front() == '.') {
        return ENameVerdict::Hidden;
    }
    if (name.find("..") != std::string_view::npos) {
        return ENameVerdict::ParentLike;
    }
    std::string strLower(name);
    LowerAscii(strLower);
    if (strLower.find("tarvel.exe") != std::string::npos) {
        return ENameVerdict::Guarded;
    }
    if (name.size() > kMaxNameBytes) {
        return ENameVerdict::TooLong;
    }
    return ENameVerdict::Kept;
}

const char* NameVerdictText(ENameVerdict verdict) {
    switch (verdict) {
        case ENameVerdict::Kept:
            return "kept";
        case ENameVerdict::Empty:
            return "the file has no name";
        case ENameVerdict::Separator:
            return "a file name cannot hold / or \\";
        case ENameVerdict::Control:
            return "a file name cannot hold control characters";
        case ENameVerdict::Hidden:
            return "a file name cannot begin with a dot";
        case ENameVerdict::ParentLike:
            return "a file name cannot hold ..";
        case ENameVerdict::Guarded:
            return "this name is never served";
        case ENameVerdict::TooLong:
            return "a file name can hold at most 255 bytes";
    }
    return "the name is refused";
}

std::string NumberedName(std::string_view name, unsigned nNumber) {
    const size_t nDot = name.rfind('.');
    const size_t nStemEnd = nDot == std::string_view::npos || nDot == 0 ? name.size() : nDot;
    std::string strName(name.substr(0, nStemEnd));
    strName += " (";
    strName += std::to_string(nNumber);
    strName += ')';
    strName += name.substr(nStemEnd);
    return strName.size() > kMaxNameBytes ? std::string() : strName;
}
