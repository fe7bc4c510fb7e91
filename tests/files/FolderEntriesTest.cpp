// A folder's entries for a listing: exactly the names that would be served,
// with the size and time of what they name.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "FolderEntries.h"
#include "TestSupport.h"

namespace {
using tarvel_test::CTempDir;
using tarvel_test::OwnProgram;
using tarvel_test::WriteFile;
namespace fs = std::filesystem;

std::set<std::string> ListedNames(const std::string& strFolder, std::string_view requestPath) {
    std::vector<SFolderEntry> entries;
    EXPECT_TRUE(ReadFolderEntries(strFolder, requestPath, OwnProgram(), entries));
    std::set<std::string> names;
    for (const SFolderEntry& entry : entries) {
        names.insert(entry.strName + (entry.bFolder ? "/" : ""));
    }
    return names;
}

TEST(FolderEntries, ListsExactlyTheNamesThatWouldBeServed) {
    CTempDir root;
    CTempDir elsewhere;
    WriteFile(elsewhere / "target.txt", "t");
    fs::create_directories(elsewhere / "shared");
    for (const char* pszName : {"Readme.TXT", "README.TXT", ".hidden", "a..b", "TARVEL.EXE",
                                "back\\slash", ".well-known/x"}) {
        WriteFile(root / pszName, "x");
    }
    fs::create_directories(root / "Folder");
    fs::create_directories(root / ".git");
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", root / "device");
    fs::create_symlink(root / "nowhere", root / "broken");
    fs::create_symlink(elsewhere / "target.txt", root / "file link");
    fs::create_directory_symlink(elsewhere / "shared", root / "folder link");
    // The running program, by hard link where the file system allows it.
    std::error_code error;
    fs::create_hard_link("/proc/self/exe", root / "program", error);
    if (error) {
        fs::create_symlink("/proc/self/exe", root / "program");
    }
    const int hSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, (root / "socket").c_str(), sizeof address.sun_path - 1);
    const bool bSocket =
        ::bind(hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(hSocket);

    const std::set<std::string> expected = {"Readme.TXT", "README.TXT", ".well-known/",
                                            "Folder/",    "file link",  "folder link/"};
    EXPECT_EQ(ListedNames(root.Path().string(), "/"), expected) << "socket made: " << bSocket;
    // The names are judged under the folder as requested.
    EXPECT_EQ(ListedNames(root.Path().string(), "/.private/"), std::set<std::string>{});
    std::vector<SFolderEntry> entries;
    EXPECT_FALSE(ReadFolderEntries(root / "missing", "/missing/", OwnProgram(), entries));
}

TEST(FolderEntries, EntriesCarryTheSizeAndTimeOfWhatTheyName) {
    CTempDir root;
    WriteFile(root / "data.bin", std::string(2500, 'd'));
    fs::create_symlink(root / "data.bin", root / "link");
    // The link's own time differs from its file's.
    const timespec times[2] = {{.tv_sec = 1000, .tv_nsec = 0}, {.tv_sec = 1000, .tv_nsec = 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (root / "link").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    struct stat status {};
    ::stat((root / "data.bin").c_str(), &status);
    std::vector<SFolderEntry> entries;
    ASSERT_TRUE(ReadFolderEntries(root.Path().string(), "/", OwnProgram(), entries));
    ASSERT_EQ(entries.size(), 2u);
    for (const SFolderEntry& entry : entries) {
        EXPECT_EQ(entry.nSize, 2500u) << entry.strName;
        EXPECT_EQ(entry.nModified, status.st_mtime) << entry.strName;
    }
}

}  // namespace
