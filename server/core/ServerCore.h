// The server half of the control window: the settings it serves with, the
// listener, the list of accepted connections, and the road of one request from
// accept to close. The window (CServerDlg) derives from it; tools and tests use
// it directly.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "AnswerPlan.h"
#include "PathResolver.h"
#include "PeerShare.h"
#include "SocketDispatcher.h"
#include "TransferJudge.h"
#include "WaitPolicy.h"

class CClientSocket;
class CFile;
class CUploadReceiver;
struct SParsedRequest;
struct SUpload;
struct SUploadPlan;
class CListeningSocket;
class CRootLookup;

class CServerCore {
public:
    static const char* const kStartFailureText;
    static const char* const kRootFailureText;

    CServerCore();
    virtual ~CServerCore();
    CServerCore(const CServerCore&) = delete;
    CServerCore& operator=(const CServerCore&) = delete;

    void StartServer();
    void StopServer();
    // The folder served: the root as set, or the current folder when it is empty.
    std::string RootFolder() const { return m_strRoot.empty() ? std::string(1, '.') : m_strRoot; }
    // A visitor of the bare address gets a page (the default page, or with the
    // preview a front page), not the error page or a listing.
    bool BareAddressServesPage() const;
    // The path of the addresses to hand out: "/", or "/SECRET/" with the
    // private link on. A private link without a valid key gets a fresh one.
    std::string SharedPath();
    // A fresh secret: the old private address reaches nothing from the next request.
    void NewPrivateLink();

    // Connections (called by the socket classes).
    void ProcessPendingAccept();
    void HandleRequest(CClientSocket* pClient);
    void RemoveClient(CClientSocket* pClient);
    // One turn of a client's transfer; the client goes once it ends.
    void ContinueTransfer(CClientSocket* pClient);
    // One piece of an upload received in the background; the client goes
    // once it is cut short or answered.
    void ContinueUpload(CClientSocket* pClient);
    // False when nothing has arrived yet; an empty request: the peer closed, or
    // the read failed.
    bool ReadRequest(CClientSocket* pClient, std::string& strRequest);
    // The bytes may wait in the socket for more, or for the end of the answer,
    // unless bPushNow.
    void SendToClient(CClientSocket* pClient, const char* pData, size_t nCount,
                      bool bPushNow = false);
    // nCount bytes of an open file from nOffset, straight from the page cache.
    void SendFileToClient(CClientSocket* pClient, CFile& file, uint64_t nOffset, uint64_t nCount);

    // Settings the server runs with (loaded and saved by the window's settings).
    int16_t m_nChannel = 0;  // the port, held as its low 16 bits
    std::string m_strRoot;
    std::string m_strDefaultURL;
    // A folder without its default page gets a listing of what may be served
    // from it, instead of the error page. Off unless the person turns it on.
    bool m_bListFolders = false;
    // Previewing a website: pages reload themselves when their files change,
    // the site's 404.html is its error page, and links may leave out ".html".
    // Off unless the person turns it on.
    bool m_bPreview = false;
    // Several visitors at once: what a socket does not take at once is carried
    // on by the event loop, interleaved with every other connection, instead of
    // waited for. Off unless the person turns it on.
    bool m_bConcurrent = false;
    STransferBounds m_transferBounds;
    // Only people with the link: every address begins with this secret. Off
    // unless the person turns it on; the key is kept while the option is off.
    bool m_bPrivate = false;
    std::string m_strPrivateKey;
    // Visitors may add files to the shared folder. Off unless the person turns it on.
    bool m_bUpload = false;
    // Files visitors have added since Start.
    size_t m_nFilesAdded = 0;

    // Bounds on waiting, so one stalled peer never freezes the server or its
    // window for long; and the ledger of the fair share.
    SWaitPolicy m_waitPolicy;
    CPeerShares m_peerShares{m_waitPolicy.nShareMs, m_waitPolicy.nAllShareMs,
                             m_waitPolicy.nShareWindowMs};

    int m_bRunning = 0;
    CListeningSocket* m_pListeningSocket = nullptr;  // owning
    std::list<CClientSocket*> m_clientList;          // owning, in order of acceptance

