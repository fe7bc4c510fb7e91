// Finding files under the root: case folding, folders that may only be
// traversed, links, and a target without a slash.
#include <sys/stat.h>

#include <filesystem>

#include "PathResolver.h"
#include "RootLookup.h"
#include "TestSupport.h"

namespace {
using tarvel_test::CTempDir;
using tarvel_test::WriteFile;
namespace fs = std::filesystem;

class PathResolverTest : public tarvel_test::CRootTest {};

TEST_F(PathResolverTest, NamesAreMatchedAsOnACaseInsensitiveFileSystem) {
    WriteFile(In("Docs/Readme.HTM"), "r");
    WriteFile(In("lower.htm"), "l");
    WriteFile(In("Both.txt"), "upper");
    WriteFile(In("both.txt"), "lower");
    WriteFile(In("BOTH.TXT"), "all upper");
    WriteFile(In("Mixed/B.txt"), "B");
    WriteFile(In("Mixed/b.TXT"), "b");
    WriteFile(In("caf\xc3\xa9.htm"), "accent");

    struct {
        const char* pszPath;
        std::string strExpected;
    } cases[] = {
        {"/docs/readme.htm", In("Docs/Readme.HTM")},
        {"/DOCS/README.HTM", In("Docs/Readme.HTM")},
        {"/lower.htm", In("lower.htm")},
        // The name as requested first, then lower-cased.
        {"/BOTH.TXT", In("BOTH.TXT")},
        {"/Both.txt", In("Both.txt")},
        {"/BOTH.txt", In("both.txt")},
        // Else the byte-wise smallest of the folded matches.
        {"/mixed/b.txt", In("Mixed/B.txt")},
        // Bytes from 0x80 up compare exactly.
        {"/caf\xc3\xa9.htm", In("caf\xc3\xa9.htm")},
    };
    for (const auto& c : cases) {
        SFound found = Find(c.pszPath);
        EXPECT_EQ(found.kind, SFound::EKind::File) << c.pszPath;
        EXPECT_EQ(found.strName, c.strExpected) << c.pszPath;
    }
    EXPECT_EQ(Find("/CAF\xc3\x89.htm").kind, SFound::EKind::Nothing);
}

TEST_F(PathResolverTest, FolderThatMayBeTraversedButNotListedServesItsExactNames) {
    WriteFile(In("noread/File.txt"), "f");
    fs::permissions(In("noread"), fs::perms::owner_exec);
    SFound found = Find("/noread/File.txt");
    fs::permissions(In("noread"), fs::perms::owner_all);
    EXPECT_EQ(found.kind, SFound::EKind::File);
    EXPECT_EQ(found.strName, In("noread/File.txt"));
}

TEST_F(PathResolverTest, TargetWithoutSlashStaysInsideTheRoot) {
    // Root /tmp/x and target "y" once named the sibling /tmp/xy.
    CTempDir parent;
    fs::create_directories(parent / "web");
    WriteFile(parent / "webx", "sibling");
    WriteFile(parent / "web/x", "inside");
    const std::string strRoot = parent / "web";
    CRootLookup lookup(strRoot, {}, {});
    EXPECT_EQ(lookup.Look("x").strName, parent / "web/x");
}

TEST_F(PathResolverTest, LinksInsideTheRootAreFollowed) {
    CTempDir elsewhere;
    WriteFile(elsewhere / "shared/page.htm", "shared");
    fs::create_directory_symlink(elsewhere / "shared", In("linked"));
    SFound found = Find("/Linked/PAGE.htm");
    EXPECT_EQ(found.kind, SFound::EKind::File);
    EXPECT_EQ(found.strName, In("linked/page.htm"));
}

TEST(JoinPath, OneSeparatorBetween) {
    EXPECT_EQ(JoinPath("/srv/web", "a"), "/srv/web/a");
    EXPECT_EQ(JoinPath("/", "a"), "/a");
    EXPECT_EQ(JoinPath(".", "a"), "./a");
}

}  // namespace
