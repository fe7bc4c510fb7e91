#include "AboutDlg.h"

#include "AppIcon.h"
#include "ProjectVersion.h"
#include "ui_AboutDlg.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent), m_pUi(new Ui::CAboutDlg) {
    m_pUi->setupUi(this);
    // The form holds the words, the project version the number.
    QLabel* pVersion = m_pUi->versionLabel;
    pVersion->setText(pVersion->text().arg(QLatin1String(version::kShortVersion)));
    setWindowIcon(AppIcon());
}

CAboutDlg::~CAboutDlg() = default;
