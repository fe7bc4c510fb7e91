// Icon 128: the program's icon in its two sizes, for both dialogs and the application.
#pragma once

#include <QIcon>

QIcon AppIcon();
