// Start-up: the application runs the control window modal as its main window.
#include <gtest/gtest.h>

#include <QLineEdit>

#include "ServerApp.h"
#include "ServerDlg.h"
#include "WindowTestSupport.h"

using namespace tarvel_test;

namespace {

TEST(ServerApp, InitInstanceRunsTheWindowModalUntilItClosesAndReturnsFalse) {
    CServerApp& app = TestApp();
    // The settings come from the application's profile.
    ASSERT_TRUE(app.Profile().WriteProfileString("Defaults", "DefaultURL", "start.htm"));

    CModalWatcher watcher;
    bool bWasMainWindow = false;
    QString strDefaultPage;
    watcher.m_inspect = [&](QWidget* pModal) {
        if (auto* pDlg = qobject_cast<CServerDlg*>(pModal)) {
            bWasMainWindow = app.m_pMainWnd == pDlg;
            strDefaultPage = pDlg->findChild<QLineEdit*>("defaultPageEdit_1006")->text();
        }
    };
    EXPECT_EQ(app.InitInstance(), FALSE);
    ASSERT_EQ(watcher.m_seen.size(), 1u);
    EXPECT_EQ(watcher.m_seen[0].strClass, QStringLiteral("CServerDlg"));
    EXPECT_TRUE(bWasMainWindow);
    EXPECT_EQ(strDefaultPage, QStringLiteral("start.htm"));
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    EXPECT_EQ(app.ExitCode(), 0);
}

}  // namespace
