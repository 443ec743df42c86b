// Measures the simulated SCSI path: 2 MiB of external flash written in
// 4096-byte blocks through the simulated platform's service, as the flash
// procedures of the device models do it. Prints the time per call and per command.

#include "VHDevSim.h"
#include "VHSCSIDeviceService.h"
#include "VHSimPlatform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {
constexpr qint64 kImageSize = 2 * 1024 * 1024;
constexpr int kBlockSize = 4096;
constexpr int kRounds = 10;
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir root;
    VHDevSim sim(root.path());
    VHDevSim::ScsiIdentity identity;
    identity.identification = "BENCHFLASH";
    identity.uuid = "1105BENCH0000001";
    identity.externalSize = kImageSize;
    if (!sim.createScsi(QStringLiteral("BENCH"), identity) || !sim.plug(QStringLiteral("BENCH"))) {
        out << "cannot create the simulated device: " << sim.lastError() << '\n';
        return 1;
    }
    VHSimPlatform simulated(sim.root());
    const VHModelTable models{{QStringLiteral("1105"), QStringLiteral("Bench"), QStringLiteral("BENCHFLASH"), nullptr}};
    VHServiceList services = simulated.findSCSIDevices(models);
    auto *service = services.empty() ? nullptr : dynamic_cast<VHSCSIDeviceService *>(services.front().get());
    if (!service) {
        out << "the simulated device was not found\n";
        return 1;
    }
    QByteArray image(kImageSize, Qt::Uninitialized);
    for (qint64 i = 0; i < kImageSize; ++i)
        image[i] = char(i * 31 + 7);
    QList<qint64> writeNs, eraseNs;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        if (!service->eraseFlashBlocks(kImageSize, kBlockSize, 0))
            return 1;
        eraseNs.append(timer.nsecsElapsed());
        timer.restart();
        if (!service->writeFlashBlocks(image, 15, kImageSize, kBlockSize, 0))
            return 1;
        writeNs.append(timer.nsecsElapsed());
        sim.clearCommandLog(QStringLiteral("BENCH"));
    }
    std::sort(writeNs.begin(), writeNs.end());
    std::sort(eraseNs.begin(), eraseNs.end());
    const qint64 commands = kImageSize / kBlockSize;
    const double writeMs = writeNs[kRounds / 2] / 1e6;
    const double eraseMs = eraseNs[kRounds / 2] / 1e6;
    out << "write 2 MiB in 4096-byte blocks: " << writeMs << " ms (median of " << kRounds << "), " << commands
        << " commands, " << writeMs * 1000.0 / commands << " us per command\n";
    out << "erase 2 MiB in 4096-byte sectors: " << eraseMs << " ms, " << eraseMs * 1000.0 / commands
        << " us per command\n";
    const bool same = sim.flash(QStringLiteral("BENCH"), VHDevSim::Flash::External) == image;
    out << "flash content " << (same ? "matches" : "DIFFERS") << '\n';
    return same ? 0 : 1;
}
