// The sender: carries out an answer's plan on a client's connection. It
// decides nothing of what is sent, only how the bytes leave: a small body in
// one send with its head, a larger file body with sendfile.
#include <cstring>
#include <ctime>

#include "AnswerPlan.h"
#include "ClientSocket.h"
#include "ErrorPage.h"
#include "FileException.h"
#include "ServerCore.h"

namespace {
// Bodies up to this size leave in the same send as their head.
constexpr uint64_t kBodyWithHeadBytes = 16 * 1024;

// Empty for the bare body of a request without a version word.
std::string HeadOf(const SAnswerPlan& plan) {
    return plan.bStatusLine ? BuildResponseHead(plan.head, ::time(nullptr)) : std::string();
}
}  // namespace

void CServerCore::SendAnswer(CClientSocket* pClient, const SAnswerPlan& plan, CRootLookup& lookup) {
    if (plan.body != EBody::File) {
        SendPlannedBytes(pClient, plan);
        return;
    }
    pClient->SetWaitBounds(SendBounds(plan.phase));
    SendFileBody(pClient, HeadOf(plan), plan, lookup);
}

void CServerCore::SendPlannedBytes(CClientSocket* pClient, const SAnswerPlan& plan) {
    pClient->SetWaitBounds(SendBounds(plan.phase));
    const std::string strHead = HeadOf(plan);
    switch (plan.body) {
        case EBody::None:
        case EBody::File:  // not in memory: SendAnswer sends it
            SendBytes(pClient, strHead, {});
            break;
        case EBody::ErrorPage:
            SendBytes(pClient, strHead, kErrorPage);
            break;
        case EBody::Memory:
            SendBytes(pClient, strHead, plan.strBody);
            break;
    }
}

void CServerCore::SendBytes(CClientSocket* pClient, std::string_view head, std::string_view body) {
    // Left waiting in the socket, the head and body leave with the FIN at the
    // close, in one packet when they fit.
    if (!head.empty() && !body.empty() && body.size() <= kBodyWithHeadBytes) {
        std::string& strAnswer = SendBuffer();
        strAnswer.assign(head);
        strAnswer += body;
        SendToClient(pClient, strAnswer.data(), strAnswer.size());
        return;
    }
    SendToClient(pClient, head.data(), head.size());
    SendToClient(pClient, body.data(), body.size());
}

void CServerCore::SendFileBody(CClientSocket* pClient, const std::string& strHead,
                               const SAnswerPlan& plan, CRootLookup& lookup) {
    CFile& file = lookup.OpenFile();
    const std::string_view fileStart = lookup.FileStart();
    // Exactly Content-Length bytes, or fewer and the close: a file that shrinks
    // or fails while it is sent is not padded or patched.
    if (plan.nCount <= kBodyWithHeadBytes) {
        // sendfile pushes its last bytes out, and the FIN would then follow in
        // a packet of its own: a small body read in behind its head leaves in
        // one send, which the close pushes out with the FIN.
        std::string& strAnswer = SendBuffer();
        strAnswer.assign(strHead);
        const size_t nCount = static_cast<size_t>(plan.nCount);
        if (plan.nFirst + nCount <= fileStart.size()) {
            strAnswer.append(fileStart.substr(static_cast<size_t>(plan.nFirst), nCount));
        } else {
            strAnswer.resize(strHead.size() + nCount);
            try {
                strAnswer.resize(strHead.size() +
                                 file.Read(strAnswer.data() + strHead.size(), nCount, plan.nFirst));
            } catch (const CFileException&) {
                // Nothing of the answer has gone yet: the error page instead.
                SendAnswer(pClient,
                           PlanErrorPage({.bVersioned = true, .bHttp11 = plan.head.bHttp11}),
                           lookup);
                return;
            }
        }
        SendToClient(pClient, strAnswer.data(), strAnswer.size());
        return;
    }
    try {
        // A larger body goes from the page cache with sendfile, never through
        // a buffer here. Its head leaves at once: the client reads it while
        // the body is on its way.
        SendToClient(pClient, strHead.data(), strHead.size(), true);
        SendFileToClient(pClient, file, plan.nFirst, plan.nCount);
        file.Close();
    } catch (const CFileException&) {
        // The head promised more bytes than will come; closing tells the client.
    }
}

const SWaitBounds& CServerCore::SendBounds(ESendPhase phase) const {
    switch (phase) {
        case ESendPhase::Range:
            return m_waitPolicy.range;
        case ESendPhase::Memory:
            return m_waitPolicy.memoryBody;
        case ESendPhase::WholeFile:
            break;
    }
    return m_waitPolicy.wholeFile;
}

std::string& CServerCore::SendBuffer() {
    m_strSendBuffer.clear();
    return m_strSendBuffer;
}
