// The socket layer's contract as a socket meets it: events in arrival order,
// one report per arming, the nested wait that sets other events aside, bounded
// waits, and what a send returns when its peer or its file ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PeerShare.h"
#include "Socket.h"

namespace {

struct SRecord {
    int nSocket;
    const char* pszEvent;
    bool operator==(const SRecord&) const = default;
};
std::vector<SRecord> g_events;

// A blocking socket over one end of a socket pair that records its events.
class CRecordingSocket : public CSocket {
public:
    CRecordingSocket(int nId, int hSocket) : m_nId(nId) { Attach(hSocket, FD_ALL_EVENTS); }

protected:
    void OnReceive(int) override { g_events.push_back({m_nId, "read"}); }
    void OnClose(int) override { g_events.push_back({m_nId, "close"}); }

private:
    int m_nId;
};

struct SPair {
    int hOurs = -1;
    int hPeer = -1;
    SPair() {
        int h[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, h);
        hOurs = h[0];
        hPeer = h[1];
    }
    ~SPair() {
        if (hPeer >= 0) {
            ::close(hPeer);
        }
    }
    void PeerSends(const char* psz) const { ASSERT_GT(::write(hPeer, psz, strlen(psz)), 0); }
    void PeerCloses() {
        ::close(hPeer);
        hPeer = -1;
    }
};

// CPU time of this thread, to tell a wait that sleeps from one that spins.
double ThreadCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool DescriptorReadable() {
    pollfd descriptor{CSocketDispatcher::Get().Descriptor(), POLLIN, 0};
    return ::poll(&descriptor, 1, 0) == 1;
}

// A peer that reads nTotal bytes as fast as they come, or until stop is set.
std::thread ReadInBackground(int hPeer, size_t nTotal, const std::atomic<bool>& stop) {
    return std::thread([hPeer, nTotal, &stop] {
        char buffer[65536];
        for (size_t nRead = 0; nRead < nTotal && !stop;) {
            const ssize_t n = ::read(hPeer, buffer, sizeof buffer);
            if (n > 0) {
                nRead += static_cast<size_t>(n);
            } else if (n == 0 || errno != EAGAIN) {
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
}

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(AfxSocketInit());
        g_events.clear();
        CSocketDispatcher::Get().DispatchReady();  // nothing left from earlier tests
        g_events.clear();
    }
};

TEST_F(SocketTest, EventsArriveInOrderAndOncePerArming) {
    SPair a, b;
    CRecordingSocket first(1, a.hOurs), second(2, b.hOurs);
    b.PeerSends("x");
    a.PeerSends("y");
    EXPECT_TRUE(DescriptorReadable());
    CSocketDispatcher::Get().DispatchReady();
    ASSERT_EQ(g_events.size(), 2u);
    // Both were ready in the same poll, so the order is the kernel's; each came once.
    EXPECT_NE(g_events[0].nSocket, g_events[1].nSocket);

    // Unread data is not reported again until a receive asks for more.
    g_events.clear();
    CSocketDispatcher::Get().RunOnce(50);
    EXPECT_TRUE(g_events.empty());
    EXPECT_FALSE(DescriptorReadable());

    char c;
    ASSERT_EQ(first.Receive(&c, 1), 1);
    a.PeerSends("z");
    CSocketDispatcher::Get().RunOnce(200);
    EXPECT_EQ(g_events, (std::vector<SRecord>{{1, "read"}}));
}

TEST_F(SocketTest, AReportThatMeansNothingArmedIsMuted) {
    SPair a;
    CRecordingSocket socket(1, a.hOurs);
    a.PeerSends("GET / HTTP/1.0\r\n\r\n");
    ::shutdown(a.hPeer, SHUT_WR);  // data and the end of it; the handler leaves the data unread
    CSocketDispatcher::Get().RunOnce(200);
    EXPECT_EQ(g_events, (std::vector<SRecord>{{1, "read"}}));
    // Level-triggered, the unread data and the close come again: in vain, as
    // read is not armed, so they must leave the set instead of spinning the loop.
    g_events.clear();
    CSocketDispatcher::Get().RunOnce(50);
    EXPECT_TRUE(g_events.empty());
    EXPECT_FALSE(DescriptorReadable());
}

TEST_F(SocketTest, PeerCloseWithoutDataIsACloseNotARead) {
    SPair a;
    CRecordingSocket socket(1, a.hOurs);
    a.PeerCloses();
    CSocketDispatcher::Get().RunOnce(200);
    EXPECT_EQ(g_events, (std::vector<SRecord>{{1, "close"}}));
    // Reported once: a closed peer stays readable, which must not spin the loop.
    g_events.clear();
    CSocketDispatcher::Get().RunOnce(50);
    EXPECT_TRUE(g_events.empty());
    EXPECT_FALSE(DescriptorReadable());
}

TEST_F(SocketTest, NestedWaitSetsOtherEventsAsideAndDeliversThemAfter) {
    SPair waiting, other;
    CRecordingSocket blocked(1, waiting.hOurs), bystander(2, other.hOurs);
    int nRepaints = 0;
    CSocketDispatcher::Get().SetRepaintHook([&] { ++nRepaints; });

    other.PeerSends("early");
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        waiting.PeerSends("awaited");
    });
    char buffer[16];
    int nReceived = blocked.Receive(buffer, sizeof buffer);
    later.join();
    CSocketDispatcher::Get().SetRepaintHook(nullptr);

    EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max(nReceived, 0))), "awaited");
    EXPECT_TRUE(g_events.empty()) << "no handler may run during a wait";
    EXPECT_GE(nRepaints, 1);
    // The set-aside event makes the descriptor readable although epoll has
    // nothing new, and goes out at the next dispatch.
    EXPECT_TRUE(DescriptorReadable());
    CSocketDispatcher::Get().DispatchReady();
    EXPECT_EQ(g_events, (std::vector<SRecord>{{2, "read"}}));
}

