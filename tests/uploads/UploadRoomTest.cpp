// The room an upload may take: the reserve left free, and no sum that wraps.
#include <gtest/gtest.h>

#include <cstdint>

#include "UploadRoom.h"

namespace {
constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kGiB = uint64_t{1} << 30;

struct SRoomCase {
    const char* pszName;
    SDiskSpace space;
    uint64_t nExpected;
    uint64_t nLength;
    ERoom room;
};

const SRoomCase kRoomCases[] = {
    // 100 GiB disk: the reserve is 1 GiB.
    {"fits_above_the_reserve", {100 * kGiB, 11 * kGiB}, 0, 10 * kGiB, ERoom::Fits},
    {"one_byte_into_the_reserve", {100 * kGiB, 11 * kGiB}, 0, 10 * kGiB + 1, ERoom::NoRoom},
    {"uploads_in_flight_count", {100 * kGiB, 11 * kGiB}, 1, 10 * kGiB, ERoom::NoRoom},
    {"in_flight_beyond_the_room", {100 * kGiB, 2 * kGiB}, 5 * kGiB, 0, ERoom::NoRoom},
    {"already_inside_the_reserve", {100 * kGiB, kGiB - 1}, 0, 0, ERoom::NoRoom},
    // 1 GiB disk: the reserve is 5 %, 51.2 MiB.
    {"small_disk_keeps_five_percent", {1024 * kMiB, 100 * kMiB}, 0, 48 * kMiB, ERoom::Fits},
    {"small_disk_into_its_reserve", {1024 * kMiB, 100 * kMiB}, 0, 49 * kMiB, ERoom::NoRoom},
    {"larger_than_the_disk", {1024 * kMiB, 1024 * kMiB}, 0, 1024 * kMiB + 1, ERoom::TooLarge},
    {"lengths_that_would_wrap", {100 * kGiB, 50 * kGiB}, UINT64_MAX - 5, 10, ERoom::NoRoom},
    {"empty_file_on_an_empty_disk", {100 * kGiB, 99 * kGiB}, 0, 0, ERoom::Fits},
};

class UploadRoomTest : public ::testing::TestWithParam<SRoomCase> {};

TEST_P(UploadRoomTest, LeavesTheReserveFree) {
    const SRoomCase& c = GetParam();
    EXPECT_EQ(JudgeRoom(c.space, c.nExpected, c.nLength), c.room);
}

INSTANTIATE_TEST_SUITE_P(Disks, UploadRoomTest, ::testing::ValuesIn(kRoomCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(UploadRoom, TheReserveIsOneGibOrFivePercent) {
    EXPECT_EQ(ReserveOf(100 * kGiB), kGiB);
    EXPECT_EQ(ReserveOf(20 * kGiB), kGiB);
    EXPECT_EQ(ReserveOf(10 * kGiB), kGiB / 2);
    EXPECT_EQ(ReserveOf(64 * kMiB), 64 * kMiB / 20);
    EXPECT_EQ(ReserveOf(UINT64_MAX), kGiB);
}
}  // namespace
