// An upload's body taken in pieces into a real temp folder: what is stored,
// under which names, and that nothing is left of what was not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "UploadReceiver.h"

namespace {
namespace fs = std::filesystem;

class UploadReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        char szTemplate[] = "/tmp/tarvel-receiver-XXXXXX";
        ASSERT_NE(::mkdtemp(szTemplate), nullptr);
        m_folder = szTemplate;
        Write("taken.txt", "old");
    }
    void TearDown() override { fs::remove_all(m_folder); }
    int OpenFolder() const { return ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }
    void Write(const std::string& strName, const std::string& strBytes) const {
        std::ofstream(m_folder / strName, std::ios::binary) << strBytes;
    }
    std::string Read(const std::string& strName) const {
        std::ifstream file(m_folder / strName, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_folder)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
    // The body fed nPiece bytes at a time, so every split is met.
    const SUploadOutcome& Feed(CUploadReceiver& receiver, const std::string& strBody, size_t nPiece) {
        for (size_t nAt = 0; nAt < strBody.size() && receiver.Take(std::string_view(strBody).substr(nAt, nPiece));
             nAt += nPiece) {
        }
        return receiver.Finish();
    }
    std::unique_ptr<CUploadReceiver> Form(const std::string& strBody) {
        return CUploadReceiver::ForForm(OpenFolder(), "XyZ", strBody.size(),
                                        [this](const std::string& strName) { m_hooked.push_back(strName); });
    }
    static std::string Part(const std::string& strDisposition, const std::string& strBytes) {
        return "--XyZ\r\nContent-Disposition: form-data; " + strDisposition + "\r\n\r\n" + strBytes + "\r\n";
    }

    fs::path m_folder;
    std::vector<std::string> m_hooked;
};

TEST_F(UploadReceiverTest, FormPartsAreStoredOneByOneWhateverThePieces) {
    for (size_t nPiece : {1u, 7u, 4096u}) {
        fs::remove_all(m_folder);
        fs::create_directory(m_folder);
        Write("taken.txt", "old");
        const std::string strBody = Part("name=\"note\"", "not a file") +
                                    Part("name=\"file\"; filename=\"taken.txt\"", "new") +
                                    Part("name=\"file\"; filename=\".hidden\"", "no") +
                                    Part("name=\"file\"; filename*=UTF-8''%E6%B5%8B.txt", "\r\n--XyY\r\n") +
                                    "--XyZ--\r\n";
        auto pReceiver = Form(strBody);
        const SUploadOutcome& outcome = Feed(*pReceiver, strBody, nPiece);
        EXPECT_EQ(outcome.end, SUploadOutcome::EEnd::Refused) << nPiece;
        EXPECT_EQ(outcome.stored, (std::vector<std::string>{"taken (1).txt", "\xE6\xB5\x8B.txt"}));
        ASSERT_EQ(outcome.refused.size(), 1u);
        EXPECT_EQ(outcome.refused[0].first, ".hidden");
        EXPECT_EQ(Read("taken.txt"), "old");
        EXPECT_EQ(Read("taken (1).txt"), "new");
        EXPECT_EQ(Read("\xE6\xB5\x8B.txt"), "\r\n--XyY\r\n");
        EXPECT_EQ(Names().size(), 3u);  // nothing hidden, nothing else
    }
    EXPECT_EQ(m_hooked.size(), 6u);
}

TEST_F(UploadReceiverTest, AFormCutShortOrEmptyStoresNothingMore) {
    const std::string strWhole = Part("name=\"file\"; filename=\"a.txt\"", "aaa") +
                                 Part("name=\"file\"; filename=\"b.txt\"", "bbb") + "--XyZ--\r\n";
    // The declared length ends inside the second part: the first stays, the second never shows.
    const std::string strCut = strWhole.substr(0, strWhole.find("bbb") + 2);
    auto pCut = Form(strCut);
    const SUploadOutcome& cut = Feed(*pCut, strCut, 5);
    EXPECT_EQ(cut.end, SUploadOutcome::EEnd::BadForm);
    EXPECT_EQ(cut.stored, std::vector<std::string>{"a.txt"});
    pCut.reset();
    EXPECT_EQ(Names(), (std::set<std::string>{"a.txt", "taken.txt"}));
    const std::string strNoFile = Part("name=\"note\"", "x") + "--XyZ--\r\n";
    auto pNoFile = Form(strNoFile);
    EXPECT_EQ(Feed(*pNoFile, strNoFile, 100).end, SUploadOutcome::EEnd::BadForm);
    const std::string strNotAForm = "hello";
    auto pNotAForm = Form(strNotAForm);
    EXPECT_EQ(Feed(*pNotAForm, strNotAForm, 100).end, SUploadOutcome::EEnd::BadForm);
}

