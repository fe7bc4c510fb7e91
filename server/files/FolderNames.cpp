#include "FolderNames.h"

#include <cerrno>

bool CFolderNames::Read(const std::string& strFolder) {
    Clear();
    m_strFolder = strFolder;
    m_pDir.reset(::opendir(strFolder.c_str()));
    if (!m_pDir) {
        return false;
    }
    for (;;) {
        errno = 0;  // readdir tells the end from a failure only through errno
        const dirent* pEntry = ::readdir(m_pDir.get());
        if (pEntry == nullptr) {
            break;
        }
        m_strNames.append(pEntry->d_name);
        m_strNames += '\0';
    }
    m_bComplete = errno == 0;
    return m_bComplete;
}

void CFolderNames::Clear() {
    m_strFolder.clear();
    m_pDir.reset();
    std::string().swap(m_strNames);
    m_bComplete = false;
}
