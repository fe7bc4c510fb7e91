// A byte stream over a CSocket. Read is exactly one Receive (it never waits to
// fill the buffer), Write is one Send; a failure of either throws
// CFileException. Deleting the stream leaves the socket open.
#pragma once

#include <cstddef>

class CSocket;

class CSocketFile {
public:
    CSocketFile(CSocket* pSocket, int bArchiveCompatible = 1);

    size_t Read(void* pBuffer, size_t nCount);
    // nFlags: for the send (MSG_MORE).
    void Write(const void* pBuffer, size_t nCount, int nFlags = 0);
    // nCount bytes of an open file from nOffset; returns the count sent, fewer
    // when the file ended early.
    unsigned long long WriteFile(int hFile, unsigned long long nOffset, unsigned long long nCount);

private:
    CSocket* m_pSocket;
};
