// One file a visitor sends, in the folder it goes to. It has no name while it
// arrives, so a crash, a cut or a full disk leaves nothing a visitor could take
// for the whole file; it gets its name in one step that never replaces an
// existing entry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Where the file system does not make nameless files, the file arrives under a
// hidden name beginning with this; the next Start removes what a crash left.
inline constexpr std::string_view kUploadTempPrefix = ".tarvel-upload-";

class CUploadFile {
public:
    enum class EName { Named, Exists, Failed };

    CUploadFile() = default;
    ~CUploadFile();
    CUploadFile(const CUploadFile&) = delete;
    CUploadFile& operator=(const CUploadFile&) = delete;

    // Begins a file in the open folder hFolder (not owned). False with errno
    // set. bNameless false: a hidden name at once, as where the file system
    // has no nameless files.
    bool Open(int hFolder, bool bNameless = true);
    // Every byte, or false with errno set (ENOSPC: the disk is full).
    bool Write(std::string_view bytes);
    // Flushes the file to disk and gives it its name, unless an entry the file
    // system counts as that name exists. Failed sets errno.
    EName Name(const std::string& strName);
    uint64_t Written() const { return m_nWritten; }

private:
    // Starts writing out what arrived, and waits for what was started before,
    // so the flush before naming has little left to do.
    void WriteOut();

    int m_hFolder = -1;
    int m_hFile = -1;
    std::string m_strTempName;  // the hidden name, where nameless files cannot be
    uint64_t m_nWritten = 0;
    uint64_t m_nWrittenOut = 0;  // started towards the disk
};

// Removes the hidden files that uploads cut short by a crash left in the
// folders under strRoot, looking into at most nMaxFolders folders. The count removed.
size_t RemoveLeftoverUploads(const std::string& strRoot, size_t nMaxFolders);
