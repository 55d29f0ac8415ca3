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

int RunWindow(const std::string& package, const QString& instanceName) {
    SetCatalogueLanguage(UserInterfaceLanguage());
    SingleInstance instance(instanceName);
    if (!instance.IsFirst()) {
        // The running updater comes to the front instead. It keeps its own
        // package: it may have shown that package's version, or be writing it.
        if (package.empty()) return 0;
        ShowUserMessage(nullptr, {text_id::kPackageNotOpened, {package}, MessageIcon::Information});
        return 1;
    }

    // One update at a time on this machine, the command line's included: the
    // lock is held until the window has put everything back and ended.
    const std::optional<UpdateLock> lock = LockUpdatesForWindow();
    if (!lock) return 1;
    MainDialog window;
    window.Workflow().Run().packagePath = package;
    QObject::connect(&instance, &SingleInstance::RaiseRequested, &window, &MainDialog::BringToFront);
    window.Run();
    return 0;
}

UpdaterApp::UpdaterApp(char* programName) : argv_{programName, nullptr}, application_(argc_, argv_) {
    QApplication::setWindowIcon(UpdaterIcon());
}
