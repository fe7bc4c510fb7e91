// The program's message boxes: a fixed text with an OK button, under the
// program's name as the title.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Modal over pParent (or on its own when null); returns when the person closes it.
void ShowAppMessage(QWidget* pParent, QMessageBox::Icon icon, const QString& strText);
