#include "ServerDlg.h"

#include <sys/stat.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QUrl>

#include "AboutDlg.h"
#include "AppIcon.h"
#include "AppMessage.h"
#include "ChannelText.h"
#include "FieldBytes.h"
#include "NetworkAddresses.h"
#include "Profile.h"
#include "QrCodeWidget.h"
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

// Names are bytes: the field shows what is not UTF-8 as \xHH, and gives back the
// same bytes for a text the person left as it was.
void SetBytesField(QLineEdit* pEdit, const std::string& strBytes) {
    SetFieldText(pEdit, FieldTextOfBytes(strBytes));
}

std::string BytesOfField(const QLineEdit* pEdit) {
    return BytesOfFieldText(pEdit->text().toStdString());
}

// The one local folder a drag carries, as the file system spells it; empty for
// anything else.
std::string DraggedFolder(const QMimeData* pData) {
    if (!pData || !pData->hasUrls() || pData->urls().size() != 1) {
        return {};
    }
    const QUrl url = pData->urls().front();
    if (!url.isLocalFile()) {
        return {};
    }
    // The encoded path keeps every byte of the name, UTF-8 or not.
    const std::string strPath =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
    struct stat status {};
    return ::stat(strPath.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? strPath
                                                                            : std::string();
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
    TakeControls();
    ShapeWindow();
    ConnectControls();
    AddKeysAndMenus();
    m_listAddresses = ReachableAddresses;
    AttachDispatcher();
}

void CServerDlg::TakeControls() {
    m_editChannel = m_pUi->channelEdit_1003;
    m_editRoot = m_pUi->rootEdit_1005;
    m_btnBrowse = m_pUi->browseButton;
    m_btnStop = m_pUi->stopButton_1001;
    m_btnStart = m_pUi->startButton_1000;
    m_editDefaultURL = m_pUi->defaultPageEdit_1006;
    m_checkAutoStart = m_pUi->autoStartCheck_1014;
    m_checkListFolders = m_pUi->listFoldersCheck;
    m_checkPreview = m_pUi->previewCheck;
    m_checkConcurrent = m_pUi->concurrentCheck;
    m_checkUpload = m_pUi->uploadCheck;
    m_checkPrivate = m_pUi->privateCheck;
}

void CServerDlg::ShapeWindow() {
    // An application window with a minimise box, neither maximised nor resized.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    m_pUi->addressLabel->setText(tr("Stopped"));
    m_pUi->addressList->hide();
    m_pUi->servingLabel->hide();
    m_pUi->qrCode->hide();

    // A folder dropped anywhere on the window is the new root, also over a
    // field, which would otherwise take its name as typed text.
    setAcceptDrops(true);
    for (QLineEdit* pEdit : {m_editChannel, m_editRoot, m_editDefaultURL}) {
        pEdit->setAcceptDrops(false);
    }
}

void CServerDlg::ConnectControls() {
    connect(m_btnStart, &QPushButton::clicked, this, &CServerDlg::OnStart);
    connect(m_btnStop, &QPushButton::clicked, this, &CServerDlg::OnStop);
    connect(m_btnBrowse, &QPushButton::clicked, this, &CServerDlg::OnBrowse);
    connect(m_pUi->aboutButton_1011, &QPushButton::clicked, this, &CServerDlg::OnAbout);
    connect(m_pUi->helpButton_9, &QPushButton::clicked, this, &CServerDlg::OnHelp);
    connect(m_pUi->exitButton_1, &QPushButton::clicked, this, &CServerDlg::accept);
    // Edits by the person only: filling the fields must not read them back.
    connect(m_editDefaultURL, &QLineEdit::textEdited, this, &CServerDlg::OnChangeDefaultURL);
    connect(m_checkAutoStart, &QCheckBox::clicked, this, &CServerDlg::OnAutoStart);
    connect(m_checkListFolders, &QCheckBox::clicked, this, &CServerDlg::OnListFolders);
    connect(m_checkPreview, &QCheckBox::clicked, this, &CServerDlg::OnPreview);
    connect(m_checkConcurrent, &QCheckBox::clicked, this, &CServerDlg::OnConcurrent);
    connect(m_checkUpload, &QCheckBox::clicked, this, &CServerDlg::OnUpload);
    connect(m_checkPrivate, &QCheckBox::clicked, this, &CServerDlg::OnPrivate);
}

void CServerDlg::AddKeysAndMenus() {
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
            &CServerDlg::OnHelp);
    m_pWindowMenu = new QMenu(this);
    m_pWindowMenu->setObjectName(QStringLiteral("windowMenu"));
    connect(new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this), &QShortcut::activated, this,
            [this] { OpenWindowMenu(mapToGlobal(QPoint(0, 0))); });

    // On an address (a link or the QR code) the right click copies it instead, or makes a
    // new private one.
    m_pAddressMenu = new QMenu(this);
    m_pAddressMenu->setObjectName(QStringLiteral("addressMenu"));
    connect(m_pAddressMenu->addAction(tr("Copy address")), &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(m_strAddressToCopy); });
    m_pNewLinkAction = m_pAddressMenu->addAction(tr("New private link"));
    m_pNewLinkAction->setEnabled(false);
    connect(m_pNewLinkAction, &QAction::triggered, this, &CServerDlg::OnNewPrivateLink);
    CQrCodeWidget* pQrCode = m_pUi->qrCode;
    pQrCode->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pQrCode, &QWidget::customContextMenuRequested, this, [this, pQrCode](QPoint pos) {
        OpenAddressMenu(pQrCode->Text(), pQrCode->mapToGlobal(pos));
    });
}

