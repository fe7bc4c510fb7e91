// The one decision of an answer: the target looked up, which answer a file
// gets (ranges, revalidation), and what is never served.
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "AnswerPlan.h"
#include "ListingPage.h"
#include "TestSupport.h"
#include "Validators.h"

namespace {
using tarvel_test::WriteFile;
namespace fs = std::filesystem;

constexpr size_t kBuffer = 8192;

const SFileFacts kFacts{.nSize = 1000,
                        .nModifiedSeconds = 784111777,  // Sun, 06 Nov 1994 08:49:37 GMT
                        .nModifiedNanoseconds = 5,
                        .inode = 42};
const std::string kTag = EntityTagFor(kFacts);
const std::string kDate = "Sun, 06 Nov 1994 08:49:37 GMT";

struct SAnswerCase {
    const char* pszName;
    SRequestHeaders headers;
    int nStatus;
    uint64_t nFirst = 0;
    uint64_t nCount = 0;
};

class FileAnswerTest : public ::testing::TestWithParam<SAnswerCase> {};

TEST_P(FileAnswerTest, Plans) {
    const SAnswerCase& c = GetParam();
    SFileAnswer answer = PlanFileAnswer(c.headers, kFacts);
    EXPECT_EQ(answer.nStatus, c.nStatus);
    EXPECT_EQ(answer.nFirst, c.nFirst);
    EXPECT_EQ(answer.nCount, c.nCount);
}

const SAnswerCase kAnswerCases[] = {
    {"plain", {}, 200, 0, 1000},
    {"tag_matches", {.strIfNoneMatch = kTag}, 304},
    {"tag_in_list", {.strIfNoneMatch = "\"x\", " + kTag}, 304},
    {"weak_form_matches_for_revalidation", {.strIfNoneMatch = "W/" + kTag}, 304},
    {"star", {.strIfNoneMatch = "*"}, 304},
    {"other_tag", {.strIfNoneMatch = "\"x\""}, 200, 0, 1000},
    {"since_the_modification", {.strIfModifiedSince = kDate}, 304},
    {"since_later", {.strIfModifiedSince = "Mon, 07 Nov 1994 00:00:00 GMT"}, 304},
    {"since_earlier", {.strIfModifiedSince = "Sun, 06 Nov 1994 08:49:36 GMT"}, 200, 0, 1000},
    {"since_unreadable", {.strIfModifiedSince = "yesterday"}, 200, 0, 1000},
    {"tag_decides_over_date",
     {.strIfNoneMatch = "\"x\"", .strIfModifiedSince = kDate},
     200,
     0,
     1000},
    {"range", {.strRange = "bytes=100-199"}, 206, 100, 100},
    {"range_unsatisfiable", {.strRange = "bytes=1000-"}, 416},
    {"range_invalid", {.strRange = "bytes=x"}, 200, 0, 1000},
    {"not_modified_before_range", {.strRange = "bytes=0-1", .strIfNoneMatch = kTag}, 304},
    {"if_range_tag", {.strRange = "bytes=10-", .strIfRange = kTag}, 206, 10, 990},
    {"if_range_date", {.strRange = "bytes=10-", .strIfRange = kDate}, 206, 10, 990},
    {"if_range_old_tag", {.strRange = "bytes=10-", .strIfRange = "\"old\""}, 200, 0, 1000},
    {"if_range_weak_tag", {.strRange = "bytes=10-", .strIfRange = "W/" + kTag}, 200, 0, 1000},
    {"if_range_other_date",
     {.strRange = "bytes=10-", .strIfRange = "Mon, 07 Nov 1994 00:00:00 GMT"},
     200,
     0,
     1000},
    {"if_range_stale_skips_416",
     {.strRange = "bytes=5000-", .strIfRange = "\"old\""},
     200,
     0,
     1000},
};

INSTANTIATE_TEST_SUITE_P(Answers, FileAnswerTest, ::testing::ValuesIn(kAnswerCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(TargetOf, DefaultPageJoinsTheGuards) {
    // The default page is part of what the guards see, in any case.
    const SParsedRequest root = ParseRequest("GET / HTTP/1.0\r\n", kBuffer);
    EXPECT_FALSE(TargetOf(root, "TARVEL.EXE"));
    EXPECT_FALSE(TargetOf(root, "../up.htm"));
    EXPECT_FALSE(TargetOf(root, ".hidden"));
    // It keeps its own case, so an exact name is found first.
    std::optional<STarget> target =
        TargetOf(ParseRequest("GET /Sub/ HTTP/1.0\r\n", kBuffer), "Index.HTM");
    ASSERT_TRUE(target);
    EXPECT_EQ(target->strPath, "/Sub/Index.HTM");
    EXPECT_TRUE(target->bFolderRequest);
    EXPECT_FALSE(TargetOf(ParseRequest("GET /Sub HTTP/1.0\r\n", kBuffer), "x")->bFolderRequest);
}

class AnswerPlanTest : public tarvel_test::CPlannedRootTest {};

TEST_F(AnswerPlanTest, OnlyRegularFilesUnderTheRootAreServed) {
    WriteFile(In("a.htm"), "a");
    fs::create_directories(In("folder"));
    ASSERT_EQ(::mkfifo(In("pipe").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", In("device"));
    fs::create_symlink("/proc/self/exe", In("program"));
    fs::create_symlink(In("nowhere"), In("dangling"));

    fs::create_directories(In("Photos/2026"));
    fs::create_directories(In(".git"));
    WriteFile(In("Site/index.htm"), "site");
    fs::create_directories(In("Site/index.htm.d"));
    fs::create_directories(In("Odd/index.htm"));  // a folder by the default page's name

    struct {
        const char* pszLine;
        int nStatus;  // 0: the bare page without a status line
        EBody body;
        bool bListFolders = false;
    } cases[] = {
        {"GET /a.htm HTTP/1.0", 200, EBody::File},
        {"HEAD /a.htm HTTP/1.0", 200, EBody::None},
        {"GET /missing.htm HTTP/1.0", 404, EBody::ErrorPage},
        {"HEAD /missing.htm HTTP/1.0", 404, EBody::None},
        {"GET /pipe HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /device HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /program HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /dangling HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /folder/ HTTP/1.0", 404, EBody::ErrorPage},  // no default page there
        {"GET /folder HTTP/1.0", 301, EBody::None},
        {"GET /folder", 0, EBody::ErrorPage},  // no version: the bare page
        {"GET /a.htm", 0, EBody::ErrorPage},
        {"GET //etc/passwd HTTP/1.0", 404, EBody::ErrorPage},
        {"GET /a.htm/ HTTP/1.0", 404, EBody::ErrorPage},
        // With listings on, a folder without its default page is listed.
        {"GET /photos/ HTTP/1.1", 200, EBody::Memory, true},
        {"GET /Photos/2026/?sort=size HTTP/1.1", 200, EBody::Memory, true},
        {"HEAD /photos/ HTTP/1.1", 200, EBody::None, true},
        {"GET / HTTP/1.0", 200, EBody::Memory, true},
        {"GET /odd/ HTTP/1.0", 200, EBody::Memory, true},
        {"GET /site/ HTTP/1.0", 200, EBody::File, true},  // its page, as without listings
        {"GET /photos HTTP/1.0", 301, EBody::None, true},
        {"GET /photos/", 0, EBody::ErrorPage, true},
        {"GET /.git/ HTTP/1.0", 404, EBody::ErrorPage, true},
        {"GET /a.htm/ HTTP/1.0", 404, EBody::ErrorPage, true},
        {"GET /missing/ HTTP/1.0", 404, EBody::ErrorPage, true},
        {"GET /photos/ HTTP/1.0", 404, EBody::ErrorPage, false},
    };
    for (const auto& c : cases) {
        SAnswerPlan plan = Plan(c.pszLine, c.bListFolders);
        EXPECT_EQ(plan.bStatusLine ? plan.head.nStatus : 0, c.nStatus) << c.pszLine;
        EXPECT_EQ(plan.body, c.body) << c.pszLine;
        if (c.bListFolders && c.nStatus == 200 && c.body != EBody::File) {
            EXPECT_EQ(plan.head.strContentType, "text/html; charset=utf-8") << c.pszLine;
            EXPECT_EQ(plan.phase, ESendPhase::Memory) << c.pszLine;
            EXPECT_TRUE(plan.head.strEntityTag.empty()) << c.pszLine;
        }
    }
    // HEAD gets the length GET would send.
    EXPECT_EQ(Plan("HEAD /photos/ HTTP/1.1", true).head.nContentLength,
              Plan("GET /photos/ HTTP/1.1", true).strBody.size());
}

TEST_F(AnswerPlanTest, RedirectKeepsTheTargetAsReceivedAndItsQuery) {
    fs::create_directories(In("My Folder"));
    SAnswerPlan plan = Plan("GET /My%20Folder?a=1&b=2 HTTP/1.1");
    ASSERT_EQ(plan.head.nStatus, 301);
    EXPECT_EQ(plan.head.strLocation, "/My%20Folder/?a=1&b=2");
    // Doubled separators in front cannot turn it into another host's address.
    fs::create_directories(In("docs"));
    EXPECT_EQ(Plan("GET //docs HTTP/1.1").head.strLocation, "/docs/");
    EXPECT_EQ(Plan("GET /\\docs HTTP/1.1").head.strLocation, "/docs/");
    // A raw blank or control byte cannot break the header line.
    fs::create_directories(In("a b"));
    plan = Plan("GET /a b HTTP/1.1");
    ASSERT_EQ(plan.head.nStatus, 301);
    EXPECT_EQ(plan.head.strLocation, "/a%20b/");
}

// With uploads on: the options a person who lets visitors add files has set.
class UploadAnswerPlanTest : public tarvel_test::CPlannedRootTest {
protected:
    SAnswerPlan Upload(const std::string& strLine, bool bUpload = true, bool bPreview = false) {
        CRootLookup lookup(m_strRoot, tarvel_test::OwnProgram(), m_start);
        return PlanAnswer(ParseRequest(strLine, kBuffer),
                          {.defaultPage = "index.htm",
                           .bListFolders = true,
                           .bPreview = bPreview,
                           .bUpload = bUpload},
                          lookup);
    }
};

TEST_F(UploadAnswerPlanTest, ListingRunsOnlyItsOwnScriptByAFreshNonce) {
    WriteFile(In("p/<img src=x onerror=alert(1)>.jpg"), "tag");
    std::string strLastNonce;
    for (const char* pszLine : {"GET /p/ HTTP/1.1", "GET /p/?sort=size HTTP/1.0"}) {
        const SAnswerPlan plan = Upload(pszLine);
        ASSERT_EQ(plan.body, EBody::Memory) << pszLine;
        const std::string& strPolicy = plan.head.strContentSecurityPolicy;
        constexpr std::string_view kScripts = "; script-src 'nonce-";
        const size_t nNonce = strPolicy.find(kScripts) + kScripts.size();
        ASSERT_LT(nNonce, strPolicy.size()) << strPolicy;
        const std::string strNonce =
            strPolicy.substr(nNonce, strPolicy.find('\'', nNonce) - nNonce);
        EXPECT_EQ(strNonce.size(), 26u);
        EXPECT_EQ(strPolicy, AddFilesPagePolicy({.scriptNonce = strNonce}));
        EXPECT_NE(plan.strBody.find("<script nonce=\"" + strNonce + "\">"), std::string::npos);
        EXPECT_NE(plan.strBody.find("<form id=\"add-files\""), std::string::npos);
        EXPECT_EQ(plan.strBody.find("<img"), std::string::npos);
        EXPECT_NE(strNonce, strLastNonce);
        strLastNonce = strNonce;
    }
    const SAnswerPlan head = Upload("HEAD /p/ HTTP/1.1");
    EXPECT_EQ(head.body, EBody::None);
    EXPECT_TRUE(head.head.strContentSecurityPolicy.starts_with("default-src 'none'; script-src"));
}

TEST_F(UploadAnswerPlanTest, WithUploadsOffTheListingIsAsItWas) {
    WriteFile(In("p/a.jpg"), "a");
    const SAnswerPlan plan = Upload("GET /p/ HTTP/1.1", false);
    CRootLookup lookup(m_strRoot, tarvel_test::OwnProgram(), m_start);
    std::vector<SFolderEntry> entries;
    ASSERT_TRUE(lookup.ReadFolder(lookup.Look("/p/"), "/p/", entries));
    EXPECT_EQ(plan.strBody, BuildFolderListing("/p/", entries, {}));
    EXPECT_EQ(plan.strBody.find("<form"), std::string::npos);
    EXPECT_TRUE(plan.head.strContentSecurityPolicy.empty());
}

TEST_F(UploadAnswerPlanTest, PagesSvgAndXmlAreSandboxedWhileUploadsAreOnWithoutThePreview) {
    for (const char* pszName : {"page.htm", "pic.svg", "data.xml", "notes.txt", "photo.jpg",
                                "app.js", "site/index.htm"}) {
        WriteFile(In(pszName), "<svg onload=alert(1)>");
    }
    const struct {
        std::string strRequest;
        bool bUpload = true;
        bool bPreview = false;
        int nStatus = 200;
        std::string_view policy{};
    } cases[] = {
        {.strRequest = "GET /page.htm HTTP/1.1", .policy = "sandbox"},
        {.strRequest = "HEAD /PAGE.htm HTTP/1.1", .policy = "sandbox"},
        {.strRequest = "GET /pic.svg HTTP/1.0", .policy = "sandbox"},
        {.strRequest = "GET /data.xml HTTP/1.1", .policy = "sandbox"},
        {.strRequest = "GET /site/ HTTP/1.1", .policy = "sandbox"},  // the default page
        {.strRequest = "GET /page.htm HTTP/1.1\r\nRange: bytes=1-3\r\n\r\n",
         .nStatus = 206,
         .policy = "sandbox"},
        {.strRequest = "GET /notes.txt HTTP/1.1"},
        {.strRequest = "GET /photo.jpg HTTP/1.1"},
        {.strRequest = "GET /app.js HTTP/1.1"},
        {.strRequest = "GET /missing.htm HTTP/1.1", .nStatus = 404},
        {.strRequest = "GET /page.htm HTTP/1.1", .bUpload = false},
        {.strRequest = "GET /pic.svg HTTP/1.1", .bUpload = false},
        {.strRequest = "GET /page.htm HTTP/1.1", .bPreview = true},
        {.strRequest = "GET /pic.svg HTTP/1.1", .bPreview = true},
        {.strRequest = "GET /data.xml HTTP/1.1\r\nRange: bytes=1-3\r\n\r\n",
         .bPreview = true,
         .nStatus = 206},
    };
    for (const auto& c : cases) {
        const SAnswerPlan plan = Upload(c.strRequest, c.bUpload, c.bPreview);
        EXPECT_EQ(plan.head.nStatus, c.nStatus) << c.strRequest;
        EXPECT_EQ(plan.head.strContentSecurityPolicy, c.policy)
            << c.strRequest << " uploads " << c.bUpload << " preview " << c.bPreview;
    }
}

}  // namespace
