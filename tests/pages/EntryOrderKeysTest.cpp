// The listing's order over many names, checked pair by pair against the
// rules written out plainly: folders first, the column asked for, names in
// natural order ignoring ASCII case, ties by the exact bytes.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "EntryOrder.h"

namespace {
using EColumn = SListingOrder::EColumn;

bool IsDigitByte(char c) {
    return c >= '0' && c <= '9';
}

char Folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Natural order ignoring ASCII case: digit runs by value, other bytes folded;
// a digit sorts as '0' against any other byte. 0 when only the exact bytes differ.
int CompareNatural(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigitByte(a[i]) && IsDigitByte(b[j])) {
            const size_t iEnd = a.find_first_not_of("0123456789", i);
            const size_t jEnd = b.find_first_not_of("0123456789", j);
            std::string_view runA = a.substr(i, iEnd == std::string_view::npos ? a.npos : iEnd - i);
            std::string_view runB = b.substr(j, jEnd == std::string_view::npos ? b.npos : jEnd - j);
            i += runA.size();
            j += runB.size();
            runA.remove_prefix(std::min(runA.find_first_not_of('0'), runA.size()));
            runB.remove_prefix(std::min(runB.find_first_not_of('0'), runB.size()));
            if (runA.size() != runB.size()) {
                return runA.size() < runB.size() ? -1 : 1;
            }
            if (const int nRun = runA.compare(runB); nRun != 0) {
                return nRun;
            }
            continue;
        }
        const auto x = static_cast<unsigned char>(IsDigitByte(a[i]) ? '0' : Folded(a[i]));
        const auto y = static_cast<unsigned char>(IsDigitByte(b[j]) ? '0' : Folded(b[j]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
        ++i;
        ++j;
    }
    return i < a.size() ? 1 : (j < b.size() ? -1 : 0);
}

bool Before(const SFolderEntry& a, const SFolderEntry& b, SListingOrder order) {
    if (a.bFolder != b.bFolder) {
        return a.bFolder;
    }
    int nByName = CompareNatural(a.strName, b.strName);
    nByName = nByName != 0 ? nByName : a.strName.compare(b.strName);
    if (order.column == EColumn::Name) {
        return order.bDescending ? nByName > 0 : nByName < 0;
    }
    const bool bSize = order.column == EColumn::Size;
    const int64_t nA = bSize ? static_cast<int64_t>(a.nSize) : a.nModified;
    const int64_t nB = bSize ? static_cast<int64_t>(b.nSize) : b.nModified;
    if (nA != nB) {
        return order.bDescending ? nA > nB : nA < nB;
    }
    return nByName < 0;  // ties by name ascending, in both directions
}

std::vector<SFolderEntry> RandomEntries(size_t nCount) {
    static const std::string kPieces[] = {"a",  "B", "z", "0", "1",        "9",    "007",
                                          "10", " ", ".", "_", "\xC3\xA9", "IMG_", "Scan"};
    std::mt19937 random(20261209);
    std::set<std::string> names;
    while (names.size() < nCount) {
        std::string strName;
        for (size_t n = random() % 6 + 1; n != 0; --n) {
            strName += kPieces[random() % std::size(kPieces)];
        }
        names.insert(strName);
    }
    std::vector<SFolderEntry> entries;
    for (const std::string& strName : names) {
        entries.push_back({.strName = strName,
                           .bFolder = random() % 8 == 0,
                           .nSize = random() % 4,
                           .nModified = static_cast<time_t>(random() % 4)});
    }
    std::shuffle(entries.begin(), entries.end(), random);
    return entries;
}

TEST(EntryOrderKeys, EveryOrderHoldsPairByPairOverManyNames) {
    const std::vector<SFolderEntry> entries = RandomEntries(3000);
    for (const EColumn column : {EColumn::Name, EColumn::Size, EColumn::Modified}) {
        for (const bool bDescending : {false, true}) {
            const SListingOrder order{.column = column, .bDescending = bDescending};
            std::vector<SFolderEntry> sorted = entries;
            SortEntries(sorted, order);
            ASSERT_EQ(sorted.size(), entries.size());
            for (size_t n = 1; n < sorted.size(); ++n) {
                EXPECT_TRUE(Before(sorted[n - 1], sorted[n], order))
                    << "column " << static_cast<int>(column) << (bDescending ? " desc: " : ": ")
                    << sorted[n - 1].strName << " then " << sorted[n].strName;
            }
        }
    }
}
}  // namespace
