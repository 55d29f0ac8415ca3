#include "window/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void PlaceInWorkArea(QWidget& window) {
    QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect work = screen->availableGeometry();
    const QSize size = window.frameSize().expandedTo(window.sizeHint());
    // Signed division truncating toward zero, also for a window larger than the area.
    const int x = work.left() + (work.width() - size.width()) / 2;
    const int y = work.top() + (work.height() - size.height()) / 3;
    window.move(x, y);
}
