// The control window on Qt's offscreen platform: real widgets, a real profile
// file in a temp folder, and real clients on 127.0.0.1.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "ClientSocket.h"
#include "PrivateLink.h"
#include "Profile.h"
#include "QrCodeWidget.h"
#include "ServerDlg.h"
#include "SignalCloser.h"
#include "WindowTestSupport.h"

using namespace tarvel_test;

namespace {

const QString kIntegerText = QStringLiteral("Please enter an integer.");
const QString kPortText = QStringLiteral("Please enter an integer between 1 and 65535.");

class ServerDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(AfxSocketInit());
        m_strProfile = m_config / "tarvel.INI";
        m_pProfile = std::make_unique<CProfile>(m_strProfile);
        WriteFile(m_root / "index.htm", "the index page");
    }
    void TearDown() override { m_pDlg.reset(); }

    void WriteProfile(const std::string& strLines) {
        WriteFile(m_strProfile, "[Defaults]\n" + strLines);
    }
    std::string ProfileText() const {
        return std::filesystem::exists(m_strProfile) ? ReadFile(m_strProfile) : std::string();
    }
    bool ProfileHas(const std::string& strLine) const {
        return ProfileText().find(strLine + "\n") != std::string::npos;
    }
    mode_t ProfileMode() const {
        struct stat status {};
        EXPECT_EQ(::stat(m_strProfile.c_str(), &status), 0);
        return status.st_mode & 07777;
    }

    // A new window on the test's profile, shown (and active, unless a message box is
    // expected to take that at once). Help looks in an empty folder.
    CServerDlg& Open(bool bActivate = true) {
        m_pDlg.reset();
        m_watcher.m_seen.clear();
        m_pDlg = std::make_unique<CServerDlg>(*m_pProfile);
        m_pDlg->SetHelpFolders({QString::fromStdString(m_noHelp.Path().string())});
        m_pDlg->show();
        if (bActivate) {
            Activate();
        } else {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(m_pDlg.get()));
        }
        return *m_pDlg;
    }
    // Keys reach the window's shortcuts only while it is the active window, which a
    // closed message box does not always give back at once.
    void Activate() {
        m_pDlg->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(m_pDlg.get()));
    }

    template <class T>
    T* Find(const char* pszName) {
        T* pFound = m_pDlg->findChild<T*>(QString::fromLatin1(pszName));
        EXPECT_NE(pFound, nullptr) << pszName;
        return pFound;
    }
    QLineEdit* Channel() { return Find<QLineEdit>("channelEdit_1003"); }
    QLineEdit* Root() { return Find<QLineEdit>("rootEdit_1005"); }
    QLineEdit* DefaultPage() { return Find<QLineEdit>("defaultPageEdit_1006"); }
    QPushButton* Start() { return Find<QPushButton>("startButton_1000"); }
    QPushButton* Stop() { return Find<QPushButton>("stopButton_1001"); }
    QPushButton* Exit() { return Find<QPushButton>("exitButton_1"); }
    QPushButton* About() { return Find<QPushButton>("aboutButton_1011"); }
    QPushButton* Help() { return Find<QPushButton>("helpButton_9"); }
    QCheckBox* AutoStart() { return Find<QCheckBox>("autoStartCheck_1014"); }
    QCheckBox* ListFolders() { return Find<QCheckBox>("listFoldersCheck"); }
    QCheckBox* Preview() { return Find<QCheckBox>("previewCheck"); }
    QCheckBox* Concurrent() { return Find<QCheckBox>("concurrentCheck"); }
    QCheckBox* Upload() { return Find<QCheckBox>("uploadCheck"); }
    QCheckBox* Private() { return Find<QCheckBox>("privateCheck"); }
    QLabel* Address() { return Find<QLabel>("addressLabel"); }
    QPushButton* Browse() { return Find<QPushButton>("browseButton"); }
    CQrCodeWidget* QrCode() { return Find<CQrCodeWidget>("qrCode"); }
    QList<QLabel*> Links() { return m_pDlg->findChildren<QLabel*>("addressLink"); }
    // The URLs of the address links, in the order shown.
    QStringList LinkUrls() {
        QStringList urls;
        for (QLabel* pLink : Links()) {
            urls << pLink->text().section(QLatin1Char('"'), 1, 1);
        }
        return urls;
    }
    // Everything the lines under the buttons say.
    QString ReachText() {
        QStringList lines{Address()->text()};
        for (QLabel* pLink : Links()) {
            lines << pLink->text();
        }
        lines << Find<QLabel>("servingLabel")->text() << Find<QLabel>("servingLabel")->toolTip();
        return lines.join(QLatin1Char('\n'));
    }

    static void Click(QAbstractButton* pButton) { QTest::mouseClick(pButton, Qt::LeftButton); }
    static void ClickBox(QCheckBox* pBox) {
        QTest::mouseClick(pBox, Qt::LeftButton, {}, QPoint(6, pBox->height() / 2));
    }
    // Replaces the field's text key by key, as a person would.
    static void Type(QLineEdit* pEdit, const QString& strText) {
        pEdit->setFocus();
        pEdit->selectAll();
        QTest::keyClick(pEdit, Qt::Key_Delete);
        // QTest finds no key for a backslash or a letter beyond ASCII: such a
        // character goes as a key event that carries its text.
        for (const QChar ch : strText) {
            if (ch == QLatin1Char('\\') || ch.unicode() > 0x7E) {
                QTest::sendKeyEvent(QTest::Click, pEdit, Qt::Key_unknown, QString(ch),
                                    Qt::NoModifier);
            } else {
                QTest::keyClicks(pEdit, QString(ch));
            }
        }
    }
    QString RootText() const { return QString::fromStdString(m_root.Path().string()); }

    // Opens the address menu on pWidget, as a right click does, and chooses its nAction-th
    // command; what the clipboard then holds.
    QString ChooseFromAddressMenu(QWidget* pWidget, int nAction) {
        QMenu* pAddressMenu = Find<QMenu>("addressMenu");
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(4, 4),
                                     pWidget->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(pWidget, &rightClick);
        EXPECT_TRUE(pAddressMenu->isVisible());
        pAddressMenu->actions()[nAction]->trigger();
        pAddressMenu->close();
        return QGuiApplication::clipboard()->text();
    }
    QString CopyAddressFrom(QWidget* pWidget) { return ChooseFromAddressMenu(pWidget, 0); }
    void NewPrivateLinkFrom(QWidget* pWidget) { ChooseFromAddressMenu(pWidget, 1); }
    // The status of a GET of strTarget while the window serves; 0 without an answer.
    static int StatusOf(unsigned nPort, const std::string& strTarget) {
        const auto answer = FetchWhileServing(nPort, strTarget);
        return answer ? answer->nStatus : 0;
    }
    // The window's addresses, "http://192.0.2.7:PORT" then localhost, each with strPath.
    QStringList TestUrls(const std::string& strPath) const {
        const QString strPort = QString::number(static_cast<uint16_t>(m_pDlg->m_nChannel));
        const QString strTail = QString::fromStdString(strPath);
        return {"http://192.0.2.7:" + strPort + strTail, "http://localhost:" + strPort + strTail};
    }

    // Starts the server from the window on a free port and the temp root.
    unsigned StartOnFreePort() {
        const unsigned nPort = FreePort();
        Channel()->setText(QString::number(nPort));
        Root()->setText(RootText());
        Click(Start());
        EXPECT_TRUE(m_pDlg->m_bRunning);
        return nPort;
    }

    void ExpectArrangement(bool bRunning) {
        EXPECT_EQ(m_pDlg->m_bRunning != 0, bRunning);
        EXPECT_EQ(Start()->isEnabled(), !bRunning);
        EXPECT_EQ(Stop()->isEnabled(), bRunning);
        EXPECT_EQ(Channel()->isEnabled(), !bRunning);
        EXPECT_EQ(Root()->isEnabled(), !bRunning);
        EXPECT_EQ(Browse()->isEnabled(), !bRunning);
        for (QWidget* pAlways : std::initializer_list<QWidget*>{
                 DefaultPage(), AutoStart(), ListFolders(), Preview(), Concurrent(), Upload(),
                 Private(), Help(), About(), Exit()}) {
            EXPECT_TRUE(pAlways->isEnabled()) << pAlways->objectName().toStdString();
        }
    }

    void ExpectOneBox(QMessageBox::Icon icon, const QString& strText) {
        ASSERT_EQ(m_watcher.m_seen.size(), 1u);
        EXPECT_EQ(m_watcher.m_seen[0].icon, icon);
        EXPECT_EQ(m_watcher.m_seen[0].strText, strText);
        EXPECT_EQ(m_watcher.m_seen[0].strTitle, QString::fromStdString(CProfile::ProgramName()));
    }

    void ExpectChannelSelected(const QString& strText) {
        EXPECT_EQ(m_pDlg->focusWidget(), Channel());
        EXPECT_EQ(Channel()->text(), strText);
        EXPECT_EQ(Channel()->selectedText(), strText);
    }

    CTempDir m_config;
    CTempDir m_root;
    CTempDir m_noHelp;
    std::string m_strProfile;
    std::unique_ptr<CProfile> m_pProfile;
    CModalWatcher m_watcher;
    std::unique_ptr<CServerDlg> m_pDlg;
};

