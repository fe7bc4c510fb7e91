#include "WindowTestSupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <future>
#include <memory>

#include "ServerApp.h"

namespace tarvel_test {
namespace {

// Makes the application before the first test: offscreen, with the settings
// of CProfile::DefaultPath() in a temp folder of its own.
class CWindowEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        m_pConfig = std::make_unique<QTemporaryDir>();
        m_pRuntime = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(m_pConfig->isValid() && m_pRuntime->isValid());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", m_pConfig->path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_pRuntime->path().toUtf8());
        static int nArgc = 1;
        static char szName[] = "window_tests";
        static char* pArgv[] = {szName, nullptr};
        s_pApp = new CServerApp(nArgc, pArgv);
    }
    void TearDown() override {
        delete s_pApp;
        s_pApp = nullptr;
        m_pRuntime.reset();
        m_pConfig.reset();
    }

    static CServerApp* s_pApp;

private:
    std::unique_ptr<QTemporaryDir> m_pConfig;
    std::unique_ptr<QTemporaryDir> m_pRuntime;
};

CServerApp* CWindowEnvironment::s_pApp = nullptr;

[[maybe_unused]] ::testing::Environment* const g_pEnvironment =
    ::testing::AddGlobalTestEnvironment(new CWindowEnvironment);

}  // namespace

CServerApp& TestApp() {
    return *CWindowEnvironment::s_pApp;
}

CModalWatcher::CModalWatcher() {
    connect(&m_timer, &QTimer::timeout, this, &CModalWatcher::Poll);
    m_timer.start(10);
}

void CModalWatcher::Poll() {
    QWidget* pModal = QApplication::activeModalWidget();
    if (!pModal || !pModal->isVisible()) {
        return;
    }
    SSeenWindow seen;
    seen.strClass = QString::fromLatin1(pModal->metaObject()->className());
    seen.strTitle = pModal->windowTitle();
    if (auto* pBox = qobject_cast<QMessageBox*>(pModal)) {
        seen.strText = pBox->text();
        seen.icon = pBox->icon();
    } else {
        QStringList labels;
        for (const QLabel* pLabel : pModal->findChildren<QLabel*>()) {
            if (!pLabel->text().isEmpty()) {
                labels << pLabel->text();
            }
        }
        seen.strText = labels.join(QLatin1Char('\n'));
    }
    m_seen.push_back(seen);
    if (m_inspect) {
        m_inspect(pModal);
        if (!pModal->isVisible()) {
            return;  // the inspection closed it
        }
    }
    if (auto* pBox = qobject_cast<QMessageBox*>(pModal); pBox && pBox->button(QMessageBox::Ok)) {
        pBox->button(QMessageBox::Ok)->click();
    } else {
        pModal->close();
    }
}

CUrlCatcher::CUrlCatcher(const QStringList& schemes) : m_schemes(schemes) {
    for (const QString& strScheme : m_schemes) {
        QDesktopServices::setUrlHandler(strScheme, this, "Open");
    }
}

CUrlCatcher::~CUrlCatcher() {
    for (const QString& strScheme : m_schemes) {
        QDesktopServices::unsetUrlHandler(strScheme);
    }
}

void CUrlCatcher::Open(const QUrl& url) {
    m_opened.push_back(url);
}

std::optional<SAnswer> FetchWhileServing(unsigned nPort, const std::string& strTarget) {
    return SendWhileServing(nPort, "GET " + strTarget + " HTTP/1.0\r\n\r\n");
}

std::optional<SAnswer> SendWhileServing(unsigned nPort, const std::string& strRequest) {
    auto answer = std::async(std::launch::async,
                             [nPort, strRequest] { return Fetch(nPort, strRequest); });
    const bool bDone = QTest::qWaitFor(
        [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        15000);
    if (!bDone) {
        return std::nullopt;  // the client's own time-out ends its thread
    }
    return answer.get();
}

void RunEventsFor(int nMs) {
    QTest::qWait(nMs);
}

}  // namespace tarvel_test
