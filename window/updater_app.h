#pragma once
// The application: one instance at a time, the main window run until the run
// ends, then the process ends.
#include <QApplication>
#include <QString>

// The name through which a second start finds the first.
inline const QString kSingleInstanceName = QStringLiteral("Quillon Updater");

class UpdaterApp {
public:
    UpdaterApp(int& argc, char** argv);
    // The whole program; the process's exit code.
    int Run(const QString& instanceName = kSingleInstanceName);

private:
    QApplication application_;
};
