// What the file system says of a file that answers depend on: its validators'
// facts, and which file it is.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>

// What an answer's validators are made from.
struct SFileFacts {
    uint64_t nSize = 0;
    time_t nModifiedSeconds = 0;
    long nModifiedNanoseconds = 0;
    ino_t inode = 0;
};

// A file that is never served, whatever it is called (the running program).
struct SFileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool Matches(const struct stat& status) const {
        return inode != 0 && status.st_dev == device && status.st_ino == inode;
    }
};
