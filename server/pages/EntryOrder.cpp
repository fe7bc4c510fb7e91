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
// At most four bytes of key for each byte of a name: a one-digit run gives
// '0', its length's byte count, its length and the digit.
constexpr size_t kKeyBytesPerNameByte = 4;

// A key whose bytewise order is the natural order ignoring ASCII case: other
// bytes folded; each digit run as '0' (so it still sorts against any other
// byte as a digit does), then its significant length, big-endian behind its
// own byte count, then its significant digits. Runs of any length compare by
// value; built once per entry, so sorting compares keys, not names. Written
// in place, not a byte at a time through the string.
void AppendNaturalKey(std::string& strKeys, std::string_view name) {
    const size_t nStart = strKeys.size();
    strKeys.resize(nStart + kKeyBytesPerNameByte * name.size());
    char* pOut = strKeys.data() + nStart;
    size_t nAt = 0;
    while (nAt < name.size()) {
        if (!IsDigit(name[nAt])) {
            *pOut++ = FoldAscii(name[nAt++]);
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
        *pOut++ = '0';
        *pOut++ = static_cast<char>(nLengthBytes);
        for (size_t n = nLengthBytes; n != 0; --n) {
            *pOut++ = lengthBytes[n - 1];
        }
        pOut = std::copy(name.begin() + static_cast<std::ptrdiff_t>(nAt),
                         name.begin() + static_cast<std::ptrdiff_t>(nEnd), pOut);
        nAt = nEnd;
    }
    strKeys.resize(static_cast<size_t>(pOut - strKeys.data()));
}

template <typename T>
int CompareValues(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// An entry and its key, which lies in the block of all keys.
struct SKeyed {
    std::string_view key;
    SFolderEntry* pEntry;
};

bool GoesBefore(const SKeyed& x, const SKeyed& y, SListingOrder order) {
    using EColumn = SListingOrder::EColumn;
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
        nOrder = x.key.compare(y.key);
        nOrder = nOrder != 0 ? nOrder : a.strName.compare(b.strName);
        // Equal sizes or times read by name ascending in both directions.
        if (order.column != EColumn::Name) {
            return nOrder < 0;
        }
    }
    return order.bDescending ? nOrder > 0 : nOrder < 0;
}
}  // namespace

void SortEntries(std::vector<SFolderEntry>& entries, SListingOrder order) {
    // Every key in one block: one allocation, whatever the number of entries.
    size_t nNameBytes = 0;
    for (const SFolderEntry& entry : entries) {
        nNameBytes += entry.strName.size();
    }
    std::string strKeys;
    strKeys.reserve(nNameBytes + nNameBytes / 4);
    std::vector<size_t> keyEnds;
    keyEnds.reserve(entries.size());
    for (const SFolderEntry& entry : entries) {
        AppendNaturalKey(strKeys, entry.strName);
        keyEnds.push_back(strKeys.size());
    }
    // Views only once the block has stopped growing.
    std::vector<SKeyed> keyed;
    keyed.reserve(entries.size());
    for (size_t n = 0, nKeyAt = 0; n < entries.size(); nKeyAt = keyEnds[n++]) {
        keyed.push_back(
            {std::string_view(strKeys).substr(nKeyAt, keyEnds[n] - nKeyAt), &entries[n]});
    }
    std::sort(keyed.begin(), keyed.end(),
              [order](const SKeyed& x, const SKeyed& y) { return GoesBefore(x, y, order); });
    std::vector<SFolderEntry> sorted;
    sorted.reserve(entries.size());
    for (SKeyed& one : keyed) {
        sorted.push_back(std::move(*one.pEntry));
    }
    entries = std::move(sorted);
}
