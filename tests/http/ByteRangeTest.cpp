// The Range header read against a file's size.
#include <gtest/gtest.h>

#include "ByteRange.h"

namespace {

using EKind = SByteRange::EKind;

struct SRangeCase {
    const char* pszName;
    std::string strHeader;
    uint64_t nSize;
    EKind kind;
    uint64_t nFirst = 0;
    uint64_t nLast = 0;
};

class RangeTest : public ::testing::TestWithParam<SRangeCase> {};

TEST_P(RangeTest, Evaluates) {
    const SRangeCase& c = GetParam();
    SByteRange range = EvaluateRange(c.strHeader, c.nSize);
    EXPECT_EQ(range.kind, c.kind);
    if (c.kind == EKind::Satisfiable) {
        EXPECT_EQ(range.nFirst, c.nFirst);
        EXPECT_EQ(range.nLast, c.nLast);
    }
}

const SRangeCase kRangeCases[] = {
    {"closed", "bytes=0-499", 10000, EKind::Satisfiable, 0, 499},
    {"open_ended", "bytes=9500-", 10000, EKind::Satisfiable, 9500, 9999},
    {"suffix", "bytes=-500", 10000, EKind::Satisfiable, 9500, 9999},
    {"suffix_longer_than_file", "bytes=-20000", 10000, EKind::Satisfiable, 0, 9999},
    {"end_past_file_clipped", "bytes=9000-99999", 10000, EKind::Satisfiable, 9000, 9999},
    {"one_byte", "bytes=5-5", 10000, EKind::Satisfiable, 5, 5},
    {"blanks_allowed", " bytes = 1 - 2 ", 10000, EKind::Satisfiable, 1, 2},
    {"last_byte", "bytes=9999-", 10000, EKind::Satisfiable, 9999, 9999},
    {"beyond_4_gib", "bytes=5000000000-", 6000000000, EKind::Satisfiable, 5000000000, 5999999999},
    {"first_at_size", "bytes=10000-", 10000, EKind::Unsatisfiable},
    {"first_past_size", "bytes=20000-20010", 10000, EKind::Unsatisfiable},
    {"zero_suffix", "bytes=-0", 10000, EKind::Unsatisfiable},
    {"empty_file", "bytes=0-", 0, EKind::Unsatisfiable},
    {"empty_file_suffix", "bytes=-5", 0, EKind::Unsatisfiable},
    {"last_before_first", "bytes=5-3", 10000, EKind::None},
    {"other_unit", "items=0-5", 10000, EKind::None},
    {"unit_any_case", "BYTES=10-19", 10000, EKind::Satisfiable, 10, 19},
    {"no_dash", "bytes=5", 10000, EKind::None},
    {"no_numbers", "bytes=-", 10000, EKind::None},
    {"sign", "bytes=+1-2", 10000, EKind::None},
    {"negative_first", "bytes=-1-2", 10000, EKind::None},
    {"letters", "bytes=a-b", 10000, EKind::None},
    {"too_large", "bytes=0-99999999999999999999999", 10000, EKind::None},
    {"several_ranges_answered_whole", "bytes=0-1,5-6", 10000, EKind::None},
    {"empty", "", 10000, EKind::None},
};

INSTANTIATE_TEST_SUITE_P(Ranges, RangeTest, ::testing::ValuesIn(kRangeCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

}  // namespace