TEST_F(ServerDlgTest, FreshWindowShowsDefaultsInTheTemplatesTabOrder) {
    Open();
    EXPECT_EQ(m_pDlg->windowTitle(), QStringLiteral("Tarvel"));
    EXPECT_EQ(Channel()->text(), QStringLiteral("80"));
    EXPECT_EQ(Root()->text(), QStringLiteral("."));
    EXPECT_EQ(DefaultPage()->text(), QStringLiteral("index.htm"));
    EXPECT_EQ(AutoStart()->checkState(), Qt::Unchecked);
    EXPECT_EQ(ListFolders()->checkState(), Qt::Unchecked);
    EXPECT_EQ(Preview()->checkState(), Qt::Unchecked);
    EXPECT_EQ(Preview()->text(), QStringLiteral("Preview a website: reload pages on change, use "
                                                "404.html, allow links without .html"));
    EXPECT_EQ(Concurrent()->checkState(), Qt::Unchecked);
    EXPECT_EQ(Concurrent()->text(),
              QStringLiteral("Serve several visitors at once (a long download "
                             "no longer makes the others wait)"));
    EXPECT_EQ(Upload()->checkState(), Qt::Unchecked);
    EXPECT_EQ(Upload()->text(), QStringLiteral("Let visitors add files to the shared folder"));
    EXPECT_EQ(Private()->checkState(), Qt::Unchecked);
    EXPECT_EQ(Private()->text(), QStringLiteral("Only people with the link can visit (a secret "
                                                "address, shown in the QR code)"));
    EXPECT_EQ(Address()->text(), QStringLiteral("Stopped"));
    EXPECT_EQ(Address()->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(Exit()->isDefault());
    ExpectArrangement(false);

    QStringList tabOrder;
    QWidget* pWidget = Channel();
    do {
        if (pWidget->focusPolicy() & Qt::TabFocus) {
            tabOrder << pWidget->objectName();
        }
        pWidget = pWidget->nextInFocusChain();
    } while (pWidget != Channel());
    EXPECT_EQ(tabOrder, (QStringList{"channelEdit_1003", "rootEdit_1005", "browseButton",
                                     "startButton_1000", "stopButton_1001", "exitButton_1",
                                     "aboutButton_1011", "defaultPageEdit_1006", "helpButton_9",
                                     "autoStartCheck_1014", "listFoldersCheck", "previewCheck",
                                     "concurrentCheck", "uploadCheck", "privateCheck"}));
    EXPECT_FALSE(std::filesystem::exists(m_strProfile));  // opening saves nothing
}

TEST_F(ServerDlgTest, ControlsFollowStartStopAndAFailedStart) {
    Open();
    const unsigned nPort = StartOnFreePort();
    ExpectArrangement(true);
    const QString strAddress = ReachText();
    EXPECT_TRUE(strAddress.contains(QStringLiteral("http://localhost:%1/").arg(nPort)))
        << strAddress.toStdString();
    EXPECT_TRUE(strAddress.contains(RootText())) << strAddress.toStdString();

    Click(Stop());
    ExpectArrangement(false);
    EXPECT_EQ(Address()->text(), QStringLiteral("Stopped"));
    EXPECT_TRUE(Links().isEmpty());
    EXPECT_FALSE(QrCode()->isVisible());
    EXPECT_TRUE(PortIsFree(nPort));

    {
        CPortBlocker blocker(nPort);
        ASSERT_TRUE(blocker.Blocking());
        Click(Start());
        ExpectArrangement(false);
        ASSERT_EQ(m_watcher.m_seen.size(), 1u);
        EXPECT_EQ(m_watcher.m_seen[0].icon, QMessageBox::Critical);
        EXPECT_TRUE(m_watcher.m_seen[0].strText.startsWith(
            QString::fromLatin1(CServerCore::kStartFailureText)));
    }
    Click(Start());  // the port is free again
    ExpectArrangement(true);
}

// What zbarimg reads from a picture of the widget as it is drawn; "" when it finds no code.
std::string ReadQrCode(QWidget* pWidget, const std::string& strPng) {
    EXPECT_TRUE(pWidget->grab().save(QString::fromStdString(strPng), "PNG"));
    const std::string strCommand = "zbarimg --nodbus --raw -q '" + strPng + "'";
    FILE* pPipe = ::popen(strCommand.c_str(), "r");
    if (!pPipe) {
        ADD_FAILURE() << "cannot run " << strCommand;
        return {};
    }
    std::string strRead;
    char szChunk[256];
    while (size_t nRead = std::fread(szChunk, 1, sizeof szChunk, pPipe)) {
        strRead.append(szChunk, nRead);
    }
    EXPECT_EQ(::pclose(pPipe), 0) << strCommand << " (is zbar-tools installed?)";
    while (!strRead.empty() && strRead.back() == '\n') {
        strRead.pop_back();
    }
    return strRead;
}

struct SBadChannel {
    const char* pszText;
    QString strMessage;
};

TEST_F(ServerDlgTest, BadChannelAtStartNeitherStartsNorSaves) {
    const SBadChannel rows[] = {
        {"80x", kIntegerText}, {"", kIntegerText},  {"+0", kIntegerText}, {" 8 0", kIntegerText},
        {"0", kPortText},      {"00", kPortText},   {"65536", kPortText}, {"65616", kPortText},
        {"-32769", kPortText}, {"-100", kPortText}, {"-1", kPortText},    {"-25536", kPortText},
    };
    for (const SBadChannel& row : rows) {
        SCOPED_TRACE(row.pszText);
        Open();
        Channel()->setText(QString::fromLatin1(row.pszText));
        Root()->setText(RootText());
        Click(Start());
        ExpectOneBox(QMessageBox::Warning, row.strMessage);
        ExpectChannelSelected(QString::fromLatin1(row.pszText));
        ExpectArrangement(false);
        EXPECT_FALSE(std::filesystem::exists(m_strProfile));

        // Corrected, the next Start runs and saves.
        const unsigned nPort = FreePort();
        Type(Channel(), QString::number(nPort));
        Click(Start());
        ExpectArrangement(true);
        EXPECT_TRUE(ProfileHas("Channel=" + std::to_string(static_cast<int16_t>(nPort))));
        EXPECT_TRUE(ProfileHas("Root=" + m_root.Path().string()));
        std::filesystem::remove(m_strProfile);
    }
}

TEST_F(ServerDlgTest, ChannelFieldShowsThePortItListensOn) {
    // Free ports lie above 32767, where the profile keeps them as negative numbers.
    const unsigned nPort = FreePort();
    const std::string strStored = std::to_string(static_cast<int16_t>(nPort));
    WriteProfile("Root=" + m_root.Path().string() + "\nChannel=" + strStored + "\n");
    Open();
    EXPECT_EQ(Channel()->text(), QString::number(nPort));
    Click(Start());
    ExpectArrangement(true);
    const auto answer = FetchWhileServing(nPort, "/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->strBody, "the index page");
    EXPECT_TRUE(ProfileHas("Channel=" + strStored));

    // What a stored "abc" loads as names no port: refused, not a random one.
    m_pDlg.reset();
    WriteProfile("Channel=abc\n");
    Open();
    EXPECT_EQ(Channel()->text(), QStringLiteral("0"));
    Click(Start());
    ExpectOneBox(QMessageBox::Warning, kPortText);
    ExpectArrangement(false);
}

TEST_F(ServerDlgTest, ExitWithBadChannelWarnsTwiceSavesThePreviousValuesAndStaysOpen) {
    WriteProfile("Root=/old/root\nChannel=8080\nDefaultURL=old.htm\nAutoStart=0\n");
    Open();
    Channel()->setText(QStringLiteral("80x"));
    Root()->setText(RootText());
    DefaultPage()->setText(QStringLiteral("new.htm"));
    Click(Exit());
    ASSERT_EQ(m_watcher.m_seen.size(), 2u);
    for (const SSeenWindow& seen : m_watcher.m_seen) {
        EXPECT_EQ(seen.strText, kIntegerText);
        EXPECT_EQ(seen.icon, QMessageBox::Warning);
    }
    ExpectChannelSelected(QStringLiteral("80x"));
    EXPECT_TRUE(m_pDlg->isVisible());
    EXPECT_NE(m_pDlg->result(), QDialog::Accepted);
    EXPECT_TRUE(ProfileHas("Root=/old/root"));
    EXPECT_TRUE(ProfileHas("Channel=8080"));
    EXPECT_TRUE(ProfileHas("DefaultURL=old.htm"));

    Type(Channel(), QStringLiteral("8081"));
    Click(Exit());
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
    EXPECT_TRUE(ProfileHas("Root=" + m_root.Path().string()));
    EXPECT_TRUE(ProfileHas("Channel=8081"));
    EXPECT_TRUE(ProfileHas("DefaultURL=new.htm"));
}

TEST_F(ServerDlgTest, EnterExitsStoppingTheServerAndSaving) {
    Open();
    const unsigned nPort = StartOnFreePort();
    Type(DefaultPage(), QStringLiteral("other.htm"));
    QTest::keyClick(DefaultPage(), Qt::Key_Return);
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
    EXPECT_FALSE(m_pDlg->m_bRunning);
    EXPECT_TRUE(PortIsFree(nPort));
    EXPECT_TRUE(ProfileHas("DefaultURL=other.htm"));
    EXPECT_TRUE(m_watcher.m_seen.empty());
}

TEST_F(ServerDlgTest, EscClosesWithoutSavingAndDestroyingReleasesTheListener) {
    Open();
    const unsigned nPort = StartOnFreePort();
    const std::string strSaved = ProfileText();
    ASSERT_FALSE(strSaved.empty());
    Type(DefaultPage(), QStringLiteral("typed.htm"));
    QTest::keyClick(m_pDlg.get(), Qt::Key_Escape);
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_EQ(m_pDlg->result(), QDialog::Rejected);
    EXPECT_TRUE(m_pDlg->m_bRunning);  // Esc does not stop: the window's end does
    EXPECT_EQ(ProfileText(), strSaved);
    m_pDlg.reset();
    EXPECT_TRUE(PortIsFree(nPort));
}

TEST_F(ServerDlgTest, DestroyingTheWindowReleasesClientsStillListed) {
    Open();
    const unsigned nPort = StartOnFreePort();
    CClient silent(nPort);  // connects and never sends
    ASSERT_TRUE(silent.Connected());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_pDlg->m_clientList.size() == 1; }, 5000));
    m_pDlg.reset();

    const timeval limit{3, 0};
    ::setsockopt(silent.Handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char chByte;
    const ssize_t nRead = ::recv(silent.Handle(), &chByte, 1, 0);
    const bool bTimedOut = nRead < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    EXPECT_FALSE(bTimedOut) << "the connection stayed open after the window was destroyed";
    EXPECT_LE(nRead, 0);
    EXPECT_TRUE(PortIsFree(nPort));
}

