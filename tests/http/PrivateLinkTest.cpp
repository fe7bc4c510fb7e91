// The private link's rules: the secret's form, which requests it lets in, the
// cookie, and the compare.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "PrivateLink.h"
#include "RequestLine.h"

namespace {
const std::string kKey = "abcdefghijklmnopqrstuvwxyz";  // 26 characters of the alphabet

SParsedRequest Request(const std::string& strPath, const std::string& strHeaders = "") {
    return ParseRequest("GET " + strPath + " HTTP/1.1\r\n" + strHeaders + "\r\n", 8192);
}

TEST(PrivateKey, FreshKeysHaveTheFormAndDiffer) {
    std::set<std::string> keys;
    std::set<char> symbols;
    for (int n = 0; n < 200; ++n) {
        const std::string strKey = NewPrivateKey();
        ASSERT_TRUE(IsPrivateKey(strKey)) << strKey;
        keys.insert(strKey);
        symbols.insert(strKey.begin(), strKey.end());
    }
    EXPECT_EQ(keys.size(), 200u);
    EXPECT_EQ(symbols.size(), 32u);  // every symbol of the alphabet turns up: all 130 bits are used
}

struct SFormCase {
    const char* pszKey;
    bool bKey;
};

TEST(PrivateKey, FormIsTwentySixBase32Characters) {
    const SFormCase cases[] = {
        {.pszKey = "abcdefghijklmnopqrstuvwxyz", .bKey = true},
        {.pszKey = "234567abcdefghijklmnopqrst", .bKey = true},
        {.pszKey = "abcdefghijklmnopqrstuvwxy", .bKey = false},    // 25
        {.pszKey = "abcdefghijklmnopqrstuvwxyza", .bKey = false},  // 27
        {.pszKey = "abcdefghijklmnopqrstuvwxy1", .bKey = false},   // 1 is not base32
        {.pszKey = "abcdefghijklmnopqrstuvwxy8", .bKey = false},
        {.pszKey = "ABCDEFGHIJKLMNOPQRSTUVWXYZ", .bKey = false},  // upper case is not the stored form
        {.pszKey = "abcdefghijklm/opqrstuvwxyz", .bKey = false},
        {.pszKey = "", .bKey = false},
    };
    for (const SFormCase& c : cases) {
        EXPECT_EQ(IsPrivateKey(c.pszKey), c.bKey) << c.pszKey;
    }
}

struct SMatchCase {
    std::string strText;
    bool bMatches;
};

TEST(PrivateKey, MatchesWholeKeyIgnoringAsciiCaseOnly) {
    const SMatchCase cases[] = {
        {.strText = kKey, .bMatches = true},
        {.strText = "ABCDEFGHIJKLMNOPQRSTUVWXYZ", .bMatches = true},
        {.strText = "abcdefghijklmnopqrstuvwxyy", .bMatches = false},  // last one off
        {.strText = "bbcdefghijklmnopqrstuvwxyz", .bMatches = false},  // first one off
        {.strText = kKey.substr(0, 25), .bMatches = false},
        {.strText = kKey + "a", .bMatches = false},
        {.strText = "", .bMatches = false},
    };
    for (const SMatchCase& c : cases) {
        EXPECT_EQ(MatchesPrivateKey(c.strText, kKey), c.bMatches) << c.strText;
    }
    EXPECT_FALSE(MatchesPrivateKey("", ""));
}

struct SAdmitCase {
    const char* pszName;
    std::string strPath;
    std::string strHeaders;
    bool bAdmitted;
    std::string strInsidePath = "";
    bool bNamedSecret = false;
};

TEST(PrivateLink, AdmitsOnlyTheSecretAsFirstSegmentOrItsCookie) {
    const std::string strEscaped = "%61%62cdefghijklmnopqrstuvwxyz";
    const SAdmitCase cases[] = {
        {"exact", "/" + kKey + "/", "", true, "/", true},
        {"a file", "/" + kKey + "/docs/a.htm", "", true, "/docs/a.htm", true},
        {"no slash", "/" + kKey, "", true, "", true},
        {"other case", "/ABCDEFGHIJKLMNOPQRSTUVWXYZ/a", "", true, "/a", true},
        {"escaped letters", "/" + strEscaped + "/a", "", true, "/a", true},
        {"doubled slash", "//" + kKey + "/a", "", true, "/a", true},
        {"one off", "/abcdefghijklmnopqrstuvwxyy/", "", false},
        {"a prefix of it", "/" + kKey.substr(0, 20) + "/", "", false},
        {"longer", "/" + kKey + "x/", "", false},
        {"later segment", "/docs/" + kKey + "/", "", false},
        {"dot segment first", "/./" + kKey + "/", "", false},
        {"bare root", "/", "", false},
        {"cookie", "/css/site.css", "Cookie: tarvel-link=" + kKey + "\r\n", true, "/css/site.css"},
        {"cookie among others", "/a", "Cookie: x=1; tarvel-link=" + kKey + "; y=2\r\n", true, "/a"},
        {"cookie on a second line", "/a", "Cookie: x=1\r\nCookie: tarvel-link=" + kKey + "\r\n",
         true, "/a"},
        {"wrong cookie", "/a", "Cookie: tarvel-link=abcdefghijklmnopqrstuvwxyy\r\n", false},
        {"shortened cookie", "/a", "Cookie: tarvel-link=" + kKey.substr(0, 25) + "\r\n", false},
        {"another cookie's value", "/a", "Cookie: other=" + kKey + "\r\n", false},
        {"cookie and secret", "/" + kKey + "/a", "Cookie: tarvel-link=" + kKey + "\r\n", true, "/a",
         true},
    };
    for (const SAdmitCase& c : cases) {
        const std::optional<SAdmitted> admitted = AdmitPrivate(Request(c.strPath, c.strHeaders), kKey);
        ASSERT_EQ(admitted.has_value(), c.bAdmitted) << c.pszName;
        if (admitted) {
            EXPECT_EQ(admitted->request.strPath, c.strInsidePath) << c.pszName;
            EXPECT_EQ(admitted->bNamedSecret, c.bNamedSecret) << c.pszName;
        }
    }
}

TEST(PrivateLink, ABrokenKeyLetsNobodyIn) {
    EXPECT_FALSE(AdmitPrivate(Request("/"), ""));
    EXPECT_FALSE(AdmitPrivate(Request("//"), ""));
    EXPECT_FALSE(AdmitPrivate(Request("/a", "Cookie: tarvel-link=\r\n"), ""));
}

TEST(PrivateLink, CookieIsForTheWholeSiteAndHiddenFromScripts) {
    EXPECT_EQ(PrivateCookieFor(kKey),
              "tarvel-link=" + kKey + "; Path=/; HttpOnly; SameSite=Strict");
}
}  // namespace