void CServerDlg::AttachDispatcher() {
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
    // A private link gets its secret before the save, so the address handed out survives a
    // restart.
    SharedPath();
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
    m_strRoot = BytesOfField(m_editRoot);
    m_strDefaultURL = BytesOfField(m_editDefaultURL);
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
    SetBytesField(m_editRoot, m_strRoot);
    SetBytesField(m_editDefaultURL, m_strDefaultURL);
    if (m_bAutoStart < 0 || m_bAutoStart > 2) {
        m_bAutoStart = 0;
    }
    m_checkAutoStart->setTristate(m_bAutoStart == 2);
    m_checkAutoStart->setCheckState(kCheckStates[m_bAutoStart]);
    m_checkListFolders->setChecked(m_bListFolders);
    m_checkPreview->setChecked(m_bPreview);
    m_checkConcurrent->setChecked(m_bConcurrent);
    m_checkUpload->setChecked(m_bUpload);
    m_checkPrivate->setChecked(m_bPrivate);
    m_pNewLinkAction->setEnabled(m_bPrivate);
}

void CServerDlg::UpdateControls() {
    // Enable before disabling, so a focused button that goes grey hands the
    // focus to its partner rather than to the next field.
    const bool bRunning = m_bRunning != 0;
    m_btnStop->setEnabled(bRunning);
    m_btnStart->setEnabled(!bRunning);
    m_editChannel->setEnabled(!bRunning);
    m_editRoot->setEnabled(!bRunning);
    m_btnBrowse->setEnabled(!bRunning);
    ShowAddress();
}

void CServerDlg::ShowAddress() {
    QLabel* pStatus = m_pUi->addressLabel;
    QLabel* pServing = m_pUi->servingLabel;
    CQrCodeWidget* pQrCode = m_pUi->qrCode;
    if (!m_bRunning) {
        pStatus->setText(tr("Stopped"));
        ShowAddressLinks({});
        pServing->hide();
        pServing->setToolTip({});
        pQrCode->hide();
        pQrCode->SetText({});
        return;
    }
    const QStringList urls = AddressUrls();
    pStatus->setText(
        m_addresses.empty()
            ? tr("Running, but no network was found: only this computer reaches it, at")
            : tr("Running at"));
    ShowAddressLinks(urls);
    pQrCode->SetText(m_addresses.empty() ? QString() : urls.front());
    pQrCode->setVisible(!m_addresses.empty());
    ShowServingLine();
}