TEST_F(SocketTest, WaitsEndAtTheirLimitWithTimedOut) {
    SPair silent;
    CRecordingSocket socket(1, silent.hOurs);
    socket.SetWaitBounds({.nStallMs = 150});
    char c;
    EXPECT_EQ(socket.Receive(&c, 1), -1);
    EXPECT_EQ(CAsyncSocket::GetLastError(), ETIMEDOUT);

    // A peer that never reads: the send stalls once the buffers are full.
    std::string strBlock(1 << 20, 'x');
    int nResult = 0;
    for (int i = 0; i < 64 && nResult >= 0; ++i) {
        nResult = socket.Send(strBlock.data(), static_cast<int>(strBlock.size()));
    }
    EXPECT_EQ(nResult, -1);
    EXPECT_EQ(CAsyncSocket::GetLastError(), ETIMEDOUT);
}

TEST_F(SocketTest, RoomToWriteAfterASendThatWaitedDoesNotWakeTheLoop) {
    SPair drained;
    CRecordingSocket socket(1, drained.hOurs);
    const std::atomic<bool> bNever{false};
    std::thread reader = ReadInBackground(drained.hPeer, 4u << 20, bNever);
    std::string strBlock(4 << 20, 'x');  // more than the buffers hold: the send waits
    EXPECT_EQ(socket.Send(strBlock.data(), static_cast<int>(strBlock.size())),
              static_cast<int>(strBlock.size()));
    reader.join();
    // The socket stays writable; nobody waits for that, so it is reported once at most.
    CSocketDispatcher::Get().RunOnce(50);
    EXPECT_FALSE(DescriptorReadable());
    EXPECT_TRUE(g_events.empty());
}

