// What every page the server writes must hold to, whatever names it shows.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace tarvel_test {
// No tag of the page holds a script, a picture or an event attribute, whatever
// the names' text says.
inline void ExpectNoActiveContent(const std::string& strPage) {
    EXPECT_EQ(strPage.find("<script"), std::string::npos);
    EXPECT_EQ(strPage.find("<img"), std::string::npos);
    for (size_t nOpen = strPage.find('<'); nOpen != std::string::npos;
         nOpen = strPage.find('<', nOpen + 1)) {
        const std::string tag = strPage.substr(nOpen, strPage.find('>', nOpen) - nOpen);
        EXPECT_EQ(tag.find(" on"), std::string::npos) << tag;
    }
}
}  // namespace tarvel_test
