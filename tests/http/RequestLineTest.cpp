// The request line rules on their own: which path, which answer form; and the
// target the plan looks up, with the default page joined and the guards applied.
#include <gtest/gtest.h>

#include <optional>

#include "AnswerPlan.h"
#include "RequestLine.h"

namespace {

constexpr size_t kBuffer = 8192;

struct SLineCase {
    const char* pszName;
    std::string strRequest;
    bool bVersioned;
    bool bRefused;
    std::string strPath;  // when not refused
    bool bHead = false;
    std::string strRawPath = "";
    std::string strQuery = "";
};

class RequestLineTest : public ::testing::TestWithParam<SLineCase> {};

TEST_P(RequestLineTest, ParsesAsExpected) {
    const SLineCase& c = GetParam();
    SParsedRequest parsed = ParseRequest(c.strRequest, kBuffer);
    std::optional<STarget> target = TargetOf(parsed, "index.htm");
    EXPECT_EQ(parsed.bVersioned, c.bVersioned);
    EXPECT_EQ(!target, c.bRefused);
    EXPECT_EQ(parsed.bHead, c.bHead);
    if (!c.bRefused && target) {
        EXPECT_EQ(target->strPath, c.strPath);
    }
    if (!c.strRawPath.empty()) {
        EXPECT_EQ(parsed.strRawPath, c.strRawPath);
        EXPECT_EQ(parsed.strQuery, c.strQuery);
    }
}

const SLineCase kLineCases[] = {
    {"root_gets_default_page", "GET / HTTP/1.0\r\n\r\n", true, false, "/index.htm"},
    {"path_keeps_its_case", "GET /Docs/A.HTM HTTP/1.0\r\n", true, false, "/Docs/A.HTM"},
    {"folder_gets_default_page", "GET /docs/ HTTP/1.0\r\n", true, false, "/docs/index.htm"},
    {"parent_folder_refused", "GET /../x HTTP/1.0\r\n", true, true, ""},
    {"query_dropped", "GET /a.htm?x=1 HTTP/1.0\r\n", true, false, "/a.htm", false, "/a.htm",
     "?x=1"},
    {"fragment_dropped", "GET /a.htm#top HTTP/1.1\r\n", true, false, "/a.htm", false, "/a.htm", ""},
    {"query_then_fragment", "GET /d?q=1#f HTTP/1.1\r\n", true, false, "/d", false, "/d", "?q=1"},
    {"no_version_word_is_raw", "GET /a.htm\r\n", false, true, ""},
    {"partial_line_without_version", "GET /a.htm", false, true, ""},
    {"lower_case_version_is_no_version", "GET /a.htm http/1.0\r\n", false, true, ""},
    {"version_must_be_last_word", "GET /a.htm HTTP/1.0 x\r\n", false, true, ""},
    {"http_inside_path_is_served", "GET /HTTPdocs/a.htm HTTP/1.0\r\n", true, false,
     "/HTTPdocs/a.htm"},
    {"any_method_length", "PROPFIND /a.htm HTTP/1.1\r\n", true, false, "/a.htm"},
    {"head_is_recognised", "HEAD /a.htm HTTP/1.0\r\n", true, false, "/a.htm", true},
    {"post_answered_like_get", "POST /a.htm HTTP/1.0\r\n\r\nbody", true, false, "/a.htm"},
    {"dots_inside_a_name_refused", "GET /a..b.htm HTTP/1.0\r\n", true, true, ""},
    {"program_name_upper_case_refused", "GET /TARVEL.EXE HTTP/1.0\r\n", true, true, ""},
    {"extra_blanks_trimmed", "GET  /a.htm   HTTP/1.0\r\n", true, false, "/a.htm"},
    {"bare_lf_ends_line", "GET /a.htm HTTP/1.0\nHost: x\n\n", true, false, "/a.htm"},
    {"escaped_dots_refused", "GET /%2e%2e/x HTTP/1.0\r\n", true, true, ""},
    {"escaped_slash_and_dots_refused", "GET /..%2fx HTTP/1.0\r\n", true, true, ""},
    {"backslash_parent_refused", "GET \\..\\x HTTP/1.0\r\n", true, true, ""},
    {"backslash_is_a_separator", "GET /sub\\a.htm HTTP/1.0\r\n", true, false, "/sub/a.htm"},
    {"escape_decoded", "GET /a%20b.htm HTTP/1.0\r\n", true, false, "/a b.htm"},
    {"escaped_upper_case_decoded", "GET /%41.HTM HTTP/1.0\r\n", true, false, "/A.HTM"},
    {"lone_percent_stays", "GET /100%.html HTTP/1.0\r\n", true, false, "/100%.html"},
    {"percent_without_hex_stays", "GET /a%zz HTTP/1.0\r\n", true, false, "/a%zz"},
    {"percent_at_end_stays", "GET /a% HTTP/1.0\r\n", true, false, "/a%"},
    {"decoded_zero_refused", "GET /a%00.htm HTTP/1.0\r\n", true, true, ""},
    {"hidden_file_refused", "GET /.htpasswd HTTP/1.0\r\n", true, true, ""},
    {"hidden_folder_refused", "GET /.git/config HTTP/1.0\r\n", true, true, ""},
    {"escaped_hidden_refused", "GET /%2Essh/id HTTP/1.0\r\n", true, true, ""},
    {"well_known_allowed", "GET /.well-known/x.txt HTTP/1.0\r\n", true, false,
     "/.well-known/x.txt"},
    {"current_folder_component_refused", "GET /./a.htm HTTP/1.0\r\n", true, true, ""},
    {"zero_byte_ends_text", std::string("GET /a.htm HTTP/1.0\0rest", 24), true, false, "/a.htm"},
    {"empty_target_refused", "GET HTTP/1.0\r\n", true, true, ""},
    {"empty_request_is_raw", "", false, true, ""},
    {"target_without_slash", "GET x HTTP/1.0\r\n", true, false, "x"},
    {"double_slash_kept_for_resolver", "GET //etc/passwd HTTP/1.0\r\n", true, false,
     "//etc/passwd"},
};

INSTANTIATE_TEST_SUITE_P(Lines, RequestLineTest, ::testing::ValuesIn(kLineCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

struct SHeadCase {
    const char* pszName;
    std::string strRequest;
    bool bHttp11 = false;
    std::optional<std::string> strRange = std::nullopt;
    std::optional<std::string> strIfRange = std::nullopt;
    std::optional<std::string> strIfNoneMatch = std::nullopt;
    std::optional<std::string> strIfModifiedSince = std::nullopt;
    bool bHeadComplete = true;  // IsRequestHeadComplete on the same bytes
    size_t nBodyAt = 0;         // RequestHeadLength: where a body would begin (0: not checked)
    std::optional<std::string> strContentLength = std::nullopt;
    std::optional<std::string> strOrigin = std::nullopt;
    std::optional<std::string> strExpect = std::nullopt;
};

class RequestHeadTest : public ::testing::TestWithParam<SHeadCase> {};

TEST_P(RequestHeadTest, ReadsTheHeadersAnswersDependOn) {
    const SHeadCase& c = GetParam();
    SParsedRequest parsed = ParseRequest(c.strRequest, kBuffer);
    EXPECT_EQ(parsed.bHttp11, c.bHttp11);
    EXPECT_EQ(parsed.headers.strRange, c.strRange);
    EXPECT_EQ(parsed.headers.strIfRange, c.strIfRange);
    EXPECT_EQ(parsed.headers.strIfNoneMatch, c.strIfNoneMatch);
    EXPECT_EQ(parsed.headers.strIfModifiedSince, c.strIfModifiedSince);
    EXPECT_EQ(IsRequestHeadComplete(c.strRequest), c.bHeadComplete);
    EXPECT_EQ(parsed.headers.strContentLength, c.strContentLength);
    EXPECT_EQ(parsed.headers.strOrigin, c.strOrigin);
    EXPECT_EQ(parsed.headers.strExpect, c.strExpect);
    if (c.nBodyAt > 0) {
        EXPECT_EQ(RequestHeadLength(c.strRequest), c.nBodyAt);
    }
    if (!c.bHeadComplete) {
        EXPECT_EQ(RequestHeadLength(c.strRequest), 0u);
    }
}

const SHeadCase kHeadCases[] = {
    {.pszName = "http10_without_headers", .strRequest = "GET / HTTP/1.0\r\n\r\n"},
    {.pszName = "http11", .strRequest = "GET / HTTP/1.1\r\n\r\n", .bHttp11 = true},
    {.pszName = "later_version", .strRequest = "GET / HTTP/2.0\r\n\r\n", .bHttp11 = true},
    {.pszName = "version_0_9", .strRequest = "GET / HTTP/0.9\r\n\r\n"},
    {.pszName = "names_without_case_values_trimmed",
     .strRequest = "GET / HTTP/1.1\r\nrAnGe:   bytes=0-9 \t\r\nIF-NONE-MATCH: \"a\"\r\n"
                   "if-modified-since: Sun, 06 Nov 1994 08:49:37 GMT\r\nIf-Range: \"b\"\r\n\r\n",
     .bHttp11 = true,
     .strRange = "bytes=0-9",
     .strIfRange = "\"b\"",
     .strIfNoneMatch = "\"a\"",
     .strIfModifiedSince = "Sun, 06 Nov 1994 08:49:37 GMT"},
    {.pszName = "repeated_field_joined",
     .strRequest = "GET / HTTP/1.1\r\nIf-None-Match: \"a\"\r\nIf-None-Match: \"b\"\r\n\r\n",
     .bHttp11 = true,
     .strIfNoneMatch = "\"a\", \"b\""},
    {.pszName = "bare_line_feeds",
     .strRequest = "GET / HTTP/1.0\nRange: bytes=5-\n\n",
     .strRange = "bytes=5-"},
    {.pszName = "line_cut_off_does_not_count",
     .strRequest = "GET / HTTP/1.0\r\nIf-None-Match: \"a\"\r\nRange: bytes=0-1",
     .strIfNoneMatch = "\"a\"",
     .bHeadComplete = false},
    {.pszName = "headers_after_the_empty_line_ignored",
     .strRequest = "POST / HTTP/1.0\r\n\r\nRange: bytes=0-1\r\n",
     .nBodyAt = 19},
    {.pszName = "upload_fields_and_where_the_body_begins",
     .strRequest = "PUT /a HTTP/1.1\r\ncontent-length: 5\r\nOrigin: http://h:1\r\n"
                   "Expect: 100-continue\r\n\r\nhello",
     .bHttp11 = true,
     .nBodyAt = 80,
     .strContentLength = "5",
     .strOrigin = "http://h:1",
     .strExpect = "100-continue"},
    {.pszName = "body_behind_bare_line_feeds",
     .strRequest = "PUT /a HTTP/1.0\nContent-Length: 0\n\nx",
     .nBodyAt = 35,
     .strContentLength = "0"},
    {.pszName = "blank_before_colon_is_no_field",
     .strRequest = "GET / HTTP/1.0\r\nRange : bytes=0-1\r\n Range: bytes=0-2\r\n\r\n"},
    {.pszName = "empty_value_kept",
     .strRequest = "GET / HTTP/1.0\r\nRange:\r\n\r\n",
     .strRange = ""},
    {.pszName = "unversioned_line_has_no_headers",
     .strRequest = "GET /a.htm\r\nRange: bytes=0-1\r\n\r\n"},
    {.pszName = "unversioned_line_is_a_whole_head", .strRequest = "GET /a.htm\r\n"},
    {.pszName = "versioned_line_waits_for_the_empty_line",
     .strRequest = "GET / HTTP/1.0\r\nHost: x\r\n",
     .bHeadComplete = false},
    {.pszName = "unfinished_first_line", .strRequest = "GET / HTTP/1.0", .bHeadComplete = false},
};

INSTANTIATE_TEST_SUITE_P(Heads, RequestHeadTest, ::testing::ValuesIn(kHeadCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(RequestLine, LineThatFillsTheBufferIsRefusedWithStatus) {
    std::string strLong = "GET /" + std::string(kBuffer, 'a');
    SParsedRequest parsed = ParseRequest(strLong.substr(0, kBuffer), kBuffer);
    EXPECT_TRUE(parsed.bRefused);
    EXPECT_TRUE(parsed.bVersioned);
    // The same bytes, ended just in time, are an ordinary request.
    std::string strFits = "GET /" + std::string(kBuffer - 20, 'a') + " HTTP/1.0\n";
    ASSERT_LE(strFits.size(), kBuffer);
    EXPECT_FALSE(ParseRequest(strFits, kBuffer).bRefused);
}

struct SNavigationCase {
    const char* pszName;
    const char* pszHeaders;
    bool bNavigation;
};

const SNavigationCase kNavigationCases[] = {
    {"document", "Sec-Fetch-Dest: document\r\nAccept: */*\r\n", true},
    {"iframe", "sec-fetch-dest: IFRAME\r\n", true},
    {"fetch_destination_decides", "Sec-Fetch-Dest: empty\r\nAccept: text/html\r\n", false},
    {"script_destination", "Sec-Fetch-Dest: script\r\n", false},
    {"accept_without_destination",
     "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n", true},
    {"accept_case_ignored", "Accept: Text/HTML\r\n", true},
    {"fetch_default_accept", "Accept: */*\r\n", false},
    {"no_headers", "", false},
};

class NavigationTest : public ::testing::TestWithParam<SNavigationCase> {};

TEST_P(NavigationTest, OnlyABrowsersPageRequestIsANavigation) {
    const std::string strRequest =
        std::string("GET / HTTP/1.1\r\n") + GetParam().pszHeaders + "\r\n";
    EXPECT_EQ(IsNavigation(ParseRequest(strRequest, 8192).headers), GetParam().bNavigation);
}

INSTANTIATE_TEST_SUITE_P(Requests, NavigationTest, ::testing::ValuesIn(kNavigationCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

}  // namespace
