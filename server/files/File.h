// A file opened read-only for serving. Every failure (open, read, close) throws
// CFileException carrying errno, so the request handler answers with one catch.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class CFile {
public:
    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens an existing file for reading. Never blocks, even on a FIFO or device.
    void Open(const std::string& strPath);
    // Reads up to nCount bytes from nOffset; 0 at the end of the file.
    size_t Read(void* pBuffer, size_t nCount, uint64_t nOffset);
    void Close();

    const struct stat& Status() const { return m_status; }
    int Handle() const { return m_hFile; }

private:
    int m_hFile = -1;
    std::string m_strPath;
    struct stat m_status {};
};