struct SAutoStartRow {
    const char* pszStored;
    Qt::CheckState shown;
    bool bStarts;
};

TEST_F(ServerDlgTest, AutostartFromTheProfileWithTheDefaultPageFilled) {
    WriteFile(m_root / "home.htm", "the home page");
    const SAutoStartRow rows[] = {
        {"1", Qt::Checked, true},
        {"2", Qt::PartiallyChecked, true},
        {"0", Qt::Unchecked, false},
        {"7", Qt::Unchecked, false},  // outside 0-2: cleared by the first fill
    };
    for (const SAutoStartRow& row : rows) {
        SCOPED_TRACE(row.pszStored);
        const unsigned nPort = FreePort();
        WriteProfile("Root=" + m_root.Path().string() +
                     "\nChannel=" + std::to_string(static_cast<int16_t>(nPort)) +
                     "\nDefaultURL=home.htm\nAutoStart=" + row.pszStored + "\n");
        Open();
        EXPECT_EQ(DefaultPage()->text(), QStringLiteral("home.htm"));
        EXPECT_EQ(AutoStart()->checkState(), row.shown);
        if (row.bStarts) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return m_pDlg->m_bRunning != 0; }, 5000));
            ExpectArrangement(true);
            const auto answer = FetchWhileServing(nPort, "/");
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->strBody, "the home page");
        } else {
            RunEventsFor(200);
            ExpectArrangement(false);
            EXPECT_EQ(m_pDlg->m_bAutoStart, 0);
        }
        EXPECT_TRUE(m_watcher.m_seen.empty());
    }
}

