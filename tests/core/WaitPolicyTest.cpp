// The bounds each phase of a request is given, and the README's table of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "WaitPolicy.h"

namespace {

// The bounds the README's table promises, phase by phase.
TEST(WaitPolicy, EachPhaseHasItsBounds) {
    const SWaitPolicy policy;
    EXPECT_EQ(policy.requestHead.nDeadlineMs, 1000);
    EXPECT_EQ(policy.wholeFile.nStallMs, 10000);
    EXPECT_EQ(policy.wholeFile.nMinimumRate, 1024);
    EXPECT_EQ(policy.range.nStallMs, 500);
    EXPECT_EQ(policy.range.nMinimumRate, 1024);
    EXPECT_EQ(policy.memoryBody.nStallMs, policy.wholeFile.nStallMs);
    EXPECT_EQ(policy.uploadBody.nStallMs, 10000);
    EXPECT_EQ(policy.uploadBody.nMinimumRate, 1024);
    EXPECT_EQ(policy.refusedBody.nDeadlineMs, 1000);
    EXPECT_EQ(policy.nRefusedBodyBytes, 1024 * 1024);
    EXPECT_EQ(policy.stopDrain.nDeadlineMs, 2000);
    EXPECT_EQ(policy.accept.nStallMs, 2000);
    EXPECT_EQ(policy.nIdleClientMs, 30000);
    EXPECT_EQ(policy.nShareMs, 1000);
    EXPECT_EQ(policy.nShareWindowMs, 10000);
    EXPECT_EQ(policy.nAllShareMs, 1000);
    for (const SWaitBounds& bounds : {policy.wholeFile, policy.range, policy.stopDrain}) {
        EXPECT_TRUE(bounds.bShared);
    }
}

// The rows of the README's bounds table, as written.
std::vector<std::string> ReadmeBoundsRows() {
    std::ifstream readme(TARVEL_README_PATH);
    std::vector<std::string> rows;
    bool bInTable = false;
    for (std::string strLine; std::getline(readme, strLine);) {
        if (strLine.starts_with("| What | Bound |")) {
            bInTable = true;
        } else if (bInTable && !strLine.starts_with('|')) {
            break;
        } else if (bInTable && !strLine.starts_with("|---")) {
            rows.push_back(strLine);
        }
    }
    return rows;
}

// The quantities a row states, in order: times in milliseconds, rates in bytes
// a second.
std::vector<long long> QuantitiesIn(const std::string& strRow) {
    static const std::regex quantity(R"(\b(\d+(?:\.\d+)?) (ms|s|KiB/s)\b)");
    std::vector<long long> quantities;
    for (std::sregex_iterator it(strRow.begin(), strRow.end(), quantity), end; it != end; ++it) {
        const std::string strUnit = (*it)[2];
        const double dScale = strUnit == "ms" ? 1 : strUnit == "s" ? 1000 : 1024;
        quantities.push_back(std::llround(std::stod((*it)[1]) * dScale));
    }
    return quantities;
}

// The README and the code have one source for each bound: the table states the
// policy's numbers, and every row of it is checked here.
TEST(WaitPolicy, TheReadmesBoundsTableStatesThePolicysNumbers) {
    const SWaitPolicy policy;
    const struct {
        const char* pszWhat;             // how the row begins
        std::vector<long long> numbers;  // what it states, in its order
    } rows[] = {
        {.pszWhat = "| the request head", .numbers = {policy.requestHead.nDeadlineMs}},
        {.pszWhat = "| a whole-file answer",
         .numbers = {policy.wholeFile.nMinimumRate, policy.wholeFile.nStallMs}},
        {.pszWhat = "| a range answer",
         .numbers = {policy.range.nMinimumRate, policy.range.nStallMs}},
        {.pszWhat = "| a connection that sends nothing", .numbers = {policy.nIdleClientMs}},
        {.pszWhat = "| an upload's body",
         .numbers = {policy.uploadBody.nMinimumRate, policy.uploadBody.nStallMs}},
        {.pszWhat = "| what the client of a refused upload",
         .numbers = {policy.refusedBody.nDeadlineMs}},
        {.pszWhat = "| Stop", .numbers = {policy.stopDrain.nDeadlineMs}},
        {.pszWhat = "| **fair share**", .numbers = {policy.nShareMs, policy.nShareWindowMs}},
        {.pszWhat = "| **all peers together**",
         .numbers = {policy.nAllShareMs, policy.nShareWindowMs, CWaitJudge::kProbePassMs}},
    };
    const std::vector<std::string> readmeRows = ReadmeBoundsRows();
    ASSERT_EQ(readmeRows.size(), std::size(rows)) << TARVEL_README_PATH;
    for (const auto& row : rows) {
        const auto found =
            std::find_if(readmeRows.begin(), readmeRows.end(),
                         [&](const std::string& s) { return s.starts_with(row.pszWhat); });
        ASSERT_NE(found, readmeRows.end()) << row.pszWhat;
        EXPECT_EQ(QuantitiesIn(*found), row.numbers) << *found;
    }
}

}  // namespace
