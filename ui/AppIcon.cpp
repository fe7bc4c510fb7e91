#include "AppIcon.h"

QIcon AppIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/tarvel-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/tarvel-16.png"), QSize(16, 16));
    return icon;
}