TEST_F(ServerDlgTest, FailedAutostartShowsTheMessageOverTheOpenWindow) {
    const unsigned nPort = FreePort();
    CPortBlocker blocker(nPort);
    ASSERT_TRUE(blocker.Blocking());
    WriteProfile("Channel=" + std::to_string(static_cast<int16_t>(nPort)) +
                 "\nRoot=" + m_root.Path().string() + "\nAutoStart=1\n");
    QWidget* pOwner = nullptr;
    bool bWindowUp = false;
    m_watcher.m_inspect = [&](QWidget* pModal) {
        pOwner = pModal->parentWidget();
        bWindowUp = m_pDlg && m_pDlg->isVisible();
    };
    Open(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_watcher.m_seen.empty(); }, 5000));
    EXPECT_EQ(m_watcher.m_seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(pOwner, m_pDlg.get());
    EXPECT_TRUE(bWindowUp);
    ExpectArrangement(false);
}

TEST_F(ServerDlgTest, AutostartBoxClickSavesAndLeavesTheIndeterminateState) {
    WriteProfile("Root=" + m_root.Path().string() + "\nChannel=" +
                 std::to_string(static_cast<int16_t>(FreePort())) + "\nAutoStart=2\n");
    Open();
    ASSERT_EQ(AutoStart()->checkState(), Qt::PartiallyChecked);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_pDlg->m_bRunning != 0; }, 5000));
    const Qt::CheckState afterClicks[] = {Qt::Checked, Qt::Unchecked, Qt::Checked};
    for (Qt::CheckState expected : afterClicks) {
        ClickBox(AutoStart());
        EXPECT_EQ(AutoStart()->checkState(), expected);
        EXPECT_FALSE(AutoStart()->isTristate());
        EXPECT_TRUE(ProfileHas(expected == Qt::Checked ? "AutoStart=1" : "AutoStart=0"));
    }
}

// The listing, preview, concurrent and upload boxes: applied from the next request and stored at
// once, also while running, and a profile that never had the key gets no line for it.
TEST_F(ServerDlgTest, ServingBoxesApplyAndAreStoredAtOnceAlsoWhileRunning) {
    struct SBox {
        const char* pszName;
        bool CServerCore::*pbMember;
        std::string strKey;
    };
    const SBox kBoxes[] = {{"listFoldersCheck", &CServerCore::m_bListFolders, "ListFolders"},
                           {"previewCheck", &CServerCore::m_bPreview, "Preview"},
                           {"concurrentCheck", &CServerCore::m_bConcurrent, "Concurrent"},
                           {"uploadCheck", &CServerCore::m_bUpload, "Upload"}};
    const std::string strFive = "[Defaults]\nRoot=" + m_root.Path().string() +
                                "\nChannel=" + std::to_string(static_cast<int16_t>(FreePort())) +
                                "\nDefaultURL=index.htm\nAutoStart=0\n";
    for (const SBox& box : kBoxes) {
        SCOPED_TRACE(box.strKey);
        WriteFile(m_strProfile, strFive);
        Open();
        Click(Start());
        ClickBox(AutoStart());
        ClickBox(AutoStart());
        Click(Exit());
        EXPECT_EQ(ProfileText(), strFive);  // never ticked: not one byte more

        Open();
        Click(Start());
        for (const bool bTicked : {true, false}) {
            ClickBox(Find<QCheckBox>(box.pszName));
            EXPECT_EQ((*m_pDlg).*box.pbMember, bTicked);
            EXPECT_EQ(ProfileText(), strFive + box.strKey + (bTicked ? "=1\n" : "=0\n"));
            ExpectArrangement(true);
        }
        Click(Exit());
        EXPECT_EQ(ProfileText(), strFive + box.strKey + "=0\n");

        WriteFile(m_strProfile, strFive + box.strKey + "=1\n");
        Open();
        EXPECT_EQ(Find<QCheckBox>(box.pszName)->checkState(), Qt::Checked);
        EXPECT_TRUE((*m_pDlg).*box.pbMember);
        EXPECT_TRUE(m_watcher.m_seen.empty());
    }
}

