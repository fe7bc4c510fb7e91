// Files visitors add, over real loopback connections, one at a time and with
// several visitors at once: exact bytes, no overwriting, nothing left of an
// upload cut short, and the rules a head is judged by before its body.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "ClientSocket.h"
#include "Upload.h"
#include "TestSupport.h"

namespace {
using namespace tarvel_test;
namespace fs = std::filesystem;

constexpr const char* kBoundary = "----b0undary";

std::string Pattern(size_t nSize, char cSeed) {
    std::string strBytes(nSize, '\0');
    for (size_t n = 0; n < nSize; ++n) {
        strBytes[n] = static_cast<char>(cSeed + (n * 13 + n / 1000) % 61);
    }
    return strBytes;
}

struct SPart {
    std::string strFileName;  // as it goes in the quoted filename
    std::string strBytes;
};

std::string FormBody(const std::vector<SPart>& parts) {
    std::string strBody;
    for (const SPart& part : parts) {
        strBody += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; "
                   "filename=\"" + part.strFileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                   part.strBytes + "\r\n";
    }
    return strBody + "--" + kBoundary + "--\r\n";
}

std::string FormHead(const std::string& strTarget, size_t nLength, const std::string& strMore = "") {
    return "POST " + strTarget + " HTTP/1.1\r\nHost: h\r\nContent-Type: multipart/form-data; boundary=" +
           kBoundary + "\r\nContent-Length: " + std::to_string(nLength) + "\r\n" + strMore + "\r\n";
}

std::string PutHead(const std::string& strTarget, size_t nLength, const std::string& strMore = "") {
    return "PUT " + strTarget + " HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(nLength) +
           "\r\n" + strMore + "\r\n";
}

// The names in a folder, hidden ones included.
std::set<std::string> NamesIn(const std::string& strFolder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(strFolder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class UploadsTest : public CServedRootTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        CServedRootTest::SetUp();
        fs::create_directory(m_root / "in");
        fs::create_directory(m_root / ".hidden");
        WriteFile(m_root / "in/old.txt", "old");
        m_server.m_bUpload = true;
        m_server.m_bConcurrent = GetParam();
        Start();
    }
    std::string In(const std::string& strName) const { return m_root / ("in/" + strName); }
};

TEST_P(UploadsTest, PutStoresTheExactBytesUnderItsName) {
    const std::string strBytes = Pattern(3 * 1024 * 1024 + 17, 'A');
    const SAnswer answer = Get(PutHead("/in/new%20file.bin", strBytes.size()) + strBytes);
    EXPECT_EQ(answer.nStatus, 201) << answer.strRaw.substr(0, 300);
    EXPECT_EQ(answer.headers.at("Location"), "/in/new%20file.bin");
    EXPECT_TRUE(ReadFile(In("new file.bin")) == strBytes);
    EXPECT_EQ(m_server.m_nFilesAdded, 1u);
}

TEST_P(UploadsTest, FormStoresEveryFileAndGoesBackToTheListing) {
    const std::string strFirst = Pattern(700 * 1024, 'a');
    const std::string strBody = FormBody({{"\xe6\xb5\x8b\xe8\xaf\x95.txt", strFirst},
                                          {"<img src=x onerror=alert(1)>.jpg", "x--" + std::string(kBoundary) + "\r\n"},
                                          {"quote%22d.txt", ""}});
    const SAnswer answer = Get(FormHead("/in/?sort=size", strBody.size()) + strBody);
    EXPECT_EQ(answer.nStatus, 303) << answer.strRaw.substr(0, 300);
    EXPECT_EQ(answer.headers.at("Location"), "/in/?sort=size");
    EXPECT_TRUE(ReadFile(In("\xe6\xb5\x8b\xe8\xaf\x95.txt")) == strFirst);
    EXPECT_EQ(ReadFile(In("<img src=x onerror=alert(1)>.jpg")), "x--" + std::string(kBoundary) + "\r\n");
    EXPECT_EQ(ReadFile(In("quote\"d.txt")), "");
    EXPECT_EQ(m_server.m_nFilesAdded, 3u);
}

TEST_P(UploadsTest, NothingIsOverwritten) {
    const std::string strBody = FormBody({{"old.txt", "one"}, {"old.txt", "two"}});
    EXPECT_EQ(Get(FormHead("/in/", strBody.size()) + strBody).nStatus, 303);
    EXPECT_EQ(ReadFile(In("old.txt")), "old");
    EXPECT_EQ(ReadFile(In("old (1).txt")), "one");
    EXPECT_EQ(ReadFile(In("old (2).txt")), "two");
    const SAnswer put = Get(PutHead("/in/old.txt", 3) + "new");
    EXPECT_EQ(put.nStatus, 409);
    EXPECT_EQ(ReadFile(In("old.txt")), "old");
    // A folder's name is taken too.
    EXPECT_EQ(Get(PutHead("/in", 1) + "x").nStatus, 409);
}

TEST_P(UploadsTest, TwoFormsOfOneNameBothLand) {
    const std::string strFirst = FormBody({{"same.txt", Pattern(200 * 1024, 'k')}});
    const std::string strSecond = FormBody({{"same.txt", Pattern(200 * 1024, 'm')}});
    CClient first(Port());
    CClient second(Port(), "127.0.0.2");
    const auto answers = WhileServing([&] {
        first.Send(FormHead("/in/", strFirst.size()) + strFirst.substr(0, 1000));
        second.Send(FormHead("/in/", strSecond.size()) + strSecond.substr(0, 1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        first.Send(strFirst.substr(1000));
        second.Send(strSecond.substr(1000));
        return std::make_pair(first.ReadAll(), second.ReadAll());
    });
    EXPECT_EQ(answers.first.nStatus, 303);
    EXPECT_EQ(answers.second.nStatus, 303);
    const std::set<std::string> stored{ReadFile(In("same.txt")), ReadFile(In("same (1).txt"))};
    EXPECT_TRUE(stored == (std::set<std::string>{Pattern(200 * 1024, 'k'), Pattern(200 * 1024, 'm')}));
}

TEST_P(UploadsTest, OfTwoPutsOfOneNameOneLands) {
    const std::string strFirst = Pattern(300 * 1024, 'p');
    const std::string strSecond = Pattern(300 * 1024, 'q');
    CClient first(Port());
    CClient second(Port(), "127.0.0.2");
    const auto answers = WhileServing([&] {
        first.Send(PutHead("/in/one.bin", strFirst.size()) + strFirst.substr(0, 1000));
        second.Send(PutHead("/in/one.bin", strSecond.size()) + strSecond.substr(0, 1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        first.Send(strFirst.substr(1000));
        second.Send(strSecond.substr(1000));
        return std::make_pair(first.ReadAll(), second.ReadAll());
    });
    EXPECT_EQ((std::set<int>{answers.first.nStatus, answers.second.nStatus}),
              (std::set<int>{201, 409}));
    const std::string strStored = ReadFile(In("one.bin"));
    EXPECT_TRUE(strStored == (answers.first.nStatus == 201 ? strFirst : strSecond));
    EXPECT_EQ(m_server.m_nFilesAdded, 1u);
}

TEST_P(UploadsTest, AClientThatLeavesMidBodyLeavesNothing) {
    const std::set<std::string> before = NamesIn(m_root / "in");
    WhileServing([&] {
        CClient client(Port());
        client.Send(PutHead("/in/cut.bin", 4 * 1024 * 1024) + Pattern(300 * 1024, 'c'));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        client.Reset();
        return 0;
    });
    PumpUntil([&] { return m_server.m_clientList.empty(); }, 5000);
    EXPECT_TRUE(m_server.m_clientList.empty());
    EXPECT_EQ(NamesIn(m_root / "in"), before);
    EXPECT_EQ(m_server.m_nFilesAdded, 0u);
}

TEST_P(UploadsTest, AnotherSitesPageMayNotAddFiles) {
    EXPECT_EQ(Get(PutHead("/in/a.txt", 1, "Origin: http://elsewhere\r\n") + "a").nStatus, 403);
    EXPECT_EQ(Get(PutHead("/in/a.txt", 1, "Origin: http://h:1\r\n") + "a").nStatus, 403);
    EXPECT_FALSE(fs::exists(In("a.txt")));
    EXPECT_EQ(Get(PutHead("/in/a.txt", 1, "Origin: http://h\r\n") + "a").nStatus, 201);
    EXPECT_EQ(ReadFile(In("a.txt")), "a");
}

TEST_P(UploadsTest, ContinueComesOnlyOnceTheHeadIsJudged) {
    const auto continued = WhileServing([&] {
        CClient client(Port());
        client.Send(PutHead("/in/c.txt", 5, "Expect: 100-continue\r\n"));
        const std::string strInterim = client.ReadSome(25);
        client.Send("hello");
        return std::make_pair(strInterim, client.ReadAll());
    });
    EXPECT_EQ(continued.first, "HTTP/1.1 100 Continue\r\n\r\n");
    EXPECT_EQ(continued.second.nStatus, 201);
    EXPECT_EQ(ReadFile(In("c.txt")), "hello");
    // Refused: the refusal at once, no 100, and the body is never asked for.
    const SAnswer refused = Get(PutHead("/in/old.txt", 5, "Expect: 100-continue\r\n"));
    EXPECT_EQ(refused.nStatus, 409);
    EXPECT_EQ(refused.strRaw.find("100 Continue"), std::string::npos);
}

TEST_P(UploadsTest, ARefusalIsReadNotReset) {
    // The client keeps sending its body behind a head refused at once, as a
    // client does until it notices the answer; closed on unread bytes, the
    // connection would be reset and the answer lost.
    const std::string strBytes = Pattern(256 * 1024, 'r');
    const SAnswer answer = WhileServing([&] {
        CClient client(Port());
        client.Send(PutHead("/.hidden/x.bin", 4 * strBytes.size()) + strBytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        client.Send(strBytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return client.ReadAll();
    });
    EXPECT_EQ(answer.nStatus, 403);
    EXPECT_FALSE(answer.bReset) << answer.strRaw.size();
    EXPECT_FALSE(fs::exists(m_root / ".hidden/x.bin"));
}

// A head served unfinished (its time was up) has no known end: no byte
// after it may be taken for a file.
TEST_P(UploadsTest, AHeadThatNeverEndsStoresNothing) {
    m_server.m_waitPolicy.requestHead.nDeadlineMs = 100;
    const SAnswer answer = WhileServing([&] {
        CClient client(Port());
        client.Send("PUT /in/h.txt HTTP/1.1\r\nContent-Length: 5\r\nX-Rest: hello");
        return client.ReadAll();
    });
    EXPECT_EQ(answer.nStatus, 400);
    EXPECT_FALSE(fs::exists(In("h.txt")));
}

// A body that stops coming is dropped after one stall period below the
// minimum rate (checked each second by the idle sweep when several are served
// at once), and leaves nothing.
TEST_P(UploadsTest, AStalledBodyIsDroppedAfterItsPeriod) {
    m_server.m_waitPolicy.uploadBody.nStallMs = 1500;
    const auto elapsed = WhileServing([&] {
        CClient client(Port());
        client.Send(PutHead("/in/stall.bin", 1024 * 1024) + "a few bytes");
        const auto sent = std::chrono::steady_clock::now();
        client.ReadAll();  // until the server closes
        return std::chrono::steady_clock::now() - sent;
    });
    EXPECT_GT(elapsed, std::chrono::milliseconds(1400));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2900));
    EXPECT_FALSE(fs::exists(In("stall.bin")));
}

INSTANTIATE_TEST_SUITE_P(OneAtATimeAndSeveral, UploadsTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "several" : "one"; });

// Stop ends the uploads under way in the background within its drain, and
// nothing of them stays. (One at a time, the thread is inside the upload:
// Stop comes after it.)
class BackgroundUploadsTest : public CServedRootTest {};

TEST_F(BackgroundUploadsTest, StopLeavesNothingOfAnUploadUnderWay) {
    m_server.m_bUpload = true;
    m_server.m_bConcurrent = true;
    Start();
    CClient client(Port());
    client.Send(PutHead("/stopped.bin", 8 * 1024 * 1024) + Pattern(200 * 1024, 's'));
    PumpUntil([&] { return !m_server.m_clientList.empty() && m_server.m_clientList.front()->Upload(); },
              5000);
    ASSERT_FALSE(m_server.m_clientList.empty());
    m_server.StopServer();
    EXPECT_TRUE(m_server.m_clientList.empty());
    EXPECT_EQ(NamesIn(m_root.Path().string()), std::set<std::string>{});
}

}  // namespace
