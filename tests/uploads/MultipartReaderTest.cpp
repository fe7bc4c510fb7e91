// The form's body read as it arrives: split anywhere, it gives the same parts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MultipartReader.h"

namespace {
// The events of a body as one text: "[name|file]data/" per part, "end" at the close.
class CRecorder : public CMultipartReader::CSink {
public:
    explicit CRecorder(const CMultipartReader& reader) : m_reader(reader) {}
    void OnPart(CMultipartReader::EEvent event, std::string_view data) override {
        using EEvent = CMultipartReader::EEvent;
        if (event == EEvent::PartBegins) {
            m_strText += "[" + m_reader.Head().strName + "|" +
                         m_reader.Head().strFileName.value_or("(none)") + "]";
        } else if (event == EEvent::Data) {
            m_strText.append(data);
        } else if (event == EEvent::PartEnds) {
            m_strText += "/";
        } else {
            m_strText += "end";
        }
    }
    std::string m_strText;

private:
    const CMultipartReader& m_reader;
};

// The body read in pieces of nPiece bytes: what was recorded, or "malformed".
std::string Read(const std::string& strBody, size_t nPiece, const std::string& strBoundary = "XyZ") {
    CMultipartReader reader(strBoundary);
    CRecorder recorder(reader);
    for (size_t nAt = 0; nAt < strBody.size(); nAt += nPiece) {
        if (!reader.Feed(std::string_view(strBody).substr(nAt, nPiece), recorder)) {
            return "malformed";
        }
    }
    return recorder.m_strText;
}

std::string Part(const std::string& strDisposition, const std::string& strData) {
    return "--XyZ\r\nContent-Disposition: " + strDisposition +
           "\r\nContent-Type: application/octet-stream\r\n\r\n" + strData + "\r\n";
}

struct SBodyCase {
    const char* pszName;
    std::string strBody;
    std::string strRead;
};

const SBodyCase kBodies[] = {
    {"one file", Part("form-data; name=\"file\"; filename=\"a.jpg\"", "JPEG") + "--XyZ--\r\n",
     "[file|a.jpg]JPEG/end"},
    {"several files", Part("form-data; name=\"f\"; filename=\"a\"", "1") +
                          Part("form-data; name=\"f\"; filename=\"b\"", "22") + "--XyZ--",
     "[f|a]1/[f|b]22/end"},
    {"a field without a file", Part("form-data; name=\"note\"", "hi") + "--XyZ--", "[note|(none)]hi/end"},
    {"preamble and epilogue", "ignored\r\n" + Part("form-data; name=\"f\"; filename=\"a\"", "x") +
                                  "--XyZ--\r\nafter",
     "[f|a]x/end"},
    {"CRLF at the data's edges", Part("form-data; name=\"f\"; filename=\"a\"", "\r\nx\r\n") + "--XyZ--",
     "[f|a]\r\nx\r\n/end"},
    {"boundary-like lines inside the data",
     Part("form-data; name=\"f\"; filename=\"a\"", "x--XyZ\r\n-XyZ\r\n--Xy\r\n--XyY\r\n--xyz") +
         "--XyZ--",
     "[f|a]x--XyZ\r\n-XyZ\r\n--Xy\r\n--XyY\r\n--xyz/end"},
    {"an empty file", Part("form-data; name=\"f\"; filename=\"e\"", "") + "--XyZ--", "[f|e]/end"},
    {"blanks after a delimiter", "--XyZ  \r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nv\r\n--XyZ--",
     "[f|(none)]v/end"},
    {"a part without its disposition", "--XyZ\r\nContent-Type: text/plain\r\n\r\nx\r\n--XyZ--",
     "malformed"},
    {"no delimiter after the first line", "--XyZ?\r\n", "malformed"},
    // Cut short: the part never ends, and what could begin a delimiter is held back.
    {"no closing delimiter", Part("form-data; name=\"f\"; filename=\"a\"", "cut"), "[f|a]"},
    {"nothing at all", "", ""},
};

TEST(MultipartReader, GivesTheSamePartsHoweverTheBodyIsSplit) {
    for (const SBodyCase& c : kBodies) {
        for (size_t nPiece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{64}, size_t{100000}}) {
            EXPECT_EQ(Read(c.strBody, nPiece), c.strRead) << c.pszName << ", pieces of " << nPiece;
        }
    }
}

