// The socket layer's non-blocking socket: what a peer sent beyond its request
// is discarded before the close, up to a bound; accepting pauses while the
// process is out of descriptors.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "AsyncSocket.h"

namespace {

// A socket over one end of a socket pair.
class CPairedSocket : public CAsyncSocket {
public:
    explicit CPairedSocket(int hSocket) { Attach(hSocket, FD_ALL_EVENTS); }
};

TEST(AsyncSocket, DiscardPendingTakesWhatHasArrivedUpToItsBound) {
    ASSERT_TRUE(AfxSocketInit());
    constexpr long kBound = 256 * 1024;  // a peer that sends more is not waiting for an answer
    const struct {
        long nSent;
        long nDiscarded;
    } rows[] = {
        {.nSent = 0, .nDiscarded = 0},
        {.nSent = 100, .nDiscarded = 100},
        {.nSent = kBound - 1, .nDiscarded = kBound - 1},
        {.nSent = kBound, .nDiscarded = kBound},
        {.nSent = kBound + 20000, .nDiscarded = kBound},
    };
    for (const auto& row : rows) {
        int h[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, h), 0);
        const int nPeerBuffer = 1 << 20;  // room for all it sends
        ::setsockopt(h[1], SOL_SOCKET, SO_SNDBUF, &nPeerBuffer, sizeof nPeerBuffer);
        CPairedSocket socket(h[0]);
        const std::string strSent(static_cast<size_t>(row.nSent), 'x');
        ASSERT_EQ(::write(h[1], strSent.data(), strSent.size()), row.nSent);
        EXPECT_EQ(socket.DiscardPending(), row.nDiscarded) << row.nSent;
        ::close(h[1]);
    }
}

// A listener that accepts at each report and records when, and how it went.
class CRecordingListener : public CAsyncSocket {
public:
    struct SAccept {
        CSocketDispatcher::Clock::time_point at;
        int nError;  // 0: accepted
    };
    std::vector<SAccept> m_accepts;

protected:
    void OnAccept(int) override {
        CAsyncSocket connected;
        const BOOL bAccepted = Accept(connected);
        m_accepts.push_back({CSocketDispatcher::Clock::now(), bAccepted ? 0 : GetLastError()});
    }
};

// The soft limit on open descriptors, lowered to those open now, and put back.
class CDescriptorLimit {
public:
    CDescriptorLimit() {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        const int hLowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(hLowestFree);
        rlimit lowered = m_saved;
        lowered.rlim_cur = static_cast<rlim_t>(hLowestFree);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~CDescriptorLimit() { Restore(); }
    void Restore() { ::setrlimit(RLIMIT_NOFILE, &m_saved); }

private:
    rlimit m_saved{};
};

void PumpUntilAccepts(const CRecordingListener& listener, size_t nCount) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (listener.m_accepts.size() < nCount && std::chrono::steady_clock::now() < deadline) {
        CSocketDispatcher::Get().RunOnce(1);
    }
}

// A blocking client connected to 127.0.0.1:nPort, or -1.
int ConnectTo(unsigned nPort) {
    const int hClient = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{.sin_family = AF_INET,
                        .sin_port = htons(static_cast<uint16_t>(nPort)),
                        .sin_addr = {htonl(INADDR_LOOPBACK)},
                        .sin_zero = {}};
    if (::connect(hClient, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(hClient);
        return -1;
    }
    return hClient;
}

// Retrying at once would spin on the pending connection; the pause lasts
// 200 ms, and accepting goes on after it.
TEST(AsyncSocket, AcceptingPausesWhileDescriptorsRunOut) {
    ASSERT_TRUE(AfxSocketInit());
    CRecordingListener listener;
    ASSERT_TRUE(listener.Create(0, 1, FD_ALL_EVENTS, "127.0.0.1"));
    ASSERT_TRUE(listener.Listen(8));
    // Under UBSan the first check of a type opens a pipe, which fails once the
    // descriptors have run out and reads as a broken object: each type on the
    // way is checked first while there are some, by an accept and a timer.
    const int hFirst = ConnectTo(listener.LocalPort());
    PumpUntilAccepts(listener, 1);
    const auto pTimer = std::make_unique<CDispatchTimer>([] {});
    ASSERT_TRUE(pTimer->IsValid());
    pTimer->Start(60000);
    pTimer->Stop();

    const int hSecond = ConnectTo(listener.LocalPort());
    {
        CDescriptorLimit limit;
        PumpUntilAccepts(listener, 2);
    }
    PumpUntilAccepts(listener, 3);
    ::close(hFirst);
    ::close(hSecond);
    ASSERT_EQ(listener.m_accepts.size(), 3u);
    EXPECT_EQ(listener.m_accepts[0].nError, 0);
    EXPECT_EQ(listener.m_accepts[1].nError, EMFILE);
    EXPECT_EQ(listener.m_accepts[2].nError, 0);
    const auto paused = listener.m_accepts[2].at - listener.m_accepts[1].at;
    EXPECT_GE(paused, std::chrono::milliseconds(200));
    EXPECT_LT(paused, std::chrono::milliseconds(400));
}

}  // namespace
