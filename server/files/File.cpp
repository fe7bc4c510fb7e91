#include "File.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "FileException.h"

namespace {
[[noreturn]] void ThrowFileError(const char* pszWhat, const std::string& strPath) {
    int nError = errno;
    throw CFileException(CFileException::generic, nError, std::string(pszWhat) + " " + strPath);
}
}  // namespace

CFile::~CFile() {
    if (m_hFile >= 0) {
        ::close(m_hFile);
    }
}

void CFile::Open(const std::string& strPath) {
    Close();
    m_strPath = strPath;
    // O_NONBLOCK: opening a FIFO without a writer must not freeze the one thread.
    m_hFile = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (m_hFile < 0) {
        ThrowFileError("open", strPath);
    }
    if (::fstat(m_hFile, &m_status) != 0) {
        int nError = errno;
        ::close(m_hFile);
        m_hFile = -1;
        errno = nError;
        ThrowFileError("stat", strPath);
    }
}

size_t CFile::Read(void* pBuffer, size_t nCount, uint64_t nOffset) {
    for (;;) {
        ssize_t nRead = ::pread(m_hFile, pBuffer, nCount, static_cast<off_t>(nOffset));
        if (nRead >= 0) {
            return static_cast<size_t>(nRead);
        }
        if (errno != EINTR) {
            ThrowFileError("read", m_strPath);
        }
    }
}

void CFile::Close() {
    if (m_hFile < 0) {
        return;
    }
    int hFile = m_hFile;
    m_hFile = -1;
    if (::close(hFile) != 0 && errno != EINTR) {
        ThrowFileError("close", m_strPath);
    }
}
