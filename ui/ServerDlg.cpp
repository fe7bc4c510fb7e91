#include "ServerDlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QUrl>

#include "AboutDlg.h"
#include "AppIcon.h"
#include "AppMessage.h"
#include "ChannelText.h"
#include "Profile.h"
#include "Resource.h"
#include "Settings.h"
#include "SocketDispatcher.h"
#include "ui_ServerDlg.h"

namespace {
const QString kHelpFileName = QStringLiteral("Tarvel.html");

// The check box shows the flag 0, 1 and 2 as cleared, ticked and indeterminate
// (Qt numbers the last two the other way round).
constexpr Qt::CheckState kCheckStates[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};

int FlagOf(Qt::CheckState state) {
    switch (state) {
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
        case Qt::Unchecked:
            break;
    }
    return 0;
}

// Writing an unchanged text would move the cursor and drop the selection.
void SetFieldText(QLineEdit* pEdit, const std::string& strText) {
    const QString strNew = QString::fromStdString(strText);
    if (pEdit->text() != strNew) {
        pEdit->setText(strNew);
    }
}
}  // namespace

CServerDlg::CServerDlg(CProfile& profile, QWidget* pParent)
    : QDialog(pParent),
      m_pUi(new Ui::CServerDlg),
      m_profile(profile),
      m_helpFolders(DefaultHelpFolders()) {
    LoadServerSettings(m_profile, *this, m_bAutoStart);
    m_hIcon = AppIcon();

    m_pUi->setupUi(this);
    m_editChannel = m_pUi->channelEdit_1003;
    m_editRoot = m_pUi->rootEdit_1005;
    m_btnStop = m_pUi->stopButton_1001;
    m_btnStart = m_pUi->startButton_1000;
    m_editDefaultURL = m_pUi->defaultPageEdit_1006;
    m_checkAutoStart = m_pUi->autoStartCheck_1014;

    // An application window with a minimise box, neither maximised nor resized.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    // Links work by mouse only: the label must never take the keyboard focus,
    // and setting the interaction flags would give it some.
    QLabel* pAddress = m_pUi->addressLabel;
    pAddress->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    pAddress->setFocusPolicy(Qt::NoFocus);
    // Room for both lines from the start, so the window keeps its size on Start.
    pAddress->setText(QStringLiteral("Running<br>Serving"));
    pAddress->setMinimumHeight(pAddress->sizeHint().height());
    pAddress->setText(tr("Stopped"));

    connect(m_btnStart, &QPushButton::clicked, this, &CServerDlg::OnStart);
    connect(m_btnStop, &QPushButton::clicked, this, &CServerDlg::OnStop);
    connect(m_pUi->aboutButton_1011, &QPushButton::clicked, this, &CServerDlg::OnAbout);
    connect(m_pUi->helpButton_9, &QPushButton::clicked, this, &CServerDlg::OnHelp);
    connect(m_pUi->exitButton_1, &QPushButton::clicked, this, &CServerDlg::accept);
    // Edits by the person only: filling the fields must not read them back.
    connect(m_editDefaultURL, &QLineEdit::textEdited, this, &CServerDlg::OnChangeDefaultURL);
    connect(m_checkAutoStart, &QCheckBox::clicked, this, &CServerDlg::OnAutoStart);

    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
            &CServerDlg::OnHelp);
    m_pWindowMenu = new QMenu(this);
    m_pWindowMenu->setObjectName(QStringLiteral("windowMenu"));
    connect(new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this), &QShortcut::activated, this,
            [this] { OpenWindowMenu(mapToGlobal(QPoint(0, 0))); });

    // Every socket event arrives through the dispatcher's one descriptor. During
    // a blocked transfer the dispatcher waits on its own and only repaints, so
    // no input, command or timer of ours runs and the server is never re-entered.
    CSocketDispatcher& dispatcher = CSocketDispatcher::Get();
    m_pDispatchNotifier = new QSocketNotifier(dispatcher.Descriptor(), QSocketNotifier::Read, this);
    connect(m_pDispatchNotifier, &QSocketNotifier::activated, this,
            [] { CSocketDispatcher::Get().DispatchReady(); });
    dispatcher.SetRepaintHook([this] { repaint(); });
}