TEST_F(SocketTest, ATrickleBelowTheMinimumRateIsNoProgress) {
    SPair slow;
    CRecordingSocket socket(1, slow.hOurs);
    socket.SetWaitBounds({.nStallMs = 300, .nMinimumRate = 4096});
    // The peer takes 64 bytes every 50 ms: progress, but about 1.3 KiB/s.
    std::atomic<bool> bDone{false};
    std::thread reader([&] {
        char buffer[64];
        while (!bDone) {
            [[maybe_unused]] ssize_t n = ::recv(slow.hPeer, buffer, sizeof buffer, MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::string strBlock(8 << 20, 'x');
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(socket.Send(strBlock.data(), static_cast<int>(strBlock.size())), -1);
    EXPECT_EQ(CAsyncSocket::GetLastError(), ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    bDone = true;
    reader.join();
}

// All peers' share spent by another address while a read waits: a send whose
// peer takes nothing is let go after its probes and marks its address; one
// whose peer reads goes on to the end.
TEST_F(SocketTest, OnceAllPeersHaveSpentTheirShareOnlyASendThatKeepsUpGoesOn) {
    CPeerShares shares(1000, 1000, 10000);
    shares.Charge(7, 1000, CSocketDispatcher::Clock::now());
    SPair waiting;
    CRecordingSocket other(2, waiting.hOurs);
    waiting.PeerSends("x");
    const SWaitBounds bounds{.nStallMs = 10000, .nMinimumRate = 1024, .bShared = true};
    const std::string strBlock(8 << 20, 'x');

    SPair stalled;
    CRecordingSocket never(1, stalled.hOurs);
    never.SetWaitBounds(bounds);
    never.SetShare(&shares);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(never.Send(strBlock.data(), static_cast<int>(strBlock.size())), -1);
    EXPECT_EQ(never.LastWaitEnd(), EWaitEnd::ShareUsed);
    // Three 20 ms probes, not the address's own second.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    EXPECT_TRUE(shares.Left(0, CSocketDispatcher::Clock::now()).bStalledLately);

    CPeerShares fresh(1000, 1000, 10000);
    fresh.Charge(7, 1000, CSocketDispatcher::Clock::now());
    SPair drained;
    CRecordingSocket reader(3, drained.hOurs);
    reader.SetWaitBounds(bounds);
    reader.SetShare(&fresh);
    std::atomic<bool> bSendOver{false};
    std::thread taking = ReadInBackground(drained.hPeer, strBlock.size(), bSendOver);
    EXPECT_EQ(reader.Send(strBlock.data(), static_cast<int>(strBlock.size())),
              static_cast<int>(strBlock.size()));
    bSendOver = true;  // a send cut short must not leave the reader waiting for the rest
    taking.join();
    EXPECT_FALSE(fresh.Left(0, CSocketDispatcher::Clock::now()).bStalledLately);
}

TEST_F(SocketTest, TerminationEndsAWaitAsACloseDoesAndHoldsEvents) {
    SPair silent, other;
    CRecordingSocket waiter(1, silent.hOurs), bystander(2, other.hOurs);
    std::thread signaller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        CSocketDispatcher::RequestTermination();  // as a signal handler does
    });
    other.PeerSends("x");
    char c;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(waiter.Receive(&c, 1), -1);  // no limit: only the request ends it
    signaller.join();
    EXPECT_EQ(CAsyncSocket::GetLastError(), ETIMEDOUT);
    EXPECT_EQ(waiter.LastWaitEnd(), EWaitEnd::Terminated);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    CSocketDispatcher::Get().DispatchReady();
    EXPECT_TRUE(g_events.empty());  // nothing more is handled
    CSocketDispatcher::ClearTerminationRequest();
    CSocketDispatcher::Get().DispatchReady();
    EXPECT_EQ(g_events, (std::vector<SRecord>{{2, "read"}}));
}

TEST_F(SocketTest, WaitsSleepWhileOtherEventsAreSetAside) {
    SPair silent, other, closing;
    CRecordingSocket waiter(1, silent.hOurs), bystander(2, other.hOurs), leaver(3, closing.hOurs);
    waiter.SetWaitBounds({.nStallMs = 300});
    char c;
    struct {
        const char* pszCase;
        std::function<void()> prepare;
    } cases[] = {
        // A first wait sets an event aside and signals the wake-up descriptor;
        // the next wait must not be woken by that signal again and again.
        {"after a set-aside event", [&] { other.PeerSends("x"); }},
        // A peer that sent its request and closed, while its read event waits
        // in the queue, must not be reported over and over.
        {"beside a peer that sent and closed",
         [&] {
             closing.PeerSends("GET / HTTP/1.0\r\n\r\n");
             closing.PeerCloses();
         }},
    };
    for (auto& testCase : cases) {
        testCase.prepare();
        EXPECT_EQ(waiter.Receive(&c, 1), -1);  // sets the new event aside
        double dBefore = ThreadCpuSeconds();
        EXPECT_EQ(waiter.Receive(&c, 1), -1);  // a second wait, 300 ms
        EXPECT_LT(ThreadCpuSeconds() - dBefore, 0.1) << testCase.pszCase;
    }
    CSocketDispatcher::Get().DispatchReady();
    EXPECT_EQ(g_events, (std::vector<SRecord>{{2, "read"}, {3, "read"}}));
}

TEST_F(SocketTest, ReceiveSeesThePeersCloseDuringAWait) {
    SPair a;
    CRecordingSocket socket(1, a.hOurs);
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        a.PeerCloses();
    });
    char c;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(socket.Receive(&c, 1), 0);
    // At the close, not when the wait's pass is over and the receive tries again.
    EXPECT_LT(std::chrono::steady_clock::now() - started,
              std::chrono::milliseconds(CWaitJudge::kPassMs / 2));
    later.join();
}

TEST_F(SocketTest, AnArmingInAHandlerReachesTheSetWhenThePassEnds) {
    // A handler's armings wait for the end of the pass; an outer loop that then
    // sleeps on the descriptor must still be woken by what they asked for.
    SPair a;
    std::unique_ptr<CRecordingSocket> pSocket;
    CDispatchTimer timer([&] { pSocket = std::make_unique<CRecordingSocket>(1, a.hOurs); });
    timer.Start(1);
    pollfd descriptor{CSocketDispatcher::Get().Descriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&descriptor, 1, 1000), 1);
    CSocketDispatcher::Get().DispatchReady();
    ASSERT_TRUE(pSocket);
    a.PeerSends("x");
    EXPECT_EQ(::poll(&descriptor, 1, 1000), 1);
    CSocketDispatcher::Get().DispatchReady();
    EXPECT_EQ(g_events, (std::vector<SRecord>{{1, "read"}}));
}

