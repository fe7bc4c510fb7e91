// Files visitors add: the upload is judged by its head before a byte of its
// body is read, then its body goes to disk as it arrives, here (holding the
// thread under the bounds of a download) or, with several visitors at once, a
// piece per read event.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <numeric>

#include "ClientSocket.h"
#include "ServerCore.h"
#include "Upload.h"
#include "UploadRoom.h"

namespace {
constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
}  // namespace

void CServerCore::HandleUpload(CClientSocket* pClient, const SParsedRequest& request,
                               std::string_view received) {
    pClient->SendInBackground(m_bConcurrent ? m_transferBounds.nPieceBytes : 0);
    auto pUpload = std::make_unique<SUpload>(SUpload{.request = request});
    {
        CRootLookup lookup(m_strRoot, m_ownProgramFile, {});
        pUpload->plan = PlanUpload(request, ServeOptions(), lookup);
    }
    SUploadPlan& plan = pUpload->plan;
    std::optional<SAnswerPlan> refusal = std::move(plan.refusal);
    // Served unfinished (its time was up, or it filled the buffer), the head
    // has no known end: no byte after it can be taken for the body.
    const size_t nHead = RequestHeadLength(received);
    if (!refusal && nHead == 0) {
        refusal = PlanUploadRefusal(request, EUploadRefusal::HeadNotWhole);
    }
    const std::string_view bodyStart = received.substr(nHead);
    if (!refusal) {
        pUpload->pReceiver = OpenUpload(request, plan, refusal);
    }
    if (refusal) {
        SendPlannedBytes(pClient, *refusal);
        DiscardRefusedBody(pClient);
        return;
    }
    if (plan.bContinue) {
        SendToClient(pClient, kContinue.data(), kContinue.size(), true);
    }
    pUpload->pReceiver->Take(bodyStart);
    if (m_bConcurrent && pUpload->pReceiver->Remaining() > 0) {
        ++m_transfersByAddress[pClient->PeerAddress()];
        pClient->BeginUpload(std::move(pUpload), UploadBounds());
        return;
    }
    if (!ReceiveUploadHere(pClient, *pUpload)) {
        RemoveClient(pClient);  // cut short: nothing of it stays
        return;
    }
    AnswerUpload(pClient, *pUpload);
}

