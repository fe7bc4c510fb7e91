#include "ClientSocket.h"

#include <sys/socket.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "FileException.h"
#include "ServerCore.h"
#include "Upload.h"

CClientSocket::CClientSocket(CServerCore* pDlg)
    : m_pDlg(pDlg), m_acceptedAt(CSocketDispatcher::Clock::now()) {}

CClientSocket::~CClientSocket() {
    m_pUpload.reset();  // a file not whole yet goes with it
    m_pFile.reset();
    Close();
}

void CClientSocket::Init() {
    m_pFile = std::make_unique<CSocketFile>(this, 1);
}

bool CClientSocket::ReceiveRequest(std::string& strRequest, int nHeadDeadlineMs,
                                   bool (*isComplete)(std::string_view head)) {
    // Reads take what has arrived and never wait: a head that comes in pieces
    // is gathered here between read events, so however many peers send
    // unfinished heads, the thread waits on none of them.
    const size_t nHad = m_strHead.size();
    char buffer[kRequestBufferSize];
    const int nRead = CAsyncSocket::Receive(buffer, static_cast<int>(sizeof buffer - nHad));
    if (nRead < 0 && GetLastError() != EWOULDBLOCK) {
        throw CFileException(CFileException::generic, GetLastError(), "receive");
    }
    if (nRead > 0) {
        m_strHead.append(buffer, static_cast<size_t>(nRead));
    }
    const bool bPeerClosed = nRead == 0;
    if (m_strHead.empty() && !bPeerClosed) {
        return false;  // nothing yet; the read event comes with the bytes
    }
    // Served once whole, or when the buffer is full, the peer has closed or
    // its time is up: then what arrived is the request.
    if (!bPeerClosed && !m_bHeadTimeUp && m_strHead.size() < sizeof buffer &&
        !isComplete(m_strHead)) {
        if (nHad == 0) {
            m_headDeadline =
                CSocketDispatcher::Clock::now() + std::chrono::milliseconds(nHeadDeadlineMs);
        }
        return false;
    }
    strRequest = std::move(m_strHead);
    m_strHead.clear();
    return true;
}

void CClientSocket::SendData(const char* pData, size_t nCount, bool bPushNow) {
    if (m_pFile && m_nFirstPiece > 0) {
        SendOrKeep(pData, nCount, bPushNow);
    } else if (m_pFile) {
        m_pFile->Write(pData, nCount, bPushNow ? 0 : MSG_MORE);
        m_bAnswerWaiting = !bPushNow;
    }
}

unsigned long long CClientSocket::SendFileData(int hFile, unsigned long long nOffset,
                                               unsigned long long nCount) {
    if (!m_pFile) {
        return 0;
    }
    if (m_nFirstPiece > 0) {
        return SendFileOrKeep(hFile, nOffset, nCount);
    }
    const unsigned long long nSent = m_pFile->WriteFile(hFile, nOffset, nCount);
    if (nSent > 0) {
        m_bAnswerWaiting = false;  // sendfile pushes out its end and what waited before it
    }
    return nSent;
}

void CClientSocket::Abort() {
    m_pFile.reset();
    m_pTransfer.reset();
}

CTransfer& CClientSocket::Kept() {
    if (!m_pTransfer) {
        m_pTransfer = std::make_unique<CTransfer>();
    }
    return *m_pTransfer;
}

void CClientSocket::SendOrKeep(const char* pData, size_t nCount, bool bPushNow) {
    if (nCount == 0) {
        return;
    }
    if (m_pTransfer) {
        m_pTransfer->AddBytes({pData, nCount});  // behind what is kept already
        return;
    }
    // The first turn, too, hands over at most one piece.
    const size_t nTry = std::min(nCount, m_nFirstPiece);
    const int nSent = CAsyncSocket::Send(pData, static_cast<int>(nTry), bPushNow ? 0 : MSG_MORE);
    if (nSent < 0 && GetLastError() != EWOULDBLOCK) {
        throw CFileException(CFileException::generic, GetLastError(), "send");
    }
    const size_t nTaken = nSent < 0 ? 0 : static_cast<size_t>(nSent);
    m_nSentAtOnce += static_cast<long long>(nTaken);
    m_bAnswerWaiting = !bPushNow;
    if (nTaken < nCount) {
        Kept().AddBytes({pData + nTaken, nCount - nTaken});
    }
}

unsigned long long CClientSocket::SendFileOrKeep(int hFile, unsigned long long nOffset,
                                                 unsigned long long nCount) {
    // The transfer keeps a descriptor of its own: the lookup's closes with the request.
    const int hKept = ::dup(hFile);
    if (hKept < 0) {
        throw CFileException(CFileException::generic, errno, "dup");
    }
    if (m_pTransfer) {
        m_pTransfer->AddFile(hKept, nOffset, nCount);  // behind what is kept already
        return nCount;
    }
    // The first turn goes now, one piece like every other; what is left is kept.
    auto pTransfer = std::make_unique<CTransfer>();
    pTransfer->AddFile(hKept, nOffset, nCount);
    const CTransfer::EStep step = pTransfer->Step(m_hSocket, m_nFirstPiece);
    if (step == CTransfer::EStep::Failed) {
        // The file ended early, or the socket failed: the answer ends short.
        m_nSentAtOnce += pTransfer->Handed();
        return static_cast<unsigned long long>(pTransfer->Handed());
    }
    m_bAnswerWaiting = false;  // sendfile pushes out its end and what waited before it
    if (step == CTransfer::EStep::Done) {
        m_nSentAtOnce += pTransfer->Handed();
        return nCount;
    }
    m_pTransfer = std::move(pTransfer);  // its first turn counts in its own Handed
    return nCount;
}

