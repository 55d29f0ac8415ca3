#include "window/updater_app.h"

#include "app/message_catalogue.h"
#include "window/main_dialog.h"
#include "window/single_instance.h"
#include "window/updater_icon.h"

UpdaterApp::UpdaterApp(int& argc, char** argv) : application_(argc, argv) {
    QApplication::setWindowIcon(UpdaterIcon());
}

int UpdaterApp::Run(const QString& instanceName) {
    SingleInstance instance(instanceName);
    if (!instance.IsFirst()) return 0;  // the running updater comes to the front instead

    SetCatalogueLanguage(UserInterfaceLanguage());
    MainDialog window;
    QObject::connect(&instance, &SingleInstance::RaiseRequested, &window, &MainDialog::BringToFront);
    window.Run();
    return 0;
}
