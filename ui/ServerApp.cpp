#include "ServerApp.h"

#include "AppIcon.h"
#include "AppMessage.h"
#include "Resource.h"
#include "ServerDlg.h"
#include "SignalCloser.h"
#include "Version.h"

CServerApp::CServerApp(int& argc, char** argv)
    : QApplication(argc, argv), m_profile(CProfile::DefaultPath()) {
    setApplicationVersion(QString::fromLatin1(version::kProductVersion));
    // Lets the desktop match the window with the installed tarvel.desktop and its icon.
    setDesktopFileName(QStringLiteral("tarvel"));
    setWindowIcon(AppIcon());
}

BOOL CServerApp::InitInstance() {
    if (!AfxSocketInit()) {
        const std::string_view strText = LoadResString(kIdsSocketsInitFailed);
        ShowAppMessage(nullptr, QMessageBox::Warning,
                       QString::fromUtf8(strText.data(), static_cast<qsizetype>(strText.size())));
        m_nExitCode = 1;
        return FALSE;
    }

    CServerDlg dlg(m_profile);
    m_pMainWnd = &dlg;
    const CSignalCloser closer(&dlg);
    dlg.exec();  // OK or Cancel: either way the program ends
    m_pMainWnd = nullptr;
    return FALSE;
}
