// bench_fitupdate: times a FIT software update of a ~100 MiB package onto a
// volume folder (unpack into the work folder, pick the newer images, check the
// free space, copy, write update.ini, flush) against `unzip -o -q` of the same
// package followed by `cp` of the same images and `sync -f`, in the same run.
//
//   bench_fitupdate [--runs N] [--work DIR]

#include "BenchSupport.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHFitDevice.h"
#include "VHFitRoad.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

QTextStream out(stdout);

using BenchSupport::median;
using BenchSupport::run;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const auto [runs, workRoot] = BenchSupport::options(app.arguments());
    QTemporaryDir work(workRoot + QStringLiteral("/bench-fit-XXXXXX"));

    // Every image newer than the device: all of them are copied.
    VHFitRoad::Options stage;
    stage.work = work.path();
    stage.serve = false;
    stage.debugLog = false;
    stage.package.images = {
        {QStringLiteral("OS"), QStringLiteral("os.bin"), QStringLiteral("2.00.00"), 64 << 20},
        {QStringLiteral("BootLoader"), QStringLiteral("boot.bin"), QStringLiteral("B2.00"), 4 << 20},
        {QStringLiteral("DeviceLang"), QStringLiteral("lang.bin"), QStringLiteral("DL0200"), 20 << 20},
        {QStringLiteral("NotificationLang"), QStringLiteral("notify.bin"), QStringLiteral("NL200"), 4 << 20},
        {QStringLiteral("TimeZone"), QStringLiteral("tz.bin"), QStringLiteral("TZ200"), 1 << 20},
        {QStringLiteral("Bluetooth"), QStringLiteral("bt.bin"), QStringLiteral("BT20"), 7 << 20}};
    VHFitRoad road(stage);
    if (!road.prepare()) {
        out << "cannot lay out the device and package: " << road.lastError() << Qt::endl;
        return 1;
    }
    VHEnv::instance()->init(QStringLiteral("both"), QStringLiteral("bench.log"));
    const QString package = road.packagePath();
    out << "package " << QFileInfo(package).size() / double(1 << 20) << " MiB, " << runs << " runs" << Qt::endl;

    const QString volume = road.volumePath();
    const QString unzipped = work.path() + QStringLiteral("/unzipped");
    QList<double> updater, system;
    for (int r = 0; r < runs; ++r) {
        if (!road.recreateDevice()) {
            out << road.lastError() << Qt::endl;
            return 1;
        }
        VHModelInfo row{QStringLiteral("2101"), road.model(), QStringLiteral("VELORA"), nullptr};
        VHFitDevice device;
        device.setDeviceService(new VHFSDeviceService(volume, row, volume + QStringLiteral("/System/device.txt")));
        QElapsedTimer timer;
        timer.start();
        const bool ok = device._updateTotal(package, QString());
        updater << timer.nsecsElapsed() / 1e9;
        if (!ok || !QFileInfo::exists(volume + QStringLiteral("/update.ini"))) {
            out << "the update failed, code " << device.errorCode() << Qt::endl;
            return 1;
        }

        QDir(unzipped).removeRecursively();
        if (!road.recreateDevice()) {
            out << road.lastError() << Qt::endl;
            return 1;
        }
        QStringList images;
        for (const auto &image : std::as_const(road.options().package.images))
            images << unzipped + QLatin1Char('/') + image.name;
        timer.restart();
        const bool systemOk = run(QStringLiteral("unzip"),
                                  {QStringLiteral("-o"), QStringLiteral("-q"), package, QStringLiteral("-d"), unzipped})
                              && run(QStringLiteral("cp"), images + QStringList{volume})
                              && run(QStringLiteral("sync"), {QStringLiteral("-f"), volume});
        system << timer.nsecsElapsed() / 1e9;
        if (!systemOk) {
            out << "unzip + cp failed" << Qt::endl;
            return 1;
        }
        out << "run " << r + 1 << ": updater " << updater.last() << " s, unzip+cp " << system.last() << " s"
            << Qt::endl;
    }
    out << "median: updater " << median(updater) << " s, unzip+cp+sync " << median(system) << " s, ratio "
        << median(updater) / median(system) << " (goal <= 1.2)" << Qt::endl;
    return 0;
}
