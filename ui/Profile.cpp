#include "Profile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "AsciiCase.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Only when /proc/self/exe cannot be read (no /proc mounted).
constexpr const char* kFallbackProgramName = "tarvel";
constexpr int kMaxLinkHops = 40;  // as the kernel's own limit for a path

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view str) {
    while (!str.empty() && IsBlank(str.front())) {
        str.remove_prefix(1);
    }
    while (!str.empty() && IsBlank(str.back())) {
        str.remove_suffix(1);
    }
    return str;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

bool IsQuoted(std::string_view str) {
    return str.size() >= 2 && IsQuote(str.front()) && str.front() == str.back();
}

enum class ELineKind { kOther, kSection, kKey };

struct SParsedLine {
    ELineKind eKind = ELineKind::kOther;
    std::string_view strName;     // section or key name, without blanks around it
    std::size_t nValueBegin = 0;  // key lines: where the text after '=' begins
};

SParsedLine ParseLine(std::string_view strContent) {
    SParsedLine parsed;
    // Not text: passed over whole, so nothing is read out of binary garbage.
    if (strContent.size() > CProfileText::kMaxLineBytes ||
        strContent.find('\0') != std::string_view::npos) {
        return parsed;
    }
    std::string_view strRest = TrimBlanks(strContent);
    if (strRest.empty() || strRest.front() == ';' || strRest.front() == '#') {
        return parsed;
    }
    if (strRest.front() == '[') {
        strRest.remove_prefix(1);
        parsed.eKind = ELineKind::kSection;
        parsed.strName = TrimBlanks(strRest.substr(0, strRest.find(']')));
        return parsed;
    }
    std::size_t nEquals = strContent.find('=');
    if (nEquals == std::string_view::npos) {
        return parsed;
    }
    parsed.eKind = ELineKind::kKey;
    parsed.strName = TrimBlanks(strContent.substr(0, nEquals));
    parsed.nValueBegin = nEquals + 1;
    return parsed;
}

bool HoldsLineBreakOrZero(std::string_view str) {
    return str.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos;
}

bool IsStorableName(std::string_view strName, std::string_view strForbidden) {
    return !strName.empty() && !HoldsLineBreakOrZero(strName) && !IsBlank(strName.front()) &&
           !IsBlank(strName.back()) &&
           strName.find_first_of(strForbidden) == std::string_view::npos;
}

// Reading drops the blanks around a value and one pair of quotes; a value that would lose
// something that way is written inside quotes, so every value reads back as it was.
std::string EncodeValue(std::string_view strValue) {
    if (!strValue.empty() &&
        (IsBlank(strValue.front()) || IsBlank(strValue.back()) || IsQuoted(strValue))) {
        std::string strQuoted = "\"";
        strQuoted += strValue;
        strQuoted += '"';
        return strQuoted;
    }
    return std::string(strValue);
}

// ---- file access ----

enum class EFileRead { kRead, kMissing, kUnusable };

EFileRead ReadFileBytes(const std::string& strPath, std::string& strBytes, struct stat& status) {
    strBytes.clear();
    // O_NONBLOCK: a FIFO at the profile's place must not freeze the window.
    int hFile = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (hFile < 0) {
        return errno == ENOENT || errno == ENOTDIR ? EFileRead::kMissing : EFileRead::kUnusable;
    }
    EFileRead eResult = EFileRead::kRead;
    if (::fstat(hFile, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > static_cast<off_t>(CProfile::kMaxFileBytes)) {
        eResult = EFileRead::kUnusable;
    } else {
        strBytes.reserve(static_cast<std::size_t>(status.st_size));
        char buffer[64 * 1024];
        for (;;) {
            ssize_t nRead = ::read(hFile, buffer, sizeof buffer);
            if (nRead < 0 && errno == EINTR) {
                continue;
            }
            if (nRead < 0 ||
                strBytes.size() + static_cast<std::size_t>(nRead) > CProfile::kMaxFileBytes) {
                eResult = EFileRead::kUnusable;
                break;
            }
            if (nRead == 0) {
                break;
            }
            strBytes.append(buffer, static_cast<std::size_t>(nRead));
        }
    }
    ::close(hFile);
    if (eResult != EFileRead::kRead) {
        strBytes.clear();
    }
    return eResult;
}

// The file a write must replace: the end of the chain when the profile is a symbolic link,
// so the link itself stays.
fs::path FollowLinks(fs::path path) {
    for (int n = 0; n < kMaxLinkHops; ++n) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return path;
        }
        std::error_code error;
        fs::path target = fs::read_symlink(path, error);
        if (error) {
            return path;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;  // a loop: opening it fails, so nothing is written
}

// Missing folders are made private to the user, as the desktop convention asks.
bool CreateFolders(const fs::path& folder) {
    if (folder.empty()) {
        return true;
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0) {
        return S_ISDIR(status.st_mode);
    }
    if (errno != ENOENT || folder == folder.parent_path()) {
        return false;
    }
    if (!CreateFolders(folder.parent_path())) {
        return false;
    }
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int hFile, std::string_view strBytes) {
    while (!strBytes.empty()) {
        ssize_t nWritten = ::write(hFile, strBytes.data(), strBytes.size());
        if (nWritten < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        strBytes.remove_prefix(static_cast<std::size_t>(nWritten));
    }
    return true;
}

bool KeepOwnerAndMode(int hFile, const struct stat& old) {
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        if (::fchown(hFile, old.st_uid, old.st_gid) != 0) {
            // Only root may give a file away; the settings matter more than the owner.
        }
    }
    return ::fchmod(hFile, old.st_mode & 07777) == 0;
}

int CreateTemporaryBeside(const fs::path& target, std::string& strTemporary) {
    static std::atomic<unsigned> s_nNext{0};
    fs::path folder = target.parent_path();
    std::string strPrefix(1, '.');
    strPrefix += target.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-";
    for (int nTry = 0; nTry < 100; ++nTry) {
        strTemporary = (folder / (strPrefix + std::to_string(s_nNext++))).string();
        // 0666 less the umask, as any new file; an old file's mode is set afterwards.
        int hFile = ::open(strTemporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
        if (hFile >= 0 || errno != EEXIST) {
            return hFile;
        }
    }
    return -1;
}

// Writes the new content beside the file and renames it over the old one, so a full disk,
// a crash or a kill leaves either the old file or the new one, never a part of either.
bool ReplaceFile(const fs::path& target, std::string_view strBytes, const struct stat* pOld) {
    std::string strTemporary;
    int hFile = CreateTemporaryBeside(target, strTemporary);
    if (hFile < 0) {
        return false;
    }
    bool bOk = (pOld == nullptr || KeepOwnerAndMode(hFile, *pOld)) && WriteAll(hFile, strBytes) &&
               ::fsync(hFile) == 0;
    if (::close(hFile) != 0) {
        bOk = false;
    }
    if (bOk && ::rename(strTemporary.c_str(), target.c_str()) != 0) {
        bOk = false;
    }
    if (!bOk) {
        ::unlink(strTemporary.c_str());
        return false;
    }
    fs::path folder = target.parent_path();
    int hFolder = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (hFolder >= 0) {
        // The new content is on disk already; making the rename itself durable is a bonus.
        ::fsync(hFolder);
        ::close(hFolder);
    }
    return true;
}

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

// ---- CProfileText ----

CProfileText::CProfileText(std::string_view strBytes) {
    if (strBytes.starts_with(kByteOrderMark)) {
        m_strByteOrderMark = kByteOrderMark;
        strBytes.remove_prefix(kByteOrderMark.size());
    }
    while (!strBytes.empty()) {
        std::size_t nBreak = strBytes.find('\n');
        std::string_view strContent = strBytes.substr(0, nBreak);
        SLine line;
        if (nBreak != std::string_view::npos) {
            line.strEnding = "\n";
            strBytes.remove_prefix(nBreak + 1);
        } else {
            strBytes = {};
        }
        if (strContent.ends_with('\r')) {
            strContent.remove_suffix(1);
            line.strEnding.insert(line.strEnding.begin(), '\r');
        }
        line.strContent = strContent;
        m_lines.push_back(std::move(line));
    }
}

std::string CProfileText::Bytes() const {
    std::string strBytes = m_strByteOrderMark;
    for (const SLine& line : m_lines) {
        strBytes += line.strContent;
        strBytes += line.strEnding;
    }
    return strBytes;
}

std::optional<std::size_t> CProfileText::FindSectionLine(std::string_view strSection) const {
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        SParsedLine parsed = ParseLine(m_lines[i].strContent);
        if (parsed.eKind == ELineKind::kSection && EqualFolded(parsed.strName, strSection)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> CProfileText::FindKeyLine(std::string_view strSection,
                                                     std::string_view strKey) const {
    bool bInSection = false;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        SParsedLine parsed = ParseLine(m_lines[i].strContent);
        if (parsed.eKind == ELineKind::kSection) {
            bInSection = EqualFolded(parsed.strName, strSection);
        } else if (bInSection && parsed.eKind == ELineKind::kKey &&
                   EqualFolded(parsed.strName, strKey)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CProfileText::Find(std::string_view strSection,
                                              std::string_view strKey) const {
    std::optional<std::size_t> nLine = FindKeyLine(strSection, strKey);
    if (!nLine) {
        return std::nullopt;
    }
    std::string_view strContent = m_lines[*nLine].strContent;
    std::string_view strValue = TrimBlanks(strContent.substr(ParseLine(strContent).nValueBegin));
    if (IsQuoted(strValue)) {
        strValue = strValue.substr(1, strValue.size() - 2);
    }
    return std::string(strValue);
}

void CProfileText::InsertLine(std::size_t nAt, std::string strContent) {
    // A last line without a line break gets one, or the new line would join it.
    if (nAt > 0 && !m_lines[nAt - 1].strEnding.ends_with('\n')) {
        m_lines[nAt - 1].strEnding += '\n';
    }
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(nAt),
                   SLine{std::move(strContent), "\n"});
}

bool CProfileText::Set(std::string_view strSection, std::string_view strKey,
                       std::string_view strValue) {
    if (!IsStorableName(strSection, "]") || !IsStorableName(strKey, "=") ||
        strKey.find_first_of("[;#") == 0 || HoldsLineBreakOrZero(strValue)) {
        return false;
    }
    std::string strEncoded = EncodeValue(strValue);

    if (std::optional<std::size_t> nLine = FindKeyLine(strSection, strKey)) {
        // The key keeps its own spelling and spacing; only the value changes.
        std::string& strContent = m_lines[*nLine].strContent;
        std::size_t nValue = ParseLine(strContent).nValueBegin;
        while (nValue < strContent.size() && IsBlank(strContent[nValue])) {
            ++nValue;
        }
        strContent.replace(nValue, std::string::npos, strEncoded);
        return true;
    }

    std::string strKeyLine = std::string(strKey) + "=" + strEncoded;
    if (std::optional<std::size_t> nHeader = FindSectionLine(strSection)) {
        std::size_t nLastKey = *nHeader;
        for (std::size_t i = *nHeader + 1; i < m_lines.size(); ++i) {
            ELineKind eKind = ParseLine(m_lines[i].strContent).eKind;
            if (eKind == ELineKind::kSection) {
                break;
            }
            if (eKind == ELineKind::kKey) {
                nLastKey = i;
            }
        }
        InsertLine(nLastKey + 1, std::move(strKeyLine));
        return true;
    }

    std::string strHeader(1, '[');  // (built by appends: GCC 12 warns falsely on "[" + ...)
    strHeader += strSection;
    strHeader += ']';
    InsertLine(m_lines.size(), std::move(strHeader));
    InsertLine(m_lines.size(), std::move(strKeyLine));
    return true;
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

std::optional<std::string> CProfile::ReadValue(const std::string& strSection,
                                               const std::string& strKey) const {
    std::string strBytes;
    struct stat status {};
    if (ReadFileBytes(m_strPath, strBytes, status) != EFileRead::kRead) {
        return std::nullopt;
    }
    std::optional<std::string> strValue = CProfileText(strBytes).Find(strSection, strKey);
    if (strValue && strValue->size() > kMaxValueBytes) {
        strValue->resize(kMaxValueBytes);
    }
    return strValue;
}

std::string CProfile::GetProfileString(const std::string& strSection, const std::string& strKey,
                                       const std::string& strDefault) const {
    std::optional<std::string> strValue = ReadValue(strSection, strKey);
    return strValue ? *strValue : strDefault.substr(0, kMaxValueBytes);
}

int CProfile::ParseProfileInt(std::string_view strText) {
    while (!strText.empty() && IsBlank(strText.front())) {
        strText.remove_prefix(1);
    }
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

int CProfile::GetProfileInt(const std::string& strSection, const std::string& strKey,
                            int nDefault) const {
    std::optional<std::string> strValue = ReadValue(strSection, strKey);
    return strValue ? ParseProfileInt(*strValue) : nDefault;
}

bool CProfile::WriteProfileString(const std::string& strSection, const std::string& strKey,
                                  const std::string& strValue) {
    struct stat own {};
    bool bPathExists = ::lstat(m_strPath.c_str(), &own) == 0;
    fs::path target = FollowLinks(m_strPath);

    std::string strOld;
    struct stat old {};
    EFileRead eRead = ReadFileBytes(target.string(), strOld, old);
    if (eRead == EFileRead::kUnusable) {
        return false;  // a file we cannot read whole is never replaced
    }
    CProfileText text(strOld);
    if (!text.Set(strSection, strKey, strValue)) {
        return false;
    }
    std::string strNew = text.Bytes();
    bool bOldExists = eRead == EFileRead::kRead;
    if (bOldExists && strNew == strOld) {
        return true;
    }
    // A read-only profile is meant to stay as it is, though its folder would allow a rename.
    if (bOldExists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return false;
    }
    if (!bPathExists && !CreateFolders(fs::path(m_strPath).parent_path())) {
        return false;
    }
    return ReplaceFile(target, strNew, bOldExists ? &old : nullptr);
}

bool CProfile::WriteProfileInt(const std::string& strSection, const std::string& strKey,
                               int nValue) {
    return WriteProfileString(strSection, strKey, std::to_string(nValue));
}
