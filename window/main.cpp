// quillon: the monitor firmware updater.
#include "window/updater_app.h"

int main(int argc, char** argv) {
    UpdaterApp application(argc, argv);
    return application.Run();
}
