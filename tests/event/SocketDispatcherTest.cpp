// The dispatcher on its own: timers that wake its descriptor, and the faults
// of epoll that end its loops.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "AsyncSocket.h"

namespace {

class SocketDispatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(AfxSocketInit());
        CSocketDispatcher::Get().DispatchReady();  // nothing left from earlier tests
    }
};

TEST_F(SocketDispatcherTest, TimersWakeTheDescriptor) {
    int nFired = 0;
    CDispatchTimer timer([&] { ++nFired; });
    timer.Start(30, 30);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (nFired < 3 && std::chrono::steady_clock::now() < deadline) {
        pollfd descriptor{CSocketDispatcher::Get().Descriptor(), POLLIN, 0};
        if (::poll(&descriptor, 1, 1000) == 1) {
            CSocketDispatcher::Get().DispatchReady();
        }
    }
    EXPECT_EQ(nFired, 3);
    timer.Stop();
    CSocketDispatcher::Get().RunOnce(100);
    EXPECT_EQ(nFired, 3);
}

// Each in a fresh process (the death test runs the program again), so the
// dispatcher of this one is not the one broken.
TEST(SocketDispatcherFaults, ADispatcherThatCannotBeMadeIsReportedNotDereferenced) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            rlimit none{};
            ::setrlimit(RLIMIT_NOFILE, &none);  // no descriptor for epoll
            CSocketDispatcher::Get();
        },
        "The socket layer cannot start: Too many open files");
}

TEST(SocketDispatcherFaults, AFailedEpollWaitEndsTheLoopsAndIsReported) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (!AfxSocketInit()) {
                std::_Exit(2);
            }
            CSocketDispatcher& dispatcher = CSocketDispatcher::Get();
            ::dup2(::open("/dev/null", O_RDONLY), dispatcher.Descriptor());  // not an epoll set
            dispatcher.RunOnce(1000);
            std::_Exit(CSocketDispatcher::TerminationRequested() && dispatcher.PollError() == EINVAL
                           ? 3
                           : 4);
        },
        ::testing::ExitedWithCode(3), "Waiting for socket events failed: Invalid argument");
}

}  // namespace
