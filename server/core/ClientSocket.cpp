#include "ClientSocket.h"

#include <sys/socket.h>

#include <cerrno>

#include "FileException.h"
#include "ServerCore.h"

CClientSocket::CClientSocket(CServerCore* pDlg)
    : m_pDlg(pDlg), m_acceptedAt(CSocketDispatcher::Clock::now()) {}

CClientSocket::~CClientSocket() {
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
    if (m_pFile) {
        m_pFile->Write(pData, nCount, bPushNow ? 0 : MSG_MORE);
        m_bAnswerWaiting = !bPushNow;
    }
}

unsigned long long CClientSocket::SendFileData(int hFile, unsigned long long nOffset,
                                               unsigned long long nCount) {
    if (!m_pFile) {
        return 0;
    }
    const unsigned long long nSent = m_pFile->WriteFile(hFile, nOffset, nCount);
    if (nSent > 0) {
        m_bAnswerWaiting = false;  // sendfile pushes out its end and what waited before it
    }
    return nSent;
}

void CClientSocket::Abort() {
    m_pFile.reset();
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
    m_pDlg->HandleRequest(this);  // deletes this client, unless nothing had arrived
}

void CClientSocket::OnClose(int nErrorCode) {
    CSocket::OnClose(nErrorCode);
    if (IsGatheringHead()) {
        m_pDlg->HandleRequest(this);  // a half-closing peer still reads the answer
        return;
    }
    // Closed before sending anything (a browser's unused spare connection):
    // kept listed, such clients would pile up until descriptors run out.
    m_pDlg->RemoveClient(this);
}
