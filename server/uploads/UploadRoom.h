// Whether a file system has room for an upload, leaving a reserve free for
// everything else on it.
#pragma once

#include <cstdint>

struct SDiskSpace {
    uint64_t nTotal = 0;      // the file system's size
    uint64_t nAvailable = 0;  // what an unprivileged writer may still use
};

enum class ERoom {
    Fits,
    NoRoom,      // it would leave less than the reserve free
    TooLarge,    // larger than the whole file system
};

// 1 GiB, or 5 % of the file system if that is smaller.
uint64_t ReserveOf(uint64_t nTotal);
// nLength: the upload's declared length; nExpected: what uploads in flight
// on any file system still expect to write.
ERoom JudgeRoom(const SDiskSpace& space, uint64_t nExpected, uint64_t nLength);
// The space of the file system holding the open folder hFolder; false when it
// cannot be asked.
bool DiskSpaceOf(int hFolder, SDiskSpace& space);
