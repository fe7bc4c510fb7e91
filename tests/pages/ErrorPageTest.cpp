// The fixed page of every refusal.
#include <gtest/gtest.h>

#include "ErrorPage.h"

namespace {

TEST(ErrorPage, IsTheFixedNinetyFourBytes) {
    EXPECT_EQ(kErrorPage.size(), 94u);
    EXPECT_EQ(kErrorPage.front(), '\n');
    EXPECT_NE(kErrorPage.find("Error 404: Not Found"), std::string_view::npos);
}

}  // namespace
