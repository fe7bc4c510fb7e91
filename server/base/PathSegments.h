// A '/'-separated path taken one segment at a time: the one way every layer
// splits a request path.
#pragma once

#include <algorithm>
#include <string_view>

// Calls visit(segment) for each non-empty segment in order, until it returns
// false; returns whether every call returned true.
template <typename Visit>
bool ForEachSegment(std::string_view path, Visit visit) {
    for (size_t nStart = 0; nStart < path.size();) {
        const size_t nEnd = std::min(path.find('/', nStart), path.size());
        if (nEnd > nStart && !visit(path.substr(nStart, nEnd - nStart))) {
            return false;
        }
        nStart = nEnd + 1;
    }
    return true;
}