TEST_F(ServerDlgTest, SeveralVisitorsAtOnceTickedWhileRunningLetsAPagePassAStalledDownload) {
    WriteFile(m_root / "big.bin", std::string(16 * 1024 * 1024, 'b'));
    Open();
    const unsigned nPort = StartOnFreePort();
    ClickBox(Concurrent());
    auto carriedOn = [&] {
        for (const CClientSocket* pClient : m_pDlg->m_clientList) {
            if (pClient->IsCarriedOn()) {
                return true;
            }
        }
        return false;
    };
    // A peer that reads nothing: its download is left to the event loop, which answers the
    // page meanwhile instead of waiting on that peer.
    CClient stalled(nPort);
    stalled.SetReceiveBuffer(4096);
    stalled.Send("GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(QTest::qWaitFor(carriedOn, 5000));
    const auto answer = FetchWhileServing(nPort, "/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->strBody, "the index page");
    EXPECT_TRUE(carriedOn());
    EXPECT_TRUE(m_watcher.m_seen.empty());
}

TEST_F(ServerDlgTest, RunningLineCountsTheFilesVisitorsAddSinceStart) {
    Open();
    const unsigned nPort = StartOnFreePort();
    const auto put = [nPort](const std::string& strName) {
        const auto answer =
            SendWhileServing(nPort, "PUT /" + strName + " HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi");
        return answer ? answer->nStatus : 0;
    };
    QLabel* pServing = Find<QLabel>("servingLabel");
    const QString strPlain = pServing->text();
    EXPECT_TRUE(strPlain.startsWith(QStringLiteral("Serving "))) << strPlain.toStdString();
    EXPECT_FALSE(strPlain.contains(QLatin1Char('\n'))) << strPlain.toStdString();

    ClickBox(Upload());
    EXPECT_TRUE(m_pDlg->m_bUpload);
    EXPECT_EQ(pServing->text(), strPlain + QStringLiteral("\nVisitors have added no files yet."));
    EXPECT_EQ(put("a.txt"), 201);
    EXPECT_EQ(pServing->text(), strPlain + QStringLiteral("\nVisitors have added 1 file."));
    EXPECT_EQ(put("a.txt"), 409);  // refused: not counted
    EXPECT_EQ(put("b.txt"), 201);
    EXPECT_EQ(pServing->text(), strPlain + QStringLiteral("\nVisitors have added 2 files."));

    // Unticked, the files added still count; the note of the bare address comes after.
    ClickBox(Upload());
    EXPECT_FALSE(m_pDlg->m_bUpload);
    EXPECT_EQ(pServing->text(), strPlain + QStringLiteral("\nVisitors have added 2 files."));
    Type(DefaultPage(), QStringLiteral("missing.htm"));
    EXPECT_EQ(pServing->text(),
              strPlain + QStringLiteral("\nVisitors have added 2 files.\nVisitors of the bare "
                                        "address get the error page: the folder holds no "
                                        "missing.htm."));
    Type(DefaultPage(), QStringLiteral("index.htm"));

    // Stopped, the line goes; a new Start counts afresh.
    Click(Stop());
    EXPECT_FALSE(pServing->isVisible());
    EXPECT_EQ(Address()->text(), QStringLiteral("Stopped"));
    Click(Start());
    EXPECT_EQ(m_pDlg->m_nFilesAdded, 0u);
    EXPECT_EQ(pServing->text(), strPlain);
    EXPECT_TRUE(m_watcher.m_seen.empty());
}

TEST_F(ServerDlgTest, DefaultPageTypedWhileRunningServesFromTheNextRequest) {
    WriteFile(m_root / "other.htm", "the other page");
    Open();
    const unsigned nPort = StartOnFreePort();
    auto answer = FetchWhileServing(nPort, "/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->strBody, "the index page");

    Type(DefaultPage(), QStringLiteral("other.htm"));
    answer = FetchWhileServing(nPort, "/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->strBody, "the other page");
    EXPECT_TRUE(m_watcher.m_seen.empty());
    EXPECT_TRUE(ProfileHas("DefaultURL=index.htm"));  // typing alone saves nothing
}

TEST_F(ServerDlgTest, WindowMenuHoldsAboutBelowASeparator) {
    Open();
    QMenu* pMenu = Find<QMenu>("windowMenu");
    ASSERT_NE(pMenu, nullptr);
    const QList<QAction*> actions = pMenu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Mi&nimize"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("&Close"));
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), QStringLiteral("&About Tarvel..."));

    actions[3]->trigger();
    Click(About());
    ASSERT_EQ(m_watcher.m_seen.size(), 2u);
    for (const SSeenWindow& seen : m_watcher.m_seen) {
        EXPECT_EQ(seen.strClass, QStringLiteral("CAboutDlg"));
        EXPECT_EQ(seen.strTitle, QStringLiteral("About Tarvel"));
        EXPECT_TRUE(seen.strText.split('\n').contains(QStringLiteral("Tarvel Version 1.1")));
    }

    // A right click on the background and Alt+Space open it.
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(4, 4),
                                 m_pDlg->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(m_pDlg.get(), &rightClick);
    EXPECT_TRUE(pMenu->isVisible());
    pMenu->close();
    Activate();
    QTest::keyClick(m_pDlg.get(), Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(pMenu->isVisible());
    pMenu->close();

    actions[0]->trigger();
    EXPECT_TRUE(m_pDlg->isMinimized());
    actions[1]->trigger();
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_EQ(m_pDlg->result(), QDialog::Rejected);
    EXPECT_FALSE(std::filesystem::exists(m_strProfile));
}

TEST_F(ServerDlgTest, HelpOpensTheDocumentOrSaysItFailed) {
    CUrlCatcher catcher({QStringLiteral("file")});
    Open();
    Click(Help());
    ExpectOneBox(QMessageBox::Warning, QStringLiteral("Failed to launch help."));
    EXPECT_TRUE(catcher.m_opened.empty());

    CTempDir docs;
    WriteFile(docs / "Tarvel.html", "<html></html>");
    const QString strDocs = QString::fromStdString(docs.Path().string());
    m_pDlg->SetHelpFolders({QString::fromStdString(m_noHelp.Path().string()), strDocs});
    Click(Help());
    Activate();
    QTest::keyClick(m_pDlg.get(), Qt::Key_F1);
    const QUrl expected = QUrl::fromLocalFile(strDocs + QStringLiteral("/Tarvel.html"));
    EXPECT_EQ(catcher.m_opened, (std::vector<QUrl>{expected, expected}));
    EXPECT_EQ(m_watcher.m_seen.size(), 1u);

    const QStringList folders = CServerDlg::DefaultHelpFolders();
    ASSERT_EQ(folders.size(), 2);
    EXPECT_TRUE(folders[0].endsWith(QStringLiteral("/share/tarvel")));
    EXPECT_EQ(folders[1], QCoreApplication::applicationDirPath());
}

TEST_F(ServerDlgTest, TermAndIntCloseLikeTheCloseBoxWithoutSaving) {
    for (int nSignal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(nSignal);
        Open();
        StartOnFreePort();
        const std::string strSaved = ProfileText();
        Type(DefaultPage(), QStringLiteral("changed.htm"));
        {
            CSignalCloser closer(m_pDlg.get());
            ASSERT_EQ(::raise(nSignal), 0);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !m_pDlg->isVisible(); }, 5000));
        }
        EXPECT_EQ(m_pDlg->result(), QDialog::Rejected);
        EXPECT_EQ(ProfileText(), strSaved);
        struct sigaction now {};
        ::sigaction(nSignal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL);  // handed back when the closer went
    }
}

