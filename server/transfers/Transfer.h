// The rest of one answer that its socket did not take at once: bytes held in
// memory (the rest of a head, a page), then a range of an open file. The
// event loop hands it to the socket a piece at a time, as the socket has room;
// nothing here waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CTransfer {
public:
    CTransfer() = default;
    ~CTransfer();
    CTransfer(const CTransfer&) = delete;
    CTransfer& operator=(const CTransfer&) = delete;

    // More bytes after what it holds.
    void AddBytes(std::string_view bytes);
    // Then nCount bytes of the file hFile from nOffset; the transfer owns hFile.
    void AddFile(int hFile, uint64_t nOffset, uint64_t nCount);

    enum class EStep {
        Done,     // everything has been handed to the socket
        Blocked,  // the socket is full: on when it has room
        More,     // the turn's piece is spent: on at the next turn
        Failed,   // the socket failed, or the file ended before its count
    };
    // Hands at most nPiece bytes to the non-blocking socket hSocket.
    EStep Step(int hSocket, size_t nPiece);

    bool Empty() const { return m_nBytesAt == m_strBytes.size() && m_nFileLeft == 0; }
    // Bytes handed to the socket so far, and bytes of memory it holds.
    long long Handed() const { return m_nHanded; }
    size_t HeldBytes() const { return m_strBytes.capacity(); }

private:
    EStep StepBytes(int hSocket, size_t& nPiece);
    EStep StepFile(int hSocket, size_t& nPiece);

    std::string m_strBytes;
    size_t m_nBytesAt = 0;
    int m_hFile = -1;
    uint64_t m_nFileAt = 0;
    uint64_t m_nFileLeft = 0;
    long long m_nHanded = 0;
};