void CServerDlg::ShowServingLine() {
    QLabel* pServing = m_pUi->servingLabel;
    const QString strFolder = QDir::cleanPath(
        QDir(QString::fromStdString(FieldTextOfBytes(RootFolder()))).absolutePath());
    const QString strServing = tr("Serving ");
    // A long folder is shortened in the middle to the window's width; the tip shows it whole.
    const QFontMetrics metrics = pServing->fontMetrics();
    const int nRoom = pServing->contentsRect().width() - metrics.horizontalAdvance(strServing);
    QString strText =
        strServing +
        (nRoom > 0 ? metrics.elidedText(strFolder, Qt::ElideMiddle, nRoom) : strFolder);
    for (const QString& strNote : {FilesAddedNote(), FrontPageNote()}) {
        if (!strNote.isEmpty()) {
            strText += QLatin1Char('\n') + strNote;
        }
    }
    pServing->setText(strText);
    pServing->setToolTip(strFolder);
    pServing->show();
}

QStringList CServerDlg::AddressUrls() {
    const unsigned nPort = static_cast<uint16_t>(m_nChannel);
    const QString strPath = QString::fromStdString(SharedPath());
    QStringList urls;
    for (const std::string& strAddress : m_addresses) {
        urls << QStringLiteral("http://%1:%2%3")
                    .arg(QString::fromStdString(strAddress))
                    .arg(nPort)
                    .arg(strPath);
    }
    urls << QStringLiteral("http://localhost:%1%2").arg(nPort).arg(strPath);
    return urls;
}

QString CServerDlg::FilesAddedNote() const {
    if (!m_bUpload && m_nFilesAdded == 0) {
        return {};
    }
    switch (m_nFilesAdded) {
        case 0:
            return tr("Visitors have added no files yet.");
        case 1:
            return tr("Visitors have added 1 file.");
        default:
            return tr("Visitors have added %1 files.").arg(static_cast<qulonglong>(m_nFilesAdded));
    }
}

QString CServerDlg::FrontPageNote() const {
    // Without the listing, a shared folder of photos shows visitors only the error page.
    if (BareAddressServesPage()) {
        return {};
    }
    const QString strReason =
        m_strDefaultURL.empty()
            ? tr("no default page is set.")
            : tr("the folder holds no %1.")
                  .arg(QString::fromStdString(FieldTextOfBytes(m_strDefaultURL)));
    // With the private link on, the bare address gets the error page whatever the folder
    // holds: the note is about the address the window hands out.
    if (m_bPrivate) {
        return (m_bListFolders ? tr("Visitors of the private address see the list of files: %1")
                               : tr("Visitors of the private address get the error page: %1"))
            .arg(strReason);
    }
    return (m_bListFolders ? tr("Visitors of the bare address see the list of files: %1")
                           : tr("Visitors of the bare address get the error page: %1"))
        .arg(strReason);
}

void CServerDlg::ShowAddressLinks(const QStringList& urls) {
    if (urls == m_shownUrls) {
        return;
    }
    m_shownUrls = urls;
    QWidget* pList = m_pUi->addressList;
    qDeleteAll(pList->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly));
    for (const QString& strUrl : urls) {
        auto* pLink =
            new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(strUrl.toHtmlEscaped()), pList);
        pLink->setObjectName(QStringLiteral("addressLink"));
        pLink->setTextFormat(Qt::RichText);
        pLink->setOpenExternalLinks(true);
        // Links work by mouse only: a label must never take the keyboard focus,
        // and setting the interaction flags would give it some.
        pLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        pLink->setFocusPolicy(Qt::NoFocus);
        pLink->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(pLink, &QWidget::customContextMenuRequested, this,
                [this, pLink, strUrl](QPoint pos) {
                    OpenAddressMenu(strUrl, pLink->mapToGlobal(pos));
                });
        pList->layout()->addWidget(pLink);
    }
    pList->setVisible(!urls.isEmpty());
}