void CClientSocket::BeginTransfer(const STransferBounds& bounds) {
    m_pJudge = std::make_unique<CTransferJudge>(bounds, CSocketDispatcher::Clock::now(), 0);
    CSocketDispatcher::Get().Arm(*this, kEventWrite);
}

CTransfer::EStep CClientSocket::StepTransfer(size_t nPiece) {
    const CTransfer::EStep step = m_pTransfer->Step(m_hSocket, nPiece);
    if (step == CTransfer::EStep::Blocked || step == CTransfer::EStep::More) {
        // Level-triggered: room left after a spent piece is reported at the
        // next pass, behind every other connection's events.
        CSocketDispatcher::Get().Arm(*this, kEventWrite);
    }
    return step;
}

void CClientSocket::BeginUpload(std::unique_ptr<SUpload> pUpload, const STransferBounds& bounds) {
    m_pUpload = std::move(pUpload);
    m_pJudge = std::make_unique<CTransferJudge>(bounds, CSocketDispatcher::Clock::now(),
                                                m_pUpload->pReceiver->Received());
    CSocketDispatcher::Get().Arm(*this, kEventRead);
}

std::unique_ptr<SUpload> CClientSocket::EndUpload() {
    return std::move(m_pUpload);
}

void CClientSocket::BeginDiscard(long long nBytes, CSocketDispatcher::Clock::time_point until) {
    m_nDiscardLeft = nBytes;
    m_discardUntil = until;
    CSocketDispatcher::Get().Arm(*this, kEventRead);
}

bool CClientSocket::DiscardArrived(CSocketDispatcher::Clock::time_point now) {
    char buffer[16 * 1024];
    while (m_nDiscardLeft > 0 && now < m_discardUntil) {
        const int nRead = ReceiveArrived(buffer, sizeof buffer);
        if (nRead < 0 && GetLastError() == EWOULDBLOCK) {
            return false;  // on at the next read event
        }
        if (nRead <= 0) {
            break;  // the client has sent all it will
        }
        m_nDiscardLeft -= nRead;
    }
    m_nDiscardLeft = 0;
    return true;
}

bool CClientSocket::TransferStalled(CSocketDispatcher::Clock::time_point now) {
    if (m_pUpload && m_pJudge) {
        const auto nReceived = static_cast<long long>(m_pUpload->pReceiver->Received());
        return !m_pJudge->Progressing(now, nReceived);
    }
    if (!m_pTransfer || !m_pJudge) {
        return false;
    }
    // What the peer took is what left the send queue, acknowledged by its kernel.
    const int nQueued = QueuedToSend();
    const long long nTaken = m_nSentAtOnce + m_pTransfer->Handed() - std::max(nQueued, 0);
    return !m_pJudge->Progressing(now, nTaken);
}

void CClientSocket::EndAnswer() {
    // Left to the close, the waiting bytes would be thrown away if unread
    // input arrived meanwhile: the kernel resets instead of sending them.
    if (m_bAnswerWaiting) {
        m_bAnswerWaiting = false;
        ShutDown(1);
    }
}

void CClientSocket::OnReceive(int nErrorCode) {
    CSocket::OnReceive(nErrorCode);
    if (ServeUploadEvent()) {
        return;
    }
    if (m_pTransfer) {
        return;  // one request per connection: what comes after it is not read
    }
    m_pDlg->HandleRequest(this);  // deletes this client, unless nothing had arrived
}

void CClientSocket::OnClose(int nErrorCode) {
    CSocket::OnClose(nErrorCode);
    if (ServeUploadEvent()) {
        return;  // what is left is read, then the end of it
    }
    if (m_pTransfer) {
        return;  // a half-closing peer still reads; one that has gone fails the next send
    }
    if (IsGatheringHead()) {
        m_pDlg->HandleRequest(this);  // a half-closing peer still reads the answer
        return;
    }
    // Closed before sending anything (a browser's unused spare connection):
    // kept listed, such clients would pile up until descriptors run out.
    m_pDlg->RemoveClient(this);
}

bool CClientSocket::ServeUploadEvent() {
    if (m_pUpload) {
        m_pDlg->ContinueUpload(this);  // deletes this client once the upload is answered
        return true;
    }
    if (IsDiscarding()) {
        if (DiscardArrived(CSocketDispatcher::Clock::now())) {
            m_pDlg->RemoveClient(this);
        }
        return true;
    }
    return false;
}

void CClientSocket::OnSend(int nErrorCode) {
    CSocket::OnSend(nErrorCode);
    if (m_pTransfer) {
        m_pDlg->ContinueTransfer(this);  // deletes this client once the transfer ends
    }
}
