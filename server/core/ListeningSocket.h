// The server's listener: each accept event becomes ProcessPendingAccept.
#pragma once

#include "Socket.h"

class CServerCore;

class CListeningSocket : public CSocket {
public:
    explicit CListeningSocket(CServerCore* pDlg);

protected:
    void OnAccept(int nErrorCode) override;

private:
    CServerCore* m_pDlg;  // not owning
};