std::unique_ptr<CUploadReceiver> CServerCore::OpenUpload(const SParsedRequest& request,
                                                         const SUploadPlan& plan,
                                                         std::optional<SAnswerPlan>& refusal) {
    const int hFolder = ::open(plan.strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (hFolder < 0 || ::faccessat(hFolder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        if (hFolder >= 0) {
            ::close(hFolder);
        }
        refusal = PlanUploadRefusal(request, EUploadRefusal::NotHere);
        return nullptr;
    }
    SDiskSpace space;
    const ERoom room = DiskSpaceOf(hFolder, space)
                           ? JudgeRoom(space, ExpectedByUploads(), plan.nLength)
                           : ERoom::Fits;
    struct stat status {};
    if (room != ERoom::Fits) {
        refusal = PlanUploadRefusal(
            request, room == ERoom::TooLarge ? EUploadRefusal::TooLarge : EUploadRefusal::NoRoom);
    } else if (!plan.bForm && ::fstatat(hFolder, plan.strName.c_str(), &status,
                                        AT_SYMLINK_NOFOLLOW) == 0) {
        refusal = PlanUploadRefusal(request, EUploadRefusal::Exists);
    }
    if (refusal) {
        ::close(hFolder);
        return nullptr;
    }
    auto stored = [this](const std::string&) {
        ++m_nFilesAdded;
        OnFileAdded();
    };
    std::unique_ptr<CUploadReceiver> pReceiver =
        plan.bForm ? CUploadReceiver::ForForm(hFolder, plan.strBoundary, plan.nLength, stored)
                   : CUploadReceiver::ForFile(hFolder, plan.strName, plan.nLength, stored);
    if (!pReceiver->Begin()) {
        refusal = PlanUploadRefusal(request, IsRefusedByFolder(errno) ? EUploadRefusal::NotHere
                                                                     : EUploadRefusal::NoRoom);
        return nullptr;
    }
    return pReceiver;
}

bool CServerCore::ReceiveUploadHere(CClientSocket* pClient, SUpload& upload) {
    CUploadReceiver& receiver = *upload.pReceiver;
    pClient->SetWaitBounds(m_waitPolicy.uploadBody);
    // The rate a download must keep, judged over the same periods.
    CTransferJudge judge(UploadBounds(), CSocketDispatcher::Clock::now(),
                         static_cast<long long>(receiver.Received()));
    char* pBuffer = UploadBuffer();
    while (receiver.Remaining() > 0 && !receiver.Ended()) {
        const auto nWant = static_cast<int>(
            std::min<uint64_t>(receiver.Remaining(), m_transferBounds.nPieceBytes));
        const int nRead = pClient->Receive(pBuffer, nWant);
        if (nRead <= 0) {
            return false;  // the client left, failed, or stalled past the bounds
        }
        receiver.Take({pBuffer, static_cast<size_t>(nRead)});
        if (!judge.Progressing(CSocketDispatcher::Clock::now(),
                               static_cast<long long>(receiver.Received()))) {
            return false;
        }
    }
    return true;
}

void CServerCore::ContinueUpload(CClientSocket* pClient) {
    CUploadReceiver& receiver = *pClient->Upload()->pReceiver;
    const auto nWant =
        static_cast<int>(std::min<uint64_t>(receiver.Remaining(), PieceForTurnOf(*pClient)));
    const int nRead = pClient->ReceiveArrived(UploadBuffer(), nWant);
    if (nRead < 0 && CAsyncSocket::GetLastError() == EWOULDBLOCK) {
        return;  // on at the next read event
    }
    if (nRead <= 0) {
        RemoveClient(pClient);  // cut short: nothing of it stays
        return;
    }
    receiver.Take({UploadBuffer(), static_cast<size_t>(nRead)});
    if (receiver.Remaining() > 0 && !receiver.Ended()) {
        // Level-triggered: bytes left are reported at the next pass, behind
        // every other connection's events.
        CSocketDispatcher::Get().Arm(*pClient, kEventRead);
        return;
    }
    std::unique_ptr<SUpload> pUpload = pClient->EndUpload();
    AnswerUpload(pClient, *pUpload);
}

void CServerCore::AnswerUpload(CClientSocket* pClient, SUpload& upload) {
    CUploadReceiver& receiver = *upload.pReceiver;
    const bool bBodyLeft = receiver.Remaining() > 0;  // it ended early
    const SUploadOutcome& outcome = receiver.Ended() ? receiver.Outcome() : receiver.Finish();
    SendPlannedBytes(pClient, PlanUploadAnswer(upload.request, upload.plan, outcome));
    if (bBodyLeft) {
        DiscardRefusedBody(pClient);
    } else if (pClient->IsCarriedOn() && pClient->IsTransferring()) {
        pClient->BeginTransfer(m_transferBounds);  // already counted as its address's
    } else {
        FinishOrCarryOn(pClient);
    }
}

void CServerCore::DiscardRefusedBody(CClientSocket* pClient) {
    pClient->EndAnswer();  // the answer leaves now, with the FIN
    const long long nBytes = m_waitPolicy.nRefusedBodyBytes;
    if (m_bConcurrent) {
        pClient->BeginDiscard(nBytes, CSocketDispatcher::Clock::now() +
                                          std::chrono::milliseconds(
                                              m_waitPolicy.refusedBody.nDeadlineMs));
        if (pClient->DiscardArrived(CSocketDispatcher::Clock::now())) {
            RemoveClient(pClient);
        }
        return;
    }
    pClient->SetWaitBounds(m_waitPolicy.refusedBody);
    char* pBuffer = UploadBuffer();
    for (long long nLeft = nBytes; nLeft > 0;) {
        const int nRead = pClient->Receive(
            pBuffer, static_cast<int>(std::min<long long>(nLeft, m_transferBounds.nPieceBytes)));
        if (nRead <= 0) {
            break;
        }
        nLeft -= nRead;
    }
    RemoveClient(pClient);
}

uint64_t CServerCore::ExpectedByUploads() const {
    return std::accumulate(m_clientList.begin(), m_clientList.end(), uint64_t{0},
                           [](uint64_t nSum, const CClientSocket* pClient) {
                               const SUpload* pUpload = pClient->Upload();
                               return nSum + (pUpload ? pUpload->pReceiver->Remaining() : 0);
                           });
}

STransferBounds CServerCore::UploadBounds() const {
    STransferBounds bounds = m_transferBounds;
    bounds.nStallMs = m_waitPolicy.uploadBody.nStallMs;
    bounds.nMinimumRate = m_waitPolicy.uploadBody.nMinimumRate;
    return bounds;
}

char* CServerCore::UploadBuffer() {
    if (!m_pUploadBuffer) {
        m_pUploadBuffer = std::make_unique<char[]>(m_transferBounds.nPieceBytes);
    }
    return m_pUploadBuffer.get();
}
