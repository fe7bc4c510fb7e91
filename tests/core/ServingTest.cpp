// Requests over real loopback connections against files in a temp root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>

#include "ClientSocket.h"
#include "ErrorPage.h"
#include "ResponseHead.h"
#include "TestSupport.h"

namespace {
using namespace tarvel_test;
namespace fs = std::filesystem;

const std::string kPage(kErrorPage);

class ServingTest : public CServedRootTest {
protected:
    void SetUp() override {
        CServedRootTest::SetUp();
        WriteFile(m_root / "index.htm", "<p>home</p>");
        WriteFile(m_root / "a.htm", "page a");
        WriteFile(m_root / "docs/a.htm", "docs a");
        WriteFile(m_root / "docs/index.htm", "docs index");
        WriteFile(m_root / "httpdocs/a.htm", "http docs");
        WriteFile(m_root / "HTTPdocs/b.htm", "upper http docs");
        WriteFile(m_root / "100%.html", "percent");
        WriteFile(m_root / "a b.htm", "blank");
        WriteFile(m_root / "empty.txt", "");
        WriteFile(m_root / "utf8.txt", "caf\xc3\xa9");
        WriteFile(m_root / "latin1.txt", "caf\xe9");
        WriteFile(m_root / "style.CSS", "p{}");
        WriteFile(m_root / ".secret", "hidden");
        WriteFile(m_root / ".git/config", "hidden config");
        WriteFile(m_root / ".well-known/security.txt", "contact");
        fs::create_directories(m_root / "sub");
        WriteFile(m_outside / "passwd", "outside secret");
        Start();
    }
    CTempDir m_outside;
};

struct SServeCase {
    const char* pszName;
    std::string strRequest;
    int nStatus;          // 0: raw answer without a status line
    std::string strBody;  // expected body
    std::string strType = "";
};

class ServingCases : public ServingTest, public ::testing::WithParamInterface<SServeCase> {};

TEST_P(ServingCases, AnswersAsExpected) {
    const SServeCase& c = GetParam();
    SAnswer answer = Get(c.strRequest);
    EXPECT_EQ(answer.nStatus, c.nStatus) << answer.strRaw;
    EXPECT_EQ(answer.strBody, c.strBody);
    EXPECT_FALSE(answer.bReset);
    if (c.nStatus != 0 && c.strRequest.rfind("HEAD", 0) != 0) {
        EXPECT_EQ(answer.headers["Content-Length"], std::to_string(answer.strBody.size()));
        EXPECT_EQ(answer.headers["Connection"], "close");
    }
    if (!c.strType.empty()) {
        EXPECT_EQ(answer.headers["Content-Type"], c.strType);
    }
    EXPECT_TRUE(m_server.m_clientList.empty());
}

const SServeCase kServeCases[] = {
    {"root_serves_default_page", "GET / HTTP/1.0\r\n\r\n", 200, "<p>home</p>", "text/html"},
    {"case_insensitive", "GET /Docs/A.HTM HTTP/1.0\r\n\r\n", 200, "docs a"},
    {"folder_default_page", "GET /docs/ HTTP/1.1\r\nHost: x\r\n\r\n", 200, "docs index"},
    {"parent_refused", "GET /../x HTTP/1.0\r\n\r\n", 404, kPage, "text/html"},
    {"escaped_parent_refused", "GET /%2e%2e/x HTTP/1.0\r\n\r\n", 404, kPage},
    {"escaped_slash_parent_refused", "GET /..%2fx HTTP/1.0\r\n\r\n", 404, kPage},
    {"backslash_parent_refused", "GET \\..\\x HTTP/1.0\r\n\r\n", 404, kPage},
    {"absolute_looking_path_stays_inside", "GET //etc/passwd HTTP/1.0\r\n\r\n", 404, kPage},
    {"query_ignored", "GET /a.htm?x=1 HTTP/1.0\r\n\r\n", 200, "page a"},
    {"raw_request_gets_bare_page", "GET /a.htm\r\n\r\n", 0, kPage},
    {"http_inside_path", "GET /HTTPdocs/b.htm HTTP/1.0\r\n\r\n", 200, "upper http docs"},
    {"dots_in_name_refused", "GET /a..b.htm HTTP/1.0\r\n\r\n", 404, kPage},
    {"program_name_refused", "GET /TARVEL.EXE HTTP/1.0\r\n\r\n", 404, kPage},
    {"blanks_trimmed", "GET  /a.htm   HTTP/1.0\r\n\r\n", 200, "page a"},
    {"head_has_no_body", "HEAD /a.htm HTTP/1.0\r\n\r\n", 200, ""},
    {"head_of_missing", "HEAD /nope HTTP/1.0\r\n\r\n", 404, ""},
    {"head_of_folder_redirect", "HEAD /docs HTTP/1.0\r\n\r\n", 301, ""},
    {"post_answered_like_get", "POST /a.htm HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", 200,
     "page a"},
    {"zero_length_file", "GET /empty.txt HTTP/1.0\r\n\r\n", 200, "", "text/plain; charset=utf-8"},
    {"utf8_text_labelled", "GET /utf8.txt HTTP/1.0\r\n\r\n", 200, "caf\xc3\xa9",
     "text/plain; charset=utf-8"},
    {"latin1_text_unlabelled", "GET /latin1.txt HTTP/1.0\r\n\r\n", 200, "caf\xe9", "text/plain"},
    {"range_labelled_by_the_files_start", "GET /utf8.txt HTTP/1.1\r\nRange: bytes=4-\r\n\r\n", 206,
     "\xa9", "text/plain; charset=utf-8"},
    {"range", "GET /a.htm HTTP/1.1\r\nRange: bytes=2-3\r\n\r\n", 206, "ge", "text/html"},
    {"head_of_range", "HEAD /a.htm HTTP/1.1\r\nRange: bytes=2-3\r\n\r\n", 206, ""},
    {"range_past_the_end", "GET /a.htm HTTP/1.1\r\nRange: bytes=99-\r\n\r\n", 416, ""},
    {"validators_never_change_a_404",
     "GET /missing.htm HTTP/1.1\r\nIf-None-Match: *\r\nRange: bytes=0-1\r\n\r\n", 404, kPage},
    {"validators_never_change_a_301", "GET /docs HTTP/1.1\r\nIf-None-Match: *\r\n\r\n", 301, ""},
    {"missing_file", "GET /missing.htm HTTP/1.0\r\n\r\n", 404, kPage},
    {"literal_percent", "GET /100%.html HTTP/1.0\r\n\r\n", 200, "percent"},
    {"escaped_blank", "GET /a%20b.htm HTTP/1.0\r\n\r\n", 200, "blank"},
    {"zero_byte_escape", "GET /a.htm%00.txt HTTP/1.0\r\n\r\n", 404, kPage},
    {"folder_without_default", "GET /sub/ HTTP/1.0\r\n\r\n", 404, kPage},
    {"hidden_file", "GET /.secret HTTP/1.0\r\n\r\n", 404, kPage},
    {"hidden_folder", "GET /.git/config HTTP/1.0\r\n\r\n", 404, kPage},
    {"well_known", "GET /.well-known/security.txt HTTP/1.0\r\n\r\n", 200, "contact"},
    {"content_type_any_case", "GET /style.css HTTP/1.0\r\n\r\n", 200, "p{}", "text/css"},
    {"target_without_slash", "GET a.htm HTTP/1.0\r\n\r\n", 200, "page a"},
    {"bare_lf_request", "GET /a.htm HTTP/1.0\n\n", 200, "page a"},
};

INSTANTIATE_TEST_SUITE_P(Requests, ServingCases, ::testing::ValuesIn(kServeCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(ServingTest, EveryLinkOfAListingReachesItsOwnFile) {
    const std::string strLong(251, 'n');
    const std::vector<std::string> names = {"a b.txt",     "#hash",
                                            "&amp;",       "100%.txt",
                                            "caf\xe9.txt", "caf\xc3\xa9.txt",
                                            "q?x=1",       "<img src=x onerror=alert(1)>",
                                            "new\nline",   strLong + ".txt",
                                            "Readme.TXT",  "README.TXT",
                                            "'quote\"",    "sub dir/inner.txt"};
    for (const std::string& strName : names) {
        WriteFile(m_root / ("share/" + strName), "bytes of " + strName);
    }
    WriteFile(m_root / "share/.hidden", "hidden");
    WriteFile(m_root / "share/back\\slash", "unreachable");
    m_server.m_bListFolders = true;
    SAnswer listing = Get("GET /share/ HTTP/1.1\r\n\r\n");
    ASSERT_EQ(listing.nStatus, 200);
    EXPECT_EQ(listing.headers["Content-Type"], "text/html; charset=utf-8");
    EXPECT_EQ(listing.headers["Cache-Control"], "no-cache");
    EXPECT_EQ(listing.strBody.find("hidden"), std::string::npos);
    EXPECT_EQ(listing.strBody.find("slash"), std::string::npos);
    EXPECT_EQ(listing.strBody.find("<img"), std::string::npos);
    std::set<std::string> reached;
    for (size_t nAt = 0; (nAt = listing.strBody.find("href=\"", nAt)) != std::string::npos;) {
        nAt += 6;
        const std::string strLink =
            listing.strBody.substr(nAt, listing.strBody.find('"', nAt) - nAt);
        if (strLink == "../" || strLink.starts_with('?')) {
            continue;
        }
        SAnswer answer = Get("GET /share/" + strLink + " HTTP/1.1\r\n\r\n");
        EXPECT_EQ(answer.nStatus, 200) << strLink;
        if (strLink.ends_with('/')) {
            EXPECT_NE(answer.strBody.find("inner.txt"), std::string::npos) << strLink;
            reached.insert("sub dir/inner.txt");
        } else {
            ASSERT_TRUE(answer.strBody.starts_with("bytes of ")) << strLink;
            reached.insert(answer.strBody.substr(9));
        }
    }
    EXPECT_EQ(reached, std::set<std::string>(names.begin(), names.end()));
}

TEST_F(ServingTest, AFolderOfTenThousandIsListedWholeWithinThreeSeconds) {
    // The margin is wide on purpose: the benchmark has the real figure.
    const int nEntries = 10000;
    fs::create_directories(m_root / "many");
    for (int i = 0; i < nEntries; ++i) {
        const std::string strName = m_root / ("many/photo" + std::to_string(i) + ".jpg");
        ::close(::open(strName.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    }
    m_server.m_bListFolders = true;
    const auto started = std::chrono::steady_clock::now();
    SAnswer listing = Get("GET /many/ HTTP/1.1\r\n\r\n");
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(listing.nStatus, 200);
    size_t nLinks = 0;
    for (size_t nAt = 0; (nAt = listing.strBody.find("href=\"photo", nAt)) != std::string::npos;
         ++nAt) {
        ++nLinks;
    }
    EXPECT_EQ(nLinks, static_cast<size_t>(nEntries));
    // Natural order: photo9 comes before photo10, photo9999 last.
    EXPECT_LT(listing.strBody.find("\"photo9.jpg\""), listing.strBody.find("\"photo10.jpg\""));
    EXPECT_GT(listing.strBody.find("\"photo9999.jpg\""), listing.strBody.find("\"photo1000.jpg\""));
    EXPECT_LT(took, std::chrono::seconds(3));
    std::printf("listed %d entries in %.0f ms\n", nEntries,
                std::chrono::duration<double, std::milli>(took).count());
}

TEST_F(ServingTest, FolderWithoutSlashIsRedirectedWithItsQuery) {
    SAnswer answer = Get("GET /Docs?page=2 HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(answer.nStatus, 301);
    EXPECT_EQ(answer.headers["Location"], "/Docs/?page=2");
    EXPECT_EQ(answer.headers["Content-Length"], "0");
    EXPECT_EQ(answer.strBody, "");
}

TEST_F(ServingTest, FifoIsRefusedWithoutBlocking) {
    ASSERT_EQ(::mkfifo((m_root / "pipe").c_str(), 0644), 0);
    SAnswer answer = Get("GET /pipe HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer.nStatus, 404);
    // Still serving afterwards.
    EXPECT_EQ(Get("GET /a.htm HTTP/1.0\r\n\r\n").strBody, "page a");
}

TEST_F(ServingTest, SymlinkedParentIsFollowed) {
    WriteFile(m_outside / "shared/page.txt", "shared page");
    fs::create_directory_symlink(m_outside / "shared", m_root / "linked");
    EXPECT_EQ(Get("GET /linked/page.txt HTTP/1.0\r\n\r\n").strBody, "shared page");
}

TEST_F(ServingTest, RunningProgramIsNeverServed) {
    fs::create_symlink(fs::read_symlink("/proc/self/exe"), m_root / "program.bin");
    EXPECT_EQ(Get("GET /program.bin HTTP/1.0\r\n\r\n").nStatus, 404);
}

TEST_F(ServingTest, DefaultPageChangeAppliesAtTheNextRequest) {
    WriteFile(m_root / "home.htm", "new home");
    m_server.m_strDefaultURL = "home.htm";
    EXPECT_EQ(Get("GET / HTTP/1.0\r\n\r\n").strBody, "new home");
    m_server.m_strDefaultURL = "TARVEL.EXE";
    EXPECT_EQ(Get("GET / HTTP/1.0\r\n\r\n").nStatus, 404);
}

TEST_F(ServingTest, RootIsNormalisedInTheMember) {
    m_server.m_strRoot = m_root.Path().string() + "//";
    EXPECT_EQ(Get("GET /a.htm HTTP/1.0\r\n\r\n").strBody, "page a");
    EXPECT_EQ(m_server.m_strRoot, m_root.Path().string() + "/");
    Get("GET /a.htm HTTP/1.0\r\n\r\n");
    EXPECT_EQ(m_server.m_strRoot, m_root.Path().string());
}

TEST_F(ServingTest, EmptyRootBecomesTheCurrentFolder) {
    fs::path previous = fs::current_path();
    fs::current_path(m_root.Path());
    m_server.m_strRoot.clear();
    SAnswer answer = Get("GET / HTTP/1.0\r\n\r\n");
    fs::current_path(previous);
    EXPECT_EQ(answer.strBody, "<p>home</p>");
    EXPECT_EQ(m_server.m_strRoot, ".");
}

TEST_F(ServingTest, RangeFromTheMiddleOfAFileLargerThanTheBlock) {
    std::string strBig(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < strBig.size(); ++i) {
        strBig[i] = static_cast<char>((i * 7919) >> 3);
    }
    WriteFile(m_root / "big.bin", strBig);
    SAnswer answer = Get("GET /big.bin HTTP/1.1\r\nRange: bytes=1000001-2999999\r\n\r\n");
    EXPECT_TRUE(answer.strRaw.starts_with("HTTP/1.1 206 Partial Content\r\n"));
    EXPECT_EQ(answer.headers["Content-Range"],
              "bytes 1000001-2999999/" + std::to_string(strBig.size()));
    EXPECT_EQ(answer.headers["Content-Length"], "1999999");
    EXPECT_EQ(answer.headers["Accept-Ranges"], "bytes");
    EXPECT_TRUE(answer.strBody == strBig.substr(1000001, 1999999));
    // The last bytes, asked from the end.
    answer = Get("GET /big.bin HTTP/1.0\r\nRange: bytes=-100000\r\n\r\n");
    EXPECT_TRUE(answer.strRaw.starts_with("HTTP/1.0 206 "));
    EXPECT_TRUE(answer.strBody == strBig.substr(strBig.size() - 100000));
}

TEST_F(ServingTest, ReplacedFileGetsANewTagWhateverItsSizeAndTime) {
    SAnswer first = Get("GET /a.htm HTTP/1.1\r\n\r\n");
    const std::string strTag = first.headers["ETag"];
    const std::string strDate = first.headers["Last-Modified"];
    ASSERT_FALSE(strTag.empty());
    EXPECT_FALSE(first.headers["Date"].empty());
    EXPECT_EQ(first.headers["Cache-Control"], "no-cache");

    SAnswer same = Get("GET /a.htm HTTP/1.1\r\nIf-None-Match: " + strTag + "\r\n\r\n");
    EXPECT_EQ(same.nStatus, 304);
    EXPECT_EQ(same.strBody, "");
    EXPECT_EQ(same.headers["ETag"], strTag);
    EXPECT_EQ(Get("GET /a.htm HTTP/1.1\r\nIf-Modified-Since: " + strDate + "\r\n\r\n").nStatus,
              304);

    // Replaced by a file of the same size and the same time: only its identity differs.
    struct stat before {};
    ASSERT_EQ(::stat((m_root / "a.htm").c_str(), &before), 0);
    WriteFile(m_root / "new.htm", "page b");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, (m_root / "new.htm").c_str(), times, 0), 0);
    fs::rename(m_root / "new.htm", m_root / "a.htm");

    SAnswer changed = Get("GET /a.htm HTTP/1.1\r\nIf-None-Match: " + strTag + "\r\n\r\n");
    EXPECT_EQ(changed.nStatus, 200);
    EXPECT_EQ(changed.strBody, "page b");
    EXPECT_NE(changed.headers["ETag"], strTag);
    // A resumed download of the old file must not get the new file's bytes.
    SAnswer stale =
        Get("GET /a.htm HTTP/1.1\r\nRange: bytes=3-\r\nIf-Range: " + strTag + "\r\n\r\n");
    EXPECT_EQ(stale.nStatus, 200);
    EXPECT_EQ(stale.strBody, "page b");
    SAnswer current =
        Get("GET /a.htm HTTP/1.1\r\nRange: bytes=3-\r\nIf-Range: " + changed.headers["ETag"] +
            "\r\n\r\n");
    EXPECT_EQ(current.nStatus, 206);
    EXPECT_EQ(current.strBody, "e b");
}

TEST_F(ServingTest, HeadersInALaterPacketAreWaitedFor) {
    SAnswer answer = WhileServing([&] {
        CClient client(Port());
        client.Send("GET /a.htm HTTP/1.1\r\nHost: x\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        client.Send("Range: bytes=0-1\r\n\r\n");
        return client.ReadAll();
    });
    EXPECT_EQ(answer.nStatus, 206);
    EXPECT_EQ(answer.strBody, "pa");
}

TEST_F(ServingTest, RequestLineSplitOverPacketsIsWaitedFor) {
    SAnswer answer = WhileServing([&] {
        CClient client(Port());
        client.Send("GET /a.h");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        client.Send("tm HTTP/1.0\r\n\r\n");
        return client.ReadAll();
    });
    EXPECT_EQ(answer.strBody, "page a");
}

TEST_F(ServingTest, PartialLineIsParsedAtThePeersClose) {
    SAnswer answer = WhileServing([&] {
        CClient client(Port());
        client.Send("GET /a.htm HTTP/1.0");
        client.ShutdownSending();
        return client.ReadAll();
    });
    EXPECT_EQ(answer.strBody, "page a");
}

TEST_F(ServingTest, SilentPartialLineIsAnsweredAfterTheLineWait) {
    m_server.m_waitPolicy.requestHead.nDeadlineMs = 300;
    m_server.m_waitPolicy.wholeFile.nStallMs = 60000;  // the head has a bound of its own
    const auto started = std::chrono::steady_clock::now();
    SAnswer answer = WhileServing([&] {
        CClient client(Port());
        client.Send("GET /a.htm HTTP/1.0");  // no line end, connection stays open
        return client.ReadAll();
    });
    EXPECT_EQ(answer.strBody, "page a");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(ServingTest, InputLeftUnreadDoesNotCutALargeAnswer) {
    // What the kernel still holds of the answer at the close is lost to a
    // reset, which unread input at the close would cause.
    WriteFile(m_root / "big.bin", std::string(8 << 20, 'b'));
    SAnswer answer = WhileServing([&] {
        CClient client(Port());
        client.Send("POST /big.bin HTTP/1.0\r\nContent-Length: 65536\r\n\r\n" +
                    std::string(65536, 'x'));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return client.ReadAll();
    });
    EXPECT_EQ(answer.nStatus, 200);
    EXPECT_EQ(answer.strBody.size(), size_t{8} << 20);
    EXPECT_FALSE(answer.bReset);
}

TEST_F(ServingTest, LineLongerThanTheBufferIsRefusedWithStatus) {
    std::string strLong =
        "GET /" + std::string(CClientSocket::kRequestBufferSize, 'a') + " HTTP/1.0\r\n\r\n";
    SAnswer answer = Get(strLong);
    EXPECT_EQ(answer.nStatus, 404);
    EXPECT_EQ(answer.strBody, kPage);
    // A long but fitting URL (escaped names, queries) is served.
    std::string strQuery(6000, 'q');
    EXPECT_EQ(Get("GET /a.htm?" + strQuery + " HTTP/1.0\r\n\r\n").strBody, "page a");
}

TEST_F(ServingTest, BrowserSizedRequestIsAnsweredWholeWithoutReset) {
    std::string strRequest =
        "GET /docs/a.htm HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n"
        "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/120.0.0.0 Safari/537.36\r\n"
        "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,"
        "image/apng,*/*;q=0.8,application/signed-exchange;v=b3;q=0.7\r\n"
        "Accept-Encoding: gzip, deflate, br\r\nAccept-Language: en-GB,en;q=0.9,de;q=0.8\r\n"
        "Cache-Control: max-age=0\r\nUpgrade-Insecure-Requests: 1\r\n"
        "Sec-Fetch-Site: none\r\nSec-Fetch-Mode: navigate\r\nSec-Fetch-User: ?1\r\n"
        "Sec-Fetch-Dest: document\r\nCookie: session=" +
        std::string(200, 'c') + "\r\n\r\n";
    ASSERT_GT(strRequest.size(), 600u);
    for (int i = 0; i < 20; ++i) {
        SAnswer answer = Get(strRequest);
        ASSERT_EQ(answer.strBody, "docs a");
        ASSERT_FALSE(answer.bReset);
    }
}

TEST_F(ServingTest, LargeFileArrivesWholeThroughAFixedBuffer) {
    std::string strBig(24 * 1024 * 1024 + 123, '\0');
    for (size_t i = 0; i < strBig.size(); ++i) {
        strBig[i] = static_cast<char>((i * 7919) >> 3);
    }
    WriteFile(m_root / "big.bin", strBig);
    SAnswer answer = Get("GET /big.bin HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer.headers["Content-Type"], "application/octet-stream");
    EXPECT_EQ(answer.headers["Content-Length"], std::to_string(strBig.size()));
    EXPECT_TRUE(answer.strBody == strBig);
}

TEST_F(ServingTest, FileThatShrinksWhileSentEndsShortWithoutTheErrorPage) {
    const size_t nSize = 32 * 1024 * 1024;
    WriteFile(m_root / "shrinks.bin", std::string(nSize, 'z'));
    SAnswer answer = WhileServing([&] {
        CClient client(Port());
        client.Send("GET /shrinks.bin HTTP/1.0\r\n\r\n");
        std::string strFirst = client.ReadSome(4096);
        // Let the server fill the socket buffers and wait, mid-file.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        fs::resize_file(m_root / "shrinks.bin", 1024 * 1024);
        SAnswer rest = client.ReadAll();
        rest.strRaw = strFirst + rest.strRaw;
        return ParseAnswer(rest.strRaw);
    });
    EXPECT_EQ(answer.nStatus, 200);
    EXPECT_EQ(answer.headers["Content-Length"], std::to_string(nSize));
    EXPECT_LT(answer.strBody.size(), nSize);
    EXPECT_EQ(answer.strBody.find("Error 404"), std::string::npos);
}

}  // namespace
