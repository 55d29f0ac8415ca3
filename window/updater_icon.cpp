#include "window/updater_icon.h"

#include <QString>

QIcon UpdaterIcon() {
    QIcon icon;
    for (const int size : {32, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/quillon-%1.png").arg(size), QSize(size, size));
    return icon;
}
