// One accepted connection. Its acceptance, or a later read event, becomes
// HandleRequest; a close before any request releases it; it owns the stream it
// reads and writes through.
#pragma once

#include <memory>
#include <string>

#include "AsyncSocket.h"
#include "SocketFile.h"

class CServerCore;

class CClientSocket : public CSocket {
public:
    // The request buffer: one fixed buffer, large enough for long escaped URLs.
    static constexpr size_t kRequestBufferSize = 8192;

    explicit CClientSocket(CServerCore* pDlg);
    ~CClientSocket() override;

    void Init();
    // Reads the request head: what has arrived, then more until the head is
    // complete, the buffer full, the peer closed or headBounds end it. False
    // when nothing has arrived yet (read stays armed); empty when the peer has
    // closed. A read error throws CFileException and leaves strRequest unchanged.
    bool ReceiveRequest(std::string& strRequest, const SWaitBounds& headBounds);
    // The last segment waits in the socket until more comes or EndAnswer
    // sends it together with the FIN; bPushNow sends it at once.
    void SendData(const char* pData, size_t nCount, bool bPushNow = false);
    // Up to nCount bytes of an open file from nOffset; the count sent.
    unsigned long long SendFileData(int hFile, unsigned long long nOffset,
                                    unsigned long long nCount);
    void Abort();
    // Sends what SendData left waiting, with the FIN, in one packet.
    void EndAnswer();

    CSocketDispatcher::Clock::time_point AcceptedAt() const { return m_acceptedAt; }

protected:
    void OnReceive(int nErrorCode) override;
    void OnClose(int nErrorCode) override;

private:
    std::unique_ptr<CSocketFile> m_pFile;
    CServerCore* m_pDlg;  // not owning
    CSocketDispatcher::Clock::time_point m_acceptedAt;
    bool m_bAnswerWaiting = false;  // sent bytes wait in the socket for more
};
