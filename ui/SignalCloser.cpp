#include "SignalCloser.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>

#include "SocketDispatcher.h"

namespace {
// The handler may only write(); it finds the pipe here.
volatile sig_atomic_t g_hSignalWrite = -1;
}  // namespace

CSignalCloser::CSignalCloser(QWidget* pWindow) : m_pWindow(pWindow) {
    int hPipe[2];
    if (::pipe2(hPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Without the pipe the signals keep their default action, which ends
        // the program as before; nothing else depends on it.
        return;
    }
    m_hRead = hPipe[0];
    g_hSignalWrite = hPipe[1];
    m_pNotifier = new QSocketNotifier(m_hRead, QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CSignalCloser::OnSignalled);

    m_oldActions = CatchStopSignals(&CSignalCloser::OnSignal);
}

CSignalCloser::~CSignalCloser() {
    if (m_hRead < 0) {
        return;
    }
    RestoreStopSignals(m_oldActions);
    CSocketDispatcher::ClearTerminationRequest();
    const int hWrite = g_hSignalWrite;
    g_hSignalWrite = -1;
    delete m_pNotifier;
    ::close(hWrite);
    ::close(m_hRead);
}

void CSignalCloser::OnSignal(int nSignal) {
    // A blocked transfer or a busy queue must not hold the close back: every
    // socket wait ends, and no further socket event is handled.
    CSocketDispatcher::RequestTermination();
    const int nSavedErrno = errno;
    const char chSignal = static_cast<char>(nSignal);
    if (g_hSignalWrite >= 0) {
        // A full pipe already holds a wake-up; losing this byte changes nothing.
        [[maybe_unused]] ssize_t nWritten = ::write(g_hSignalWrite, &chSignal, 1);
    }
    errno = nSavedErrno;
}

void CSignalCloser::OnSignalled() {
    char buffer[64];
    while (::read(m_hRead, buffer, sizeof buffer) > 0) {
    }
    // A message box or the About box over the window would keep its own loop
    // running after the window closes: close those first.
    bool bClosedOthers = false;
    while (QWidget* pModal = QApplication::activeModalWidget()) {
        if (pModal == m_pWindow || !pModal->close()) {
            break;
        }
        bClosedOthers = true;
    }
    m_pWindow->close();
    if (bClosedOthers) {
        // The code that opened a closed box goes on when its loop returns and
        // could open another; ending every loop now lets none of them wait.
        QCoreApplication::exit(0);
    }
}
