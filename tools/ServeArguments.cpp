#include "ServeArguments.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "AsciiCase.h"
#include "PrivateLink.h"

namespace {

// Each switch and the setting it turns on.
struct SSwitch {
    std::string_view strName;
    bool SServeSettings::*pbSetting;
};

constexpr SSwitch kSwitches[] = {
    {.strName = "--list", .pbSetting = &SServeSettings::bListFolders},
    {.strName = "--preview", .pbSetting = &SServeSettings::bPreview},
    {.strName = "--concurrent", .pbSetting = &SServeSettings::bConcurrent},
    {.strName = "--upload", .pbSetting = &SServeSettings::bUpload},
};

constexpr std::string_view kEndOfOptions = "--";
constexpr std::string_view kPrivate = "--private";
constexpr std::string_view kPrivateWithKey = "--private=";

enum class EPrivateOption { kOther, kRead, kBadKey };

// "--private" or "--private=KEY", read into settings; kOther for any other argument.
EPrivateOption ReadPrivate(const std::string& strArgument, SServeSettings& settings) {
    if (strArgument == kPrivate) {
        settings.bPrivate = true;
        settings.strPrivateKey.clear();
        return EPrivateOption::kRead;
    }
    if (!strArgument.starts_with(kPrivateWithKey)) {
        return EPrivateOption::kOther;
    }
    std::string strKey = strArgument.substr(kPrivateWithKey.size());
    LowerAscii(strKey);  // request paths are matched so, and the server stores it so
    if (!IsPrivateKey(strKey)) {
        return EPrivateOption::kBadKey;
    }
    settings.bPrivate = true;
    settings.strPrivateKey = std::move(strKey);
    return EPrivateOption::kRead;
}

// A lone "-" is a name, as it is to most tools.
bool LooksLikeOption(const std::string& strArgument) {
    return strArgument.size() > 1 && strArgument.front() == '-';
}

bool ParsePort(const std::string& strText, int& nPort) {
    char* pEnd = nullptr;
    errno = 0;
    const long nValue = std::strtol(strText.c_str(), &pEnd, 10);
    if (errno != 0 || pEnd == strText.c_str() || *pEnd != '\0' || nValue < 0 || nValue > 65535) {
        return false;
    }
    nPort = static_cast<int>(nValue);
    return true;
}

}  // namespace

EServeCommand ParseServeArguments(const std::vector<std::string>& arguments,
                                  SServeSettings& settings) {
    SServeSettings parsed;
    auto pArgument = arguments.begin();
    bool bOptionsEnded = false;
    for (; pArgument != arguments.end() && LooksLikeOption(*pArgument); ++pArgument) {
        if (*pArgument == kEndOfOptions) {
            ++pArgument;
            bOptionsEnded = true;
            break;
        }
        if (*pArgument == "--help") {
            return EServeCommand::kHelp;
        }
        if (*pArgument == "--version") {
            return EServeCommand::kVersion;
        }
        switch (ReadPrivate(*pArgument, parsed)) {
            case EPrivateOption::kRead:
                continue;
            case EPrivateOption::kBadKey:
                return EServeCommand::kBadPrivateKey;
            case EPrivateOption::kOther:
                break;
        }
        const auto* pSwitch =
            std::find_if(std::begin(kSwitches), std::end(kSwitches),
                         [&](const SSwitch& known) { return known.strName == *pArgument; });
        if (pSwitch == std::end(kSwitches)) {
            return EServeCommand::kUsageError;
        }
        parsed.*(pSwitch->pbSetting) = true;
    }
    const std::vector<std::string> operands(pArgument, arguments.end());
    if (operands.size() < 2 || operands.size() > 3 || !ParsePort(operands[1], parsed.nPort) ||
        (!bOptionsEnded && std::any_of(operands.begin(), operands.end(), LooksLikeOption))) {
        return EServeCommand::kUsageError;
    }
    parsed.strRoot = operands[0];
    if (operands.size() == 3) {
        parsed.strDefaultPage = operands[2];
    }
    settings = std::move(parsed);
    return EServeCommand::kServe;
}
