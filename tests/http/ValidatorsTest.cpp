// The validators an answer carries.
#include <gtest/gtest.h>

#include "Validators.h"

namespace {

const SFileFacts kFacts{.nSize = 1000,
                        .nModifiedSeconds = 784111777,  // Sun, 06 Nov 1994 08:49:37 GMT
                        .nModifiedNanoseconds = 5,
                        .inode = 42};
const std::string kTag = EntityTagFor(kFacts);

TEST(EntityTag, ChangesWithEveryPartOfTheFilesIdentity) {
    SFileFacts replaced = kFacts;
    replaced.inode = 43;
    SFileFacts resized = kFacts;
    resized.nSize = 1001;
    SFileFacts touched = kFacts;
    touched.nModifiedNanoseconds = 6;
    for (const SFileFacts& other : {replaced, resized, touched}) {
        EXPECT_NE(EntityTagFor(other), kTag);
    }
    EXPECT_EQ(kTag.front(), '"');
    EXPECT_EQ(kTag.back(), '"');
}

}  // namespace
