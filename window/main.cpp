// quillon: the monitor firmware updater.
#include "window/quillon_user_app.h"

int main(int argc, char** argv) {
    CQuillonUserApp application(argc, argv);
    return application.Run();
}
