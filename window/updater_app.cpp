#include "window/updater_app.h"

#include <iostream>

#include "app/app_status.h"
#include "app/failure_report.h"
#include "app/message_catalogue.h"
#include "window/message_box.h"
#include "window/main_dialog.h"
#include "window/single_instance.h"
#include "window/updater_icon.h"

std::optional<UpdateLock> LockUpdatesForWindow() {
    UpdateLock lock;
    if (lock.Busy()) {
        ShowUserMessage(nullptr, {text_id::kUpdateRunning, {lock.Holder().Description()}, MessageIcon::Information});
        return std::nullopt;
    }
    if (!lock.Held()) ReportFailure(std::cerr, kAppFailed, lock.Failure());
    return lock;
}

UpdaterApp::UpdaterApp(int& argc, char** argv) : application_(argc, argv) {
    QApplication::setWindowIcon(UpdaterIcon());
}

int UpdaterApp::Run(const QString& instanceName) {
    SingleInstance instance(instanceName);
    if (!instance.IsFirst()) return 0;  // the running updater comes to the front instead

    SetCatalogueLanguage(UserInterfaceLanguage());
    // One update at a time on this machine, the command line's included: the
    // lock is held until the window has put everything back and ended.
    const std::optional<UpdateLock> lock = LockUpdatesForWindow();
    if (!lock) return 1;
    MainDialog window;
    QObject::connect(&instance, &SingleInstance::RaiseRequested, &window, &MainDialog::BringToFront);
    window.Run();
    return 0;
}
