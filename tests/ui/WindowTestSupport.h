// Shared pieces of the window tests: the application every test runs in
// (offscreen, settings in a temp folder), a watcher that answers the modal
// windows a test opens, and loopback fetches while the window serves.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "PortSupport.h"
#include "TestSupport.h"

class CServerApp;
class QWidget;

namespace tarvel_test {

// The one application object of the test process.
CServerApp& TestApp();

struct SSeenWindow {
    QString strClass;  // class name of the modal window
    QString strTitle;
    QString strText;  // a message box's text; the labels of any other dialog, one a line
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers every modal window from a timer, so none is left waiting: a message
// box gets its OK, any other dialog is closed. What it saw is kept in order.
class CModalWatcher : public QObject {
public:
    CModalWatcher();

    // Runs on each modal window before it is answered, to look at it while it is up;
    // a window it closes is left alone.
    std::function<void(QWidget*)> m_inspect;
    std::vector<SSeenWindow> m_seen;

private:
    void Poll();

    QTimer m_timer;
};

// Catches the addresses the program opens on the desktop, so no browser starts.
class CUrlCatcher : public QObject {
    Q_OBJECT

public:
    explicit CUrlCatcher(const QStringList& schemes);
    ~CUrlCatcher() override;

    std::vector<QUrl> m_opened;

public slots:
    void Open(const QUrl& url);

private:
    QStringList m_schemes;
};

// GET strTarget from 127.0.0.1 on a thread of its own while this thread runs
// the window's events; nothing when no answer came within 15 s.
std::optional<SAnswer> FetchWhileServing(unsigned nPort, const std::string& strTarget);
// The same for a whole request of the caller's.
std::optional<SAnswer> SendWhileServing(unsigned nPort, const std::string& strRequest);

// Runs the application's events for about nMs.
void RunEventsFor(int nMs);

}  // namespace tarvel_test