    // Recorded by the default hooks, for callers without a window.
    std::string m_strLastMessage;
    int m_nStopSounds = 0;

protected:
    // The person must see this text (stop icon); the window shows a message box.
    virtual void ShowStopMessage(const std::string& strText);
    // The stop-icon sound that comes before such a message.
    virtual void BeepStop();
    // A visitor's file was stored (m_nFilesAdded counts it already): the
    // window's running line says so.
    virtual void OnFileAdded() {}
    // Closes and deletes every listed client and the listener without draining.
    void ReleaseAll();

private:
    void ReportStartFailure(const std::string& strReason);
    void CloseListener();
    void DrainUntil(CClientSocket& client, CSocketDispatcher::Clock::time_point deadline);
    // The idle sweep and the timer of unfinished heads, made while descriptors remain.
    void StartClientTimers();
    void StopClientTimers();
    void CloseIdleClients();
    // Up to nCount of the connections accepted by acceptedBy that have sent
    // nothing, those silent longest first; how many were closed.
    size_t CloseSilentClients(CSocketDispatcher::Clock::time_point acceptedBy, size_t nCount);
    // Unfinished heads are served when their time is up, by one timer set for
    // the earliest of them.
    void WakeForHeadAt(CSocketDispatcher::Clock::time_point deadline);
    void ServeHeadsWhoseTimeIsUp();
    void NormaliseRoot();
    // Begins carrying on the rest of a client's answer, or removes the client.
    void FinishOrCarryOn(CClientSocket* pClient);
    // The most a turn of the client's transfer or upload may move: one piece,
    // shared among its address's transfers.
    size_t PieceForTurnOf(const CClientSocket& client) const;
    // Bodies held in memory by transfers leave room for nBytes more.
    bool HasRoomToHold(size_t nBytes) const;
    // Its address has one transfer fewer under way.
    void ForgetTransfer(CClientSocket* pClient);
    // Transfers whose peers took less than the minimum rate over a stall period.
    void CloseStalledTransfers(CSocketDispatcher::Clock::time_point now);
    SServeOptions ServeOptions() const;
    // Uploads (Uploads.cpp): judged by the head, then received here or in the background.
    // received: the head as it came, and what came behind it of the body.
    void HandleUpload(CClientSocket* pClient, const SParsedRequest& request,
                      std::string_view received);
    // The receiver of a judged upload, once its folder, room and name allow
    // it; else nothing, and the refusal.
    std::unique_ptr<CUploadReceiver> OpenUpload(const SParsedRequest& request,
                                                const SUploadPlan& plan,
                                                std::optional<SAnswerPlan>& refusal);
    // The whole body, waiting for it under the bounds of a download; false when cut short.
    bool ReceiveUploadHere(CClientSocket* pClient, SUpload& upload);
    void AnswerUpload(CClientSocket* pClient, SUpload& upload);
    // The answer goes, then what the client still sends is dropped within its
    // bounds, and the client goes.
    void DiscardRefusedBody(CClientSocket* pClient);
    // What the uploads under way still expect to write.
    uint64_t ExpectedByUploads() const;
    // An upload's body is judged by what arrives, at the rate a download must keep.
    STransferBounds UploadBounds() const;
    char* UploadBuffer();
    // The sender (AnswerSender.cpp): carries out a plan, deciding nothing.
    void SendAnswer(CClientSocket* pClient, const SAnswerPlan& plan, CRootLookup& lookup);
    // A plan whose body is in memory (or none), sent as it is: no file is looked up.
    void SendPlannedBytes(CClientSocket* pClient, const SAnswerPlan& plan);
    void SendBytes(CClientSocket* pClient, std::string_view head, std::string_view body);
    void SendFileBody(CClientSocket* pClient, const std::string& strHead, const SAnswerPlan& plan,
                      CRootLookup& lookup);
    const SWaitBounds& SendBounds(ESendPhase phase) const;
    // Emptied for one answer's head and small body; its room is kept.
    std::string& SendBuffer();

    std::unique_ptr<CDispatchTimer> m_pIdleSweep;
    std::unique_ptr<CDispatchTimer> m_pHeadTimer;
    bool m_bHeadTimerSet = false;
    CSocketDispatcher::Clock::time_point m_headTimerDue;
    // The start of a plain-text file, read for its charset label.
    std::unique_ptr<char[]> m_pStartBuffer;
    std::string m_strSendBuffer;
    SFileIdentity m_ownProgramFile;  // the running program's own file, never served
    std::unordered_map<uint32_t, size_t> m_transfersByAddress;  // transfers under way
    std::unique_ptr<char[]> m_pUploadBuffer;  // one piece of an upload's body
};
