// quillon: the monitor firmware updater.
#include "app/quillon_user_app.h"

int main(int argc, char** argv) {
    CQuillonUserApp application(argc, argv);
    return application.Run();
}
