#include "SocketFile.h"

#include <algorithm>
#include <climits>

#include "Socket.h"
#include "FileException.h"

CSocketFile::CSocketFile(CSocket* pSocket, int /*bArchiveCompatible*/) : m_pSocket(pSocket) {}

size_t CSocketFile::Read(void* pBuffer, size_t nCount) {
    int nReceived =
        m_pSocket->Receive(pBuffer, static_cast<int>(std::min<size_t>(nCount, INT_MAX)));
    if (nReceived < 0) {
        throw CFileException(CFileException::generic, CAsyncSocket::GetLastError(), "receive");
    }
    return static_cast<size_t>(nReceived);
}

unsigned long long CSocketFile::WriteFile(int hFile, unsigned long long nOffset,
                                          unsigned long long nCount) {
    long long nSent =
        m_pSocket->SendFile(hFile, static_cast<long long>(nOffset), static_cast<long long>(nCount));
    if (nSent < 0) {
        throw CFileException(CFileException::generic, CAsyncSocket::GetLastError(), "sendfile");
    }
    return static_cast<unsigned long long>(nSent);
}

void CSocketFile::Write(const void* pBuffer, size_t nCount, int nFlags) {
    if (nCount == 0) {
        return;
    }
    if (m_pSocket->Send(pBuffer, static_cast<int>(std::min<size_t>(nCount, INT_MAX)), nFlags) < 0) {
        throw CFileException(CFileException::generic, CAsyncSocket::GetLastError(), "send");
    }
}
