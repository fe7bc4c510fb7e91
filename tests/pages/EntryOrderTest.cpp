// The order of a listing's entries, and the query that chooses it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EntryOrder.h"

namespace {
using EColumn = SListingOrder::EColumn;

// The names in the order sorted, separated by blanks.
std::string SortedNames(std::vector<SFolderEntry> entries, SListingOrder order) {
    SortEntries(entries, order);
    std::string strNames;
    for (const SFolderEntry& entry : entries) {
        strNames += (strNames.empty() ? "" : " ") + entry.strName;
    }
    return strNames;
}

TEST(EntryOrder, NamesInNaturalOrderIgnoringCase) {
    std::vector<SFolderEntry> entries;
    for (const char* pszName : {"photo10", "b", "photo2", "Photo1", "a", "A", "a01", "a1", "a001",
                                "x100000000000000000000000", "x99999999999999999999999", "x_", "a_",
                                "a!", "a00", "a0"}) {
        entries.push_back({.strName = pszName});
    }
    entries.push_back({.strName = "zeta", .bFolder = true});
    EXPECT_EQ(SortedNames(entries, {}),
              "zeta A a a! a0 a00 a001 a01 a1 a_ b Photo1 photo2 photo10 x99999999999999999999999 "
              "x100000000000000000000000 x_");
}

TEST(EntryOrder, EachColumnSortsBothWaysWithFoldersFirst) {
    const std::vector<SFolderEntry> entries = {
        {.strName = "big", .nSize = 900, .nModified = 100},
        {.strName = "small", .nSize = 10, .nModified = 300},
        {.strName = "same", .nSize = 10, .nModified = 200},
        {.strName = "dir", .bFolder = true, .nModified = 50},
        {.strName = "Dir2", .bFolder = true, .nModified = 400},
    };
    struct {
        SListingOrder order;
        const char* pszExpected;
    } cases[] = {
        {.order = {EColumn::Name, false}, .pszExpected = "dir Dir2 big same small"},
        {.order = {EColumn::Name, true}, .pszExpected = "Dir2 dir small same big"},
        {.order = {EColumn::Size, false}, .pszExpected = "dir Dir2 same small big"},
        {.order = {EColumn::Size, true}, .pszExpected = "dir Dir2 big same small"},
        {.order = {EColumn::Modified, false}, .pszExpected = "dir Dir2 big same small"},
        {.order = {EColumn::Modified, true}, .pszExpected = "Dir2 dir small same big"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SortedNames(entries, c.order), c.pszExpected) << c.pszExpected;
    }
}

TEST(EntryOrder, QueryChoosesTheOrder) {
    struct {
        std::string_view query;
        SListingOrder expected;
    } cases[] = {
        {.query = "", .expected = {EColumn::Name, false}},
        {.query = "?sort=size", .expected = {EColumn::Size, false}},
        {.query = "?sort=size&order=desc", .expected = {EColumn::Size, true}},
        {.query = "?order=desc&sort=date", .expected = {EColumn::Modified, true}},
        {.query = "?x=1&&sort=name&order=desc&", .expected = {EColumn::Name, true}},
        {.query = "?sort=SIZE&order=up&sort", .expected = {EColumn::Name, false}},
        {.query = "sort=date", .expected = {EColumn::Modified, false}},
    };
    for (const auto& c : cases) {
        const SListingOrder order = ListingOrderOf(c.query);
        EXPECT_EQ(order.column, c.expected.column) << c.query;
        EXPECT_EQ(order.bDescending, c.expected.bDescending) << c.query;
    }
}

}  // namespace
