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

class UpdaterApp {
public:
    UpdaterApp(int& argc, char** argv);
    // The whole program; the process's exit code.
    int Run(const QString& instanceName = kSingleInstanceName);

private:
    QApplication application_;
};
