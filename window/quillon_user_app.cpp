#include "window/quillon_user_app.h"

#include "app/message_catalogue.h"
#include "window/quillon_user_dlg.h"
#include "window/single_instance.h"

CQuillonUserApp::CQuillonUserApp(int& argc, char** argv) : application_(argc, argv) {}

int CQuillonUserApp::Run(const QString& instanceName) {
    SingleInstance instance(instanceName);
    if (!instance.IsFirst()) return 0;  // the running updater comes to the front instead

    SetCatalogueLanguage(UserInterfaceLanguage());
    CQuillonUserDlg window;
    QObject::connect(&instance, &SingleInstance::RaiseRequested, &window, &CQuillonUserDlg::BringToFront);
    window.Run();
    return 0;
}
