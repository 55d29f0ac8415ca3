#pragma once
// Where the main window and the monitor selection open.
class QWidget;

// Centred horizontally in the screen's work area and a third of the way down,
// keeping the window's size.
void PlaceInWorkArea(QWidget& window);
