// A '/'-separated path taken one segment at a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PathSegments.h"

namespace {

TEST(PathSegments, EachNonEmptySegmentInOrderUntilAVisitSaysStop) {
    const struct {
        std::string_view path;
        std::string_view stopAt = "";  // the segment whose visit returns false
        std::vector<std::string> visited;
        bool bEveryVisitTrue = true;
    } rows[] = {
        {.path = "", .visited = {}},
        {.path = "/", .visited = {}},
        {.path = "a", .visited = {"a"}},
        {.path = "/a/b.htm", .visited = {"a", "b.htm"}},
        {.path = "//a///b/", .visited = {"a", "b"}},
        {.path = "/../x", .visited = {"..", "x"}},
        {.path = "a\\b/c", .visited = {"a\\b", "c"}},  // only '/' separates
        {.path = "/a/stop/c", .stopAt = "stop", .visited = {"a", "stop"}, .bEveryVisitTrue = false},
        {.path = "stop", .stopAt = "stop", .visited = {"stop"}, .bEveryVisitTrue = false},
        {.path = "/a/b/", .stopAt = "c", .visited = {"a", "b"}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> visited;
        const bool bEveryVisitTrue = ForEachSegment(row.path, [&](std::string_view segment) {
            visited.emplace_back(segment);
            return segment != row.stopAt;
        });
        EXPECT_EQ(visited, row.visited) << row.path;
        EXPECT_EQ(bEveryVisitTrue, row.bEveryVisitTrue) << row.path;
    }
}

}  // namespace
