#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ListeningSocket.h"

namespace tarvel_test {

CTempDir::CTempDir() {
    std::string strTemplate =
        (std::filesystem::temp_directory_path() / "tarvel-test-XXXXXX").string();
    char* pszMade = ::mkdtemp(strTemplate.data());
    if (pszMade == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pszMade;
}

CTempDir::~CTempDir() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

void WriteFile(const std::string& strPath, const std::string& strContent) {
    std::filesystem::create_directories(std::filesystem::path(strPath).parent_path());
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strContent;
}

std::string ReadFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

int OpenDescriptorCount() {
    int nCount = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++nCount;
    }
    return nCount;
}

SFileIdentity OwnProgram() {
    struct stat status {};
    ::stat("/proc/self/exe", &status);
    return {status.st_dev, status.st_ino};
}

SFound CRootTest::Find(std::string_view path) {
    CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
    return lookup.Look(path);
}

SAnswerPlan CPlannedRootTest::Plan(const std::string& strLine, bool bListFolders) {
    CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
    return PlanAnswer(ParseRequest(strLine, 8192),
                      {.defaultPage = "index.htm", .bListFolders = bListFolders}, lookup);
}

SAnswerPlan CPlannedRootTest::Preview(const std::string& strLine, bool bListFolders) {
    CRootLookup lookup(m_strRoot, OwnProgram(), m_start);
    return PlanAnswer(ParseRequest(strLine, 8192),
                      {.defaultPage = "home.htm", .bListFolders = bListFolders, .bPreview = true},
                      lookup);
}

SAnswer ParseAnswer(const std::string& strRaw) {
    SAnswer answer;
    answer.strRaw = strRaw;
    if (strRaw.rfind("HTTP/", 0) != 0) {
        answer.strBody = strRaw;
        return answer;
    }
    size_t nEnd = strRaw.find("\r\n\r\n");
    std::string strHead = strRaw.substr(0, nEnd);
    answer.strBody = nEnd == std::string::npos ? "" : strRaw.substr(nEnd + 4);
    std::istringstream lines(strHead);
    std::string strLine;
    std::getline(lines, strLine);
    answer.nStatus = std::atoi(strLine.substr(9, 3).c_str());
    while (std::getline(lines, strLine)) {
        if (!strLine.empty() && strLine.back() == '\r') {
            strLine.pop_back();
        }
        size_t nColon = strLine.find(": ");
        if (nColon != std::string::npos) {
            answer.headers[strLine.substr(0, nColon)] = strLine.substr(nColon + 2);
        }
    }
    return answer;
}

CClient::CClient(unsigned nPort, const char* pszFrom) {
    m_hSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout{10, 0};
    ::setsockopt(m_hSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(m_hSocket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (pszFrom != nullptr) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, pszFrom, &local.sin_addr);
        ::bind(m_hSocket, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(m_hSocket);
        m_hSocket = -1;
    }
}

CBackgroundLoop::CBackgroundLoop(std::function<void(const std::atomic<bool>& stop)> fn)
    : m_thread([this, fn = std::move(fn)] {
          while (!m_bStop) {
              fn(m_bStop);
          }
      }) {}

CBackgroundLoop::~CBackgroundLoop() {
    m_bStop = true;
    m_thread.join();
}

CClient::~CClient() {
    if (m_hSocket >= 0) {
        ::close(m_hSocket);
    }
}

void CClient::Send(const std::string& strBytes) {
    size_t nSent = 0;
    while (nSent < strBytes.size()) {
        ssize_t n =
            ::send(m_hSocket, strBytes.data() + nSent, strBytes.size() - nSent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        nSent += static_cast<size_t>(n);
    }
}

void CClient::ShutdownSending() {
    ::shutdown(m_hSocket, SHUT_WR);
}

SAnswer CClient::ReadAll() {
    std::string strRaw;
    char buffer[65536];
    bool bReset = false;
    for (;;) {
        ssize_t n = ::recv(m_hSocket, buffer, sizeof buffer, 0);
        if (n > 0) {
            strRaw.append(buffer, static_cast<size_t>(n));
            continue;
        }
        bReset = n < 0 && errno == ECONNRESET;
        break;
    }
    SAnswer answer = ParseAnswer(strRaw);
    answer.bReset = bReset;
    return answer;
}

std::string CClient::ReadSome(size_t nCount) {
    std::string strBytes(nCount, '\0');
    ssize_t n = ::recv(m_hSocket, strBytes.data(), nCount, 0);
    strBytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return strBytes;
}

void CClient::Reset() {
    linger immediate{1, 0};
    ::setsockopt(m_hSocket, SOL_SOCKET, SO_LINGER, &immediate, sizeof immediate);
    ::close(m_hSocket);
    m_hSocket = -1;
}

void CClient::SetReceiveBuffer(int nBytes) {
    ::setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, &nBytes, sizeof nBytes);
}

SAnswer Fetch(unsigned nPort, const std::string& strRequest) {
    CClient client(nPort);
    client.Send(strRequest);
    return client.ReadAll();
}

void CServedRootTest::SetUp() {
    ASSERT_TRUE(AfxSocketInit());
    m_server.m_strRoot = m_root.Path().string();
    m_server.m_strDefaultURL = "index.htm";
    m_server.m_nChannel = 0;
}

void CServedRootTest::TearDown() {
    m_server.StopServer();
}

void CServedRootTest::Start() {
    m_server.StartServer();
    ASSERT_TRUE(m_server.m_bRunning) << m_server.m_strLastMessage;
}

unsigned CServedRootTest::Port() const {
    return m_server.m_pListeningSocket->LocalPort();
}

void CServedRootTest::PumpUntil(const std::function<bool()>& done, int nLimitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nLimitMs);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        CSocketDispatcher::Get().RunOnce(10);
    }
}

void CServedRootTest::PumpFor(int nMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    PumpUntil([&] { return std::chrono::steady_clock::now() >= deadline; }, nMs + 100);
}

}  // namespace tarvel_test
