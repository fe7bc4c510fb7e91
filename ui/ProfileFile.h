// The file behind a profile path: read whole within a size limit, and replaced in one step by
// a temporary file renamed over it, so a full disk, a crash or a kill leaves the old file or
// the new one, never a part of either.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class CProfileFile {
public:
    // A larger file is no profile of ours: read as missing, and never rewritten or written.
    static constexpr std::size_t kMaxBytes = 16 * 1024 * 1024;

    // What a rewrite starts from.
    struct SStored {
        std::string strTarget;  // the file itself: the end of the chain when the path is a link
        bool bExists = false;   // false: no file yet, and strBytes is empty
        std::string strBytes;
        struct stat status {};
    };

    explicit CProfileFile(std::string strPath);

    // Nothing when the file is missing, no regular file, unreadable or too large.
    std::optional<std::string> Read() const;
    // Nothing when a file stands there that cannot be read whole: it must never be replaced.
    std::optional<SStored> ReadForRewrite() const;

    // Temporary files carry their writer's process id: ".NAME.tmp-PID-COUNTER" beside the
    // file. Removes those whose writer no longer runs, as a kill during a save leaves them.
    void RemoveStaleTemporaries(const SStored& stored) const;

    // Writes strBytes in place of the stored file, with the old file's owner and mode. False,
    // and the file as it was, when it is read-only, the bytes are over the size limit, or the
    // write fails. Read-only goes by the owner's write bit too, since root may write any file, and
    // a profile set to mode 444 is meant to stay as it is. bOwnerOnly: the bytes hold a secret,
    // so the file's group and others lose every access before a byte is written.
    bool Replace(const SStored& stored, std::string_view strBytes, bool bOwnerOnly = false) const;

private:
    std::string m_strPath;
};