CServerDlg::~CServerDlg() {
    CSocketDispatcher::Get().SetRepaintHook({});
    // Clients still listed go with the listener, rather than with the process.
    ReleaseAll();
}

QStringList CServerDlg::DefaultHelpFolders() {
    const QString strProgramFolder = QCoreApplication::applicationDirPath();
    return {QDir::cleanPath(strProgramFolder + QStringLiteral("/" TARVEL_HELP_FROM_BINARY)),
            strProgramFolder};
}

void CServerDlg::SaveSettings() {
    StoreServerSettings(m_profile, *this, m_bAutoStart);
}

bool CServerDlg::ReadFields() {
    const SChannelRead channel = ReadChannelText(m_editChannel->text().toStdString());
    switch (channel.result) {
        case EChannelRead::kNotInteger:
            FailChannel(tr("Please enter an integer."));
            return false;
        case EChannelRead::kNoPort:
            FailChannel(tr("Please enter an integer between 1 and 65535."));
            return false;
        case EChannelRead::kPort:
            break;
    }
    m_nChannel = channel.nChannel;
    m_strRoot = m_editRoot->text().toStdString();
    m_strDefaultURL = m_editDefaultURL->text().toStdString();
    m_bAutoStart = FlagOf(m_checkAutoStart->checkState());
    return true;
}

void CServerDlg::FailChannel(const QString& strMessage) {
    ShowAppMessage(this, QMessageBox::Warning, strMessage);
    m_editChannel->setFocus();
    m_editChannel->selectAll();
}

void CServerDlg::FillFields() {
    SetFieldText(m_editChannel, ChannelText(m_nChannel));
    SetFieldText(m_editRoot, m_strRoot);
    SetFieldText(m_editDefaultURL, m_strDefaultURL);
    if (m_bAutoStart < 0 || m_bAutoStart > 2) {
        m_bAutoStart = 0;
    }
    m_checkAutoStart->setTristate(m_bAutoStart == 2);
    m_checkAutoStart->setCheckState(kCheckStates[m_bAutoStart]);
}

void CServerDlg::UpdateControls() {
    // Enable before disabling, so a focused button that goes grey hands the
    // focus to its partner rather than to the next field.
    const bool bRunning = m_bRunning != 0;
    m_btnStop->setEnabled(bRunning);
    m_btnStart->setEnabled(!bRunning);
    m_editChannel->setEnabled(!bRunning);
    m_editRoot->setEnabled(!bRunning);
    ShowAddress();
}

void CServerDlg::ShowAddress() {
    QLabel* pLabel = m_pUi->addressLabel;
    if (!m_bRunning) {
        pLabel->setText(tr("Stopped"));
        pLabel->setToolTip({});
        return;
    }
    const QString strAddress =
        QStringLiteral("http://localhost:%1/").arg(static_cast<uint16_t>(m_nChannel));
    const QString strFolder =
        QDir::cleanPath(QDir(QString::fromStdString(RootFolder())).absolutePath());
    const QString strServing = tr("Serving ");
    // A long folder is shortened in the middle to the window's width; the tip shows it whole.
    const QFontMetrics metrics = pLabel->fontMetrics();
    const int nRoom = pLabel->contentsRect().width() - metrics.horizontalAdvance(strServing);
    const QString strShown =
        nRoom > 0 ? metrics.elidedText(strFolder, Qt::ElideMiddle, nRoom) : strFolder;
    pLabel->setText(
        tr("Running at %1").arg(QStringLiteral("<a href=\"%1\">%1</a>").arg(strAddress)) +
        QStringLiteral("<br>") + (strServing + strShown).toHtmlEscaped());
    pLabel->setToolTip(strFolder);
}

