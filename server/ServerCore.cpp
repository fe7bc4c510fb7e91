#include "ServerCore.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "AnswerPlan.h"
#include "ClientSocket.h"
#include "FileException.h"
#include "ListeningSocket.h"
#include "RequestLine.h"
#include "RootLookup.h"

const char* const CServerCore::kStartFailureText =
    "Error: Can't start server\nPossible reasons:\n\n"
    "- Your machine does not have TCP/IP installed.\n\n"
    "- You are trying to run two web servers on the\n  same channel.\n\n"
    "- Something else.";
const char* const CServerCore::kRootFailureText =
    "The root folder does not exist or cannot be read:";

namespace {
// How much of a plain-text file decides its charset label.
constexpr size_t kCharsetLookBytes = 64 * 1024;
constexpr int kIdleSweepMs = 1000;
// Closed at once when descriptors run out: room for the connection waiting to
// be accepted, the file it asks for, and a folder it may list.
constexpr size_t kDescriptorsToFree = 8;

// The usual desktop soft limit (1,024) is far below what the system allows;
// idle peers would exhaust it long before the idle sweep frees any.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool IsOutOfDescriptors(int nError) {
    return nError == EMFILE || nError == ENFILE;
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
    if (!m_pIdleSweep) {
        m_pIdleSweep = std::make_unique<CDispatchTimer>([this] { CloseIdleClients(); });
    }
    m_pIdleSweep->Start(kIdleSweepMs, kIdleSweepMs);
    // Made now, not when the first unfinished head comes: descriptors may have
    // run out by then.
    if (!m_pHeadTimer) {
        m_pHeadTimer = std::make_unique<CDispatchTimer>([this] { ServeHeadsWhoseTimeIsUp(); });
    }
    m_bRunning = 1;
}

void CServerCore::ReportStartFailure(const std::string& strReason) {
    delete m_pListeningSocket;
    m_pListeningSocket = nullptr;
    m_bRunning = 0;
    BeepStop();
    ShowStopMessage(WithLine(kStartFailureText, strReason));
}

void CServerCore::StopServer() {
    delete m_pListeningSocket;
    m_pListeningSocket = nullptr;
    if (m_pIdleSweep) {
        m_pIdleSweep->Stop();
    }
    StopHeadTimer();
    // Each client is told we are done and drained until it closes; all drains
    // together get a fixed budget, so peers that never close cannot hold Stop.
    const auto started = CSocketDispatcher::Clock::now();
    const auto deadline = started + std::chrono::milliseconds(m_waitPolicy.stopDrain.nDeadlineMs);
    while (!m_clientList.empty()) {
        CClientSocket* pClient = m_clientList.front();
        m_clientList.pop_front();
        pClient->ShutDown(1);
        pClient->SetWaitBounds(m_waitPolicy.stopDrain, started);
        char buffer[50];
        while (CSocketDispatcher::MillisecondsUntil(deadline) > 0 &&
               pClient->Receive(buffer, sizeof buffer) > 0) {
        }
        if (CSocketDispatcher::MillisecondsUntil(deadline) == 0) {
            pClient->DiscardPending();
        }
        delete pClient;
    }
    m_bRunning = 0;
}

void CServerCore::StopHeadTimer() {
    if (m_pHeadTimer) {
        m_pHeadTimer->Stop();
    }
    m_bHeadTimerSet = false;
}

void CServerCore::ReleaseAll() {
    if (m_pIdleSweep) {
        m_pIdleSweep->Stop();
    }
    StopHeadTimer();
    delete m_pListeningSocket;
    m_pListeningSocket = nullptr;
    for (CClientSocket* pClient : m_clientList) {
        delete pClient;
    }
    m_clientList.clear();
    m_bRunning = 0;
}

void CServerCore::ShowStopMessage(const std::string& strText) {
    m_strLastMessage = strText;
}

void CServerCore::BeepStop() {
    ++m_nStopSounds;
}

// ---- Connections ----------------------------------------------------------

void CServerCore::ProcessPendingAccept() {
    auto* pClient = new CClientSocket(this);
    bool bAccepted = m_pListeningSocket->Accept(*pClient);
    if (!bAccepted && IsOutOfDescriptors(CAsyncSocket::GetLastError()) &&
        CloseSilentClients(CSocketDispatcher::Clock::now(), kDescriptorsToFree) > 0) {
        bAccepted = m_pListeningSocket->Accept(*pClient);
    }
    if (!bAccepted) {
        delete pClient;
        return;
    }
    pClient->Init();
    pClient->SetShare(&m_peerShares);
    m_clientList.push_back(pClient);
    // Its request has most likely arrived with it: its read event would be the
    // next thing epoll reports for it, so it is served now.
    HandleRequest(pClient);
}

void CServerCore::CloseIdleClients() {
    const auto now = CSocketDispatcher::Clock::now();
    m_peerShares.Prune(now);
    CloseSilentClients(now - std::chrono::milliseconds(m_waitPolicy.nIdleClientMs),
                       m_clientList.size());
}

