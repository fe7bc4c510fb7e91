// libFuzzer target over the request handling: any bytes as a request, against a
// fixed temp root that has secrets beside it (a sibling file, a sibling folder
// whose name extends the root's) and inside it (hidden names, guarded names).
//
// Each input goes three ways:
//  1. the decision (ParseRequest, PlanAnswer) with several default pages,
//     hostile ones among them, then a read of the file it answers with;
//  2. the real CServerCore::HandleRequest, reached through the dispatcher's
//     read event on one end of a socket pair, exactly as an accepted
//     connection reaches it; the other end collects the whole answer;
//  3. the same with uploads on: a POST or PUT may add files, so afterwards
//     nothing outside the root or already there may have changed, and what
//     was added must be a file a visitor may add, with bytes the input sent.
// Every way the answer must be well-formed and hold only what the root may
// serve: the error page, nothing, one of the servable files whole, (for a
// Range header) exactly the bytes a..b of one that its Content-Range names,
// or an upload's short page or redirect.
// Every file has one fixed time, so seeds can name its Last-Modified date; a
// seed's "@ETAG@" stands for the ETag of the file it asks for.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "AnswerPlan.h"
#include "AsciiCase.h"
#include "Socket.h"
#include "ByteRange.h"
#include "ClientSocket.h"
#include "ErrorPage.h"
#include "HttpDate.h"
#include "RequestLine.h"
#include "RootLookup.h"
#include "ServerCore.h"
#include "TreeSnapshot.h"
#include "UploadFile.h"
#include "Validators.h"