TEST_F(SocketTest, CloseForgetsQueuedEvents) {
    SPair a, b;
    auto* pFirst = new CRecordingSocket(1, a.hOurs);
    CRecordingSocket second(2, b.hOurs);
    a.PeerSends("x");
    b.PeerSends("y");
    // The wait on the second socket sets the first one's event aside...
    char c;
    ASSERT_EQ(second.Receive(&c, 1), 1);
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        b.PeerSends("z");
    });
    ASSERT_EQ(second.Receive(&c, 1), 1);
    later.join();
    // ...and deleting the socket drops it: nothing is delivered to a dead object.
    delete pFirst;
    g_events.clear();
    CSocketDispatcher::Get().RunOnce(50);
    for (const SRecord& record : g_events) {
        EXPECT_NE(record.nSocket, 1);
    }
}

enum class ESend { Bytes, File };
enum class EPeer { Reads, ClosedBefore, ClosesWhileItWaits };
constexpr long long kBlock = 8 << 20;  // more than a socket pair's buffers hold

struct SSendCase {
    const char* pszName;
    ESend send;
    EPeer peer;
    long long nCount;
    long long nResult;
    EWaitEnd end;
    std::vector<int> errors = {};  // what GetLastError may say after -1
    long long nOffset = 0;         // in the file sent
    bool bFileOpen = true;         // false: the file's descriptor is closed
};

class SendCases : public SocketTest, public ::testing::WithParamInterface<SSendCase> {};