size_t CServerCore::CloseSilentClients(CSocketDispatcher::Clock::time_point acceptedBy,
                                       size_t nCount) {
    // The list is in order of acceptance: the first silent ones have been
    // silent longest. A request may have arrived while the server was busy:
    // that client is not silent, its read event is only queued.
    std::vector<CClientSocket*> silent;
    for (CClientSocket* pClient : m_clientList) {
        if (silent.size() == nCount || pClient->AcceptedAt() > acceptedBy) {
            break;
        }
        if (!pClient->IsGatheringHead() && pClient->BytesAvailable() == 0) {
            silent.push_back(pClient);
        }
    }
    for (CClientSocket* pClient : silent) {
        RemoveClient(pClient);
    }
    return silent.size();
}

void CServerCore::WakeForHeadAt(CSocketDispatcher::Clock::time_point deadline) {
    if (!m_pHeadTimer) {
        return;  // made at Start, while descriptors remain
    }
    if (m_bHeadTimerSet && m_headTimerDue <= deadline) {
        return;
    }
    m_bHeadTimerSet = true;
    m_headTimerDue = deadline;
    m_pHeadTimer->Start(std::max(1, CSocketDispatcher::MillisecondsUntil(deadline)));
}

void CServerCore::ServeHeadsWhoseTimeIsUp() {
    m_bHeadTimerSet = false;
    const auto now = CSocketDispatcher::Clock::now();
    std::vector<CClientSocket*> due;
    for (CClientSocket* pClient : m_clientList) {
        if (pClient->IsGatheringHead()) {
            if (pClient->HeadDeadline() <= now) {
                due.push_back(pClient);
            } else {
                WakeForHeadAt(pClient->HeadDeadline());
            }
        }
    }
    for (CClientSocket* pClient : due) {
        pClient->HeadTimeIsUp();
        HandleRequest(pClient);
    }
}

bool CServerCore::ReadRequest(CClientSocket* pClient, std::string& strRequest) {
    try {
        return pClient->ReceiveRequest(strRequest, m_waitPolicy.requestHead.nDeadlineMs);
    } catch (const CFileException&) {
        pClient->Abort();
    }
    return true;
}

void CServerCore::SendToClient(CClientSocket* pClient, const char* pData, size_t nCount,
                               bool bPushNow) {
    try {
        pClient->SendData(pData, nCount, bPushNow);
    } catch (const CFileException&) {
        pClient->Abort();
    }
}

void CServerCore::SendFileToClient(CClientSocket* pClient, CFile& file, uint64_t nOffset,
                                   uint64_t nCount) {
    try {
        pClient->SendFileData(file.Handle(), nOffset, nCount);
    } catch (const CFileException&) {
        pClient->Abort();  // the socket or the file failed: the answer ends short
    }
}

void CServerCore::RemoveClient(CClientSocket* pClient) {
    pClient->EndAnswer();
    // Unread request bytes at close make the kernel reset the connection,
    // which can erase the answer from the client's buffer; read them first.
    pClient->DiscardPending();
    pClient->Close();
    auto it = std::find(m_clientList.begin(), m_clientList.end(), pClient);
    if (it != m_clientList.end()) {
        m_clientList.erase(it);
    }
    delete pClient;
}

// ---- Request handling -----------------------------------------------------

void CServerCore::NormaliseRoot() {
    if (m_strRoot.empty()) {
        m_strRoot.assign(1, '.');  // (a char, not a literal: avoids a GCC 12 false warning)
    }
    // One trailing separator per request, as before; "/" itself stays.
    if (m_strRoot.size() > 1 && m_strRoot.back() == '/') {
        m_strRoot.pop_back();
    }
}

void CServerCore::HandleRequest(CClientSocket* pClient) {
    std::string strRequest;
    if (!ReadRequest(pClient, strRequest)) {
        // Nothing, or not all of the head, has arrived yet: its read event
        // comes with the rest, or the head timer serves what it has.
        if (pClient->IsGatheringHead()) {
            WakeForHeadAt(pClient->HeadDeadline());
        }
        return;
    }
    if (strRequest.empty()) {
        RemoveClient(pClient);  // closed (or failed) before sending anything: no answer
        return;
    }
    NormaliseRoot();
    const SParsedRequest request = ParseRequest(strRequest, CClientSocket::kRequestBufferSize);
    if (!request.bExpectsBody && IsRequestHeadComplete(strRequest)) {
        pClient->SetInputComplete();  // so the close need not look for more
    }
    if (!m_pStartBuffer) {
        m_pStartBuffer = std::make_unique<char[]>(kCharsetLookBytes);
    }
    CRootLookup lookup(m_strRoot, m_ownProgramFile, {m_pStartBuffer.get(), kCharsetLookBytes});
    const SServeOptions options{.defaultPage = m_strDefaultURL, .bListFolders = m_bListFolders,
                                 .bPreview = m_bPreview};
    SendAnswer(pClient, PlanAnswer(request, options, lookup), lookup);
    RemoveClient(pClient);
}
