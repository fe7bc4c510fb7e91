#include "EntryOrder.h"

#include <algorithm>

#include "AsciiCase.h"

SListingOrder ListingOrderOf(std::string_view query) {
    using EColumn = SListingOrder::EColumn;
    SListingOrder order;
    if (!query.empty() && query.front() == '?') {
        query.remove_prefix(1);
    }
    while (!query.empty()) {
        const size_t nEnd = std::min(query.find('&'), query.size());
        const std::string_view pair = query.substr(0, nEnd);
        query.remove_prefix(std::min(nEnd + 1, query.size()));
        if (pair == "sort=name") {
            order.column = EColumn::Name;
        } else if (pair == "sort=size") {
            order.column = EColumn::Size;
        } else if (pair == "sort=date") {
            order.column = EColumn::Modified;
        } else if (pair == "order=asc") {
            order.bDescending = false;
        } else if (pair == "order=desc") {
            order.bDescending = true;
        }
    }
    return order;
}

namespace {
// A key whose bytewise order is the natural order ignoring ASCII case: other
// bytes folded; each digit run as '0' (so it still sorts against any other
// byte as a digit does), then its significant length, big-endian behind its
// own byte count, then its significant digits. Runs of any length compare by
// value; built once per entry, so sorting compares keys, not names.
std::string NaturalKeyOf(std::string_view name) {
    std::string strKey;
    strKey.reserve(name.size() + 8);
    size_t nAt = 0;
    while (nAt < name.size()) {
        if (!IsDigit(name[nAt])) {
            strKey += FoldAscii(name[nAt++]);
            continue;
        }
        size_t nEnd = nAt;
        while (nEnd < name.size() && IsDigit(name[nEnd])) {
            ++nEnd;
        }
        while (nAt < nEnd && name[nAt] == '0') {
            ++nAt;
        }
        const size_t nLength = nEnd - nAt;
        char lengthBytes[sizeof(size_t)];
        size_t nLengthBytes = 0;
        for (size_t n = nLength; n != 0; n >>= 8) {
            lengthBytes[nLengthBytes++] = static_cast<char>(n & 0xFF);
        }
        strKey += '0';
        strKey += static_cast<char>(nLengthBytes);
        for (size_t n = nLengthBytes; n != 0; --n) {
            strKey += lengthBytes[n - 1];
        }
        strKey.append(name.substr(nAt, nLength));
        nAt = nEnd;
    }
    return strKey;
}

template <typename T>
int CompareValues(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}
}  // namespace

void SortEntries(std::vector<SFolderEntry>& entries, SListingOrder order) {
    using EColumn = SListingOrder::EColumn;
    struct SKeyed {
        std::string strKey;
        SFolderEntry* pEntry;
    };
    std::vector<SKeyed> keyed;
    keyed.reserve(entries.size());
    for (SFolderEntry& entry : entries) {
        keyed.push_back({NaturalKeyOf(entry.strName), &entry});
    }
    std::sort(keyed.begin(), keyed.end(), [order](const SKeyed& x, const SKeyed& y) {
        const SFolderEntry& a = *x.pEntry;
        const SFolderEntry& b = *y.pEntry;
        if (a.bFolder != b.bFolder) {
            return a.bFolder;
        }
        int nOrder = 0;
        if (order.column == EColumn::Size) {
            nOrder = CompareValues(a.nSize, b.nSize);
        } else if (order.column == EColumn::Modified) {
            nOrder = CompareValues(a.nModified, b.nModified);
        }
        if (nOrder == 0) {
            // Ties of the key go to the exact bytes, so the order is total.
            nOrder = x.strKey.compare(y.strKey);
            nOrder = nOrder != 0 ? nOrder : a.strName.compare(b.strName);
            // Equal sizes or times read by name ascending in both directions.
            if (order.column != EColumn::Name) {
                return nOrder < 0;
            }
        }
        return order.bDescending ? nOrder > 0 : nOrder < 0;
    });
    std::vector<SFolderEntry> sorted;
    sorted.reserve(entries.size());
    for (SKeyed& one : keyed) {
        sorted.push_back(std::move(*one.pEntry));
    }
    entries = std::move(sorted);
}
