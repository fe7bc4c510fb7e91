// Answers carried on in the background: each connection's transfer takes a
// turn whenever its socket has room, and is judged by what its peer takes.
#include <numeric>
#include <vector>

#include "ClientSocket.h"
#include "ServerCore.h"

void CServerCore::FinishOrCarryOn(CClientSocket* pClient) {
    if (!pClient->IsTransferring()) {
        RemoveClient(pClient);
        return;
    }
    ++m_transfersByAddress[pClient->PeerAddress()];
    pClient->BeginTransfer(m_transferBounds);
}

void CServerCore::ContinueTransfer(CClientSocket* pClient) {
    switch (pClient->StepTransfer(PieceForTurnOf(*pClient))) {
        case CTransfer::EStep::Done:
        case CTransfer::EStep::Failed:
            RemoveClient(pClient);
            break;
        case CTransfer::EStep::Blocked:
        case CTransfer::EStep::More:
            break;  // on at its next write event
    }
}

size_t CServerCore::PieceForTurnOf(const CClientSocket& client) const {
    const auto found = m_transfersByAddress.find(client.PeerAddress());
    const size_t nOfAddress = found == m_transfersByAddress.end() ? 1 : found->second;
    return PieceForTurn(m_transferBounds, nOfAddress);
}

bool CServerCore::HasRoomToHold(size_t nBytes) const {
    const size_t nHeld = std::accumulate(
        m_clientList.begin(), m_clientList.end(), size_t{0},
        [](size_t nSum, const CClientSocket* pClient) { return nSum + pClient->TransferHeldBytes(); });
    return nHeld + nBytes <= m_transferBounds.nHeldBytes;
}

void CServerCore::ForgetTransfer(CClientSocket* pClient) {
    if (!pClient->IsCarriedOn()) {
        return;
    }
    const auto found = m_transfersByAddress.find(pClient->PeerAddress());
    if (found != m_transfersByAddress.end() && --found->second == 0) {
        m_transfersByAddress.erase(found);
    }
}

void CServerCore::CloseStalledTransfers(CSocketDispatcher::Clock::time_point now) {
    std::vector<CClientSocket*> stalled;
    for (CClientSocket* pClient : m_clientList) {
        // A refused upload's discard ends at its deadline, whatever comes.
        if ((pClient->IsCarriedOn() && pClient->TransferStalled(now)) ||
            (pClient->IsDiscarding() && pClient->DiscardArrived(now))) {
            stalled.push_back(pClient);
        }
    }
    for (CClientSocket* pClient : stalled) {
        RemoveClient(pClient);
    }
}
