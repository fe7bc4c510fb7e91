// The order of a listing's entries: what the request's query asks for, and
// the sort that carries it out.
#pragma once

#include <string_view>
#include <vector>

#include "FolderEntries.h"

struct SListingOrder {
    enum class EColumn { Name, Size, Modified } column = EColumn::Name;
    bool bDescending = false;
};

// From the request's query ("?sort=name|size|date&order=asc|desc", the '?'
// optional); whatever it does not understand leaves the default.
SListingOrder ListingOrderOf(std::string_view query);

// Folders before files in every order; names in natural order ignoring ASCII
// case; equal sizes or times by name ascending.
void SortEntries(std::vector<SFolderEntry>& entries, SListingOrder order);