TEST_F(UploadReceiverTest, APutNeverReplacesAndANamelessFileLeavesNothing) {
    auto pTaken = CUploadReceiver::ForFile(OpenFolder(), "taken.txt", 3, nullptr);
    ASSERT_TRUE(pTaken->Begin());
    EXPECT_EQ(Feed(*pTaken, "new", 2).end, SUploadOutcome::EEnd::Exists);
    EXPECT_EQ(Read("taken.txt"), "old");
    auto pLeft = CUploadReceiver::ForFile(OpenFolder(), "left.txt", 10, nullptr);
    ASSERT_TRUE(pLeft->Begin());
    EXPECT_TRUE(pLeft->Take("12345"));
    EXPECT_EQ(pLeft->Remaining(), 5u);
    pLeft.reset();  // the client went away
    EXPECT_EQ(Names(), std::set<std::string>{"taken.txt"});
    auto pNew = CUploadReceiver::ForFile(OpenFolder(), "new.txt", 3, nullptr);
    ASSERT_TRUE(pNew->Begin());
    EXPECT_EQ(Feed(*pNew, "new and more", 1).end, SUploadOutcome::EEnd::Stored);
    EXPECT_EQ(Read("new.txt"), "new");  // nothing beyond the declared length
}

// Where files cannot arrive nameless, a hidden name stands in: renamed
// without replacing once whole, removed when cut short.
TEST_F(UploadReceiverTest, AHiddenNameStandsInForANamelessFile) {
    const int hFolder = OpenFolder();
    {
        CUploadFile file;
        ASSERT_TRUE(file.Open(hFolder, false));
        ASSERT_TRUE(file.Write("abc"));
        EXPECT_EQ(Names().size(), 2u);
        EXPECT_TRUE(std::any_of(Names().begin(), Names().end(), [](const std::string& strName) {
            return strName.starts_with(kUploadTempPrefix);
        }));
        EXPECT_EQ(file.Name("taken.txt"), CUploadFile::EName::Exists);
        EXPECT_EQ(Read("taken.txt"), "old");
        EXPECT_EQ(file.Name("whole.txt"), CUploadFile::EName::Named);
    }
    EXPECT_EQ(Read("whole.txt"), "abc");
    {
        CUploadFile cut;
        ASSERT_TRUE(cut.Open(hFolder, false));
        ASSERT_TRUE(cut.Write("ab"));
    }
    EXPECT_EQ(Names(), (std::set<std::string>{"taken.txt", "whole.txt"}));
    ::close(hFolder);
}

TEST(UploadFile, LeftoverHiddenFilesGoAndNothingElse) {
    char szTemplate[] = "/tmp/tarvel-leftover-XXXXXX";
    ASSERT_NE(::mkdtemp(szTemplate), nullptr);
    const fs::path root = szTemplate;
    fs::create_directories(root / "a/b");
    fs::create_directories(root / ".hid");
    for (const fs::path& path : {root / ".tarvel-upload-1", root / "a/b/.tarvel-upload-2",
                                 root / ".hid/.tarvel-upload-3", root / "a/keep.txt"}) {
        std::ofstream(path) << "x";
    }
    EXPECT_EQ(RemoveLeftoverUploads(root.string(), 100), 2u);
    EXPECT_FALSE(fs::exists(root / "a/b/.tarvel-upload-2"));
    EXPECT_TRUE(fs::exists(root / "a/keep.txt"));
    EXPECT_TRUE(fs::exists(root / ".hid/.tarvel-upload-3"));  // never uploaded to
    std::ofstream(root / "a/b/.tarvel-upload-4") << "x";
    EXPECT_EQ(RemoveLeftoverUploads(root.string(), 1), 0u);  // the bound on folders holds
    fs::remove_all(root);
}
}  // namespace
