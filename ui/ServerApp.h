// The application: starts the socket layer, then runs the control window as a
// modal dialog; when the dialog ends, the program ends.
#pragma once

#include <QApplication>

#include "Socket.h"
#include "Profile.h"

class CServerApp : public QApplication {
public:
    // The settings live in CProfile::DefaultPath(), read when the window is made.
    CServerApp(int& argc, char** argv);

    // Runs the whole program; FALSE always, since no loop follows it.
    BOOL InitInstance();
    // What the process should exit with: nonzero when the socket layer failed.
    int ExitCode() const { return m_nExitCode; }

    CProfile& Profile() { return m_profile; }

    // The control window while it runs, else null.
    QWidget* m_pMainWnd = nullptr;

private:
    CProfile m_profile;
    int m_nExitCode = 0;
};
