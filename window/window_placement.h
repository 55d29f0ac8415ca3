#pragma once
// Where the main window and the monitor selection open.
class QWidget;

// Centred horizontally in the screen's work area and a third of the way down,
// keeping the window's size. On Wayland the compositor places top-level
// windows and ignores this; dialogs open over their parent window there.
void PlaceInWorkArea(QWidget& window);
