// The control window: edits the settings, starts and stops the server, and is
// the server itself (CServerCore). Runs modal for the program's lifetime.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ServerCore.h"

class CProfile;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSocketNotifier;

namespace Ui {
class CServerDlg;
}

class CServerDlg : public QDialog, public CServerCore {
    Q_OBJECT

public:
    // Loads the settings from the profile, which must outlive the window: the
    // application's own, or one a test makes.
    explicit CServerDlg(CProfile& profile, QWidget* pParent = nullptr);
    ~CServerDlg() override;

    // The folders searched for the help document, in order.
    static QStringList DefaultHelpFolders();
    void SetHelpFolders(QStringList helpFolders) { m_helpFolders = std::move(helpFolders); }
    // Where Start takes the machine's network addresses from, best first.
    void SetAddressSource(std::function<std::vector<std::string>()> listAddresses) {
        m_listAddresses = std::move(listAddresses);
    }

    void SaveSettings();
    // Fields to members; false after a bad Channel, which was shown and selected.
    bool ReadFields();
    void FillFields();
    void UpdateControls();

    // Commands.
    void OnStart();
    void OnStop();
    void OnAbout();
    void OnHelp();
    void OnBrowse();
    void OnSysCommand(unsigned nID);

    int m_bAutoStart = 0;

protected:
    // Exit: stop, save, and close only when the fields read well.
    void accept() override;
    void showEvent(QShowEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;
    void ShowStopMessage(const std::string& strText) override;
    void BeepStop() override;
    // A visitor's file was stored: the running line counts it.
    void OnFileAdded() override;

private:
    // The constructor's steps, in its order.
    void TakeControls();
    void ShapeWindow();
    void ConnectControls();
    void AddKeysAndMenus();
    void AttachDispatcher();

    void OnInitDialog();
    void BuildWindowMenu();
    void OpenWindowMenu(const QPoint& globalPos);
    void OnChangeDefaultURL();
    void OnAutoStart();
    void OnListFolders();
    void OnPreview();
    void OnConcurrent();
    void OnUpload();
    void OnPrivate();
    void OnNewPrivateLink();
    void ApplyServingBox(const QCheckBox* pBox, bool& bOption);
    void FailChannel(const QString& strMessage);
    void ShowAddress();
    // The running line under the addresses: the folder served, what visitors add to it, and
    // what visitors of the bare address get.
    void ShowServingLine();
    // How many files visitors have added since Start; empty while uploads are off and none was.
    QString FilesAddedNote() const;
    // The addresses to hand out, best first, with the private link's secret when it is on.
    QStringList AddressUrls();
    // What visitors of the handed-out address get when that is no page; empty when it is.
    QString FrontPageNote() const;
    void ShowAddressLinks(const QStringList& urls);

    void OpenAddressMenu(const QString& strUrl, const QPoint& globalPos);

    std::unique_ptr<Ui::CServerDlg> m_pUi;
    QLineEdit* m_editChannel;
    QLineEdit* m_editRoot;
    QPushButton* m_btnBrowse;
    QPushButton* m_btnStop;
    QPushButton* m_btnStart;
    QLineEdit* m_editDefaultURL;
    QCheckBox* m_checkAutoStart;
    QCheckBox* m_checkListFolders;
    QCheckBox* m_checkPreview;
    QCheckBox* m_checkConcurrent;
    QCheckBox* m_checkUpload;
    QCheckBox* m_checkPrivate;
    QIcon m_hIcon;

    CProfile& m_profile;
    QMenu* m_pWindowMenu;
    QMenu* m_pAddressMenu;
    QAction* m_pNewLinkAction;  // in the address menu; enabled while the private link is on
    QString m_strAddressToCopy;
    std::function<std::vector<std::string>()> m_listAddresses;
    std::vector<std::string> m_addresses;  // taken at Start
    QStringList m_shownUrls;
    QSocketNotifier* m_pDispatchNotifier;
    QStringList m_helpFolders;
    bool m_bInitialised = false;
};
