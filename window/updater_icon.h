#pragma once
// The updater's icon for its windows and dialogs: the packaging's SVG rendered
// to PNG at the sizes desktops ask for, so that no SVG support is needed at run time.
#include <QIcon>

QIcon UpdaterIcon();
