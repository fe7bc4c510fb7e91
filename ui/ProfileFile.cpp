#include "ProfileFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <filesystem>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel's own limit for a path
constexpr std::string_view kTemporaryMark = ".tmp-";

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
        status.st_size > static_cast<off_t>(CProfileFile::kMaxBytes)) {
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
                strBytes.size() + static_cast<std::size_t>(nRead) > CProfileFile::kMaxBytes) {
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
        strBytes = std::string();  // gives the memory back too
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

bool OnlyOwnerMayUse(int hFile) {
    struct stat status {};
    return ::fstat(hFile, &status) == 0 && ::fchmod(hFile, status.st_mode & 07700) == 0;
}

// access(2) says yes to root for every file, so the owner's write bit decides as well.
bool IsReadOnly(const std::string& strTarget, const struct stat& status) {
    return (status.st_mode & S_IWUSR) == 0 ||
           ::faccessat(AT_FDCWD, strTarget.c_str(), W_OK, AT_EACCESS) != 0;
}

std::string TemporaryPrefix(const fs::path& target) {
    std::string strPrefix(1, '.');
    strPrefix += target.filename().string();
    strPrefix += kTemporaryMark;
    return strPrefix;
}

int CreateTemporaryBeside(const fs::path& target, std::string& strTemporary) {
    static std::atomic<unsigned> s_nNext{0};
    std::string strPrefix = TemporaryPrefix(target) + std::to_string(::getpid()) + "-";
    for (int nTry = 0; nTry < 100; ++nTry) {
        strTemporary = (target.parent_path() / (strPrefix + std::to_string(s_nNext++))).string();
        // 0666 less the umask, as any new file; an old file's mode is set afterwards.
        int hFile = ::open(strTemporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
        if (hFile >= 0 || errno != EEXIST) {
            return hFile;
        }
    }
    return -1;
}

// Decimal digits as a counter or a process id is written: no sign, no leading zero.
std::optional<long> DecimalNumber(std::string_view strDigits) {
    constexpr std::size_t kMaxDigits = 10;  // an unsigned or a pid_t fits
    if (strDigits.empty() || strDigits.size() > kMaxDigits ||
        (strDigits.front() == '0' && strDigits.size() > 1) ||
        !std::all_of(strDigits.begin(), strDigits.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    long nValue = 0;
    std::from_chars(strDigits.data(), strDigits.data() + strDigits.size(), nValue);
    return nValue;
}

// The writer's process of a temporary name made by CreateTemporaryBeside; nothing for
// every other name.
std::optional<pid_t> TemporaryWriter(std::string_view strEntry, std::string_view strPrefix) {
    if (!strEntry.starts_with(strPrefix)) {
        return std::nullopt;
    }
    strEntry.remove_prefix(strPrefix.size());
    std::size_t nDash = strEntry.find('-');
    if (nDash == std::string_view::npos || !DecimalNumber(strEntry.substr(nDash + 1))) {
        return std::nullopt;
    }
    std::optional<long> nPid = DecimalNumber(strEntry.substr(0, nDash));
    // Zero would make kill(2) below reach a whole group of processes.
    if (!nPid || *nPid <= 0 || *nPid > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<pid_t>(*nPid);
}

bool ProcessRuns(pid_t nPid) {
    return ::kill(nPid, 0) == 0 || errno == EPERM;  // EPERM: it runs, as another user
}

}  // namespace

CProfileFile::CProfileFile(std::string strPath) : m_strPath(std::move(strPath)) {}

std::optional<std::string> CProfileFile::Read() const {
    std::string strBytes;
    struct stat status {};
    if (ReadFileBytes(m_strPath, strBytes, status) != EFileRead::kRead) {
        return std::nullopt;
    }
    return strBytes;
}

std::optional<CProfileFile::SStored> CProfileFile::ReadForRewrite() const {
    SStored stored;
    stored.strTarget = FollowLinks(m_strPath).string();
    EFileRead eRead = ReadFileBytes(stored.strTarget, stored.strBytes, stored.status);
    if (eRead == EFileRead::kUnusable) {
        return std::nullopt;
    }
    stored.bExists = eRead == EFileRead::kRead;
    return stored;
}

void CProfileFile::RemoveStaleTemporaries(const SStored& stored) const {
    fs::path target = stored.strTarget;
    fs::path folder = target.parent_path();
    DIR* pFolder = ::opendir(folder.empty() ? "." : folder.c_str());
    if (pFolder == nullptr) {
        return;  // no folder yet, or not readable: nothing of ours can be there
    }
    std::string strPrefix = TemporaryPrefix(target);
    int hFolder = ::dirfd(pFolder);
    while (const struct dirent* pEntry = ::readdir(pFolder)) {
        std::optional<pid_t> nWriter = TemporaryWriter(pEntry->d_name, strPrefix);
        struct stat status {};
        if (nWriter && !ProcessRuns(*nWriter) &&
            ::fstatat(hFolder, pEntry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            // A failure leaves one stale file, which the next save tries again.
            ::unlinkat(hFolder, pEntry->d_name, 0);
        }
    }
    ::closedir(pFolder);
}

bool CProfileFile::Replace(const SStored& stored, std::string_view strBytes,
                           bool bOwnerOnly) const {
    if (strBytes.size() > kMaxBytes) {
        return false;  // it would read back as missing, and every setting would be lost
    }
    if (stored.bExists && IsReadOnly(stored.strTarget, stored.status)) {
        return false;  // a rename would succeed in a writable folder; the mode says no
    }
    fs::path target = stored.strTarget;
    struct stat own {};
    // A missing profile gets its folders; a dangling link's target does not.
    if (!stored.bExists && ::lstat(m_strPath.c_str(), &own) != 0 &&
        !CreateFolders(target.parent_path())) {
        return false;
    }

    std::string strTemporary;
    int hFile = CreateTemporaryBeside(target, strTemporary);
    if (hFile < 0) {
        return false;
    }
    bool bOk = (!stored.bExists || KeepOwnerAndMode(hFile, stored.status)) &&
               (!bOwnerOnly || OnlyOwnerMayUse(hFile)) && WriteAll(hFile, strBytes) &&
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