TEST(MultipartReader, ADelimiterSplitAtEveryPlaceIsFound) {
    const std::string strBody = Part("form-data; name=\"f\"; filename=\"a\"", std::string(50, 'd')) +
                                Part("form-data; name=\"f\"; filename=\"b\"", "e") + "--XyZ--";
    for (size_t nSplit = 0; nSplit <= strBody.size(); ++nSplit) {
        CMultipartReader reader("XyZ");
        CRecorder recorder(reader);
        ASSERT_TRUE(reader.Feed(std::string_view(strBody).substr(0, nSplit), recorder));
        ASSERT_TRUE(reader.Feed(std::string_view(strBody).substr(nSplit), recorder));
        EXPECT_EQ(recorder.m_strText, "[f|a]" + std::string(50, 'd') + "/[f|b]e/end") << nSplit;
        EXPECT_TRUE(reader.Ended());
    }
}

TEST(MultipartReader, AHeadBeyondItsBoundIsMalformed) {
    const std::string strBody = "--XyZ\r\nX-Long: " + std::string(9000, 'a');
    EXPECT_EQ(Read(strBody, 512), "malformed");
}

struct SBoundaryCase {
    const char* pszType;
    std::optional<std::string> strBoundary;
};

TEST(MultipartReader, TheBoundaryComesFromAFormsContentType) {
    const SBoundaryCase cases[] = {
        {"multipart/form-data; boundary=----WebKitFormBoundaryAbC", "----WebKitFormBoundaryAbC"},
        {"Multipart/Form-Data;boundary=\"quoted; one\"", "quoted; one"},
        {"multipart/form-data; charset=utf-8; boundary=x", "x"},
        {"multipart/form-data", std::nullopt},
        {"multipart/form-data; boundary=", std::nullopt},
        {"multipart/form-data; boundary=\"\"", std::nullopt},
        {"multipart/mixed; boundary=x", std::nullopt},
        {"application/x-www-form-urlencoded", std::nullopt},
    };
    for (const SBoundaryCase& c : cases) {
        EXPECT_EQ(MultipartBoundary(c.pszType), c.strBoundary) << c.pszType;
    }
    EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=" + std::string(71, 'b')), std::nullopt);
}

struct SDispositionCase {
    const char* pszValue;
    std::optional<std::string> strFileName;  // nothing: no filename
    bool bFormData = true;
};

TEST(MultipartReader, FileNamesAreReadWithTheEscapesBrowsersUse) {
    const SDispositionCase cases[] = {
        {"form-data; name=\"file\"; filename=\"photo.jpg\"", "photo.jpg"},
        {"form-data; name=\"file\"; filename=\"say %22hi%22.txt\"", "say \"hi\".txt"},
        {"form-data; name=\"file\"; filename=\"a%0D%0Ab\"", "a\r\nb"},
        {"form-data; name=\"file\"; filename=\"quote \\\" by curl\"", "quote \" by curl"},
        {"form-data; name=\"file\"; filename=\"100%.txt\"", "100%.txt"},
        {"form-data; name=\"file\"; filename=\"semi;colon.txt\"", "semi;colon.txt"},
        {"form-data; name=\"file\"; filename=\"\xE6\xB5\x8B\xE8\xAF\x95.txt\"", "\xE6\xB5\x8B\xE8\xAF\x95.txt"},
        {"form-data; name=\"file\"; filename=\"fallback.txt\"; filename*=UTF-8''%E6%B5%8B%E8%AF%95.txt",
         "\xE6\xB5\x8B\xE8\xAF\x95.txt"},
        {"form-data; name=\"file\"; filename*=ISO-8859-1''caf%E9.txt", "caf\xE9.txt"},
        {"form-data; name=\"file\"; filename=<img src=x onerror=alert(1)>.jpg", "<img src=x onerror=alert(1)>.jpg"},
        {"form-data; name=\"note\"", std::nullopt},
        {"attachment; filename=\"a\"", std::nullopt, false},
    };
    for (const SDispositionCase& c : cases) {
        const std::optional<SPartHead> head = ParseContentDisposition(c.pszValue);
        ASSERT_EQ(head.has_value(), c.bFormData) << c.pszValue;
        if (head) {
            EXPECT_EQ(head->strFileName, c.strFileName) << c.pszValue;
        }
    }
}
}  // namespace
