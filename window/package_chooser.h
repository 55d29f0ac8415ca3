#pragma once
// The file chooser for a package, when none was named and none is beside the
// executable (an installed updater's folder holds none).
#include <optional>
#include <string>

class QWidget;

// A modal file chooser over `owner`, filtered to "*.vfw" (or all files),
// opening in the user's Downloads folder, or the home folder without one.
// The chosen file's path; nullopt when cancelled.
std::optional<std::string> ChoosePackageFile(QWidget* owner);
