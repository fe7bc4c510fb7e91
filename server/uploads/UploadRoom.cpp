#include "UploadRoom.h"

#include <sys/statvfs.h>

namespace {
constexpr uint64_t kReserveBytes = uint64_t{1} << 30;
constexpr uint64_t kReservePercent = 5;
}  // namespace

uint64_t ReserveOf(uint64_t nTotal) {
    const uint64_t nShare = nTotal / 100 * kReservePercent + nTotal % 100 * kReservePercent / 100;
    return nShare < kReserveBytes ? nShare : kReserveBytes;
}

ERoom JudgeRoom(const SDiskSpace& space, uint64_t nExpected, uint64_t nLength) {
    if (nLength > space.nTotal) {
        return ERoom::TooLarge;
    }
    const uint64_t nReserve = ReserveOf(space.nTotal);
    // Written as subtractions, so no sum of large lengths can wrap around.
    if (space.nAvailable < nReserve || nExpected > space.nAvailable - nReserve ||
        nLength > space.nAvailable - nReserve - nExpected) {
        return ERoom::NoRoom;
    }
    return ERoom::Fits;
}

bool DiskSpaceOf(int hFolder, SDiskSpace& space) {
    struct statvfs status {};
    if (::fstatvfs(hFolder, &status) != 0) {
        return false;
    }
    space.nTotal = static_cast<uint64_t>(status.f_blocks) * status.f_frsize;
    space.nAvailable = static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
    return true;
}