void CServerDlg::OnStart() {
    // A rejected Channel has been shown and selected: nothing is saved and the
    // server stays stopped until the person corrects it and presses Start again.
    if (!ReadFields()) {
        return;
    }
    SaveSettings();
    StartServer();
    UpdateControls();
}

void CServerDlg::OnStop() {
    StopServer();
    UpdateControls();
}

void CServerDlg::accept() {
    StopServer();
    UpdateControls();
    ReadFields();  // a bad Channel has been shown; the members stand as before
    SaveSettings();
    if (ReadFields()) {
        QDialog::accept();
    }
}

void CServerDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CServerDlg::OnHelp() {
    for (const QString& strFolder : m_helpFolders) {
        const QString strPath = QDir(strFolder).filePath(kHelpFileName);
        if (QFileInfo(strPath).isFile()) {
            if (QDesktopServices::openUrl(QUrl::fromLocalFile(strPath))) {
                return;
            }
            break;  // found, but no browser would start
        }
    }
    ShowAppMessage(this, QMessageBox::Warning, tr("Failed to launch help."));
}

void CServerDlg::OnSysCommand(unsigned nID) {
    switch (nID & 0xFFF0) {
        case kIdmAboutBox:
            OnAbout();
            break;
        case kScMinimize:
            showMinimized();
            break;
        case kScClose:
            close();
            break;
        default:
            break;
    }
}

void CServerDlg::OnChangeDefaultURL() {
    // The new page applies from the next request; a bad Channel has been shown.
    ReadFields();
}

void CServerDlg::OnAutoStart() {
    // A click leaves the indeterminate state for good.
    m_checkAutoStart->setTristate(false);
    ReadFields();
    SaveSettings();
}

void CServerDlg::showEvent(QShowEvent* pEvent) {
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(pEvent);
}

void CServerDlg::OnInitDialog() {
    adjustSize();
    if (const QScreen* pScreen = screen()) {
        move(pScreen->availableGeometry().center() - rect().center());
    }
    FillFields();
    BuildWindowMenu();
    setWindowIcon(m_hIcon);
    UpdateControls();
    if (m_bAutoStart) {
        // Runs once the window is up, exactly as the Start button.
        QMetaObject::invokeMethod(this, &CServerDlg::OnStart, Qt::QueuedConnection);
    }
}

void CServerDlg::BuildWindowMenu() {
    // The desktop's own window menu is not there on every desktop: ours holds
    // what the program needs from it.
    auto addCommand = [this](const QString& strText, unsigned nID) {
        m_pWindowMenu->addAction(strText)->setData(nID);
    };
    addCommand(tr("Mi&nimize"), kScMinimize);
    addCommand(tr("&Close"), kScClose);
    const std::string_view strAbout = LoadResString(kIdsAboutBox);
    if (!strAbout.empty()) {
        m_pWindowMenu->addSeparator();
        addCommand(QString::fromUtf8(strAbout.data(), static_cast<qsizetype>(strAbout.size())),
                   kIdmAboutBox);
    }
    connect(m_pWindowMenu, &QMenu::triggered, this,
            [this](QAction* pAction) { OnSysCommand(pAction->data().toUInt()); });
}

void CServerDlg::OpenWindowMenu(const QPoint& globalPos) {
    m_pWindowMenu->popup(globalPos);
}

void CServerDlg::contextMenuEvent(QContextMenuEvent* pEvent) {
    OpenWindowMenu(pEvent->globalPos());
    pEvent->accept();
}

void CServerDlg::resizeEvent(QResizeEvent* pEvent) {
    QDialog::resizeEvent(pEvent);
    ShowAddress();  // the folder is fitted to the label's width
}

void CServerDlg::ShowStopMessage(const std::string& strText) {
    ShowAppMessage(this, QMessageBox::Critical, QString::fromStdString(strText));
}

void CServerDlg::BeepStop() {
    QApplication::beep();
}
