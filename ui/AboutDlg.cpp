#include "AboutDlg.h"

#include "AppIcon.h"
#include "ui_AboutDlg.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent), m_pUi(new Ui::CAboutDlg) {
    m_pUi->setupUi(this);
    setWindowIcon(AppIcon());
}

CAboutDlg::~CAboutDlg() = default;
