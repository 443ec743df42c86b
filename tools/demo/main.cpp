// veloraupdate-demo: runs one of the updater's whole roads against a
// simulated device and the local package server, pressing the buttons as a
// user would, and saves a picture of every step: "fit" (a FIT software
// update with assist data and workouts), "gal" (a GAL update by method 2,
// through the watch's restart into its loader) or "pacer40" (one more
// language on a flash-store watch).
//
//   veloraupdate-demo --work <folder> [--road fit|gal|pacer40] [--shots <folder>] [--image-mib <n>]
//   veloraupdate-demo --work <folder> --serve
//
// It prints one line per step and the longest time the GUI thread did not
// answer; the exit code is 0 when every step passed. With --serve it only
// prepares the FIT road's device, package and server, plugs the device and starts
// the real updater for a person to use, serving until the updater ends.

#include "OrlaApp.h"
#include "OrlaController.h"
#include "OrlaRoad.h"
#include "OrlaStallMeter.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>

namespace {

// The real program beside this one, on the prepared folders, until it ends.
int serve(OrlaApp &app, OrlaRoad &road, const OrlaRoad::Options &options, QTextStream &out)
{
    if (!road.stage().plug()) {
        out << "veloraupdate-demo: " << road.stage().lastError() << Qt::endl;
        return 1;
    }
    QProcess updater;
    updater.setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(&updater, &QProcess::finished, &app, [&app](int code) { app.exit(code); });
    QObject::connect(&updater, &QProcess::errorOccurred, &app, [&app](QProcess::ProcessError) { app.exit(1); });
    updater.start(QCoreApplication::applicationDirPath() + QStringLiteral("/veloraupdate"), {});
    out << "The updater runs. The device restarts (and installs what was copied) with:" << Qt::endl
        << "  velora-devsim --root " << road.stage().simRoot() << " restart " << options.device << Qt::endl
        << "This demo ends with the updater." << Qt::endl;
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    OrlaApp app(argc, argv);
    QCommandLineParser args;
    args.addOptions({{QStringLiteral("work"), QStringLiteral("Folder for the demo's data."), QStringLiteral("folder")},
                     {QStringLiteral("shots"), QStringLiteral("Folder for the pictures."), QStringLiteral("folder")},
                     {QStringLiteral("image-mib"), QStringLiteral("Size of the new OS image in MiB."),
                      QStringLiteral("n"), QStringLiteral("0")},
                     {QStringLiteral("road"), QStringLiteral("The road: fit, gal or pacer40."), QStringLiteral("name"),
                      QStringLiteral("fit")},
                     {QStringLiteral("serve"), QStringLiteral("Start the real updater for a person instead.")}});
    args.process(app);
    QTextStream out(stdout);
    if (!args.isSet(QStringLiteral("work"))) {
        out << "veloraupdate-demo: --work is required" << Qt::endl;
        return 2;
    }
    OrlaRoad::Options options;
    options.work = args.value(QStringLiteral("work"));
    options.shots = args.value(QStringLiteral("shots"));
    if (!OrlaRoad::kindNamed(args.value(QStringLiteral("road")), &options.road)) {
        out << "veloraupdate-demo: --road is fit, gal or pacer40" << Qt::endl;
        return 2;
    }
    const qint64 mib = args.value(QStringLiteral("image-mib")).toLongLong();
    if (mib > 0) {
        options.imageBytes = mib * 1024 * 1024;
        options.stepTimeoutMs = 300000;
    }
    OrlaRoad road(options);
    if (!road.prepare()) {
        out << "veloraupdate-demo: " << road.lastError() << Qt::endl;
        return 1;
    }
    // The road's own preparation (package, server, device) is not the updater's.
    if (OrlaStallMeter *meter = app.stallMeter())
        meter->reset();
    out << road.plan() << Qt::endl;
    out << "data folder " << road.stage().dataFolder() << ", simulation root " << road.stage().simRoot() << Qt::endl;
    if (args.isSet(QStringLiteral("serve")))
        return serve(app, road, options, out);
    const int started = app.init();
    if (started != 0) {
        out << "veloraupdate-demo: the updater did not start (" << started << ")" << Qt::endl;
        return 1;
    }
    {
        // As the updater's main() does before its event loop runs.
        const OrlaStallMeter::Section section(app.stallMeter(), "start-up: first window");
        app.controller()->onDeviceConnected(nullptr);
    }
    const bool ok = road.runAll(app.controller());
    out << road.report();
    // Over the updater's start-up and the whole road (VELORA_STALL_LOG switches it on).
    if (const OrlaStallMeter *meter = app.stallMeter())
        out << meter->summary() << Qt::endl;
    out << (ok ? "demo: every step passed" : "demo: FAILED: ") << (ok ? QString() : road.lastError()) << Qt::endl;
    return ok ? 0 : 1;
}
