#include "AppMessage.h"

#include "Profile.h"

void ShowAppMessage(QWidget* pParent, QMessageBox::Icon icon, const QString& strText) {
    QMessageBox box(icon, QString::fromStdString(CProfile::ProgramName()), strText, QMessageBox::Ok,
                    pParent);
    box.exec();
}
