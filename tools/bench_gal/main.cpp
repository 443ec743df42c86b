// bench_gal: times the GAL family against the simulated device, with the real
// read-back waits: the file-based update of a 4 MiB image, the pass in IAP mode
// (erase and write a 4 MiB image and a 1 MiB language area in 4096-byte
// blocks, then the notification), and attaching a device object.
//
//   bench_gal [--runs N]

#include "VHDevSim.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHGalDevice.h"
#include "VHSimPlatform.h"
#include "VHZipUtil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>

namespace {

QTextStream out(stdout);
const QString kDevice = QStringLiteral("bench");
constexpr int kImageKiB = 4096;

using GalPtr = std::unique_ptr<VHGalDevice, VHClientDeleter>;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A 4 MiB image area from 0x10000 and four 256-KiB fonts (a 1 MiB language area) from 0x500000.
QString makePackage(const QString &folder)
{
    const QByteArray release = "[IMG]\nName=SycamoreBR\nSize=" + QByteArray::number(kImageKiB)
                               + "\nExt_FlashImageStartAddr=0x10000\nExt_FlashLangStartAddr=0x500000\n"
                                 "LangVersion=L2\n[OS]\nVersion=120\n[BootLoader]\nVersion=R002\n";
    writeFile(folder + QStringLiteral("/release.ini"), release);
    writeFile(folder + QStringLiteral("/SycamoreBR_120.bin"),
              VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("120"), QByteArray(3 * 1024 * 1024, 'i')));
    writeFile(folder + QStringLiteral("/header.bin"), QByteArray(256, 'h'));
    QStringList names{QStringLiteral("release.ini"), QStringLiteral("SycamoreBR_120.bin"),
                      QStringLiteral("header.bin")};
    for (const QString &code :
         {QStringLiteral("deu"), QStringLiteral("eng"), QStringLiteral("fra"), QStringLiteral("ita")}) {
        names << VHDevSim::fontFileName(code);
        writeFile(folder + QLatin1Char('/') + names.last(), VHDevSim::makeFont(code, 2, 256 * 1024 - 64));
    }
    const QString zip = folder + QStringLiteral(".zip");
    return VHZipUtil().compress(zip, folder, names) ? zip : QString();
}

bool runAction(VHClient &device, const std::function<bool()> &start)
{
    if (!start())
        return false;
    // The action's end is delivered through the event loop.
    while (device.isBusy())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    int code = 0;
    return !device.actionFailed(code);
}

GalPtr attach(VHDevSim &sim)
{
    const QString volume = sim.drivePath(kDevice);
    const VHModelInfo row{QStringLiteral("1207"), QStringLiteral("Pacer21"), QStringLiteral("ALDER"), nullptr};
    GalPtr device(new VHGalDevice);
    device->setDeviceService(new VHFSDeviceService(volume, row, volume + QStringLiteral("/device.ini")));
    if (!device->initial())
        return nullptr;
    return device;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = std::max(1, int(args.indexOf(QStringLiteral("--runs")) > 0
                                         ? args.value(args.indexOf(QStringLiteral("--runs")) + 1).toInt()
                                         : 3));
    QTemporaryDir work;
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("xdg")).toUtf8());
    VHEnv::instance()->init(QStringLiteral("both"), QStringLiteral("bench.log"));
    const QString zip = makePackage(work.filePath(QStringLiteral("pkg")));
    if (zip.isEmpty()) {
        out << "can not build the package\n";
        return 1;
    }
    QList<double> fileBased, iapPass, attachMs, perCommand;
    for (int run = 0; run < runs; ++run) {
        for (const int method : {1, 2}) {
            VHDevSim sim(work.filePath(QStringLiteral("sim%1-%2").arg(run).arg(method)));
            VHDevSim::GalIdentity identity;
            identity.updateMethod = method;
            identity.lang = QStringLiteral("deu");
            VHDevSim::ScsiIdentity flash;
            flash.externalSize = 8 * 1024 * 1024;
            if (!sim.createGal(kDevice, identity, VHDevSim::DriveOptions(), flash) || !sim.plug(kDevice)) {
                out << "can not create the simulated device: " << sim.lastError() << "\n";
                return 1;
            }
            QElapsedTimer clock;
            clock.start();
            GalPtr device = attach(sim);
            QString text;
            device->getUUID(text);
            device->getImageVersion(text);
            device->getIAPVersion(text);
            QStringList languages;
            device->getLanguageOnDevice(languages);
            attachMs << clock.nsecsElapsed() / 1e6;
            clock.restart();
            if (!runAction(*device, [&] { return device->updateTotal(zip, QString()); })) {
                out << "the update failed (method " << method << ")\n";
                return 1;
            }
            if (method == 1) {
                fileBased << clock.nsecsElapsed() / 1e6;
                continue;
            }
            // The pass in IAP mode, on the device object that made the first pass.
            if (!sim.restart(kDevice))
                return 1;
            const VHModelTable rows{{QStringLiteral("1207"), QStringLiteral("Pacer21"), identity.iapName, nullptr}};
            VHServiceList found = VHSimPlatform(sim.root()).findSCSIDevices(rows);
            if (found.empty())
                return 1;
            device->setDeviceService(found.front().release());
            sim.clearCommandLog(kDevice);
            clock.restart();
            if (!runAction(*device, [&] { return device->updateTotal(QString(), QString()); })) {
                out << "the pass in IAP mode failed\n";
                return 1;
            }
            const double ms = clock.nsecsElapsed() / 1e6;
            iapPass << ms;
            perCommand << ms * 1000 / std::max<qsizetype>(1, sim.commandLog(kDevice).size());
        }
    }
    out << "method 1, 4 MiB image, real waits:          " << median(fileBased) << " ms (goal < 2000)\n";
    out << "IAP pass, 4 MiB image + 1 MiB language:      " << median(iapPass) << " ms (goal < 1000)\n";
    out << "  per SCSI command (simulated):              " << median(perCommand) << " us\n";
    out << "attach (object, device information, language): " << median(attachMs) << " ms (goal < 50)\n";
    return 0;
}
