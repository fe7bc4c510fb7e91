// Several visitors at once over real loopback connections: what a socket does
// not take at once is carried on in the background, and nobody waits for it.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ClientSocket.h"
#include "TestSupport.h"

namespace {
using namespace tarvel_test;
using Clock = std::chrono::steady_clock;

constexpr size_t kBigSize = 8 * 1024 * 1024;

std::string Pattern(size_t nSize) {
    std::string strBytes(nSize, '\0');
    for (size_t n = 0; n < nSize; ++n) {
        strBytes[n] = static_cast<char>('a' + (n * 7 + n / 4096) % 26);
    }
    return strBytes;
}

class TransfersTest : public CServedRootTest {
protected:
    void SetUp() override {
        CServedRootTest::SetUp();
        m_strBig = Pattern(kBigSize);
        WriteFile(m_root / "big.bin", m_strBig);
        WriteFile(m_root / "page.htm", "<p>page</p>");
        m_server.m_bConcurrent = true;
        Start();
    }
    // A client that asks for the big file and reads nothing yet.
    std::unique_ptr<CClient> StalledDownload(const char* pszFrom = nullptr) {
        // The first turn hands over one piece: the rest waits for the reader.
        auto pClient = std::make_unique<CClient>(Port(), pszFrom);
        pClient->Send("GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n");
        PumpUntil([&] { return TransfersUnderWay() > m_nTransfersBefore; }, 5000);
        m_nTransfersBefore = TransfersUnderWay();
        return pClient;
    }
    size_t TransfersUnderWay() const {
        size_t nCount = 0;
        for (const CClientSocket* pClient : m_server.m_clientList) {
            nCount += pClient->IsCarriedOn() ? 1 : 0;
        }
        return nCount;
    }
    std::string m_strBig;
    size_t m_nTransfersBefore = 0;
};

TEST_F(TransfersTest, TwoSlowDownloadsHoldNobodyAndArriveWhole) {
    auto pFirst = StalledDownload();
    auto pSecond = StalledDownload("127.0.0.2");
    ASSERT_EQ(TransfersUnderWay(), 2u);
    const auto asked = Clock::now();
    SAnswer page = Get("GET /page.htm HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(page.strBody, "<p>page</p>");
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(2));
    for (CClient* pClient : {pFirst.get(), pSecond.get()}) {
        const SAnswer answer = WhileServing([&] { return pClient->ReadAll(); });
        EXPECT_EQ(answer.nStatus, 200);
        EXPECT_EQ(answer.headers.at("Content-Length"), std::to_string(kBigSize));
        EXPECT_TRUE(answer.strBody == m_strBig) << answer.strBody.size();
    }
    PumpUntil([&] { return m_server.m_clientList.empty(); }, 2000);
    EXPECT_TRUE(m_server.m_clientList.empty());
}

// Turns by address: four downloads of one address take together about what
// one download of another address takes alone; without the shared piece the
// single one would get a fifth of the bytes. The figures are printed.
TEST_F(TransfersTest, AnAddressWithManyDownloadsDoesNotStarveOneWithOne) {
#ifdef __SANITIZE_ADDRESS__
    // Instrumented, the five readers rather than the server's turns set the pace.
    GTEST_SKIP() << "a share of throughput says nothing under the sanitizers";
#endif
    // Pieces small enough that the turns, not the readers, set the pace.
    m_server.m_transferBounds.nPieceBytes = 64 * 1024;
    // Sparse: long enough that no download ends while it is measured.
    WriteFile(m_root / "huge.bin", "");
    ASSERT_EQ(::truncate((m_root / "huge.bin").c_str(), off_t{16} << 30), 0);
    std::vector<std::unique_ptr<CClient>> clients;
    for (const char* pszFrom : {"127.0.0.2", "127.0.0.2", "127.0.0.2", "127.0.0.2", "127.0.0.3"}) {
        clients.push_back(std::make_unique<CClient>(Port(), pszFrom));
        clients.back()->Send("GET /huge.bin HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    std::vector<std::atomic<size_t>> received(clients.size());
    std::atomic<bool> bStop{false};
    std::vector<std::thread> readers;
    for (size_t n = 0; n < clients.size(); ++n) {
        readers.emplace_back([&, n] {
            while (!bStop) {
                received[n] += clients[n]->ReadSome(64 * 1024).size();
            }
        });
    }
    PumpFor(1500);
    const std::vector<size_t> atStart(clients.size(), 0);
    size_t nMany = 0;
    for (size_t n = 0; n < 4; ++n) {
        nMany += received[n] - atStart[n];
    }
    const size_t nOne = received[4] - atStart[4];
    bStop = true;
    for (auto& pClient : clients) {
        ::shutdown(pClient->Handle(), SHUT_RDWR);  // ends each reader's blocking read
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    std::printf("[ measured ] four downloads of one address: %zu bytes; one of another: %zu\n",
                nMany, nOne);
    EXPECT_GT(nMany, 0u);
    EXPECT_GT(nOne * 2, nMany);  // about equal; a fifth without turns by address
}

TEST_F(TransfersTest, AFileThatShrinksEndsItsTransferShort) {
    auto pClient = StalledDownload();
    ASSERT_EQ(::truncate((m_root / "big.bin").c_str(), 1024 * 1024), 0);
    const SAnswer answer = WhileServing([&] { return pClient->ReadAll(); });
    EXPECT_EQ(answer.headers.at("Content-Length"), std::to_string(kBigSize));
    EXPECT_LT(answer.strBody.size(), kBigSize);
    EXPECT_EQ(answer.strBody, m_strBig.substr(0, answer.strBody.size()));  // never another file's bytes
}

TEST_F(TransfersTest, AStalledTransferIsClosedAndAProgressingOneIsNot) {
    m_server.m_transferBounds.nStallMs = 300;
    m_server.m_waitPolicy.nIdleClientMs = 100;  // the silent sweep must spare transfers
    auto pStalled = StalledDownload();
    auto pReading = StalledDownload("127.0.0.2");
    std::string strRead;
    const auto started = Clock::now();
    // The sweep looks once a second: two looks at least.
    while (Clock::now() - started < std::chrono::milliseconds(2500)) {
        PumpFor(20);
        const std::string strSome = WhileServing([&] { return pReading->ReadSome(16 * 1024); });
        strRead += strSome;
    }
    EXPECT_EQ(TransfersUnderWay(), 1u);  // the reader's: the stalled one went
    const SAnswer rest = WhileServing([&] { return pReading->ReadAll(); });
    EXPECT_EQ(strRead.size() + rest.strRaw.size() > kBigSize, true);
}

TEST_F(TransfersTest, StopClosesEveryTransferWithinItsDrainBound) {
    std::vector<std::unique_ptr<CClient>> clients;
    for (const char* pszFrom : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
        clients.push_back(StalledDownload(pszFrom));
    }
    ASSERT_EQ(TransfersUnderWay(), 3u);
    const auto stopped = Clock::now();
    m_server.StopServer();
    EXPECT_LT(Clock::now() - stopped,
              std::chrono::milliseconds(m_server.m_waitPolicy.stopDrain.nDeadlineMs + 500));
    EXPECT_TRUE(m_server.m_clientList.empty());
}

TEST_F(TransfersTest, AListingBeyondTheHeldBytesIsAskedForLater) {
    m_server.m_bListFolders = true;
    auto pStalled = std::make_unique<CClient>(Port());
    for (int n = 0; n < 5000; ++n) {
        WriteFile(m_root / ("folder/entry-with-a-long-name-" + std::to_string(n) + ".txt"), "x");
    }
    pStalled->Send("GET /folder/ HTTP/1.1\r\nHost: x\r\n\r\n");
    PumpUntil([&] { return TransfersUnderWay() == 1; }, 5000);
    ASSERT_EQ(TransfersUnderWay(), 1u);
    // The page the first transfer holds now fills the bound.
    m_server.m_transferBounds.nHeldBytes = 400 * 1024;
    SAnswer busy = Get("GET /folder/ HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(busy.nStatus, 503);
    EXPECT_EQ(busy.headers["Retry-After"], "5");
    EXPECT_EQ(Get("GET /page.htm HTTP/1.1\r\n\r\n").strBody, "<p>page</p>");  // files still go
}
}  // namespace
