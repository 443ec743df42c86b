// bench_pacer50update: times a Pacer50 image update of a ~100 MiB "Total.zip"
// onto a volume folder (unpack, check, copy into the image folder, read back,
// flush, write Update.ini) against `unzip -o -q` of the same archive followed
// by `cp -r` of the unpacked files and `sync -f`, in the same run.
//
//   bench_pacer50update [--runs N] [--work DIR]

#include "BenchSupport.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHPacer50CR.h"
#include "VHPacer50PackageBuilder.h"

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

bool freshVolume(const QString &volume)
{
    QDir(volume).removeRecursively();
    QDir().mkpath(volume);
    QFile identity(volume + QStringLiteral("/device.ini"));
    return identity.open(QIODevice::WriteOnly) && identity.write("[UUID]\r\nUUID=1104A1B2C3D4E5F6\r\n") > 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const auto [runs, workRoot] = BenchSupport::options(app.arguments());
    QTemporaryDir work(workRoot + QStringLiteral("/bench-pacer50-XXXXXX"));
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("xdg")).toUtf8());
    VHEnv::instance()->init(QStringLiteral("both"), QStringLiteral("bench.log"));
    const QString package = work.filePath(QStringLiteral("Total.zip"));
    VHPacer50PackageBuilder::Options options;
    options.imageSize = 100 << 20;
    options.simulatorHeaders = false;
    if (!VHPacer50PackageBuilder::writeTotal(package, options)) {
        out << "cannot write the package" << Qt::endl;
        return 1;
    }
    out << "package " << QFileInfo(package).size() / double(1 << 20) << " MiB, " << runs << " runs" << Qt::endl;

    const QString volume = work.filePath(QStringLiteral("volume"));
    const QString unzipped = work.filePath(QStringLiteral("unzipped"));
    const VHModelInfo row{QStringLiteral("1104"), QStringLiteral("Pacer50CR"), QStringLiteral("Velora"), nullptr};
    QList<double> updater, system;
    for (int r = 0; r < runs; ++r) {
        if (!freshVolume(volume))
            return 1;
        VHPacer50CR device;
        device.setDeviceService(new VHFSDeviceService(volume, row, volume + QStringLiteral("/device.ini")));
        QElapsedTimer timer;
        timer.start();
        const bool ok = device._updateTotal(package, QString());
        updater << timer.nsecsElapsed() / 1e9;
        if (!ok || !QFileInfo::exists(volume + QStringLiteral("/Update.ini"))) {
            out << "the update failed, code " << device.errorCode() << Qt::endl;
            return 1;
        }

        QDir(unzipped).removeRecursively();
        if (!freshVolume(volume))
            return 1;
        timer.restart();
        const bool systemOk = run(QStringLiteral("unzip"),
                                  {QStringLiteral("-o"), QStringLiteral("-q"), package, QStringLiteral("-d"), unzipped})
                              && run(QStringLiteral("cp"), {QStringLiteral("-r"), unzipped, volume + "/image"})
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
