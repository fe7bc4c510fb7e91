// The private link over real loopback connections: nothing without the
// secret, everything with it, and the secret never handed to whoever lacks it.
#include <string>

#include "ErrorPage.h"
#include "TestSupport.h"

namespace {
using namespace tarvel_test;

const std::string kKey = "k7wqzt2m5xhv3rnc4pjd6yfgab";

class PrivateServingTest : public CServedRootTest {
protected:
    void SetUp() override {
        CServedRootTest::SetUp();
        WriteFile(m_root / "a.htm", "page a");
        WriteFile(m_root / "docs/b.txt", "docs b");
        WriteFile(m_root / "404.html", "site 404");
        m_server.m_bPrivate = true;
        m_server.m_strPrivateKey = kKey;
        m_server.m_bListFolders = true;
        m_server.m_bPreview = true;
        Start();
    }
    SAnswer GetPath(const std::string& strPath, const std::string& strHeaders = "") {
        return Get("GET " + strPath + " HTTP/1.1\r\nHost: h\r\n" + strHeaders + "\r\n");
    }
};

struct SOutsideCase {
    const char* pszName;
    std::string strRequest;
};

TEST_F(PrivateServingTest, NothingIsReachedWithoutTheSecret) {
    const SOutsideCase cases[] = {
        {"listing", "GET / HTTP/1.1\r\n\r\n"},
        {"file", "GET /a.htm HTTP/1.1\r\n\r\n"},
        {"head", "HEAD /docs/b.txt HTTP/1.1\r\n\r\n"},
        {"folder without slash", "GET /docs HTTP/1.1\r\n\r\n"},
        {"preview question", "HEAD /a.htm HTTP/1.1\r\nIf-None-Match: \"x\"\r\n\r\n"},
        {"link without .html", "GET /a HTTP/1.1\r\nSec-Fetch-Dest: document\r\n\r\n"},
        {"secret one off", "GET /k7wqzt2m5xhv3rnc4pjd6yfgaa/a.htm HTTP/1.1\r\n\r\n"},
        {"secret later", "GET /docs/" + kKey + "/b.txt HTTP/1.1\r\n\r\n"},
        {"wrong cookie", "GET /a.htm HTTP/1.1\r\nCookie: tarvel-link=k7wqzt2m5xhv3rnc4pjd6yfgaa\r\n\r\n"},
        {"post", "POST /a.htm HTTP/1.1\r\nContent-Length: 0\r\n\r\n"},
    };
    for (const SOutsideCase& c : cases) {
        SAnswer answer = Get(c.strRequest);
        EXPECT_EQ(answer.nStatus, 404) << c.pszName;
        if (c.strRequest.rfind("HEAD", 0) != 0) {
            EXPECT_EQ(answer.strBody, kErrorPage) << c.pszName;  // never the site's 404.html
        }
        EXPECT_EQ(answer.strRaw.find(kKey), std::string::npos) << c.pszName;
        EXPECT_EQ(answer.headers["Referrer-Policy"], "same-origin") << c.pszName;
        EXPECT_EQ(answer.headers.count("Set-Cookie"), 0u) << c.pszName;
    }
}

TEST_F(PrivateServingTest, EverythingIsReachedWithTheSecret) {
    const std::string strBase = "/" + kKey;
    EXPECT_EQ(GetPath(strBase + "/a.htm").strBody, "page a");
    EXPECT_EQ(GetPath("/K7WQZT2M5XHV3RNC4PJD6YFGAB/docs/b.txt").strBody, "docs b");
    SAnswer missing = GetPath(strBase + "/nothing.htm");
    EXPECT_EQ(missing.nStatus, 404);
    EXPECT_EQ(missing.strBody, "site 404");  // the preview's 404 page, inside the secret
    SAnswer page = GetPath(strBase + "/a");
    EXPECT_EQ(page.strBody, "page a");  // a link without .html
    SAnswer answer = GetPath(strBase + "/a.htm");
    EXPECT_EQ(answer.headers["Set-Cookie"],
              "tarvel-link=" + kKey + "; Path=/; HttpOnly; SameSite=Strict");
    EXPECT_EQ(answer.headers["Referrer-Policy"], "same-origin");
}

TEST_F(PrivateServingTest, RedirectsAndListingKeepTheSecret) {
    SAnswer bare = GetPath("/" + kKey);
    EXPECT_EQ(bare.nStatus, 301);
    EXPECT_EQ(bare.headers["Location"], "/" + kKey + "/");
    SAnswer folder = GetPath("/" + kKey + "/docs?sort=size");
    EXPECT_EQ(folder.nStatus, 301);
    EXPECT_EQ(folder.headers["Location"], "/" + kKey + "/docs/?sort=size");
    SAnswer listing = GetPath("/" + kKey + "/");
    EXPECT_EQ(listing.nStatus, 200);
    EXPECT_NE(listing.strBody.find("href=\"docs/\""), std::string::npos);
    EXPECT_EQ(listing.strBody.find("href=\"../\""), std::string::npos);  // the parent stops at the secret
    SAnswer inner = GetPath("/" + kKey + "/docs/");
    EXPECT_NE(inner.strBody.find("href=\"../\""), std::string::npos);
}

TEST_F(PrivateServingTest, TheCookieOpensRootRelativeLinksWithoutHandingOutTheSecret) {
    const std::string strCookie = "Cookie: tarvel-link=" + kKey + "\r\n";
    SAnswer file = GetPath("/docs/b.txt", strCookie);
    EXPECT_EQ(file.strBody, "docs b");
    EXPECT_EQ(file.headers.count("Set-Cookie"), 0u);
    SAnswer folder = GetPath("/docs", strCookie);
    EXPECT_EQ(folder.nStatus, 301);
    EXPECT_EQ(folder.headers["Location"], "/docs/");  // the request lacked the secret: so does this
    EXPECT_EQ(GetPath("/deep/er/missing", strCookie).strBody, "site 404");
}

TEST_F(PrivateServingTest, ALineWithoutVersionGetsTheBarePageInsideAndOut) {
    SAnswer answer = Get("GET /" + kKey + "/a.htm\r\n");
    EXPECT_EQ(answer.nStatus, 0);
    EXPECT_EQ(answer.strBody, kErrorPage);
    SAnswer outside = Get("GET /a.htm\r\n");
    EXPECT_EQ(outside.nStatus, 0);
    EXPECT_EQ(outside.strBody, kErrorPage);
}

TEST_F(PrivateServingTest, OffChangesNoByte) {
    m_server.m_bPrivate = false;
    SAnswer answer = GetPath("/a.htm");
    EXPECT_EQ(answer.strBody, "page a");
    EXPECT_EQ(answer.headers.count("Referrer-Policy"), 0u);
    EXPECT_EQ(answer.headers.count("Set-Cookie"), 0u);
}
}  // namespace