// A send returns the count moved, or -1 with the socket's or the file's error;
// a file that ends early is no error.
TEST_P(SendCases, EndWithTheCountMovedOrTheError) {
    const SSendCase& c = GetParam();
    const std::string strBlock(kBlock, 'x');
    char szFile[] = "/tmp/tarvel-send-XXXXXX";
    const int hFile = ::mkstemp(szFile);
    ASSERT_GE(hFile, 0);
    ::unlink(szFile);
    ASSERT_EQ(::write(hFile, strBlock.data(), strBlock.size()), kBlock);
    SPair pair;
    CRecordingSocket socket(1, pair.hOurs);
    std::atomic<bool> bOver{false};
    std::thread peer;
    if (c.peer == EPeer::ClosedBefore) {
        pair.PeerCloses();
    } else if (c.peer == EPeer::Reads) {
        peer = ReadInBackground(pair.hPeer, kBlock, bOver);
    } else {
        peer = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pair.PeerCloses();
        });
    }
    const auto started = std::chrono::steady_clock::now();
    const long long nResult = c.send == ESend::Bytes
                                  ? socket.Send(strBlock.data(), static_cast<int>(c.nCount))
                                  : socket.SendFile(c.bFileOpen ? hFile : -1, c.nOffset, c.nCount);
    const auto waited = std::chrono::steady_clock::now() - started;
    const int nError = CAsyncSocket::GetLastError();
    bOver = true;
    if (peer.joinable()) {
        peer.join();
    }
    ::close(hFile);
    EXPECT_EQ(nResult, c.nResult);
    EXPECT_EQ(socket.LastWaitEnd(), c.end);
    if (nResult < 0) {
        EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), nError), c.errors.end()) << nError;
    }
    if (c.peer == EPeer::ClosesWhileItWaits) {
        // The close ends the wait at once, not when its pass is over.
        EXPECT_LT(waited, std::chrono::milliseconds(CWaitJudge::kPassMs / 2));
    }
}

const SSendCase kSendCases[] = {
    {.pszName = "send_to_a_closed_peer",
     .send = ESend::Bytes,
     .peer = EPeer::ClosedBefore,
     .nCount = 1000,
     .nResult = -1,
     .end = EWaitEnd::Failed,
     .errors = {EPIPE}},
    {.pszName = "sendfile_to_a_closed_peer",
     .send = ESend::File,
     .peer = EPeer::ClosedBefore,
     .nCount = 1000,
     .nResult = -1,
     .end = EWaitEnd::Failed,
     .errors = {EPIPE}},
    {.pszName = "send_to_a_peer_that_closes_while_it_waits",
     .send = ESend::Bytes,
     .peer = EPeer::ClosesWhileItWaits,
     .nCount = kBlock,
     .nResult = -1,
     .end = EWaitEnd::Failed,
     .errors = {EPIPE, ECONNRESET}},
    {.pszName = "sendfile_to_a_peer_that_closes_while_it_waits",
     .send = ESend::File,
     .peer = EPeer::ClosesWhileItWaits,
     .nCount = kBlock,
     .nResult = -1,
     .end = EWaitEnd::Failed,
     .errors = {EPIPE, ECONNRESET}},
    {.pszName = "send_of_more_than_the_buffers_hold",
     .send = ESend::Bytes,
     .peer = EPeer::Reads,
     .nCount = kBlock,
     .nResult = kBlock,
     .end = EWaitEnd::Done},
    {.pszName = "sendfile_of_more_than_the_buffers_hold",
     .send = ESend::File,
     .peer = EPeer::Reads,
     .nCount = kBlock,
     .nResult = kBlock,
     .end = EWaitEnd::Done},
    {.pszName = "sendfile_of_a_file_that_ends_early",
     .send = ESend::File,
     .peer = EPeer::Reads,
     .nCount = 5000,
     .nResult = 1000,
     .end = EWaitEnd::Done,
     .nOffset = kBlock - 1000},
    {.pszName = "sendfile_from_the_files_end",
     .send = ESend::File,
     .peer = EPeer::Reads,
     .nCount = 10,
     .nResult = 0,
     .end = EWaitEnd::Done,
     .nOffset = kBlock},
    {.pszName = "sendfile_of_a_closed_file",
     .send = ESend::File,
     .peer = EPeer::Reads,
     .nCount = 1000,
     .nResult = -1,
     .end = EWaitEnd::Failed,
     .errors = {EBADF},
     .bFileOpen = false},
};

INSTANTIATE_TEST_SUITE_P(Sends, SendCases, ::testing::ValuesIn(kSendCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

}  // namespace