void CServerDlg::OpenAddressMenu(const QString& strUrl, const QPoint& globalPos) {
    m_strAddressToCopy = strUrl;
    m_pAddressMenu->popup(globalPos);
}

void CServerDlg::OnStart() {
    // A rejected Channel has been shown and selected: nothing is saved and the
    // server stays stopped until the person corrects it and presses Start again.
    if (!ReadFields()) {
        return;
    }
    SaveSettings();
    StartServer();
    // Taken once a start: after a change of network, Stop and Start show the new ones.
    m_addresses = m_bRunning ? m_listAddresses() : std::vector<std::string>();
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

void CServerDlg::OnBrowse() {
    const std::string strRoot = BytesOfField(m_editRoot);
    const QString strStart =
        QDir(QFile::decodeName(QByteArray::fromStdString(strRoot.empty() ? "." : strRoot)))
            .absolutePath();
    const QString strChosen =
        QFileDialog::getExistingDirectory(this, tr("Choose the folder to serve"), strStart);
    if (!strChosen.isEmpty()) {
        SetBytesField(m_editRoot, QFile::encodeName(strChosen).toStdString());
    }
}

void CServerDlg::dragEnterEvent(QDragEnterEvent* pEvent) {
    if (!m_bRunning && !DraggedFolder(pEvent->mimeData()).empty()) {
        pEvent->acceptProposedAction();
    }
}

void CServerDlg::dropEvent(QDropEvent* pEvent) {
    const std::string strFolder = m_bRunning ? std::string() : DraggedFolder(pEvent->mimeData());
    if (!strFolder.empty()) {
        SetBytesField(m_editRoot, strFolder);
        pEvent->acceptProposedAction();
    }
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
    ShowAddress();  // whether visitors of the bare address get a page
}

void CServerDlg::OnAutoStart() {
    // A click leaves the indeterminate state for good.
    m_checkAutoStart->setTristate(false);
    ReadFields();
    SaveSettings();
}

void CServerDlg::OnListFolders() {
    ApplyServingBox(m_checkListFolders, m_bListFolders);
}

void CServerDlg::OnPreview() {
    ApplyServingBox(m_checkPreview, m_bPreview);
}

void CServerDlg::OnConcurrent() {
    ApplyServingBox(m_checkConcurrent, m_bConcurrent);
}

void CServerDlg::OnUpload() {
    ApplyServingBox(m_checkUpload, m_bUpload);
}

void CServerDlg::OnPrivate() {
    // Ticked without a secret, the save makes one; unticked, the secret is kept for the next
    // time, so the address handed out stays the same.
    ApplyServingBox(m_checkPrivate, m_bPrivate);
    m_pNewLinkAction->setEnabled(m_bPrivate);
}

void CServerDlg::OnNewPrivateLink() {
    if (!m_bPrivate) {
        return;
    }
    // The old address reaches nothing from the next request: the server checks each one.
    NewPrivateLink();
    ReadFields();
    SaveSettings();
    ShowAddress();  // the lines, their links and the QR code
}

void CServerDlg::ApplyServingBox(const QCheckBox* pBox, bool& bOption) {
    // Applies from the next request, also while running; a bad Channel has been shown.
    bOption = pBox->isChecked();
    ReadFields();
    SaveSettings();
    ShowAddress();  // what visitors of the bare address see
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

void CServerDlg::OnFileAdded() {
    // Called amid the request; the label repaints with the window, also during a transfer.
    if (m_bRunning) {
        ShowServingLine();
    }
}
