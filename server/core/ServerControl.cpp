#include "ServerCore.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "ClientSocket.h"
#include "ListeningSocket.h"
#include "UploadFile.h"

const char* const CServerCore::kStartFailureText =
    "Error: Can't start server\nPossible reasons:\n\n"
    "- Your machine does not have TCP/IP installed.\n\n"
    "- You are trying to run two web servers on the\n  same channel.\n\n"
    "- Something else.";
const char* const CServerCore::kRootFailureText =
    "The root folder does not exist or cannot be read:";

namespace {
// Folders looked into for what uploads cut short left, so a large tree cannot hold Start.
constexpr size_t kLeftoverFolders = 4096;

// The usual desktop soft limit (1,024) is far below what the system allows;
// idle peers would exhaust it long before the idle sweep frees any.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

SFileIdentity OwnProgramFile() {
    struct stat status {};
    if (::stat("/proc/self/exe", &status) != 0) {
        return {};
    }
    return {status.st_dev, status.st_ino};
}

// A message and one more line under it.
std::string WithLine(const char* pszText, const std::string& strLine) {
    std::string strMessage = pszText;
    strMessage += '\n';
    strMessage += strLine;
    return strMessage;
}

bool IsReadableFolder(const std::string& strFolder) {
    struct stat status {};
    return ::stat(strFolder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           ::access(strFolder.c_str(), R_OK | X_OK) == 0;
}
}  // namespace

CServerCore::CServerCore() {}

CServerCore::~CServerCore() {
    ReleaseAll();
}

// ---- Server control -------------------------------------------------------

void CServerCore::StartServer() {
    const std::string strRoot = RootFolder();
    if (!IsReadableFolder(strRoot)) {
        BeepStop();
        ShowStopMessage(WithLine(kRootFailureText, strRoot));
        return;
    }

    delete m_pListeningSocket;  // a listener being replaced is never leaked
    m_pListeningSocket = new CListeningSocket(this);
    // The port is the member's low 16 bits, so a stored -25536 listens on 40000.
    const unsigned nPort = static_cast<uint16_t>(m_nChannel);
    // Reuse lets Start follow Stop while old connections linger in TIME_WAIT;
    // a second listener on the same port still fails.
    const int nReuse = 1;
    if (!m_pListeningSocket->Socket() ||
        !m_pListeningSocket->SetSockOpt(SO_REUSEADDR, &nReuse, sizeof nReuse, SOL_SOCKET) ||
        !m_pListeningSocket->Bind(nPort) || !m_pListeningSocket->Listen(SOMAXCONN)) {
        ReportStartFailure(std::strerror(CAsyncSocket::GetLastError()));
        return;
    }
    // The kernel holds a connection back until its first bytes arrive (or a
    // second passes), so an accepted connection can be served at once. Without
    // it the server still works, only with one more wait per request.
    const int nDeferSeconds = 1;
    m_pListeningSocket->SetSockOpt(TCP_DEFER_ACCEPT, &nDeferSeconds, sizeof nDeferSeconds,
                                   IPPROTO_TCP);
    m_pListeningSocket->SetWaitBounds(m_waitPolicy.accept);
    RaiseDescriptorLimit();
    m_ownProgramFile = OwnProgramFile();
    SharedPath();  // a private link gets its secret before anyone can ask
    StartClientTimers();
    if (m_bUpload) {
        // Where files could not arrive nameless, a crash may have left some under hidden names.
        RemoveLeftoverUploads(strRoot, kLeftoverFolders);
    }
    m_nFilesAdded = 0;
    m_bRunning = 1;
}

void CServerCore::ReportStartFailure(const std::string& strReason) {
    CloseListener();
    m_bRunning = 0;
    BeepStop();
    ShowStopMessage(WithLine(kStartFailureText, strReason));
}

void CServerCore::StopServer() {
    CloseListener();
    StopClientTimers();
    // Each client is told we are done and drained until it closes; all drains
    // together get a fixed budget, so peers that never close cannot hold Stop.
    const auto started = CSocketDispatcher::Clock::now();
    const auto deadline = started + std::chrono::milliseconds(m_waitPolicy.stopDrain.nDeadlineMs);
    while (!m_clientList.empty()) {
        CClientSocket* pClient = m_clientList.front();
        m_clientList.pop_front();
        pClient->ShutDown(1);
        pClient->SetWaitBounds(m_waitPolicy.stopDrain, started);
        DrainUntil(*pClient, deadline);
        delete pClient;
    }
    m_transfersByAddress.clear();
    m_bRunning = 0;
}

void CServerCore::CloseListener() {
    delete m_pListeningSocket;
    m_pListeningSocket = nullptr;
}

void CServerCore::DrainUntil(CClientSocket& client,
                             CSocketDispatcher::Clock::time_point deadline) {
    char buffer[50];
    while (CSocketDispatcher::MillisecondsUntil(deadline) > 0 &&
           client.Receive(buffer, sizeof buffer) > 0) {
    }
    if (CSocketDispatcher::MillisecondsUntil(deadline) == 0) {
        client.DiscardPending();
    }
}

void CServerCore::ReleaseAll() {
    StopClientTimers();
    CloseListener();
    for (CClientSocket* pClient : m_clientList) {
        delete pClient;
    }
    m_clientList.clear();
    m_transfersByAddress.clear();
    m_bRunning = 0;
}

void CServerCore::ShowStopMessage(const std::string& strText) {
    m_strLastMessage = strText;
}

void CServerCore::BeepStop() {
    ++m_nStopSounds;
}

