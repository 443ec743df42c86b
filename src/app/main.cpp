#include "OrlaApp.h"
#include "OrlaController.h"

int main(int argc, char **argv)
{
    OrlaApp app(argc, argv);
    const int started = app.init();
    if (started == OrlaApp::kHandedToRunningInstance)
        return 0;
    if (started != 0)
        return started;
    // Shows the main window and, for a device already present, starts the checks.
    app.controller()->onDeviceConnected(nullptr);
    return app.exec();
}
