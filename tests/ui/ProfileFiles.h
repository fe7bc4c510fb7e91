// Real files for the profile tests: a temporary folder removed afterwards, whole-file reads
// and writes, and a way to run one step as an unprivileged user.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

class CTempFolder {
public:
    CTempFolder() {
        const char* pszBase = std::getenv("TMPDIR");
        std::string strTemplate =
            std::string(pszBase != nullptr && pszBase[0] == '/' ? pszBase : "/tmp") +
            "/tarvel-profile-XXXXXX";
        if (::mkdtemp(strTemplate.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_strRoot = strTemplate;
    }
    ~CTempFolder() {
        std::error_code error;
        // Tests may leave folders read-only; give them back so they can be removed.
        ::chmod(m_strRoot.c_str(), 0700);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_strRoot, error)) {
            if (entry.is_directory(error) && !entry.is_symlink(error)) {
                ::chmod(entry.path().c_str(), 0700);
            }
        }
        std::filesystem::remove_all(m_strRoot, error);
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::string& Root() const { return m_strRoot; }
    std::string Path(const std::string& strName) const { return m_strRoot + "/" + strName; }

private:
    std::string m_strRoot;
};

inline std::string ReadBytes(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + strPath);
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& strPath, std::string_view strBytes) {
    std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
    file.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
    if (!file.flush()) {
        throw std::runtime_error("cannot write " + strPath);
    }
}

inline bool Exists(const std::string& strPath) {
    struct stat status {};
    return ::lstat(strPath.c_str(), &status) == 0;
}

inline uid_t NobodyUser() {
    const struct passwd* pEntry = ::getpwnam("nobody");
    return pEntry != nullptr ? pEntry->pw_uid : 65534;
}

inline gid_t NobodyGroup() {
    const struct passwd* pEntry = ::getpwnam("nobody");
    return pEntry != nullptr ? pEntry->pw_gid : 65534;
}

// Runs fnStep in a child process, so what it changes of the process (user, limits) ends with
// it. Returns 1 when fnStep gave true, 0 when false, -1 when the child failed otherwise.
inline int RunInChild(const std::function<bool()>& fnStep) {
    pid_t nChild = ::fork();
    if (nChild < 0) {
        return -1;
    }
    if (nChild == 0) {
        ::_exit(fnStep() ? 1 : 0);
    }
    int nStatus = 0;
    if (::waitpid(nChild, &nStatus, 0) != nChild || !WIFEXITED(nStatus) ||
        WEXITSTATUS(nStatus) > 1) {
        return -1;
    }
    return WEXITSTATUS(nStatus);
}

// As RunInChild, but as "nobody" when the tests run as root (root writes read-only files).
inline int RunUnprivileged(const std::function<bool()>& fnStep) {
    return RunInChild([&] {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(NobodyGroup()) != 0 ||
                                 ::setuid(NobodyUser()) != 0)) {
            ::_exit(2);
        }
        return fnStep();
    });
}
