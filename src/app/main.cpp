#include "OrlaApp.h"
#include "OrlaController.h"

#include <cstdio>
#include <cstring>

namespace {

const char *const kUsage = "Usage: veloraupdate [--help | --version]\n"
                           "\n"
                           "Updates the software, GPS assist data and workouts of a Velora device\n"
                           "connected over USB. Without options it opens the updater's window.\n"
                           "\n"
                           "  --help     show this text and exit\n"
                           "  --version  show the program's version and exit\n";

// The two options the program takes, answered before any window system is
// needed; -1 when the program goes on to start.
int answerOptions(int argc, char **argv)
{
    if (argc < 2)
        return -1;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("veloraupdate %s\n", OrlaApp::appVersion);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Qt's own options (-platform, -style, ...) pass on; anything else is refused.
    if (argv[1][0] != '-' || std::strncmp(argv[1], "--", 2) == 0) {
        std::fprintf(stderr, "veloraupdate: unknown argument \"%s\"\n%s", argv[1], kUsage);
        return 2;
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (const int answered = answerOptions(argc, argv); answered >= 0)
        return answered;
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