namespace {
namespace fs = std::filesystem;

constexpr std::string_view kSecretMarker = "SECRET-";
// Sun, 06 Nov 1994 08:49:37 GMT: the modification time of every fixture file.
constexpr time_t kFixtureTime = 784111777;
constexpr std::string_view kEntityTagToken = "@ETAG@";
const std::string kProgramStandIn = "stands in for the running program\n";

// What a file under the test tree holds, and whether the server may send it.
struct SFixtureFile {
    std::string strContent;
    bool bServable;
};

struct SFixture {
    fs::path base;                       // temp folder holding the root and its siblings
    std::string strRoot;                 // the served folder
    std::string strRootReal;             // the same, with links resolved
    std::map<std::string, bool> bodies;  // file content -> may be served
    SFileIdentity programFile;           // stands in for the running program's own file
    CTreeSnapshot tree;                  // everything under base, as made
};

SFixture* g_pFixture = nullptr;
CServerCore* g_pServer = nullptr;

[[noreturn]] void Fault(const char* pszWhat, std::string_view detail = {}) {
    std::fprintf(stderr, "\n*** request fuzzer: %s\n", pszWhat);
    if (!detail.empty()) {
        std::fprintf(stderr, "    detail (%zu bytes): ", detail.size());
        for (unsigned char c : detail.substr(0, 400)) {
            if (c >= 0x20 && c < 0x7f) {
                std::fputc(c, stderr);
            } else {
                std::fprintf(stderr, "\\x%02x", c);
            }
        }
        std::fputc('\n', stderr);
    }
    std::abort();
}

void WriteFile(const fs::path& path, const std::string& strContent) {
    fs::create_directories(path.parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << strContent;
        if (!out) {
            Fault("cannot write the fixture", path.string());
        }
    }
    const struct timespec times[2] = {{kFixtureTime, 0}, {kFixtureTime, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        Fault("cannot set the fixture's time", path.string());
    }
}

// Distinct bytes per file, so a body tells which file it came from.
std::string Pseudorandom(size_t nSize, uint32_t nSeed) {
    std::string strBytes(nSize, '\0');
    for (char& c : strBytes) {
        nSeed = nSeed * 1664525u + 1013904223u;
        c = static_cast<char>(nSeed >> 24);
    }
    return strBytes;
}

void RemoveFixture() {
    if (g_pFixture != nullptr) {
        std::error_code ignored;
        fs::remove_all(g_pFixture->base, ignored);
    }
}

SFixture* MakeFixture() {
    // Under $TMPDIR when set, so a run that dies leaves nothing behind the
    // folder its caller removes.
    const char* pszTemp = std::getenv("TMPDIR");
    std::string strTemplate = (pszTemp != nullptr && *pszTemp != '\0') ? pszTemp : "/tmp";
    strTemplate += "/tarvel-fuzz-XXXXXX";
    if (::mkdtemp(strTemplate.data()) == nullptr) {
        Fault("mkdtemp failed", strTemplate);
    }
    auto* pFixture = new SFixture;
    pFixture->base = strTemplate;
    const fs::path root = pFixture->base / "web";
    auto add = [&](const fs::path& path, const std::string& strContent, bool bServable) {
        WriteFile(path, strContent);
        pFixture->bodies[strContent] = bServable;
    };

    // Outside the root: a sibling file, and a sibling folder named like the
    // root plus a letter (what "root" + "x" without a separator would reach).
    add(pFixture->base / "secret.htm", "SECRET-OUTSIDE-sibling file beside the root\n", false);
    add(pFixture->base / "index.htm", "SECRET-OUTSIDE-index beside the root\n", false);
    add(pFixture->base / "webx" / "index.htm", "SECRET-OUTSIDE-sibling folder webx\n", false);
    add(pFixture->base / "webx" / "a.htm", "SECRET-OUTSIDE-sibling folder webx a\n", false);

    // Inside, but never served: hidden names and the guarded names.
    add(root / ".hidden.htm", "SECRET-HIDDEN-dot file\n", false);
    add(root / ".git" / "config", "SECRET-HIDDEN-git config\n", false);
    add(root / "sub" / ".ssh" / "id_rsa", "SECRET-HIDDEN-ssh key\n", false);
    add(root / "a..b.htm", "SECRET-GUARD-two dots\n", false);
    add(root / "a..html", "SECRET-GUARD-two dots a name without its ending may not reach\n", false);
    add(root / ".dark.html", "SECRET-HIDDEN-a page a name without its ending may not reach\n",
        false);
    add(root / "tarvel.exe", "SECRET-GUARD-program name\n", false);
    add(root / "sub" / "TARVEL.EXE", "SECRET-GUARD-program name upper\n", false);
    // Refused by identity, not by name: the pure road gets its identity as the
    // running program's; the real road knows only the real program file, so
    // there the stand-in is an ordinary file.
    add(root / "program.bin", kProgramStandIn, true);

    // Servable files.
    add(root / "index.htm", "<html>root index</html>\n", true);
    add(root / "Docs" / "A.HTM", "<html>docs a</html>\n", true);
    add(root / "Docs" / "b.htm", "<html>docs b</html>\n", true);
    add(root / "Readme.TXT", "readme, mixed case\n", true);
    add(root / "README.txt", "readme, upper case\n", true);
    add(root / "page.htm", "<html>page</html>\n", true);
    add(root / "form.htm", "<html>form</html>\n", true);
    add(root / "\xc3\xa9t\xc3\xa9" / "caf\xc3\xa9.html", "<html>summer cafe</html>\n", true);
    add(root / "\xc3\xa9t\xc3\xa9" / "s.css", "p{color:red}\n", true);
    add(root / "sub" / "index.htm", "<html>sub index</html>\n", true);
    add(root / "sub" / "page.txt", "sub page\n", true);
    add(root / "sub" / "deeper" / "index.htm", "<html>deeper</html>\n", true);
    add(root / "100%.html", "<html>percent</html>\n", true);
    add(root / "HTTPdocs" / "a.htm", "<html>httpdocs a</html>\n", true);
    add(root / "caf\xc3\xa9.html", "<html>cafe</html>\n", true);
    add(root / "with space.css", "body{}\n", true);
    add(root / "back\\slash.txt", "backslash in a name\n", true);
    add(root / ".well-known" / "security.txt", "Contact: nobody\n", true);
    add(root / "empty.htm", "", true);
    // What the preview finds in a name's place: the site's 404 page, pages
    // named without their ending.
    add(root / "404.html", "<html><body>site's own 404</body></html>\n", true);
    add(root / "sub" / "about.html", "<p>about, without a body end\n", true);
    // A folder without a default page, listed when listings are on: names
    // that break links or markup when handled carelessly, and what must never
    // be listed beside them.
    add(root / "list" / "a&b<i>c</i>.txt", "listed: markup in a name\n", true);
    add(root / "list" / "q\"uo'te.txt", "listed: quotes\n", true);
    add(root / "list" / "sp ace#1%25+?.txt", "listed: reserved bytes\n", true);
    add(root / "list" / "\xe9t\xe9-latin1.txt", "listed: not UTF-8\n", true);
    add(root / "list" / "new\nline.txt", "listed: a newline\n", true);
    add(root / "list" / "<img src=x onerror=alert(1)>", "listed: a tag\n", true);
    add(root / "list" / "inner" / "x.txt", "listed: a sub-folder's file\n", true);
    add(root / "list" / ".secret", "SECRET-HIDDEN-listed folder's dot file\n", false);
    add(root / "list" / "Tarvel.Exe", "SECRET-GUARD-program name in a listing\n", false);
    add(root / "list" / "back\\slash.txt", "SECRET-GUARD-unreachable backslash name\n", false);
    // Larger than the send buffer and several file blocks.
    add(root / "big.bin", Pseudorandom(300 * 1024 + 17, 7), true);

    // Special files: a FIFO must never block the one thread, a link inside the
    // root is followed, a dangling link is simply missing.
    if (::mkfifo((root / "pipe.htm").c_str(), 0644) != 0) {
        Fault("mkfifo failed");
    }
    fs::create_symlink("index.htm", root / "link.htm");
    fs::create_symlink("nowhere.htm", root / "dangling.htm");
    fs::create_symlink("nowhere.txt", root / "list" / "dangling.txt");
    if (::mkfifo((root / "fifo.html").c_str(), 0644) != 0) {
        Fault("mkfifo failed");
    }
    if (::mkfifo((root / "list" / "pipe.txt").c_str(), 0644) != 0) {
        Fault("mkfifo failed");
    }

    struct stat status {};
    if (::stat((root / "program.bin").c_str(), &status) != 0) {
        Fault("stat of the program stand-in failed");
    }
    pFixture->programFile = {status.st_dev, status.st_ino};
    pFixture->strRoot = root.string();
    pFixture->strRootReal = fs::canonical(root).string();
    pFixture->tree = TakeSnapshot(pFixture->base);
    return pFixture;
}

// A connection whose descriptor comes from a socket pair instead of accept.
class CPairClient : public CClientSocket {
public:
    using CClientSocket::CClientSocket;
    void Adopt(int hSocket) {
        Attach(hSocket, FD_ALL_EVENTS);
        Init();
    }
};

bool IsServableBody(std::string_view body) {
    auto it = g_pFixture->bodies.find(std::string(body));
    return it != g_pFixture->bodies.end() && it->second;
}

bool IsServableSize(uint64_t nSize) {
    for (const auto& [strContent, bServable] : g_pFixture->bodies) {
        if (bServable && strContent.size() == nSize) {
            return true;
        }
    }
    return false;
}

// Some servable file of nSize bytes holds body at nFirst (an empty body: HEAD).
bool IsServableSlice(uint64_t nSize, uint64_t nFirst, std::string_view body) {
    for (const auto& [strContent, bServable] : g_pFixture->bodies) {
        if (bServable && strContent.size() == nSize &&
            (body.empty() || std::string_view(strContent).substr(nFirst, body.size()) == body)) {
            return true;
        }
    }
    return false;
}

// Whether the request holds a header line of that name (lower case, with its
// colon), anywhere: a necessary condition only, for answers that need one.
bool MentionsHeader(std::string_view request, std::string_view lowerName) {
    std::string strLower(request);
    LowerAscii(strLower);
    return strLower.find(lowerName) != std::string::npos;
}

std::optional<uint64_t> ParseCount(std::string_view text) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::strtoull(std::string(text).c_str(), nullptr, 10);
}

void CheckNoSecret(std::string_view body, std::string_view request) {
    if (body.find(kSecretMarker) != std::string_view::npos) {
        Fault("the answer holds a file that must never be served", request);
    }
}

// A header value, or nothing when the line is missing.
std::string_view HeaderValue(std::string_view header, std::string_view name) {
    std::string strKey = "\r\n";
    strKey += name;
    strKey += ": ";
    size_t nAt = header.find(strKey);
    if (nAt == std::string_view::npos) {
        return {};
    }
    std::string_view value = header.substr(nAt + strKey.size());
    return value.substr(0, value.find("\r\n"));
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The status line's version an answer must have: none for a request line
// without a version word, "HTTP/1.1 " for 1.1 or later, else "HTTP/1.0 " (a
// line that overflows the request buffer too). Written out here on its own so
// the answer is checked against the rule rather than against the parser.
std::string_view StatusLineVersion(std::string_view request) {
    std::string_view received = request.substr(0, CClientSocket::kRequestBufferSize);
    std::string_view text = received.substr(0, received.find('\0'));
    size_t nLineEnd = text.find('\n');
    if (nLineEnd == std::string_view::npos &&
        received.size() >= CClientSocket::kRequestBufferSize) {
        return "HTTP/1.0 ";
    }
    std::string_view line = text.substr(0, nLineEnd);
    while (!line.empty() && IsBlank(line.front())) {
        line.remove_prefix(1);
    }
    while (!line.empty() && IsBlank(line.back())) {
        line.remove_suffix(1);
    }
    // A version word needs a word before it (a line of the version alone is none).
    if (line.size() < 9) {
        return {};
    }
    std::string_view word = line.substr(line.size() - 8);
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (!IsBlank(line[line.size() - 9]) || word.substr(0, 5) != "HTTP/" || !isDigit(word[5]) ||
        word[6] != '.' || !isDigit(word[7])) {
        return {};
    }
    return word[5] > '1' || (word[5] == '1' && word[7] >= '1') ? "HTTP/1.1 " : "HTTP/1.0 ";
}

// The range oracle for a 206: "bytes a-b/size" with a <= b < size, a
// Content-Length of b-a+1, and a body that is those bytes of a servable file.
void CheckPartial(std::string_view header, std::string_view body, uint64_t nLength,
                  std::string_view request) {
    std::string_view range = HeaderValue(header, "Content-Range");
    size_t nDash = range.find('-');
    size_t nSlash = range.find('/');
    if (!range.starts_with("bytes ") || nDash == std::string_view::npos ||
        nSlash == std::string_view::npos || nSlash < nDash) {
        Fault("a 206 without a Content-Range of bytes a-b/size", request);
    }
    const auto nFirst = ParseCount(range.substr(6, nDash - 6));
    const auto nLast = ParseCount(range.substr(nDash + 1, nSlash - nDash - 1));
    const auto nSize = ParseCount(range.substr(nSlash + 1));
    if (!nFirst || !nLast || !nSize || *nFirst > *nLast || *nLast >= *nSize) {
        Fault("a 206 whose Content-Range is no range within the file", request);
    }
    if (nLength != *nLast - *nFirst + 1) {
        Fault("a 206 whose Content-Length disagrees with its Content-Range", request);
    }
    if (!IsServableSlice(*nSize, *nFirst, body)) {
        Fault("a 206 body that is not the bytes its Content-Range names", request);
    }
}

bool IsInsideRoot(const fs::path& path) {
    std::error_code error;
    const std::string strReal = fs::canonical(path, error).string();
    return !error && (strReal == g_pFixture->strRootReal ||
                      strReal.starts_with(g_pFixture->strRootReal + "/"));
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A link's bytes decoded by hand, so the check does not lean on the server's decoder.
std::string DecodeLink(std::string_view link) {
    std::string strName;
    for (size_t i = 0; i < link.size(); ++i) {
        if (link[i] == '%' && i + 2 < link.size() && std::isxdigit(link[i + 1]) != 0 &&
            std::isxdigit(link[i + 2]) != 0) {
            strName +=
                static_cast<char>(std::stoi(std::string(link.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            strName += link[i];
        }
    }
    return strName;
}

// One link of a listing: encoded, and reaching a file or folder that may be served.
void CheckListedLink(std::string_view href, const fs::path& folder, bool bAtRoot,
                     bool bProgramKnown, std::string_view request) {
    if (href.starts_with("?")) {
        return;  // a column's sort link; the query is the page's own
    }
    if (href == "../") {
        if (bAtRoot) {
            Fault("a link above the root", request);
        }
        return;
    }
    const bool bFolderLink = href.ends_with("/");
    const std::string_view encoded = href.substr(0, href.size() - (bFolderLink ? 1 : 0));
    for (const char c : encoded) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::strchr("-._~%", c) == nullptr) {
            Fault("a link byte left unencoded", request);
        }
    }
    const std::string strName = DecodeLink(encoded);
    std::string strFolded = strName;
    LowerAscii(strFolded);
    if (strName.empty() || (strName[0] == '.' && strName != ".well-known") ||
        strName.find_first_of("/\\") != std::string::npos ||
        strName.find("..") != std::string::npos || strFolded == "tarvel.exe") {
        Fault("a listed name that may not be served", request);
    }
    struct stat status {};
    const fs::path entry = folder / strName;
    if (::stat(entry.c_str(), &status) != 0 || !IsInsideRoot(entry) ||
        (bFolderLink ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode))) {
        Fault("a listed link that reaches no servable file or folder", request);
    }
    if (!bFolderLink) {
        const std::string strContent = ReadWhole(entry);
        if (!IsServableBody(strContent) || (bProgramKnown && strContent == kProgramStandIn)) {
            Fault("a listed file that may not be served", request);
        }
    }
}

// A listing names only what may be served, each link reaching it, and no
// byte of a name or of the request path appears as markup.
void CheckListing(std::string_view page, std::string_view request, bool bProgramKnown) {
    const SParsedRequest parsed = ParseRequest(request, CClientSocket::kRequestBufferSize);
    CRootLookup lookup(g_pFixture->strRoot, g_pFixture->programFile, {});
    const SFound folder = lookup.Look(parsed.strPath);
    if (folder.kind != SFound::EKind::Folder || !IsInsideRoot(folder.strName) ||
        !page.starts_with("<!DOCTYPE html>")) {
        Fault("a listing of what is not a servable folder", request);
    }
    CheckNoSecret(page, request);
    const bool bAtRoot = fs::canonical(folder.strName).string() == g_pFixture->strRootReal;
    for (size_t nAt = page.find("<a href=\""); nAt != std::string_view::npos;
         nAt = page.find("<a href=\"", nAt + 1)) {
        const size_t nHref = nAt + 9;
        const size_t nQuote = page.find('"', nHref);
        const size_t nTextEnd = page.find("</a>", nQuote);
        if (nQuote == std::string_view::npos || nTextEnd == std::string_view::npos ||
            page.compare(nQuote, 2, "\">") != 0) {
            Fault("a malformed link in a listing", request);
        }
        const std::string_view text = page.substr(nQuote + 2, nTextEnd - nQuote - 2);
        if (text.find_first_of("<>\"'") != std::string_view::npos) {
            Fault("markup from a name in a listing", request);
        }
        CheckListedLink(page.substr(nHref, nQuote - nHref), folder.strName, bAtRoot, bProgramKnown,
                        request);
    }
    const size_t nHeading = page.find("<h1>");
    const size_t nHeadingEnd = page.find("</h1>", nHeading);
    if (nHeading == std::string_view::npos || nHeadingEnd == std::string_view::npos ||
        page.substr(nHeading + 4, nHeadingEnd - nHeading - 4).find_first_of("<>\"'") !=
            std::string_view::npos) {
        Fault("markup from the request path in a listing's heading", request);
    }
}

// What every answer's header block holds: lines ended by CRLF alone, and the
// fields each answer carries.
void CheckHeaderLines(std::string_view header, std::string_view request) {
    for (size_t i = 0; i < header.size(); ++i) {
        if ((header[i] == '\n' && (i == 0 || header[i - 1] != '\r')) ||
            (header[i] == '\r' && (i + 1 >= header.size() || header[i + 1] != '\n'))) {
            Fault("a header line not ended by CRLF", request);
        }
    }
    if (HeaderValue(header, "Connection") != "close" ||
        HeaderValue(header, "Cache-Control") != "no-cache" ||
        !ParseHttpDate(HeaderValue(header, "Date"))) {
        Fault("no Connection: close, Cache-Control: no-cache or Date", request);
    }
}

void CheckAnswer(std::string_view answer, std::string_view request, bool bListings) {
    const std::string_view version = StatusLineVersion(request);
    if (!answer.empty() && !version.empty() && !answer.starts_with(version)) {
        Fault("a versioned request answered without a status line of its version", request);
    }
    if (answer.empty()) {
        // Only a connection closed without a request goes unanswered.
        if (!request.empty()) {
            Fault("no answer to a request", request);
        }
        return;
    }
    if (version.empty()) {
        if (answer != kErrorPage) {
            Fault("a request without a version got other than the bare error page", request);
        }
        return;
    }
    size_t nHeaderEnd = answer.find("\r\n\r\n");
    if (nHeaderEnd == std::string_view::npos) {
        Fault("the header block never ends", request);
    }
    std::string_view header = answer.substr(0, nHeaderEnd + 2);
    std::string_view body = answer.substr(nHeaderEnd + 4);
    CheckNoSecret(body, request);
    CheckHeaderLines(header, request);
    std::string_view status = header.substr(version.size(), header.find("\r\n") - version.size());
    std::string_view entityTag = HeaderValue(header, "ETag");
    const bool bListing = bListings && status == "200 OK" && entityTag.empty() &&
                          HeaderValue(header, "Content-Type") == "text/html; charset=utf-8";
    // A file's answers carry its validators; no other answer does.
    const bool bFileAnswer = (status == "200 OK" && !bListing) || status == "206 Partial Content" ||
                             status == "304 Not Modified" || status == "416 Range Not Satisfiable";
    if (bFileAnswer !=
            (entityTag.size() >= 2 && entityTag.front() == '"' && entityTag.back() == '"') ||
        bFileAnswer != ParseHttpDate(HeaderValue(header, "Last-Modified")).has_value()) {
        Fault(bFileAnswer ? "a file's answer without a strong ETag and a Last-Modified date"
                          : "validators on an answer that is not a file's",
              request);
    }
    if (status == "304 Not Modified") {
        if (!body.empty() || !HeaderValue(header, "Content-Length").empty() ||
            !(MentionsHeader(request, "if-none-match:") ||
              MentionsHeader(request, "if-modified-since:"))) {
            Fault("a 304 with a body or a length, or without a condition asked", request);
        }
        return;
    }
    const std::string strLength(HeaderValue(header, "Content-Length"));
    if (strLength.empty() || strLength.find_first_not_of("0123456789") != std::string::npos) {
        Fault("no numeric Content-Length", request);
    }
    const uint64_t nLength = std::strtoull(strLength.c_str(), nullptr, 10);
    // HEAD gets the headers only; everything else gets exactly Content-Length bytes.
    if (!body.empty() && body.size() != nLength) {
        Fault("the body length differs from Content-Length", request);
    }

    if (bListing) {
        if (!body.empty()) {
            CheckListing(body, request, false);
        }
    } else if (status == "200 OK") {
        if (!body.empty() ? !IsServableBody(body) : !IsServableSize(nLength)) {
            Fault("a 200 answer whose body is no servable file", request);
        }
        if (HeaderValue(header, "Accept-Ranges") != "bytes") {
            Fault("a file's 200 without Accept-Ranges: bytes", request);
        }
    } else if (status == "206 Partial Content") {
        if (!MentionsHeader(request, "range:")) {
            Fault("a 206 to a request without a Range header", request);
        }
        CheckPartial(header, body, nLength, request);
    } else if (status == "416 Range Not Satisfiable") {
        std::string_view range = HeaderValue(header, "Content-Range");
        const auto nSize =
            range.starts_with("bytes */") ? ParseCount(range.substr(8)) : std::nullopt;
        if (!MentionsHeader(request, "range:") || !nSize || !IsServableSize(*nSize) ||
            nLength != 0 || !body.empty()) {
            Fault("a 416 without Content-Range: bytes */size, or with a body", request);
        }
    } else if (status == "404 Not Found") {
        if (nLength != kErrorPage.size() || (!body.empty() && body != kErrorPage) ||
            HeaderValue(header, "Content-Type") != "text/html") {
            Fault("a 404 answer that is not the error page", request);
        }
    } else if (status == "301 Moved Permanently") {
        std::string_view location = HeaderValue(header, "Location");
        if (nLength != 0 || !body.empty() || location.empty() || location.back() == '\0') {
            Fault("a malformed redirect", request);
        }
        for (unsigned char c : location) {
            if (c <= 0x20 || c == 0x7f) {
                Fault("a control byte or blank in Location", request);
            }
        }
    } else {
        Fault("an unknown status line", request);
    }
}

// The upload road's statuses: a file stored, a form sent back to its
// folder, and the refusals, each with a short page.
constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

bool IsUploadStatus(std::string_view status) {
    static constexpr std::string_view kStatuses[] = {"201 Created",
                                                     "303 See Other",
                                                     "400 Bad Request",
                                                     "403 Forbidden",
                                                     "409 Conflict",
                                                     "411 Length Required",
                                                     "413 Content Too Large",
                                                     "500 Internal Server Error",
                                                     "507 Insufficient Storage"};
    return std::find(std::begin(kStatuses), std::end(kStatuses), status) != std::end(kStatuses);
}

// Files may have been stored: a PUT's, or a form's parts before one that was
// refused or failed. Refusals before the body (409, 411, 413) store none.
bool MayHaveStored(std::string_view status) {
    for (std::string_view code : {"201", "303", "400", "403", "500", "507"}) {
        if (status.starts_with(code)) {
            return true;
        }
    }
    return false;
}

// "POST" or "PUT" for a request that is an upload with uploads on, else empty.
std::string UploadMethod(std::string_view request) {
    const SParsedRequest parsed = ParseRequest(request, CClientSocket::kRequestBufferSize);
    const bool bUpload =
        parsed.bVersioned && (parsed.strMethod == "POST" || parsed.strMethod == "PUT");
    return bUpload ? parsed.strMethod : std::string();
}

// The page of an upload's answer: every byte of a name it shows escaped.
void CheckUploadPage(std::string_view header, std::string_view body, std::string_view request) {
    if (HeaderValue(header, "Content-Type") != "text/html; charset=utf-8" ||
        !body.starts_with("<!DOCTYPE html>")) {
        Fault("an upload's answer without its page", request);
    }
    for (std::string_view label : {"<p>Stored: ", "<p>Refused: "}) {
        for (size_t nAt = body.find(label); nAt != std::string_view::npos;
             nAt = body.find(label, nAt + 1)) {
            const size_t nText = nAt + label.size();
            const size_t nEnd = body.find("</p>", nText);
            if (nEnd == std::string_view::npos ||
                body.substr(nText, nEnd - nText).find_first_of("<>\"'") != std::string_view::npos) {
                Fault("markup from a name on an upload's page", request);
            }
        }
    }
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Where an upload sends the client: a path of this server, never a start a
// browser reads as another host ("//name", "/\name"), and no byte that ends
// the header line. A target sent without its leading "/" stays relative, as
// in a folder's redirect.
void CheckUploadLocation(std::string_view location, std::string_view request) {
    if (location.empty() ||
        (location.size() >= 2 && IsSeparator(location[0]) && IsSeparator(location[1]))) {
        Fault("an upload's Location that is no path of this server", request);
    }
    for (unsigned char c : location) {
        if (c <= 0x20 || c == 0x7f) {
            Fault("a control byte or blank in an upload's Location", request);
        }
    }
}

// The head and body of an answer with an upload's status; added: the files
// that appeared meanwhile, relative to the fixture's base.
void CheckUploadStatusAnswer(std::string_view answer, std::string_view status,
                             std::string_view request, const std::vector<std::string>& added) {
    const size_t nHeaderEnd = answer.find("\r\n\r\n");
    if (nHeaderEnd == std::string_view::npos) {
        Fault("the header block never ends", request);
    }
    const std::string_view header = answer.substr(0, nHeaderEnd + 2);
    const std::string_view body = answer.substr(nHeaderEnd + 4);
    CheckNoSecret(body, request);
    CheckHeaderLines(header, request);
    if (!HeaderValue(header, "ETag").empty() || !HeaderValue(header, "Last-Modified").empty()) {
        Fault("validators on an upload's answer", request);
    }
    if (ParseCount(HeaderValue(header, "Content-Length")) != body.size()) {
        Fault("an upload's body length differs from its Content-Length", request);
    }
    if (!added.empty() && !MayHaveStored(status)) {
        Fault("files stored by an upload refused before its body", request);
    }
    if (status == "303 See Other") {
        CheckUploadLocation(HeaderValue(header, "Location"), request);
        if (!body.empty() || added.empty()) {
            Fault("a 303 with a body, or without a file stored", request);
        }
        return;
    }
    CheckUploadPage(header, body, request);
    if (status == "201 Created") {
        const std::string_view location = HeaderValue(header, "Location");
        CheckUploadLocation(location, request);
        const std::string strName = added.empty() ? "" : added[0].substr(added[0].rfind('/') + 1);
        const std::string strPath = DecodeLink(location);
        const size_t nNameAt = strPath.size() - std::min(strName.size(), strPath.size());
        if (added.size() != 1 || !strPath.ends_with(strName) ||
            (nNameAt > 0 && !IsSeparator(strPath[nNameAt - 1]))) {
            Fault("a 201 without exactly the one file its Location names", request);
        }
    }
}

// The answer of the pass with uploads on. A POST or PUT gets an upload's
// answer (after a "100 Continue" when the client waits for one), or none when
// its body ended before its length (the client left: a PUT stores nothing, a
// form the parts that came whole); every other request gets the answer it
// gets with uploads off.
void CheckUploadAnswer(std::string_view answer, std::string_view request, bool bListings,
                       const std::vector<std::string>& added) {
    const std::string strMethod = UploadMethod(request);
    const bool bUpload = !strMethod.empty();
    const std::string_view version = StatusLineVersion(request);
    if (answer.starts_with(kContinue)) {
        if (!bUpload || version != "HTTP/1.1 " || !MentionsHeader(request, "expect:")) {
            Fault("a 100 Continue nobody waited for", request);
        }
        answer.remove_prefix(kContinue.size());
    }
    if (!bUpload) {
        if (!added.empty()) {
            Fault("files stored by a request that is no upload", request);
        }
        CheckAnswer(answer, request, bListings);
        return;
    }
    if (answer.empty()) {
        if (!added.empty() && strMethod == "PUT") {
            Fault("a PUT cut short stored its file", request);
        }
        return;
    }
    const std::string_view status =
        answer.starts_with(version)
            ? answer.substr(version.size(), answer.find("\r\n") - version.size())
            : std::string_view();
    if (!IsUploadStatus(status)) {
        Fault("an upload answered without an upload's status line", request);
    }
    CheckUploadStatusAnswer(answer, status, request, added);
}

[[noreturn]] void FaultAt(const char* pszWhat, const std::string& strPath,
                          std::string_view request) {
    std::fprintf(stderr, "\n    entry: %s", strPath.c_str());
    Fault(pszWhat, request);
}

// A file an upload added: inside the root, in a folder that was there and is
// served from, under a name a visitor may give, holding bytes the request sent.
void CheckAddedFile(const std::string& strPath, std::string_view request, bool bForm) {
    if (!strPath.starts_with("web/")) {
        FaultAt("an entry appeared outside the root", strPath, request);
    }
    const size_t nSlash = strPath.rfind('/');
    const std::string strFolder = strPath.substr(0, nSlash);
    const std::string strName = strPath.substr(nSlash + 1);
    if (strName.starts_with('.')) {
        FaultAt(strName.starts_with(kUploadTempPrefix)
                    ? "an upload's temporary file was left behind"
                    : "an entry under a hidden name",
                strPath, request);
    }
    for (size_t nAt = 0; nAt != std::string::npos;) {
        const size_t nEnd = strFolder.find('/', nAt);
        const std::string_view component = std::string_view(strFolder).substr(nAt, nEnd - nAt);
        // The one dot-name the public may reach, and so add to.
        if (component.starts_with('.') && component != ".well-known") {
            FaultAt("a file added in a hidden folder", strPath, request);
        }
        nAt = nEnd == std::string::npos ? nEnd : nEnd + 1;
    }
    const auto folder = g_pFixture->tree.find(strFolder);
    if (folder == g_pFixture->tree.end() || folder->second.type != fs::file_type::directory) {
        FaultAt("an entry added where no folder was", strPath, request);
    }
    std::string strFolded = strName;
    LowerAscii(strFolded);
    if (strName.size() > 255 || strName.find("..") != std::string::npos ||
        strFolded.find("tarvel.exe") != std::string::npos ||
        std::any_of(strName.begin(), strName.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7f || c == '\\'; })) {
        FaultAt("a file added under a name that is refused", strPath, request);
    }
    const fs::path file = g_pFixture->base / strPath;
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        FaultAt("a new entry that is not a file", strPath, request);
    }
    // A PUT's file is its body; a form's, one part's bytes up to the delimiter
    // that ends the part, so never a part cut short.
    const std::string strBytes = ReadWhole(file);
    if (request.find(bForm ? strBytes + "\r\n--" : strBytes) == std::string_view::npos) {
        FaultAt("an added file is not a whole body or part the request sent", strPath, request);
    }
}

// Nothing of the tree was changed or removed; what was added passes above.
void CheckTreeAfterUpload(const STreeChanges& changes, std::string_view request) {
    if (!changes.removed.empty()) {
        FaultAt("an entry was removed", changes.removed.front(), request);
    }
    if (!changes.changed.empty()) {
        FaultAt("an entry was changed", changes.changed.front(), request);
    }
    const bool bForm = UploadMethod(request) == "POST";
    for (const std::string& strPath : changes.added) {
        CheckAddedFile(strPath, request, bForm);
    }
}

// The decision's road: parse, plan, then read the file a file's answer is of.
void CheckPlan(std::string_view request, std::string_view defaultURL, bool bListings) {
    const SParsedRequest parsed = ParseRequest(request, CClientSocket::kRequestBufferSize);
    char start[256];
    CRootLookup lookup(g_pFixture->strRoot, g_pFixture->programFile, start);
    const SAnswerPlan plan =
        PlanAnswer(parsed, {.defaultPage = defaultURL, .bListFolders = bListings}, lookup);
    if (parsed.headers.strRange) {
        // Sizes the fixture has not: a satisfiable range lies within the file.
        for (uint64_t nSize : {uint64_t{0}, uint64_t{1}, uint64_t{1} << 63, UINT64_MAX}) {
            const SByteRange range = EvaluateRange(*parsed.headers.strRange, nSize);
            if (range.kind == SByteRange::EKind::Satisfiable &&
                (range.nFirst > range.nLast || range.nLast >= nSize)) {
                Fault("a satisfiable range outside the file", request);
            }
        }
    }
    if (plan.head.nStatus == 301) {
        for (unsigned char c : plan.head.strLocation) {
            if (c <= 0x20 || c == 0x7f) {
                Fault("a control byte or blank in a planned Location", request);
            }
        }
        return;
    }
    if (!plan.bStatusLine || plan.head.nStatus == 404) {
        return;
    }
    if (plan.phase == ESendPhase::Memory) {
        if (!bListings) {
            Fault("a listing planned with listings off", request);
        }
        if (plan.body == EBody::Memory) {
            CheckListing(plan.strBody, request, true);
        }
        return;
    }
    const std::optional<STarget> target = TargetOf(parsed, defaultURL);
    if (!target) {
        Fault("a refused request was planned as a file", request);
        return;
    }
    const std::string strFile = lookup.Look(target->strPath).strName;
    if (!IsInsideRoot(strFile)) {
        Fault("a planned file outside the root", strFile);
    }
    const std::string strContent = ReadWhole(strFile);
    CheckNoSecret(strContent, request);
    if (strContent == kProgramStandIn) {
        Fault("the running program's own file was planned", request);
    }
    if (!IsServableBody(strContent)) {
        Fault("a planned file that is not servable", strFile);
    }
}

// With the preview on, the page found in a name's place (a front page, the
// name with ".html", the site's 404 page) passes the same guards, and a page
// with the reload script is the file's bytes and the script alone.
void CheckPreviewPlan(std::string_view request, std::string_view defaultURL) {
    const SParsedRequest parsed = ParseRequest(request, CClientSocket::kRequestBufferSize);
    char start[256];
    CRootLookup lookup(g_pFixture->strRoot, g_pFixture->programFile, start);
    const SAnswerPlan plan =
        PlanAnswer(parsed, {.defaultPage = defaultURL, .bPreview = true}, lookup);
    if (lookup.OpenFile().Handle() < 0) {
        if (plan.body == EBody::File || plan.body == EBody::Memory) {
            Fault("a preview body without a file", request);
        }
        return;
    }
    const fs::path file = "/proc/self/fd/" + std::to_string(lookup.OpenFile().Handle());
    const std::string strContent = ReadWhole(file);
    if (!IsInsideRoot(file) || !IsServableBody(strContent) || strContent == kProgramStandIn) {
        Fault("a preview planned a file that is not servable", request);
    }
    if (plan.body == EBody::Memory) {
        const size_t nScript = plan.strBody.find("<script>/* Tarvel preview");
        const size_t nEnd = plan.strBody.find("</script>", nScript);
        if (nScript == std::string::npos || nEnd == std::string::npos ||
            plan.strBody.substr(0, nScript) + plan.strBody.substr(nEnd + 9) != strContent ||
            *plan.head.nContentLength != plan.strBody.size()) {
            Fault("a page with the script is not the file and the script", request);
        }
    }
}

// With the private link on: an input that holds the secret nowhere (in any
// case, escaped or not) reaches no file, and no answer to it holds the secret.
void CheckPrivatePlan(std::string_view request) {
    static const std::string kKey = "qz4fuzzsecretkeyqz4fuzzsec";
    std::string strDecoded;
    DecodePercentEscapes(request, strDecoded);
    std::string strInput(request);
    LowerAscii(strDecoded);
    LowerAscii(strInput);
    if (strDecoded.find(kKey) != std::string::npos || strInput.find(kKey) != std::string::npos) {
        return;
    }
    const SParsedRequest parsed = ParseRequest(request, CClientSocket::kRequestBufferSize);
    char start[256];
    CRootLookup lookup(g_pFixture->strRoot, g_pFixture->programFile, start);
    const SAnswerPlan plan = PlanAnswer(parsed,
                                        {.defaultPage = "index.htm", .bListFolders = true,
                                         .bPreview = true, .bPrivate = true, .privateKey = kKey},
                                        lookup);
    if (lookup.OpenFile().Handle() >= 0 || plan.body == EBody::File || plan.body == EBody::Memory) {
        Fault("a request without the secret reached a file", request);
    }
    std::string strAnswer = plan.bStatusLine ? BuildResponseHead(plan.head, 0) : std::string();
    strAnswer += plan.strBody;
    LowerAscii(strAnswer);
    if (strAnswer.find(kKey) != std::string::npos) {
        Fault("an answer without the secret in its request holds it", request);
    }
}

// The request with "@ETAG@" replaced by the ETag of the file it asks for (or
// a tag no file has), so seeds can hold a current validator.
std::string WithEntityTag(std::string_view request) {
    std::string strRequest(request);
    if (strRequest.find(kEntityTagToken) == std::string::npos) {
        return strRequest;
    }
    const std::optional<STarget> target = TargetOf(
        ParseRequest(request, CClientSocket::kRequestBufferSize), g_pServer->m_strDefaultURL);
    std::string strTag = "\"no-such-file\"";
    CRootLookup lookup(g_pFixture->strRoot, g_pFixture->programFile, {});
    const SFound found = target ? lookup.Look(target->strPath) : SFound{};
    if (found.kind == SFound::EKind::File) {
        strTag = EntityTagFor(found.facts);
    }
    for (size_t nAt; (nAt = strRequest.find(kEntityTagToken)) != std::string::npos;) {
        strRequest.replace(nAt, kEntityTagToken.size(), strTag);
    }
    return strRequest;
}

// The real road: the request on one end of a socket pair, the server's client
// on the other, the dispatcher delivering the read (or close) event.
std::string Serve(std::string_view request) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        Fault("socketpair failed");
    }
    const int hPeer = pair[1];
    ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    // A request larger than the pair's buffer would block this write; the
    // server reads at most its request buffer anyway, and an upload whose
    // body is cut here ends as one whose client left.
    const std::string_view sent = request.substr(0, 2 * CClientSocket::kRequestBufferSize);
    if (!sent.empty() && ::send(hPeer, sent.data(), sent.size(), MSG_NOSIGNAL) !=
                             static_cast<ssize_t>(sent.size())) {
        Fault("writing the request failed");
    }
    ::shutdown(hPeer, SHUT_WR);

