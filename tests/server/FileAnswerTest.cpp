// Which answer a file gets (ranges, revalidation), HTTP dates, and the charset label.
#include <gtest/gtest.h>

#include "AnswerPlan.h"
#include "ByteRange.h"
#include "ContentType.h"
#include "HttpDate.h"
#include "Utf8.h"
#include "Validators.h"

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

const SFileFacts kFacts{.nSize = 1000,
                        .nModifiedSeconds = 784111777,  // Sun, 06 Nov 1994 08:49:37 GMT
                        .nModifiedNanoseconds = 5,
                        .inode = 42};
const std::string kTag = EntityTagFor(kFacts);
const std::string kDate = "Sun, 06 Nov 1994 08:49:37 GMT";

struct SAnswerCase {
    const char* pszName;
    SRequestHeaders headers;
    int nStatus;
    uint64_t nFirst = 0;
    uint64_t nCount = 0;
};

class FileAnswerTest : public ::testing::TestWithParam<SAnswerCase> {};

TEST_P(FileAnswerTest, Plans) {
    const SAnswerCase& c = GetParam();
    SFileAnswer answer = PlanFileAnswer(c.headers, kFacts);
    EXPECT_EQ(answer.nStatus, c.nStatus);
    EXPECT_EQ(answer.nFirst, c.nFirst);
    EXPECT_EQ(answer.nCount, c.nCount);
}

const SAnswerCase kAnswerCases[] = {
    {"plain", {}, 200, 0, 1000},
    {"tag_matches", {.strIfNoneMatch = kTag}, 304},
    {"tag_in_list", {.strIfNoneMatch = "\"x\", " + kTag}, 304},
    {"weak_form_matches_for_revalidation", {.strIfNoneMatch = "W/" + kTag}, 304},
    {"star", {.strIfNoneMatch = "*"}, 304},
    {"other_tag", {.strIfNoneMatch = "\"x\""}, 200, 0, 1000},
    {"since_the_modification", {.strIfModifiedSince = kDate}, 304},
    {"since_later", {.strIfModifiedSince = "Mon, 07 Nov 1994 00:00:00 GMT"}, 304},
    {"since_earlier", {.strIfModifiedSince = "Sun, 06 Nov 1994 08:49:36 GMT"}, 200, 0, 1000},
    {"since_unreadable", {.strIfModifiedSince = "yesterday"}, 200, 0, 1000},
    {"tag_decides_over_date",
     {.strIfNoneMatch = "\"x\"", .strIfModifiedSince = kDate},
     200,
     0,
     1000},
    {"range", {.strRange = "bytes=100-199"}, 206, 100, 100},
    {"range_unsatisfiable", {.strRange = "bytes=1000-"}, 416},
    {"range_invalid", {.strRange = "bytes=x"}, 200, 0, 1000},
    {"not_modified_before_range", {.strRange = "bytes=0-1", .strIfNoneMatch = kTag}, 304},
    {"if_range_tag", {.strRange = "bytes=10-", .strIfRange = kTag}, 206, 10, 990},
    {"if_range_date", {.strRange = "bytes=10-", .strIfRange = kDate}, 206, 10, 990},
    {"if_range_old_tag", {.strRange = "bytes=10-", .strIfRange = "\"old\""}, 200, 0, 1000},
    {"if_range_weak_tag", {.strRange = "bytes=10-", .strIfRange = "W/" + kTag}, 200, 0, 1000},
    {"if_range_other_date",
     {.strRange = "bytes=10-", .strIfRange = "Mon, 07 Nov 1994 00:00:00 GMT"},
     200,
     0,
     1000},
    {"if_range_stale_skips_416",
     {.strRange = "bytes=5000-", .strIfRange = "\"old\""},
     200,
     0,
     1000},
};

INSTANTIATE_TEST_SUITE_P(Answers, FileAnswerTest, ::testing::ValuesIn(kAnswerCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(EntityTag, ChangesWithEveryPartOfTheFilesIdentity) {
    SFileFacts replaced = kFacts;
    replaced.inode = 43;
    SFileFacts resized = kFacts;
    resized.nSize = 1001;
    SFileFacts touched = kFacts;
    touched.nModifiedNanoseconds = 6;
    for (const SFileFacts& other : {replaced, resized, touched}) {
        EXPECT_NE(EntityTagFor(other), kTag);
    }
    EXPECT_EQ(kTag.front(), '"');
    EXPECT_EQ(kTag.back(), '"');
}

TEST(HttpDate, FormatsAndReadsTheThreeForms) {
    EXPECT_EQ(HttpDate(784111777), kDate);
    EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    const std::pair<const char*, std::optional<time_t>> cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {"  Sun, 06 Nov 1994 08:49:37 GMT ", 784111777},
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 8:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT; length=5", std::nullopt},
        {"", std::nullopt},
        {"784111777", std::nullopt},
    };
    for (const auto& [pszText, expected] : cases) {
        EXPECT_EQ(ParseHttpDate(pszText), expected) << pszText;
    }
}

TEST(Charset, Utf8TextAcceptsASequenceCutByTheLookLimitOnly) {
    const std::pair<std::string, bool> cases[] = {
        {"plain ascii", true},
        {"caf\xc3\xa9", true},
        {"\xe2\x82\xac euro", true},
        {"\xf0\x9f\x98\x80", true},
        {"cut \xe2\x82", true},
        {"cut \xf0", true},
        {"latin1 caf\xe9!", false},
        {"lone continuation \x80", false},
        {"overlong \xc0\xaf", false},
        {"overlong \xe0\x80\xaf", false},
        {"surrogate \xed\xa0\x80", false},
        {"beyond unicode \xf4\x90\x80\x80", false},
        {"broken \xe2\x28\xa1", false},
    };
    for (const auto& [strText, bValid] : cases) {
        EXPECT_EQ(IsUtf8Text(strText, true), bValid) << strText;
    }
    // A whole file that ends mid-sequence is not UTF-8.
    EXPECT_FALSE(IsUtf8Text("cut \xe2\x82", false));
    EXPECT_FALSE(IsUtf8Text("caf\xe9", false));
    EXPECT_TRUE(IsUtf8Text("caf\xc3\xa9", false));
    EXPECT_TRUE(IsCharsetLabelledType("text/plain"));
    EXPECT_TRUE(IsCharsetLabelledType("text/vtt"));
    EXPECT_FALSE(IsCharsetLabelledType("text/html"));
}

}  // namespace
