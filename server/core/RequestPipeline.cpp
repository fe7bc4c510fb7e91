#include "ServerCore.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "AnswerPlan.h"
#include "ContentType.h"
#include "ClientSocket.h"
#include "FileException.h"
#include "PrivateLink.h"
#include "RequestLine.h"
#include "RootLookup.h"
#include "UploadPlan.h"

namespace {
// How much of a plain-text file decides its charset label.
constexpr size_t kCharsetLookBytes = 64 * 1024;
// An answer built in memory this large (the listing of some 30,000 entries)
// gives back the memory it freed once it is sent. Smaller ones leave theirs
// for the next answer, which would otherwise fault it in again.
constexpr uint64_t kGiveBackAfterBytes = 4 * 1024 * 1024;

// glibc keeps freed heap for later allocations and hands little of it back by
// itself: one large listing would leave the process that large for good.
void GiveBackFreedMemory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

// One socket call of a connection; when the socket (or the file it sends)
// fails, the connection's stream is dropped and only its close follows.
template <typename Call>
void AbortOnFailure(CClientSocket& client, Call call) {
    try {
        call();
    } catch (const CFileException&) {
        client.Abort();
    }
}
}  // namespace

bool CServerCore::ReadRequest(CClientSocket* pClient, std::string& strRequest) {
    bool bRead = true;  // a failed read is an empty request: the close follows
    AbortOnFailure(*pClient, [&] {
        bRead = pClient->ReceiveRequest(strRequest, m_waitPolicy.requestHead.nDeadlineMs,
                                        IsRequestHeadComplete);
    });
    // A line cut off without its version word gets no answer at all.
    if (bRead && pClient->HeadTimeWasUp() && IsBareLineFragment(strRequest)) {
        strRequest.clear();
    }
    return bRead;
}

void CServerCore::SendToClient(CClientSocket* pClient, const char* pData, size_t nCount,
                               bool bPushNow) {
    AbortOnFailure(*pClient, [&] { pClient->SendData(pData, nCount, bPushNow); });
}

void CServerCore::SendFileToClient(CClientSocket* pClient, CFile& file, uint64_t nOffset,
                                   uint64_t nCount) {
    // The socket or the file failing ends the answer short.
    AbortOnFailure(*pClient, [&] { pClient->SendFileData(file.Handle(), nOffset, nCount); });
}

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
    if (IsUploadRequest(request, ServeOptions())) {
        HandleUpload(pClient, request, strRequest);
        return;
    }
    if (!request.bExpectsBody && IsRequestHeadComplete(strRequest)) {
        pClient->SetInputComplete();  // so the close need not look for more
    }
    if (!m_pStartBuffer) {
        m_pStartBuffer = std::make_unique<char[]>(kCharsetLookBytes);
    }
    bool bLargeInMemory = false;
    {
        CRootLookup lookup(m_strRoot, m_ownProgramFile, {m_pStartBuffer.get(), kCharsetLookBytes},
                           IsLabelledByItsBytes);
        pClient->SendInBackground(m_bConcurrent ? m_transferBounds.nPieceBytes : 0);
        SAnswerPlan plan = PlanAnswer(request, ServeOptions(), lookup);
        if (m_bConcurrent && plan.body == EBody::Memory && !HasRoomToHold(plan.strBody.size())) {
            plan = PlanBusy(request);
        }
        SendAnswer(pClient, plan, lookup);
        bLargeInMemory = plan.phase == ESendPhase::Memory &&
                         plan.head.nContentLength.value_or(0) >= kGiveBackAfterBytes;
    }  // the plan's body and the lookup go here
    // A transfer carried on keeps what is left of its body until it is sent.
    const bool bCarriedOn = pClient->IsTransferring();
    FinishOrCarryOn(pClient);
    if (bLargeInMemory && !bCarriedOn) {
        GiveBackFreedMemory();
    }
}

SServeOptions CServerCore::ServeOptions() const {
    return {.defaultPage = m_strDefaultURL,
            .bListFolders = m_bListFolders,
            .bPreview = m_bPreview,
            .bPrivate = m_bPrivate,
            .privateKey = m_strPrivateKey,
            .bUpload = m_bUpload};
}

std::string CServerCore::SharedPath() {
    if (!m_bPrivate) {
        return "/";
    }
    if (!IsPrivateKey(m_strPrivateKey)) {
        NewPrivateLink();
    }
    return "/" + m_strPrivateKey + "/";
}

void CServerCore::NewPrivateLink() {
    m_strPrivateKey = NewPrivateKey();
}

bool CServerCore::BareAddressServesPage() const {
    // The bare address's answer as the server plans it, so each way to a front page counts:
    // the default page, and with the preview a folder's index.html. A listing is no page.
    const std::string strRoot = RootFolder();
    CRootLookup lookup(strRoot, m_ownProgramFile, {});
    SServeOptions options = ServeOptions();
    options.bListFolders = false;
    options.bPrivate = false;  // inside the secret, the same answer as the bare address
    const SAnswerPlan plan = PlanAnswer(
        ParseRequest("GET / HTTP/1.0\r\n\r\n", CClientSocket::kRequestBufferSize), options, lookup);
    return plan.head.nStatus == 200;
}
