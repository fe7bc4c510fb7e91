// What the file system says of a path under the root, for the decision of an
// answer: nothing there, a folder, or a file that may be served, opened.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "File.h"
#include "FileFacts.h"
#include "FolderEntries.h"
#include "PathResolver.h"

struct SFound {
    enum class EKind { Nothing, Folder, File } kind = EKind::Nothing;
    std::string strName{};     // Folder, File: the name on disk
    SFileFacts facts{};        // File: of the open file
    std::string_view start{};  // File whose start is read at once: its first bytes
};

class CRootLookup {
public:
    // Which files' start Look reads at once, by name (a text whose charset
    // label depends on its bytes).
    using ReadsStartOf = bool (*)(std::string_view fileName);
    // startBuffer holds the first bytes of a file that Look reads; it must
    // outlive the lookup's answers.
    CRootLookup(const std::string& strRoot, const SFileIdentity& ownProgram,
                std::span<char> startBuffer, ReadsStartOf readsStartOf = nullptr);

    // A regular file is opened (never a FIFO or device, which would block or
    // release a writer) and judged again on the open file, whose name may have
    // changed meanwhile. The running program's own file is Nothing.
    SFound Look(std::string_view path);
    // The entries of a folder Look found that may be served from it, for a
    // listing; requestPath: the folder as requested. False when it cannot be read.
    // A folder that a Look of this lookup searched for a case-folded name (its
    // default page, missing) is not read again, unless a Look found a file since.
    bool ReadFolder(const SFound& folder, std::string_view requestPath,
                    std::vector<SFolderEntry>& entries);
    // The file the last Look found, open, and the bytes of its start that Look
    // read (or none), for the sender.
    CFile& OpenFile() { return m_file; }
    // Up to nSize bytes of that file, as far as it reads now (it may have
    // shrunk); false when the read fails.
    bool ReadWhole(uint64_t nSize, std::string& strBytes);
    std::string_view FileStart() const { return m_fileStart; }
    // The start of that file: what Look read, or else up to nBytes read now
    // (none when there is no start buffer or the read fails).
    std::string_view ReadStart(size_t nBytes);

private:
    const std::string& m_strRoot;
    SFileIdentity m_ownProgram;
    std::span<char> m_startBuffer;
    ReadsStartOf m_readsStartOf;
    CFile m_file;
    std::string_view m_fileStart;
    CFolderNames m_scanned;  // the last folder searched for a case-folded name
};
