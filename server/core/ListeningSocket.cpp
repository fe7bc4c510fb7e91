#include "ListeningSocket.h"

#include "ServerCore.h"

CListeningSocket::CListeningSocket(CServerCore* pDlg) : m_pDlg(pDlg) {}

void CListeningSocket::OnAccept(int nErrorCode) {
    CSocket::OnAccept(nErrorCode);
    m_pDlg->ProcessPendingAccept();
}
