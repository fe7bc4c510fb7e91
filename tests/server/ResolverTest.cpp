// Finding files under the root: case folding, links, and what is never served.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "PathResolver.h"
#include "Response.h"
#include "TestSupport.h"

namespace {
using tarvel_test::CTempDir;
using tarvel_test::WriteFile;
namespace fs = std::filesystem;

SFileIdentity OwnProgram() {
    struct stat status {};
    ::stat("/proc/self/exe", &status);
    return {status.st_dev, status.st_ino};
}

class PlanTest : public ::testing::Test {
protected:
    SResponsePlan Plan(const std::string& strLine, const std::string& strDefault = "index.htm") {
        return PlanResponse(ParseRequest(strLine, 8192, strDefault), m_root.Path().string(),
                            OwnProgram());
    }
    std::string In(const std::string& strName) { return m_root / strName; }
    CTempDir m_root;
};

TEST_F(PlanTest, NamesAreMatchedAsOnACaseInsensitiveFileSystem) {
    WriteFile(In("Docs/Readme.HTM"), "r");
    WriteFile(In("lower.htm"), "l");
    WriteFile(In("Both.txt"), "upper");
    WriteFile(In("both.txt"), "lower");
    WriteFile(In("BOTH.TXT"), "all upper");
    WriteFile(In("Mixed/B.txt"), "B");
    WriteFile(In("Mixed/b.TXT"), "b");
    WriteFile(In("caf\xc3\xa9.htm"), "accent");

    struct {
        const char* pszLine;
        std::string strExpected;
    } cases[] = {
        {"GET /docs/readme.htm HTTP/1.0", In("Docs/Readme.HTM")},
        {"GET /DOCS/README.HTM HTTP/1.0", In("Docs/Readme.HTM")},
        {"GET /lower.htm HTTP/1.0", In("lower.htm")},
        // The name as requested first, then lower-cased.
        {"GET /BOTH.TXT HTTP/1.0", In("BOTH.TXT")},
        {"GET /Both.txt HTTP/1.0", In("Both.txt")},
        {"GET /BOTH.txt HTTP/1.0", In("both.txt")},
        // Else the byte-wise smallest of the folded matches.
        {"GET /mixed/b.txt HTTP/1.0", In("Mixed/B.txt")},
        // Bytes from 0x80 up compare exactly.
        {"GET /caf%C3%A9.htm HTTP/1.0", In("caf\xc3\xa9.htm")},
    };
    for (const auto& c : cases) {
        SResponsePlan plan = Plan(c.pszLine);
        EXPECT_EQ(plan.answer, EAnswer::File) << c.pszLine;
        EXPECT_EQ(plan.strFile, c.strExpected) << c.pszLine;
    }
    EXPECT_EQ(Plan("GET /CAF%C3%89.htm HTTP/1.0").answer, EAnswer::ErrorPage);
}

TEST_F(PlanTest, FolderThatMayBeTraversedButNotListedServesItsExactNames) {
    WriteFile(In("noread/File.txt"), "f");
    fs::permissions(In("noread"), fs::perms::owner_exec);
    SResponsePlan plan = Plan("GET /noread/File.txt HTTP/1.0");
    fs::permissions(In("noread"), fs::perms::owner_all);
    EXPECT_EQ(plan.answer, EAnswer::File);
    EXPECT_EQ(plan.strFile, In("noread/File.txt"));
}

TEST_F(PlanTest, OnlyRegularFilesUnderTheRootAreServed) {
    WriteFile(In("a.htm"), "a");
    fs::create_directories(In("folder"));
    ASSERT_EQ(::mkfifo(In("pipe").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", In("device"));
    fs::create_symlink("/proc/self/exe", In("program"));
    fs::create_symlink(In("nowhere"), In("dangling"));

    struct {
        const char* pszLine;
        EAnswer answer;
    } cases[] = {
        {"GET /a.htm HTTP/1.0", EAnswer::File},
        {"GET /missing.htm HTTP/1.0", EAnswer::ErrorPage},
        {"GET /pipe HTTP/1.0", EAnswer::ErrorPage},
        {"GET /device HTTP/1.0", EAnswer::ErrorPage},
        {"GET /program HTTP/1.0", EAnswer::ErrorPage},
        {"GET /dangling HTTP/1.0", EAnswer::ErrorPage},
        {"GET /folder/ HTTP/1.0", EAnswer::ErrorPage},  // no default page there
        {"GET /folder HTTP/1.0", EAnswer::Redirect},
        {"GET /folder", EAnswer::ErrorPage},  // no version: the bare page
        {"GET //etc/passwd HTTP/1.0", EAnswer::ErrorPage},
        {"GET /a.htm/ HTTP/1.0", EAnswer::ErrorPage},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Plan(c.pszLine).answer, c.answer) << c.pszLine;
    }
}

TEST_F(PlanTest, TargetWithoutSlashStaysInsideTheRoot) {
    // Root /tmp/x and target "y" once named the sibling /tmp/xy.
    CTempDir parent;
    fs::create_directories(parent / "web");
    WriteFile(parent / "webx", "sibling");
    WriteFile(parent / "web/x", "inside");
    SResponsePlan plan = PlanResponse(ParseRequest("GET x HTTP/1.0", 8192, "index.htm"),
                                      parent / "web", SFileIdentity{});
    EXPECT_EQ(plan.strFile, parent / "web/x");
}

TEST_F(PlanTest, LinksInsideTheRootAreFollowed) {
    CTempDir elsewhere;
    WriteFile(elsewhere / "shared/page.htm", "shared");
    fs::create_directory_symlink(elsewhere / "shared", In("linked"));
    SResponsePlan plan = Plan("GET /Linked/PAGE.htm HTTP/1.0");
    EXPECT_EQ(plan.answer, EAnswer::File);
    EXPECT_EQ(plan.strFile, In("linked/page.htm"));
}

TEST_F(PlanTest, RedirectKeepsTheTargetAsReceivedAndItsQuery) {
    fs::create_directories(In("My Folder"));
    SResponsePlan plan = Plan("GET /My%20Folder?a=1&b=2 HTTP/1.1");
    ASSERT_EQ(plan.answer, EAnswer::Redirect);
    EXPECT_EQ(plan.strLocation, "/My%20Folder/?a=1&b=2");
    // Doubled separators in front cannot turn it into another host's address.
    fs::create_directories(In("docs"));
    EXPECT_EQ(Plan("GET //docs HTTP/1.1").strLocation, "/docs/");
    EXPECT_EQ(Plan("GET /\\docs HTTP/1.1").strLocation, "/docs/");
    // A raw blank or control byte cannot break the header line.
    fs::create_directories(In("a b"));
    plan = Plan("GET /a b HTTP/1.1");
    ASSERT_EQ(plan.answer, EAnswer::Redirect);
    EXPECT_EQ(plan.strLocation, "/a%20b/");
}

TEST(JoinPath, OneSeparatorBetween) {
    EXPECT_EQ(JoinPath("/srv/web", "a"), "/srv/web/a");
    EXPECT_EQ(JoinPath("/", "a"), "/a");
    EXPECT_EQ(JoinPath(".", "a"), "./a");
}

}  // namespace
