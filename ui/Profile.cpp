#include "Profile.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "ProfileFile.h"
#include "ProfileText.h"

namespace fs = std::filesystem;

namespace {

// Only when /proc/self/exe cannot be read (no /proc mounted).
constexpr const char* kFallbackProgramName = "tarvel";

std::string HomeFolder() {
    const char* pszHome = std::getenv("HOME");
    if (pszHome != nullptr && pszHome[0] == '/') {
        return pszHome;
    }
    long nSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string strBuffer(nSize > 0 ? static_cast<std::size_t>(nSize) : 16384, '\0');
    struct passwd entry {};
    struct passwd* pEntry = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, strBuffer.data(), strBuffer.size(), &pEntry) == 0 &&
        pEntry != nullptr && pEntry->pw_dir != nullptr && pEntry->pw_dir[0] == '/') {
        return pEntry->pw_dir;
    }
    return "";  // no home at all: the folder becomes /.config
}

// "/" becomes "", so appending "/name" never doubles the slash.
std::string WithoutTrailingSlashes(std::string strPath) {
    while (!strPath.empty() && strPath.back() == '/') {
        strPath.pop_back();
    }
    return strPath;
}

}  // namespace

// ---- CProfileReading ----

CProfileReading::CProfileReading(const std::string& strPath) {
    if (std::optional<std::string> strBytes = CProfileFile(strPath).Read()) {
        m_text.emplace(std::move(*strBytes));
    }
}

std::string CProfileReading::GetProfileString(std::string_view strSection, std::string_view strKey,
                                              const std::string& strDefault) const {
    std::optional<std::string> strValue;
    if (m_text) {
        strValue = m_text->Find(strSection, strKey);
    }
    std::string strRead = strValue ? std::move(*strValue) : strDefault;
    // The cut of the platform's read buffer applies to a default too.
    strRead.resize(std::min(strRead.size(), CProfile::kMaxValueBytes));
    return strRead;
}

int CProfileReading::GetProfileInt(std::string_view strSection, std::string_view strKey,
                                   int nDefault) const {
    std::optional<std::string> strValue;
    if (m_text) {
        strValue = m_text->Find(strSection, strKey);
    }
    return strValue ? CProfile::ParseProfileInt(*strValue) : nDefault;
}

// ---- CProfile ----

CProfile::CProfile(std::string strPath) : m_strPath(std::move(strPath)) {}

std::string CProfile::ProgramNameOf(const std::string& strProgramPath) {
    std::string_view strPath = strProgramPath;
    // The kernel marks a program file replaced while it runs; the name is still its own.
    constexpr std::string_view kDeleted = " (deleted)";
    if (strPath.ends_with(kDeleted)) {
        strPath.remove_suffix(kDeleted.size());
    }
    std::string strName = fs::path(strPath).stem().string();
    return strName.empty() ? kFallbackProgramName : strName;
}

std::string CProfile::ProgramName() {
    std::error_code error;
    fs::path program = fs::read_symlink("/proc/self/exe", error);
    return ProgramNameOf(error ? std::string() : program.string());
}

std::string CProfile::DefaultPath() {
    const char* pszConfig = std::getenv("XDG_CONFIG_HOME");
    std::string strFolder = pszConfig != nullptr && pszConfig[0] == '/'
                                ? WithoutTrailingSlashes(pszConfig)
                                : WithoutTrailingSlashes(HomeFolder()) + "/.config";
    return strFolder + "/" + ProgramName() + ".INI";
}

std::string CProfile::GetProfileString(const std::string& strSection, const std::string& strKey,
                                       const std::string& strDefault) const {
    return Read().GetProfileString(strSection, strKey, strDefault);
}

int CProfile::ParseProfileInt(std::string_view strText) {
    strText.remove_prefix(std::min(strText.find_first_not_of(" \t"), strText.size()));
    bool bNegative = false;
    if (!strText.empty() && (strText.front() == '+' || strText.front() == '-')) {
        bNegative = strText.front() == '-';
        strText.remove_prefix(1);
    }
    // Unsigned, so a second sign is not a number; beyond the range of int it saturates.
    unsigned long long nMagnitude = 0;
    auto [pEnd, error] =
        std::from_chars(strText.data(), strText.data() + strText.size(), nMagnitude);
    if (error == std::errc::invalid_argument) {
        return 0;
    }
    if (error == std::errc::result_out_of_range) {
        nMagnitude = ULLONG_MAX;
    }
    constexpr unsigned long long kLargest = INT_MAX;
    if (bNegative) {
        return nMagnitude > kLargest ? INT_MIN : -static_cast<int>(nMagnitude);
    }
    return nMagnitude > kLargest ? INT_MAX : static_cast<int>(nMagnitude);
}

std::string CProfile::FormatProfileInt(int nValue) {
    return std::to_string(nValue);
}

int CProfile::GetProfileInt(const std::string& strSection, const std::string& strKey,
                            int nDefault) const {
    return Read().GetProfileInt(strSection, strKey, nDefault);
}

bool CProfile::WriteProfileString(const std::string& strSection, const std::string& strKey,
                                  const std::string& strValue) {
    return WriteProfileStrings(strSection, {{.strKey = strKey, .strValue = strValue}});
}

bool CProfile::WriteProfileInt(const std::string& strSection, const std::string& strKey,
                               int nValue) {
    return WriteProfileString(strSection, strKey, FormatProfileInt(nValue));
}

bool CProfile::WriteProfileStrings(const std::string& strSection,
                                   const std::vector<SProfileValue>& values) {
    CProfileFile file(m_strPath);
    std::optional<CProfileFile::SStored> stored = file.ReadForRewrite();
    if (!stored) {
        return false;  // a file we cannot read whole is never replaced
    }
    file.RemoveStaleTemporaries(*stored);
    CProfileText text(std::move(stored->strBytes));
    bool bAllSet = true;
    bool bHoldsSecret = false;
    for (const SProfileValue& value : values) {
        if (value.bOnlyWhereStored && !text.Find(strSection, value.strKey)) {
            continue;
        }
        bAllSet = text.Set(strSection, value.strKey, value.strValue) && bAllSet;
        bHoldsSecret = bHoldsSecret || value.bSecret;
    }
    // A secret the file already held, written by hand or by a script, is guarded from the
    // first save on, also when that save changes none of its bytes.
    const bool bSecretOpenToOthers = bHoldsSecret && (stored->status.st_mode & 077) != 0;
    if (!text.Edited() && !bSecretOpenToOthers) {
        return bAllSet;  // nothing to write (a missing file always changes when a key is set)
    }
    return file.Replace(*stored, text.Bytes(), bHoldsSecret) && bAllSet;
}
