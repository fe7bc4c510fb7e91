#include "UploadFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {
// Written out in steps of this size: a fast sender never has more than two
// steps waiting for the disk.
constexpr uint64_t kWriteOutStep = 8 * 1024 * 1024;

int OpenNameless(int hFolder) {
    return ::openat(hFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
}

// EOPNOTSUPP on file systems without nameless files (older ones say EISDIR or EINVAL).
bool LacksNamelessFiles(int nError) {
    return nError == EOPNOTSUPP || nError == EISDIR || nError == EINVAL;
}

std::string TempName() {
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        return {};
    }
    std::string strName(kUploadTempPrefix);
    char hex[3];
    for (unsigned char byte : random) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        strName += hex;
    }
    return strName;
}

// A hidden name in the folder: never listed, never served.
int OpenHidden(int hFolder, std::string& strName) {
    for (int nTry = 0; nTry < 8; ++nTry) {
        strName = TempName();
        if (strName.empty()) {
            return -1;
        }
        const int hFile =
            ::openat(hFolder, strName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        if (hFile >= 0 || errno != EEXIST) {
            return hFile;
        }
    }
    return -1;
}
}  // namespace

CUploadFile::~CUploadFile() {
    if (m_hFile >= 0) {
        ::close(m_hFile);  // a nameless file goes with its descriptor
    }
    if (!m_strTempName.empty()) {
        ::unlinkat(m_hFolder, m_strTempName.c_str(), 0);
    }
}

bool CUploadFile::Open(int hFolder, bool bNameless) {
    m_hFolder = hFolder;
    m_hFile = bNameless ? OpenNameless(hFolder) : -1;
    if (m_hFile < 0 && (!bNameless || LacksNamelessFiles(errno))) {
        m_hFile = OpenHidden(hFolder, m_strTempName);
    }
    return m_hFile >= 0;
}

bool CUploadFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t nWritten = ::write(m_hFile, bytes.data(), bytes.size());
        if (nWritten < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(nWritten));
        m_nWritten += static_cast<uint64_t>(nWritten);
    }
    if (m_nWritten - m_nWrittenOut >= kWriteOutStep) {
        WriteOut();
    }
    return true;
}

void CUploadFile::WriteOut() {
    // The step before this one is waited for, this one only started: the
    // disk works while the next bytes arrive.
    if (m_nWrittenOut >= kWriteOutStep) {
        ::sync_file_range(m_hFile, static_cast<off_t>(m_nWrittenOut - kWriteOutStep),
                          static_cast<off_t>(kWriteOutStep),
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER);
    }
    ::sync_file_range(m_hFile, static_cast<off_t>(m_nWrittenOut),
                      static_cast<off_t>(m_nWritten - m_nWrittenOut), SYNC_FILE_RANGE_WRITE);
    m_nWrittenOut = m_nWritten;
}

CUploadFile::EName CUploadFile::Name(const std::string& strName) {
    if (::fdatasync(m_hFile) != 0 && errno != EINVAL) {
        return EName::Failed;  // EINVAL: a file system that keeps nothing to flush
    }
    int nResult = 0;
    if (m_strTempName.empty()) {
        // Through /proc, so no privilege is needed to link a descriptor.
        const std::string strSelf = "/proc/self/fd/" + std::to_string(m_hFile);
        nResult = ::linkat(AT_FDCWD, strSelf.c_str(), m_hFolder, strName.c_str(), AT_SYMLINK_FOLLOW);
    } else {
        // A link fails on an existing name as a rename without replacing does;
        // file systems without links (FAT) take the rename.
        nResult = ::renameat2(m_hFolder, m_strTempName.c_str(), m_hFolder, strName.c_str(),
                              RENAME_NOREPLACE);
        if (nResult == 0) {
            m_strTempName.clear();
        }
    }
    if (nResult == 0) {
        return EName::Named;
    }
    return errno == EEXIST ? EName::Exists : EName::Failed;
}

namespace {
bool IsLeftover(const char* pszName) {
    return std::string_view(pszName).starts_with(kUploadTempPrefix);
}
}  // namespace

size_t RemoveLeftoverUploads(const std::string& strRoot, size_t nMaxFolders) {
    size_t nRemoved = 0;
    std::vector<std::string> folders{strRoot};
    for (size_t nAt = 0; nAt < folders.size() && nAt < nMaxFolders; ++nAt) {
        DIR* pFolder = ::opendir(folders[nAt].c_str());
        if (pFolder == nullptr) {
            continue;
        }
        while (const dirent* pEntry = ::readdir(pFolder)) {
            const std::string_view name = pEntry->d_name;
            if (IsLeftover(pEntry->d_name)) {
                struct stat status {};
                if (::fstatat(::dirfd(pFolder), pEntry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISREG(status.st_mode) &&
                    ::unlinkat(::dirfd(pFolder), pEntry->d_name, 0) == 0) {
                    ++nRemoved;
                }
            } else if (pEntry->d_type == DT_DIR && !name.starts_with('.')) {
                // Hidden folders take no uploads; links are not followed out of the root.
                folders.push_back(folders[nAt] + "/" + std::string(name));
            }
        }
        ::closedir(pFolder);
    }
    return nRemoved;
}
