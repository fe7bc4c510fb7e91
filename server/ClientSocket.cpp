#include "ClientSocket.h"

#include <sys/socket.h>

#include <cerrno>

#include "FileException.h"
#include "RequestLine.h"
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

bool CClientSocket::ReceiveRequest(std::string& strRequest, const SWaitBounds& headBounds) {
    char buffer[kRequestBufferSize];
    // The first read takes what has arrived without waiting: nothing yet is no
    // reason to hold the thread, the read event will come with the bytes.
    const int nFirst = CAsyncSocket::Receive(buffer, sizeof buffer);
    if (nFirst < 0) {
        if (GetLastError() == EWOULDBLOCK) {
            return false;
        }
        throw CFileException(CFileException::generic, GetLastError(), "receive");
    }
    size_t nHave = static_cast<size_t>(nFirst);

    // The first read holds what had arrived; a head split over several packets
    // is waited for, briefly, so a slow client is served and a silent one is not.
    SetWaitBounds(headBounds);
    while (nHave > 0 && nHave < sizeof buffer &&
           !IsRequestHeadComplete(std::string_view(buffer, nHave))) {
        size_t nRead = 0;
        try {
            nRead = m_pFile->Read(buffer + nHave, sizeof buffer - nHave);
        } catch (const CFileException&) {
            if (LastWaitEnd() == EWaitEnd::TimedOut) {
                break;  // time is up: what arrived is the request
            }
            // The peer has used its share, or the program ends: a part of a
            // head gets no answer at all, since a bare page reads as a success.
            throw;
        }
        if (nRead == 0) {
            break;  // the peer closed: what arrived is the request
        }
        nHave += nRead;
    }
    strRequest.assign(buffer, nHave);
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
    // Closed before sending anything (a browser's unused spare connection):
    // kept listed, such clients would pile up until descriptors run out.
    m_pDlg->RemoveClient(this);
}
