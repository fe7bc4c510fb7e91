// A folder's names, read once, with the folder held open so that each name can
// be looked up relative to it. The search for a case-folded name and the
// listing of the same folder share one read.
#pragma once

#include <dirent.h>

#include <memory>
#include <string>
#include <string_view>

class CFolderNames {
public:
    // Reads every name of strFolder (a path on disk), "." and ".." included,
    // in the folder's own order. False when the folder cannot be opened or
    // reading it fails; the names read before a failure are kept.
    bool Read(const std::string& strFolder);
    // The names of strFolder, read to the end.
    bool AreOf(const std::string& strFolder) const {
        return m_bComplete && m_strFolder == strFolder;
    }
    // The folder that was read, open, for look-ups relative to it.
    int Handle() const { return m_pDir ? ::dirfd(m_pDir.get()) : -1; }
    // Calls visit(name) for each name; name.data() is NUL-terminated, for calls
    // that take a C string.
    template <typename Visit>
    void ForEach(Visit visit) const {
        for (size_t nAt = 0; nAt < m_strNames.size();) {
            const std::string_view name(m_strNames.data() + nAt);
            visit(name);
            nAt += name.size() + 1;
        }
    }
    // Gives the names' memory back and closes the folder.
    void Clear();

private:
    std::string m_strFolder;
    std::unique_ptr<DIR, int (*)(DIR*)> m_pDir{nullptr, ::closedir};
    // Every name followed by its NUL: one block, whatever the number of names.
    std::string m_strNames;
    bool m_bComplete = false;
};
