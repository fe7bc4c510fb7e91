// What the look-up says of a name under the root: judged on the file it opened.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "RootLookup.h"
#include "TestSupport.h"

namespace {
using tarvel_test::OwnProgram;
using tarvel_test::WriteFile;

class RootLookupTest : public tarvel_test::CRootTest {};

TEST_F(RootLookupTest, AFileSwappedAfterItsLookUpIsJudgedAsOpened) {
    WriteFile(In("file.txt"), "f");
    ASSERT_EQ(::mkfifo(In("pipe").c_str(), 0644), 0);
    struct stat pipe {};
    ASSERT_EQ(::stat(In("pipe").c_str(), &pipe), 0);
    // "link" turns from the file to the pipe and back while it is looked up.
    std::atomic<bool> bStop{false};
    std::thread swapper([&] {
        for (int i = 0; !bStop; ++i) {
            const std::string strSpare = In("spare");
            ::symlink(i % 2 ? "pipe" : "file.txt", strSpare.c_str());
            ::rename(strSpare.c_str(), In("link").c_str());
        }
    });
    CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
    int nFiles = 0;
    int nPipesServed = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; i < 20000 && std::chrono::steady_clock::now() < until; ++i) {
        const SFound found = lookup.Look("/link");
        nFiles += found.kind == SFound::EKind::File;
        nPipesServed += found.kind == SFound::EKind::File && found.facts.inode == pipe.st_ino;
    }
    bStop = true;
    swapper.join();
    EXPECT_EQ(nPipesServed, 0);
    EXPECT_GT(nFiles, 0);
}

}  // namespace
