// bench_pacer30: times the 1 MiB family against the simulated device with the
// erase and settle waits taken away: the write-back (erase, the whole flash
// written through the transfer file in 4096-byte blocks, read back and
// compared), the 0x79000-byte language image written and verified, and
// attaching a device object (one 4096-byte read).
//
//   bench_pacer30 [--runs N] [--work DIR]
//
// Targets: write-back under 1 s, language image under 0.3 s, attach under 20 ms.

#include "BenchSupport.h"
#include "VHDevSim.h"
#include "VHEnv.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer35.h"
#include "VHSimLayout.h"
#include "VHSimSCSIService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

QTextStream out(stdout);
const QString kDevice = QStringLiteral("bench");

std::unique_ptr<VHPacer35, VHClientDeleter> attach(VHDevSim &sim, double &ms)
{
    QElapsedTimer clock;
    clock.start();
    auto device = VHSimScsiDevice::open(sim.deviceFolder(kDevice), VHSimLayout::scsiLinkPath(sim.root(), kDevice));
    if (!device)
        return nullptr;
    std::unique_ptr<VHPacer35, VHClientDeleter> client(new VHPacer35);
    client->setDeviceService(new VHSimSCSIService(std::move(device), {"1101", "Pacer35", "ASPENS", nullptr}));
    client->setWait([](int) {});
    if (!client->initial())
        return nullptr;
    ms = double(clock.nsecsElapsed()) / 1e6;
    return client;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const BenchSupport::Options options = BenchSupport::options(app.arguments());
    QTemporaryDir work(options.workRoot + QStringLiteral("/bench_pacer30-XXXXXX"));
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("xdg")).toUtf8());
    VHEnv::instance()->init(QStringLiteral("both"), QStringLiteral("bench.log"));
    const QString pack = work.filePath(QStringLiteral("Total.zip"));
    VHPSFLanguagePackBuilder::Options packOptions;
    packOptions.fontSize = 64 * 1024;
    if (!VHPSFLanguagePackBuilder::writePackage(pack, packOptions)) {
        out << "can not build the language pack\n";
        return 1;
    }
    QList<double> finalizeMs, languageMs, attachMs;
    for (int run = 0; run < std::max(1, options.runs); ++run) {
        VHDevSim sim(work.filePath(QStringLiteral("sim%1").arg(run)));
        double ms = 0;
        if (!sim.createPacer30(kDevice) || !sim.plug(kDevice)) {
            out << "can not make the simulated device\n";
            return 1;
        }
        auto device = attach(sim, ms);
        if (!device || !device->readPSF()) {
            out << "can not attach or read the device\n";
            return 1;
        }
        attachMs << ms;
        device->setProfileChanged(true);
        QElapsedTimer clock;
        clock.start();
        const bool written = device->_finalize();
        finalizeMs << double(clock.nsecsElapsed()) / 1e6;
        clock.restart();
        const bool language = device->_updateTotal(pack, QString());
        languageMs << double(clock.nsecsElapsed()) / 1e6;
        if (!written || !language) {
            out << "the write-back or the language update failed\n";
            return 1;
        }
    }
    out << QStringLiteral("write-back (erase, 1 MiB written and read back): %1 ms median (target < 1000)\n")
               .arg(BenchSupport::median(finalizeMs), 0, 'f', 1);
    out << QStringLiteral("language image (0x79000 bytes written and verified, unpack included): %1 ms median "
                          "(target < 300)\n")
               .arg(BenchSupport::median(languageMs), 0, 'f', 1);
    out << QStringLiteral("attach (initial, one 4096-byte read): %1 ms median (target < 20)\n")
               .arg(BenchSupport::median(attachMs), 0, 'f', 2);
    return 0;
}
