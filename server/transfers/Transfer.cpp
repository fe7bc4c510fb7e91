#include "Transfer.h"

#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

CTransfer::~CTransfer() {
    if (m_hFile >= 0) {
        ::close(m_hFile);
    }
}

void CTransfer::AddBytes(std::string_view bytes) {
    m_strBytes.append(bytes);
}

void CTransfer::AddFile(int hFile, uint64_t nOffset, uint64_t nCount) {
    if (m_hFile >= 0) {
        ::close(m_hFile);  // one file per answer
    }
    m_hFile = hFile;
    m_nFileAt = nOffset;
    m_nFileLeft = nCount;
}

CTransfer::EStep CTransfer::Step(int hSocket, size_t nPiece) {
    EStep step = StepBytes(hSocket, nPiece);
    if (step == EStep::Done && m_nFileLeft > 0) {
        step = StepFile(hSocket, nPiece);
    }
    if (step == EStep::Done) {
        // Held bytes go as soon as they are sent: a large page is not kept
        // while the rest of its answer drains.
        std::string().swap(m_strBytes);
        m_nBytesAt = 0;
    }
    return step;
}

CTransfer::EStep CTransfer::StepBytes(int hSocket, size_t& nPiece) {
    while (m_nBytesAt < m_strBytes.size()) {
        if (nPiece == 0) {
            return EStep::More;
        }
        const size_t nCount = std::min(nPiece, m_strBytes.size() - m_nBytesAt);
        const ssize_t nSent =
            ::send(hSocket, m_strBytes.data() + m_nBytesAt, nCount, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (nSent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN ? EStep::Blocked : EStep::Failed;
        }
        m_nBytesAt += static_cast<size_t>(nSent);
        m_nHanded += nSent;
        nPiece -= static_cast<size_t>(nSent);
    }
    return EStep::Done;
}

CTransfer::EStep CTransfer::StepFile(int hSocket, size_t& nPiece) {
    while (m_nFileLeft > 0) {
        if (nPiece == 0) {
            return EStep::More;
        }
        off_t nAt = static_cast<off_t>(m_nFileAt);
        const size_t nCount = static_cast<size_t>(std::min<uint64_t>(nPiece, m_nFileLeft));
        const ssize_t nSent = ::sendfile(hSocket, m_hFile, &nAt, nCount);
        if (nSent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN ? EStep::Blocked : EStep::Failed;
        }
        if (nSent == 0) {
            return EStep::Failed;  // the file is shorter than it was: the answer ends short
        }
        m_nFileAt += static_cast<uint64_t>(nSent);
        m_nFileLeft -= static_cast<uint64_t>(nSent);
        m_nHanded += nSent;
        nPiece -= static_cast<size_t>(nSent);
    }
    return EStep::Done;
}
