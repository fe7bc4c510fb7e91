// What an upload's head decides before a byte of its body is read: whether
// uploads apply, the place, the name, the length, the page it came from.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "PrivateLink.h"
#include "TestSupport.h"
#include "UploadPlan.h"

namespace {
using namespace tarvel_test;

const SServeOptions kUploadsOn{.defaultPage = "index.htm", .bUpload = true};

struct SUploadCase {
    const char* pszName;
    std::string strHead;  // without the empty line
    int nStatus;          // of the refusal; 0: accepted
    std::string strLocation = "";
    bool bContinue = false;
};

const SUploadCase kUploadCases[] = {
    {"form_to_a_folder", "POST /in/?sort=size HTTP/1.1\r\nHost: h\r\nContent-Length: 9\r\n"
     "Content-Type: multipart/form-data; boundary=b", 0, "/in/?sort=size"},
    {"put_a_file", "PUT /in/a%20b.txt HTTP/1.1\r\nHost: h\r\nContent-Length: 3", 0, "/in/a%20b.txt"},
    {"put_into_the_root", "PUT /a.txt HTTP/1.0\r\nContent-Length: 3", 0, "/a.txt"},
    {"folder_found_as_reading_finds_it", "PUT /IN/a.txt HTTP/1.1\r\nContent-Length: 3", 0,
     "/IN/a.txt"},
    {"continue_asked", "PUT /in/a HTTP/1.1\r\nContent-Length: 3\r\nExpect: 100-Continue", 0,
     "/in/a", true},
    {"continue_is_http11", "PUT /in/a HTTP/1.0\r\nContent-Length: 3\r\nExpect: 100-continue", 0,
     "/in/a", false},
    {"own_origin", "PUT /in/a HTTP/1.1\r\nHost: h:8080\r\nOrigin: http://h:8080\r\nContent-Length: 1",
     0, "/in/a"},
    {"foreign_origin", "PUT /in/a HTTP/1.1\r\nHost: h\r\nOrigin: http://evil\r\nContent-Length: 1",
     403},
    {"origin_without_host", "PUT /in/a HTTP/1.1\r\nOrigin: http://h\r\nContent-Length: 1", 403},
    {"opaque_origin", "PUT /in/a HTTP/1.1\r\nHost: h\r\nOrigin: null\r\nContent-Length: 1", 403},
    {"no_length", "PUT /in/a HTTP/1.1\r\nHost: h", 411},
    {"chunked", "PUT /in/a HTTP/1.1\r\nTransfer-Encoding: chunked", 411},
    {"length_not_digits", "PUT /in/a HTTP/1.1\r\nContent-Length: -1", 400},
    {"length_twice", "PUT /in/a HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1", 400},
    {"length_beyond_64_bits", "PUT /in/a HTTP/1.1\r\nContent-Length: 99999999999999999999", 400},
    {"form_not_multipart", "POST /in/ HTTP/1.1\r\nContent-Length: 3\r\n"
     "Content-Type: application/x-www-form-urlencoded", 400},
    {"form_without_type", "POST /in/ HTTP/1.1\r\nContent-Length: 3", 400},
    {"form_to_a_file", "POST /in/page.htm HTTP/1.1\r\nContent-Length: 3\r\n"
     "Content-Type: multipart/form-data; boundary=b", 403},
    {"put_to_a_folder_address", "PUT /in/ HTTP/1.1\r\nContent-Length: 3", 400},
    {"missing_folder", "PUT /none/a HTTP/1.1\r\nContent-Length: 3", 403},
    {"hidden_folder", "PUT /.hidden/a HTTP/1.1\r\nContent-Length: 3", 403},
    {"parent_folder", "PUT /in/../a HTTP/1.1\r\nContent-Length: 3", 403},
    {"escaped_parent", "PUT /%2e%2e/a HTTP/1.1\r\nContent-Length: 3", 403},
    {"hidden_name", "PUT /in/.profile HTTP/1.1\r\nContent-Length: 3", 400},
    {"guarded_name", "PUT /in/Tarvel.exe HTTP/1.1\r\nContent-Length: 3", 400},
    {"control_in_name", "PUT /in/a%01b HTTP/1.1\r\nContent-Length: 3", 400},
    {"backslash_is_a_separator", "PUT /in\\.hidden\\a HTTP/1.1\r\nContent-Length: 3", 403},
};

class UploadPlanTest : public CRootTest, public ::testing::WithParamInterface<SUploadCase> {};

TEST_P(UploadPlanTest, JudgesTheHeadBeforeTheBody) {
    const SUploadCase& c = GetParam();
    std::filesystem::create_directory(In("in"));
    std::filesystem::create_directory(In(".hidden"));
    WriteFile(In("in/page.htm"), "<p>");
    CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
    const SParsedRequest request = ParseRequest(c.strHead + "\r\n\r\n", 8192);
    ASSERT_TRUE(IsUploadRequest(request, kUploadsOn));
    const SUploadPlan plan = PlanUpload(request, kUploadsOn, lookup);
    EXPECT_EQ(plan.refusal ? plan.refusal->head.nStatus : 0, c.nStatus);
    if (c.nStatus == 0) {
        EXPECT_EQ(plan.strLocation, c.strLocation);
        EXPECT_EQ(plan.bContinue, c.bContinue);
        EXPECT_EQ(plan.strFolder.rfind(m_strRoot, 0), 0u) << plan.strFolder;
    } else {
        // A refusal says why in a page of its own, where nothing runs.
        EXPECT_FALSE(plan.refusal->strBody.empty());
        if (c.nStatus != 404) {
            EXPECT_EQ(plan.refusal->head.strContentSecurityPolicy,
                      "default-src 'none'; style-src 'unsafe-inline'");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Heads, UploadPlanTest, ::testing::ValuesIn(kUploadCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(UploadPlan, OnlyPostAndPutWithTheOptionOn) {
    const auto request = [](const char* pszLine) { return ParseRequest(pszLine, 8192); };
    EXPECT_FALSE(IsUploadRequest(request("PUT /a HTTP/1.1\r\n\r\n"), {.defaultPage = ""}));
    EXPECT_FALSE(IsUploadRequest(request("GET /a HTTP/1.1\r\n\r\n"), kUploadsOn));
    EXPECT_FALSE(IsUploadRequest(request("DELETE /a HTTP/1.1\r\n\r\n"), kUploadsOn));
    EXPECT_FALSE(IsUploadRequest(request("post /a HTTP/1.1\r\n\r\n"), kUploadsOn));
    EXPECT_FALSE(IsUploadRequest(request("PUT /a\r\n"), kUploadsOn));
    EXPECT_TRUE(IsUploadRequest(request("POST / HTTP/1.0\r\n\r\n"), kUploadsOn));
}

class UploadPrivateTest : public CRootTest {};

TEST_F(UploadPrivateTest, UploadsStayInsideTheSecret) {
    std::filesystem::create_directory(In("in"));
    const std::string strKey = NewPrivateKey();
    const SServeOptions options{.defaultPage = "", .bPrivate = true, .privateKey = strKey, .bUpload = true};
    CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
    const SUploadPlan outside =
        PlanUpload(ParseRequest("PUT /in/a HTTP/1.1\r\nContent-Length: 1\r\n\r\n", 8192), options, lookup);
    ASSERT_TRUE(outside.refusal);
    EXPECT_EQ(outside.refusal->head.nStatus, 404);
    const SUploadPlan inside = PlanUpload(
        ParseRequest("PUT /" + strKey + "/in/a HTTP/1.1\r\nContent-Length: 1\r\n\r\n", 8192), options,
        lookup);
    EXPECT_FALSE(inside.refusal);
    EXPECT_EQ(inside.strLocation, "/" + strKey + "/in/a");
    EXPECT_EQ(inside.strName, "a");
}

}  // namespace
