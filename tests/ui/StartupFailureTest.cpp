// A socket layer that cannot start: the message, and no window. Its own test
// program, so nothing has started the socket layer before.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QTest>
#include <algorithm>
#include <cerrno>
#include <vector>

#include "AppMessage.h"
#include "Profile.h"
#include "ServerApp.h"
#include "WindowTestSupport.h"

using namespace tarvel_test;

namespace {

const QString kFailureText = QStringLiteral("Windows sockets initialization failed.");

TEST(ServerAppStartup, SocketLayerFailureIsReportedAndEndsWithoutAWindow) {
    CServerApp& app = TestApp();
    CModalWatcher watcher;
    // Show the same message once while descriptors are free: its font gets loaded,
    // and the sanitizers' type checks (which need a pipe) get cached.
    ShowAppMessage(nullptr, QMessageBox::Warning, kFailureText);
    ASSERT_EQ(watcher.m_seen.size(), 1u);
    watcher.m_seen.clear();

    // Every descriptor taken: the socket layer cannot make its own.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 256);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int hFiller; (hFiller = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        fillers.push_back(hFiller);
    }
    const int nOpenError = errno;
    const BOOL bResult = app.InitInstance();
    for (int hFiller : fillers) {
        ::close(hFiller);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);

    ASSERT_EQ(nOpenError, EMFILE);
    EXPECT_EQ(bResult, FALSE);
    EXPECT_EQ(app.ExitCode(), 1);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    ASSERT_EQ(watcher.m_seen.size(), 1u);  // the message, and no window after it
    EXPECT_EQ(watcher.m_seen[0].strClass, QStringLiteral("QMessageBox"));
    EXPECT_EQ(watcher.m_seen[0].icon, QMessageBox::Warning);
    EXPECT_EQ(watcher.m_seen[0].strText, kFailureText);
    EXPECT_EQ(watcher.m_seen[0].strTitle, QString::fromStdString(CProfile::ProgramName()));
}

}  // namespace
