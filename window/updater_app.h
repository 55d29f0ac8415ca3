#pragma once
// The application: one instance at a time, the main window run until the run
// ends, then the process ends.
#include <QApplication>
#include <QString>

#include <optional>
#include <string>

#include "app/update_lock.h"

// The name through which a second start finds the first.
inline const QString kSingleInstanceName = QStringLiteral("Quillon Updater");

// The machine's update lock for the window's whole run. When another update
// holds it (quillon-cli, or a window of another user or another copy of the
// programs), a message box names it and the result is empty: the window ends. A
// lock that cannot be made is reported on standard error and the run goes on.
std::optional<UpdateLock> LockUpdatesForWindow();

// The whole run of the window, in a QApplication made before; the process's
// exit code. `package`: the package named on the command line, or empty.
int RunWindow(const std::string& package, const QString& instanceName = kSingleInstanceName);

class UpdaterApp {
public:
    // `programName` is argv[0]: the Qt options are not taken from the command
    // line, which the program reads itself.
    explicit UpdaterApp(char* programName);
    int Run(const std::string& package) { return RunWindow(package); }

private:
    int argc_ = 1;
    char* argv_[2];
    QApplication application_;
};