TEST_F(ServerDlgTest, TermWhileAMessageBoxIsUpClosesTheBoxAndTheWindow) {
    Open();
    Channel()->setText(QStringLiteral("80x"));
    CSignalCloser closer(m_pDlg.get());
    bool bBoxClosed = false;
    m_watcher.m_inspect = [&](QWidget* pModal) {
        if (m_watcher.m_seen.size() == 1) {
            ::raise(SIGTERM);
            bBoxClosed = QTest::qWaitFor([&] { return !pModal->isVisible(); }, 5000);
        }
    };
    // Exit would warn twice; the signal ends the first box, and the second has
    // no loop left to wait in.
    Click(Exit());
    EXPECT_TRUE(bBoxClosed);
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_EQ(m_pDlg->result(), QDialog::Rejected);

    // The closer ended every event loop, and that holds for later ones until the
    // application's own loop has run once.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

TEST_F(ServerDlgTest, BrowseFillsTheRootFromTheFolderDialogAndNeitherSavesNorStarts) {
    CTempDir other;
    const std::string strChosen = other / "photos";
    std::filesystem::create_directories(strChosen);
    Open();
    Root()->setText(RootText());
    QString strOpenedAt;
    m_watcher.m_inspect = [&](QWidget* pModal) {
        if (auto* pDialog = qobject_cast<QFileDialog*>(pModal)) {
            strOpenedAt = pDialog->directory().absolutePath();
            pDialog->setDirectory(QString::fromStdString(strChosen));
            static_cast<QDialog*>(pDialog)->accept();  // as its Choose button
        }
    };
    Click(Browse());
    ASSERT_EQ(m_watcher.m_seen.size(), 1u);
    EXPECT_EQ(m_watcher.m_seen[0].strClass, QStringLiteral("QFileDialog"));
    EXPECT_EQ(strOpenedAt, RootText());  // the dialog opens at the current root
    EXPECT_EQ(Root()->text(), QString::fromStdString(strChosen));
    ExpectArrangement(false);
    EXPECT_FALSE(std::filesystem::exists(m_strProfile));

    // Cancelled, it changes nothing.
    m_watcher.m_inspect = {};
    Click(Browse());
    EXPECT_EQ(m_watcher.m_seen.size(), 2u);
    EXPECT_EQ(Root()->text(), QString::fromStdString(strChosen));
    ExpectArrangement(false);
    EXPECT_FALSE(std::filesystem::exists(m_strProfile));
}

TEST_F(ServerDlgTest, AFolderDroppedWhileStoppedBecomesTheRootByteForByte) {
    const std::string strFolder = m_root / "caf\xe9";  // a Latin-1 name
    WriteFile(strFolder + "/index.htm", "from a Latin-1 folder");
    Open();
    // Sends a drag of url onto the window and drops it, as a file manager would.
    auto drop = [&](const QUrl& url) {
        QMimeData data;
        data.setUrls({url});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(m_pDlg.get(), &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_pDlg.get(), &dropped);
        return dropped.isAccepted();
    };
    EXPECT_FALSE(drop(QUrl::fromLocalFile(RootText() + QStringLiteral("/index.htm"))));  // a file
    EXPECT_FALSE(drop(QUrl(QStringLiteral("http://example.org/"))));
    EXPECT_EQ(Root()->text(), QStringLiteral("."));

    // A file manager percent-encodes the name's bytes, UTF-8 or not.
    ASSERT_TRUE(drop(QUrl::fromEncoded(
        "file://" + QByteArray::fromStdString(strFolder).toPercentEncoding("/"))));
    EXPECT_EQ(Root()->text(), RootText() + QStringLiteral("/caf\\xE9"));
    ExpectArrangement(false);
    EXPECT_FALSE(std::filesystem::exists(m_strProfile));

    const unsigned nPort = FreePort();
    Channel()->setText(QString::number(nPort));
    Click(Start());
    ExpectArrangement(true);
    EXPECT_TRUE(ProfileHas("Root=" + strFolder));
    const auto answer = FetchWhileServing(nPort, "/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->strBody, "from a Latin-1 folder");
    EXPECT_FALSE(drop(QUrl::fromLocalFile(RootText())));  // not while running
    EXPECT_EQ(Root()->text(), RootText() + QStringLiteral("/caf\\xE9"));
}

TEST_F(ServerDlgTest, NamesThatAreNotUtf8SurviveOpenAndExitAndAreServed) {
    const std::string strFolder = m_root / "caf\xe9";
    WriteFile(strFolder + "/p\xe2ge.htm", "the Latin-1 page");
    const unsigned nPort = FreePort();
    WriteProfile("Root=" + strFolder + "\nChannel=" + std::to_string(static_cast<int16_t>(nPort)) +
                 "\nDefaultURL=p\xe2ge.htm\nAutoStart=0\n");
    const std::string strStored = ProfileText();
    Open();
    EXPECT_EQ(Root()->text(), RootText() + QStringLiteral("/caf\\xE9"));
    EXPECT_EQ(DefaultPage()->text(), QStringLiteral("p\\xE2ge.htm"));
    Click(Exit());
    EXPECT_EQ(m_pDlg->result(), QDialog::Accepted);
    EXPECT_EQ(ProfileText(), strStored);

    Open();
    Click(Start());
    ExpectArrangement(true);
    EXPECT_TRUE(m_watcher.m_seen.empty());
    const auto answer = FetchWhileServing(nPort, "/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->strBody, "the Latin-1 page");
    EXPECT_TRUE(ReachText().contains(QStringLiteral("caf\\xE9"))) << ReachText().toStdString();
    EXPECT_FALSE(ReachText().contains(QStringLiteral("error page")));

    // An edit is the person's new value: its UTF-8 bytes, each \xHH as that byte.
    Type(DefaultPage(), QStringLiteral("p\\xE2ge2.htm"));
    EXPECT_EQ(m_pDlg->m_strDefaultURL, "p\xe2ge2.htm");
    Type(DefaultPage(), QString::fromUtf8("p\xc3\xa2ge.htm"));
    EXPECT_EQ(m_pDlg->m_strDefaultURL, "p\xc3\xa2ge.htm");
    Click(Exit());
    EXPECT_TRUE(ProfileHas("Root=" + strFolder));
    EXPECT_TRUE(ProfileHas("DefaultURL=p\xc3\xa2ge.htm"));
}

TEST_F(ServerDlgTest, RunningLineListsTheAddressesAsLinksThatOpenAndCopy) {
    CUrlCatcher catcher({QStringLiteral("http")});
    Open();
    m_pDlg->SetAddressSource([] { return std::vector<std::string>{"192.0.2.7", "10.0.0.3"}; });
    const unsigned nPort = StartOnFreePort();
    const QString strPort = QString::number(nPort);
    const QStringList urls{"http://192.0.2.7:" + strPort + "/", "http://10.0.0.3:" + strPort + "/",
                           "http://localhost:" + strPort + "/"};
    EXPECT_EQ(Address()->text(), QStringLiteral("Running at"));
    ASSERT_EQ(LinkUrls(), urls);
    for (QLabel* pLink : Links()) {
        EXPECT_EQ(pLink->focusPolicy(), Qt::NoFocus);
    }

    QLabel* pFirst = Links()[0];
    QTest::mouseClick(pFirst, Qt::LeftButton, {}, QPoint(4, pFirst->height() / 2));
    EXPECT_EQ(catcher.m_opened, std::vector<QUrl>{QUrl(urls[0])});

    // A right click on an address offers to copy it; elsewhere the window menu stays. A new
    // private link is offered only while the private link is on.
    QMenu* pAddressMenu = Find<QMenu>("addressMenu");
    QMenu* pWindowMenu = Find<QMenu>("windowMenu");
    ASSERT_EQ(pAddressMenu->actions().size(), 2);
    EXPECT_EQ(pAddressMenu->actions()[0]->text(), QStringLiteral("Copy address"));
    EXPECT_EQ(pAddressMenu->actions()[1]->text(), QStringLiteral("New private link"));
    EXPECT_FALSE(pAddressMenu->actions()[1]->isEnabled());
    auto copyFrom = [&](QWidget* pWidget) {
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(4, 4),
                                     pWidget->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(pWidget, &rightClick);
        EXPECT_TRUE(pAddressMenu->isVisible());
        EXPECT_FALSE(pWindowMenu->isVisible());
        pAddressMenu->actions()[0]->trigger();
        pAddressMenu->close();
        return QGuiApplication::clipboard()->text();
    };
    for (int n = 0; n < urls.size(); ++n) {
        EXPECT_EQ(copyFrom(Links()[n]), urls[n]);
    }
    QGuiApplication::clipboard()->clear();
    EXPECT_EQ(copyFrom(QrCode()), urls[0]);
    QContextMenuEvent onLabel(QContextMenuEvent::Mouse, QPoint(2, 2),
                              Address()->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(Address(), &onLabel);
    EXPECT_TRUE(pWindowMenu->isVisible());
    EXPECT_FALSE(pAddressMenu->isVisible());
    pWindowMenu->close();

    // The addresses are taken at Start: a new network shows after Stop and Start.
    m_pDlg->SetAddressSource([] { return std::vector<std::string>{}; });
    EXPECT_EQ(LinkUrls(), urls);
    Click(Stop());
    EXPECT_TRUE(Links().isEmpty());
    Click(Start());
    EXPECT_EQ(LinkUrls(), QStringList{urls[2]});
    EXPECT_EQ(
        Address()->text(),
        QStringLiteral("Running, but no network was found: only this computer reaches it, at"));
    EXPECT_FALSE(QrCode()->isVisible());
}

TEST_F(ServerDlgTest, QrCodeReadsBackFromItsPixelsAsTheFirstAddress) {
    const struct {
        std::vector<std::string> addresses;
        const char* pszHost;
    } rows[] = {{{"192.0.2.7", "10.0.0.3"}, "192.0.2.7"}, {{"203.0.113.254"}, "203.0.113.254"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszHost);
        Open();
        m_pDlg->SetAddressSource([&] { return row.addresses; });
        const unsigned nPort = StartOnFreePort();
        ASSERT_TRUE(QrCode()->isVisible());
        const std::string strUrl =
            std::string("http://") + row.pszHost + ":" + std::to_string(nPort) + "/";
        EXPECT_EQ(ReadQrCode(QrCode(), m_config / "qr.png"), strUrl);

        // Whole-pixel modules of one size inside a quiet zone of four, black on white.
        const QImage image = QrCode()->grab().toImage();
        const int nQuiet = CQrCodeWidget::kQuietModules * CQrCodeWidget::kModulePixels;
        EXPECT_EQ(image.width() % CQrCodeWidget::kModulePixels, 0);
        for (int nY = 0; nY < image.height(); ++nY) {
            for (int nX = 0; nX < image.width(); ++nX) {
                const QRgb pixel = image.pixel(nX, nY) & 0xFFFFFF;
                const bool bQuiet = nX < nQuiet || nY < nQuiet || nX >= image.width() - nQuiet ||
                                    nY >= image.height() - nQuiet;
                ASSERT_TRUE(pixel == 0xFFFFFF || (pixel == 0 && !bQuiet))
                    << "pixel " << nX << "," << nY << " is " << std::hex << pixel;
            }
        }
        Click(Stop());
        EXPECT_FALSE(QrCode()->isVisible());
    }
}

TEST_F(ServerDlgTest, RunningLineSaysWhatVisitorsOfTheBareAddressGet) {
    std::filesystem::remove(m_root / "index.htm");
    WriteFile(m_root / "photo.jpg", "a photo");
    Open();
    const unsigned nPort = StartOnFreePort();
    const QString strNoPage = QStringLiteral(
        "Visitors of the bare address get the error page: the folder holds no index.htm.");
    EXPECT_TRUE(ReachText().contains(strNoPage)) << ReachText().toStdString();
    ClickBox(ListFolders());
    EXPECT_TRUE(ReachText().contains(QStringLiteral(
        "Visitors of the bare address see the list of files: the folder holds no index.htm.")))
        << ReachText().toStdString();
    EXPECT_FALSE(ReachText().contains(QStringLiteral("error page")));
    Type(DefaultPage(), QString());
    EXPECT_TRUE(ReachText().contains(QStringLiteral(
        "Visitors of the bare address see the list of files: no default page is set.")))
        << ReachText().toStdString();
    ClickBox(ListFolders());
    EXPECT_TRUE(ReachText().contains(
        QStringLiteral("Visitors of the bare address get the error page: no default page is set.")))
        << ReachText().toStdString();

    WriteFile(m_root / "home.htm", "the home page");
    Type(DefaultPage(), QStringLiteral("home.htm"));
    EXPECT_FALSE(ReachText().contains(QStringLiteral("error page"))) << ReachText().toStdString();
    const auto answer = FetchWhileServing(nPort, "/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->strBody, "the home page");

    // With the preview the default page still counts, and a folder with no front page at all
    // still gets the error page.
    ClickBox(Preview());
    EXPECT_FALSE(ReachText().contains(QStringLiteral("error page"))) << ReachText().toStdString();
    Type(DefaultPage(), QStringLiteral("index.htm"));
    EXPECT_TRUE(ReachText().contains(strNoPage)) << ReachText().toStdString();
    // Its front page index.html serves the bare address while the preview is on.
    WriteFile(m_root / "index.html", "the html index");
    ClickBox(Preview());
    EXPECT_TRUE(ReachText().contains(strNoPage)) << ReachText().toStdString();
    ClickBox(Preview());
    EXPECT_FALSE(ReachText().contains(QStringLiteral("error page"))) << ReachText().toStdString();
    const auto front = FetchWhileServing(nPort, "/");
    ASSERT_TRUE(front);
    EXPECT_EQ(front->strBody, "the html index");
}

TEST_F(ServerDlgTest, PrivateBoxHandsOutTheSecretAddressEverywhereAndIsStoredAtOnce) {
    const unsigned nPort = FreePort();
    const std::string strFive = "[Defaults]\nRoot=" + m_root.Path().string() +
                                "\nChannel=" + std::to_string(static_cast<int16_t>(nPort)) +
                                "\nDefaultURL=index.htm\nAutoStart=0\n";
    WriteFile(m_strProfile, strFive);
    ::chmod(m_strProfile.c_str(), 0644);
    Open();
    m_pDlg->SetAddressSource([] { return std::vector<std::string>{"192.0.2.7"}; });
    Click(Start());
    const QStringList plain = TestUrls("/");
    ASSERT_EQ(LinkUrls(), plain);
    EXPECT_EQ(ProfileText(), strFive);  // never ticked: not one byte more
    EXPECT_EQ(ProfileMode(), 0644u);

    // Ticked while running: a fresh secret, stored at once in a file only its owner reads,
    // and every address handed out holds it.
    ClickBox(Private());
    EXPECT_TRUE(m_pDlg->m_bPrivate);
    const std::string strKey = m_pDlg->m_strPrivateKey;
    ASSERT_TRUE(IsPrivateKey(strKey)) << strKey;
    EXPECT_EQ(ProfileText(), strFive + "Private=1\nPrivateKey=" + strKey + "\n");
    EXPECT_EQ(ProfileMode(), 0600u);
    const QStringList secret = TestUrls("/" + strKey + "/");
    EXPECT_EQ(LinkUrls(), secret);
    EXPECT_EQ(QrCode()->Text(), secret[0]);
    EXPECT_EQ(CopyAddressFrom(QrCode()), secret[0]);
    EXPECT_EQ(CopyAddressFrom(Links()[1]), secret[1]);
    EXPECT_TRUE(Find<QMenu>("addressMenu")->actions()[1]->isEnabled());
    ExpectArrangement(true);
    const auto answer = FetchWhileServing(nPort, "/" + strKey + "/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->strBody, "the index page");
    EXPECT_EQ(StatusOf(nPort, "/"), 404);

    // Unticked, the plain addresses again; the secret is kept for the next time.
    ClickBox(Private());
    EXPECT_EQ(LinkUrls(), plain);
    EXPECT_EQ(QrCode()->Text(), plain[0]);
    EXPECT_EQ(CopyAddressFrom(Links()[0]), plain[0]);
    EXPECT_FALSE(Find<QMenu>("addressMenu")->actions()[1]->isEnabled());
    EXPECT_EQ(ProfileText(), strFive + "Private=0\nPrivateKey=" + strKey + "\n");
    EXPECT_EQ(StatusOf(nPort, "/"), 200);
    ClickBox(Private());
    EXPECT_EQ(m_pDlg->m_strPrivateKey, strKey);
    EXPECT_EQ(LinkUrls(), secret);
    EXPECT_TRUE(m_watcher.m_seen.empty());
}

TEST_F(ServerDlgTest, NewPrivateLinkChangesTheAddressAtOnceAndTheOldOneReachesNothing) {
    WriteFile(m_root / "photo.jpg", "a photo");
    Open();
    m_pDlg->SetAddressSource([] { return std::vector<std::string>{"192.0.2.7"}; });
    const unsigned nPort = StartOnFreePort();
    ClickBox(Private());
    const std::string strOld = m_pDlg->m_strPrivateKey;
    ASSERT_EQ(StatusOf(nPort, "/" + strOld + "/photo.jpg"), 200);

    NewPrivateLinkFrom(Links()[0]);
    const std::string strNew = m_pDlg->m_strPrivateKey;
    ASSERT_TRUE(IsPrivateKey(strNew)) << strNew;
    EXPECT_NE(strNew, strOld);
    EXPECT_TRUE(ProfileHas("PrivateKey=" + strNew));
    const QStringList secret = TestUrls("/" + strNew + "/");
    EXPECT_EQ(LinkUrls(), secret);
    EXPECT_EQ(QrCode()->Text(), secret[0]);
    EXPECT_EQ(ReadQrCode(QrCode(), m_config / "qr.png"), secret[0].toStdString());
    EXPECT_EQ(CopyAddressFrom(QrCode()), secret[0]);
    EXPECT_EQ(StatusOf(nPort, "/" + strOld + "/photo.jpg"), 404);
    const auto answer = FetchWhileServing(nPort, "/" + strNew + "/photo.jpg");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->nStatus, 200);
    EXPECT_EQ(answer->strBody, "a photo");

    // From the QR code too; with the box off the command is there but does nothing.
    NewPrivateLinkFrom(QrCode());
    EXPECT_NE(m_pDlg->m_strPrivateKey, strNew);
    ClickBox(Private());
    const std::string strKept = m_pDlg->m_strPrivateKey;
    NewPrivateLinkFrom(QrCode());
    EXPECT_EQ(m_pDlg->m_strPrivateKey, strKept);
    EXPECT_TRUE(ProfileHas("PrivateKey=" + strKept));
    EXPECT_TRUE(m_watcher.m_seen.empty());
}

TEST_F(ServerDlgTest, ThePrivateLinkSurvivesARestartThroughTheProfile) {
    Open();
    const unsigned nPort = StartOnFreePort();
    ClickBox(Private());
    const std::string strKey = m_pDlg->m_strPrivateKey;
    Click(Exit());
    EXPECT_TRUE(ProfileHas("Private=1"));

    Open();  // the program run again
    EXPECT_EQ(Private()->checkState(), Qt::Checked);
    EXPECT_TRUE(Find<QMenu>("addressMenu")->actions()[1]->isEnabled());
    Click(Start());
    EXPECT_EQ(m_pDlg->m_strPrivateKey, strKey);
    EXPECT_EQ(
        LinkUrls().back(),
        QStringLiteral("http://localhost:%1/%2/").arg(nPort).arg(QString::fromStdString(strKey)));
    EXPECT_EQ(StatusOf(nPort, "/" + strKey + "/"), 200);

    // A profile that asks for the private link with no usable secret gets a fresh one at
    // Start, stored then, so a window closed without saving hands out the same one next time.
    m_pDlg.reset();
    WriteProfile("Root=" + m_root.Path().string() +
                 "\nChannel=" + std::to_string(static_cast<int16_t>(nPort)) +
                 "\nPrivate=1\nPrivateKey=not-a-secret\n");
    Open();
    Click(Start());
    const std::string strFresh = m_pDlg->m_strPrivateKey;
    ASSERT_TRUE(IsPrivateKey(strFresh)) << strFresh;
    EXPECT_TRUE(ProfileHas("PrivateKey=" + strFresh));
    EXPECT_EQ(ProfileMode(), 0600u);
    QTest::keyClick(m_pDlg.get(), Qt::Key_Escape);
    Open();
    Click(Start());
    EXPECT_EQ(m_pDlg->m_strPrivateKey, strFresh);
    EXPECT_TRUE(m_watcher.m_seen.empty());
}

TEST_F(ServerDlgTest, RunningLineSaysWhatVisitorsOfThePrivateAddressGet) {
    std::filesystem::remove(m_root / "index.htm");
    Open();
    const unsigned nPort = StartOnFreePort();
    ClickBox(Private());
    const std::string strInside = "/" + m_pDlg->m_strPrivateKey + "/";
    EXPECT_TRUE(ReachText().contains(QStringLiteral(
        "Visitors of the private address get the error page: the folder holds no index.htm.")))
        << ReachText().toStdString();
    EXPECT_FALSE(ReachText().contains(QStringLiteral("bare address")));
    EXPECT_EQ(StatusOf(nPort, strInside), 404);
    ClickBox(ListFolders());
    EXPECT_TRUE(ReachText().contains(QStringLiteral(
        "Visitors of the private address see the list of files: the folder holds no index.htm.")))
        << ReachText().toStdString();
    EXPECT_EQ(StatusOf(nPort, strInside), 200);
    ClickBox(ListFolders());

    // A default page there: no note, and the page under the secret.
    WriteFile(m_root / "index.htm", "the index page");
    Type(DefaultPage(), QStringLiteral("index.htm"));
    EXPECT_FALSE(ReachText().contains(QStringLiteral("Visitors of"))) << ReachText().toStdString();
    const auto answer = FetchWhileServing(nPort, strInside);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->strBody, "the index page");
}

}  // namespace
