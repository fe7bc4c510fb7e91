// One accepted connection. Its acceptance, or a later read event, becomes
// HandleRequest; a close before any request releases it; it owns the stream it
// reads and writes through.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "Socket.h"
#include "SocketFile.h"
#include "Transfer.h"
#include "TransferJudge.h"

class CServerCore;
struct SUpload;

class CClientSocket : public CSocket {
public:
    // The request buffer: one fixed buffer, large enough for long escaped URLs.
    static constexpr size_t kRequestBufferSize = 8192;

    explicit CClientSocket(CServerCore* pDlg);
    ~CClientSocket() override;

    void Init();
    // Reads what has arrived of the request head, without waiting, and gathers
    // it until isComplete says it is whole, the buffer is full, the peer closed
    // or nHeadDeadlineMs after its first bytes (HeadTimeIsUp). False while the
    // head is not there yet (read stays armed); empty when the peer closed
    // before sending anything. A read error throws CFileException.
    bool ReceiveRequest(std::string& strRequest, int nHeadDeadlineMs,
                        bool (*isComplete)(std::string_view head));
    // The request was served because its time was up, not because it was whole.
    bool HeadTimeWasUp() const { return m_bHeadTimeUp; }
    bool IsGatheringHead() const { return !m_strHead.empty(); }
    CSocketDispatcher::Clock::time_point HeadDeadline() const { return m_headDeadline; }
    // What has arrived of the head is to be served as the request.
    void HeadTimeIsUp() { m_bHeadTimeUp = true; }
    // The last segment waits in the socket until more comes or EndAnswer
    // sends it together with the FIN; bPushNow sends it at once.
    void SendData(const char* pData, size_t nCount, bool bPushNow = false);
    // Up to nCount bytes of an open file from nOffset; the count sent.
    unsigned long long SendFileData(int hFile, unsigned long long nOffset,
                                    unsigned long long nCount);
    void Abort();
    // Sends what SendData left waiting, with the FIN, in one packet.
    void EndAnswer();

    // Sends from now on never wait: what the socket does not take at once
    // (beyond nFirstPiece of a file) is kept as the connection's transfer, for
    // the event loop to carry on. 0: sends wait, under their bounds.
    void SendInBackground(size_t nFirstPiece) { m_nFirstPiece = nFirstPiece; }
    bool IsTransferring() const { return m_pTransfer != nullptr; }
    // BeginTransfer was called: the connection is carried on in the background.
    bool IsCarriedOn() const { return m_pJudge != nullptr; }
    // The transfer is judged from now, and goes on when the socket has room.
    void BeginTransfer(const STransferBounds& bounds);
    // One turn of the transfer, at most nPiece bytes.
    CTransfer::EStep StepTransfer(size_t nPiece);
    // The peer has taken too little of the transfer over a stall period.
    bool TransferStalled(CSocketDispatcher::Clock::time_point now);
    size_t TransferHeldBytes() const { return m_pTransfer ? m_pTransfer->HeldBytes() : 0; }

    // An upload whose body is read in the background, a piece per read event,
    // judged by what arrives as a transfer is by what its peer takes.
    void BeginUpload(std::unique_ptr<SUpload> pUpload, const STransferBounds& bounds);
    SUpload* Upload() const { return m_pUpload.get(); }
    // The upload's body has all come (or it ended early): its answer follows.
    std::unique_ptr<SUpload> EndUpload();
    // Up to nCount bytes of what has arrived, never waiting: -1 with
    // EWOULDBLOCK when nothing has (the next read event is asked for).
    int ReceiveArrived(char* pBuffer, int nCount) { return CAsyncSocket::Receive(pBuffer, nCount); }
    // After a refused upload, what its client still sends is read and dropped,
    // up to nBytes or until the deadline, so the client reads the refusal
    // rather than a reset.
    void BeginDiscard(long long nBytes, CSocketDispatcher::Clock::time_point until);
    bool IsDiscarding() const { return m_nDiscardLeft > 0; }
    // Drops what has arrived; true once the discard is over.
    bool DiscardArrived(CSocketDispatcher::Clock::time_point now);

    CSocketDispatcher::Clock::time_point AcceptedAt() const { return m_acceptedAt; }

protected:
    void OnReceive(int nErrorCode) override;
    void OnClose(int nErrorCode) override;
    void OnSend(int nErrorCode) override;

private:
    std::unique_ptr<CSocketFile> m_pFile;
    CServerCore* m_pDlg;  // not owning
    CSocketDispatcher::Clock::time_point m_acceptedAt;
    bool m_bAnswerWaiting = false;  // sent bytes wait in the socket for more
    std::string m_strHead;          // what has arrived of an unfinished request head
    CSocketDispatcher::Clock::time_point m_headDeadline;
    bool m_bHeadTimeUp = false;
    size_t m_nFirstPiece = 0;                // sends in the background: the first turn's piece
    long long m_nSentAtOnce = 0;             // handed to the socket before the transfer began
    std::unique_ptr<CTransfer> m_pTransfer;  // what is left of the answer, carried on
    std::unique_ptr<CTransferJudge> m_pJudge;
    std::unique_ptr<SUpload> m_pUpload;  // an upload received in the background
    long long m_nDiscardLeft = 0;        // a refused upload's body still to drop
    CSocketDispatcher::Clock::time_point m_discardUntil;

    // A send that never waits: what the socket does not take is kept.
    void SendOrKeep(const char* pData, size_t nCount, bool bPushNow);
    unsigned long long SendFileOrKeep(int hFile, unsigned long long nOffset,
                                      unsigned long long nCount);
    CTransfer& Kept();
    // A read or close event of an upload or of a discard; false for neither.
    bool ServeUploadEvent();
};
