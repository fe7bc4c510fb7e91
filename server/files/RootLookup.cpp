#include "RootLookup.h"

#include <sys/stat.h>

#include <algorithm>

#include "FileException.h"

CRootLookup::CRootLookup(const std::string& strRoot, const SFileIdentity& ownProgram,
                         std::span<char> startBuffer, ReadsStartOf readsStartOf)
    : m_strRoot(strRoot),
      m_ownProgram(ownProgram),
      m_startBuffer(startBuffer),
      m_readsStartOf(readsStartOf) {}

SFound CRootLookup::Look(std::string_view path) {
    m_fileStart = {};
    struct stat status {};
    std::optional<std::string> resolved = ResolveUnderRoot(m_strRoot, path, status, m_scanned);
    if (!resolved) {
        return {};
    }
    if (S_ISDIR(status.st_mode)) {
        return {.kind = SFound::EKind::Folder, .strName = std::move(*resolved)};
    }
    if (!S_ISREG(status.st_mode) || m_ownProgram.Matches(status)) {
        return {};
    }
    // A file is the answer and no listing follows: the names of a folder
    // searched on the way are not held, nor the folder open, through what may
    // be a long send.
    m_scanned.Clear();
    SFound found{.kind = SFound::EKind::File, .strName = std::move(*resolved)};
    try {
        m_file.Open(found.strName);
        const struct stat& opened = m_file.Status();
        if (!S_ISREG(opened.st_mode) || m_ownProgram.Matches(opened)) {
            m_file.Close();
            return {};
        }
        found.facts = {.nSize = static_cast<uint64_t>(opened.st_size),
                       .nModifiedSeconds = opened.st_mtim.tv_sec,
                       .nModifiedNanoseconds = opened.st_mtim.tv_nsec,
                       .inode = opened.st_ino};
    } catch (const CFileException&) {
        return {};  // gone, or not ours to read: as if it were not there
    }
    // The charset label is judged by the file's start, the same for every
    // answer of the file (GET, HEAD, any range).
    if (m_readsStartOf != nullptr && m_readsStartOf(found.strName)) {
        const size_t nLook = std::min<uint64_t>(found.facts.nSize, m_startBuffer.size());
        try {
            found.start = {m_startBuffer.data(), m_file.Read(m_startBuffer.data(), nLook, 0)};
            m_fileStart = found.start;
        } catch (const CFileException&) {
            // Unlabelled; the read that sends the body reports the failure.
        }
    }
    return found;
}

bool CRootLookup::ReadFolder(const SFound& folder, std::string_view requestPath,
                             std::vector<SFolderEntry>& entries) {
    if (!m_scanned.AreOf(folder.strName) && !m_scanned.Read(folder.strName)) {
        return false;
    }
    ListServedEntries(m_scanned, requestPath, m_ownProgram, entries);
    m_scanned.Clear();  // a large folder's names are not kept beside its page
    return true;
}

bool CRootLookup::ReadWhole(uint64_t nSize, std::string& strBytes) {
    strBytes.resize(static_cast<size_t>(nSize));
    size_t nDone = 0;
    try {
        while (nDone < strBytes.size()) {
            const size_t nRead =
                m_file.Read(strBytes.data() + nDone, strBytes.size() - nDone, nDone);
            if (nRead == 0) {
                break;
            }
            nDone += nRead;
        }
    } catch (const CFileException&) {
        return false;
    }
    strBytes.resize(nDone);
    return true;
}

std::string_view CRootLookup::ReadStart(size_t nBytes) {
    if (!m_fileStart.empty()) {
        return m_fileStart;
    }
    try {
        const size_t nLook = std::min(nBytes, m_startBuffer.size());
        m_fileStart = {m_startBuffer.data(), m_file.Read(m_startBuffer.data(), nLook, 0)};
    } catch (const CFileException&) {
        // Nothing read: the read that sends the body reports the failure.
    }
    return m_fileStart;
}