    std::string strAnswer;
    std::thread reader([&] {
        char buffer[65536];
        ssize_t nRead;
        while ((nRead = ::read(hPeer, buffer, sizeof buffer)) > 0) {
            strAnswer.append(buffer, static_cast<size_t>(nRead));
        }
    });

    auto* pClient = new CPairClient(g_pServer);
    pClient->Adopt(pair[0]);
    g_pServer->m_clientList.push_back(pClient);
    CSocketDispatcher& dispatcher = CSocketDispatcher::Get();
    const auto deadline = CSocketDispatcher::Clock::now() + std::chrono::seconds(5);
    while (!g_pServer->m_clientList.empty()) {
        if (CSocketDispatcher::Clock::now() > deadline) {
            Fault("a connection was neither answered nor released", request);
        }
        dispatcher.RunOnce(100);
    }
    reader.join();
    ::close(hPeer);
    return strAnswer;
}

// The real road with uploads on: the input as a request with a body. Then the
// tree is checked and the files an upload added legitimately go again, so
// every input meets the same tree.
void ServeWithUploads(std::string_view request, bool bListings, bool bConcurrent) {
    g_pServer->m_bListFolders = bListings;
    g_pServer->m_bUpload = true;
    g_pServer->m_bConcurrent = bConcurrent;
    const std::string strAnswer = Serve(request);
    g_pServer->m_bUpload = false;
    g_pServer->m_bConcurrent = false;
    const STreeChanges changes = ChangesSince(g_pFixture->tree, g_pFixture->base);
    const std::string_view sent = request.substr(0, 2 * CClientSocket::kRequestBufferSize);
    CheckTreeAfterUpload(changes, sent);
    CheckUploadAnswer(strAnswer, sent, bListings, changes.added);
    for (const std::string& strPath : changes.added) {
        fs::remove(g_pFixture->base / strPath);
    }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!AfxSocketInit()) {
        Fault("AfxSocketInit failed");
    }
    g_pFixture = MakeFixture();
    std::atexit(RemoveFixture);
    g_pServer = new CServerCore;
    // A trailing separator, as a person may type it: normalised on the first request.
    g_pServer->m_strRoot = g_pFixture->strRoot + "/";
    g_pServer->m_strDefaultURL = "index.htm";
    // A body here has all come, or ended with the input, before the server
    // reads it: short bounds keep a run fast should it wait for more anyway.
    g_pServer->m_waitPolicy.uploadBody = {.nStallMs = 50, .nMinimumRate = 1024};
    g_pServer->m_waitPolicy.refusedBody = {.nDeadlineMs = 50};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strRequest =
        WithEntityTag(std::string_view(reinterpret_cast<const char*>(pData), nSize));
    const std::string_view request(strRequest);

    static const char* const kDefaultPages[] = {
        "index.htm",   "INDEX.HTM",        "TARVEL.EXE",    "../secret.htm",
        ".hidden.htm", "deeper/index.htm", "..\\index.htm", "",
    };
    for (const char* pszDefault : kDefaultPages) {
        CheckPlan(request, pszDefault, false);
        CheckPlan(request, pszDefault, true);
        CheckPreviewPlan(request, pszDefault);
    }
    CheckPrivatePlan(request);

    // The real road serves with listings on for inputs of odd length, so
    // seeds reach either setting.
    g_pServer->m_bListFolders = nSize % 2 == 1;
    CheckAnswer(Serve(request), request.substr(0, 2 * CClientSocket::kRequestBufferSize),
                g_pServer->m_bListFolders);
    // Again with uploads on, receiving in the background for inputs whose
    // length has bit 1 set, so seeds reach both ways of receiving.
    ServeWithUploads(request, nSize % 2 == 1, nSize / 2 % 2 == 1);
    return 0;
}
