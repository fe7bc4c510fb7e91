#include "ServerCore.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "ClientSocket.h"
#include "ListeningSocket.h"

namespace {
constexpr int kIdleSweepMs = 1000;
// Closed at once when descriptors run out: room for the connection waiting to
// be accepted, the file it asks for, and a folder it may list.
constexpr size_t kDescriptorsToFree = 8;

bool IsOutOfDescriptors(int nError) {
    return nError == EMFILE || nError == ENFILE;
}

}  // namespace

void CServerCore::StartClientTimers() {
    if (!m_pIdleSweep) {
        m_pIdleSweep = std::make_unique<CDispatchTimer>([this] { CloseIdleClients(); });
    }
    m_pIdleSweep->Start(kIdleSweepMs, kIdleSweepMs);
    // Made now, not when the first unfinished head comes: descriptors may have
    // run out by then.
    if (!m_pHeadTimer) {
        m_pHeadTimer = std::make_unique<CDispatchTimer>([this] { ServeHeadsWhoseTimeIsUp(); });
    }
}

void CServerCore::StopClientTimers() {
    if (m_pIdleSweep) {
        m_pIdleSweep->Stop();
    }
    if (m_pHeadTimer) {
        m_pHeadTimer->Stop();
    }
    m_bHeadTimerSet = false;
}

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
    CloseStalledTransfers(now);
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
        // A transfer is judged by its progress alone (CloseStalledTransfers).
        if (!pClient->IsGatheringHead() && !pClient->IsCarriedOn() &&
            pClient->BytesAvailable() == 0) {
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

void CServerCore::RemoveClient(CClientSocket* pClient) {
    ForgetTransfer(pClient);
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

