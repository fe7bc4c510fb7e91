// The socket layer's non-blocking socket: what a peer sent beyond its request
// is discarded before the close, up to a bound.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

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

}  // namespace
