#include "PlatformTestSupport.h"
#include "VHDevSim.h"
#include "VHDeviceEvents.h"
#include "VHFSDeviceService.h"
#include "VHFileOps.h"
#include "VHPlatform.h"
#include "VHSimDeviceWatcher.h"
#include "VHSimPlatform.h"
#include "VHSimSCSIService.h"
#include "VHSysCalls.h"
#include "VHTestFaultMatrix.h"
#include "VHTestFiles.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {
VHSimScsiDevice::Identity pacer40()
{
    VHSimScsiDevice::Identity identity;
    identity.product = "Pacer40";
    identity.productTag = "0105";
    identity.identification = "LINDEN";
    identity.uuid = "1105A1B2C3D4E5F6";
    return identity;
}
} // namespace

// The simulated backend over devices made by the device simulator.
class TestVHSimPlatform : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VHDevSim> m_sim;
    const VHModelTable m_models{{QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("LINDEN"), nullptr}};

    QString root() const { return m_dir->path(); }
    std::unique_ptr<VHSimSCSIService> findScsi()
    {
        VHSimPlatform platform(root());
        VHServiceList found = platform.findSCSIDevices(m_models);
        if (found.empty())
            return nullptr;
        return std::unique_ptr<VHSimSCSIService>(dynamic_cast<VHSimSCSIService *>(found.front().release()));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_sim = std::make_unique<VHDevSim>(root());
    }

    void drivesAreTheFoldersOfTheRoot()
    {
        VHSimDriveOptions options;
        options.vendor = QStringLiteral("VELORA");
        options.model = QStringLiteral("Pacer50 Disk   ");
        options.secondary = true;
        options.freeBytes = 1000;
        options.totalBytes = 5000;
        QVERIFY(m_sim->createFileSystem(QStringLiteral("PACER"), VHSimGalIdentity(), options));
        QVERIFY(m_sim->createFit(QStringLiteral("WATCH"), VHSimFitIdentity()));
        QVERIFY(m_sim->plug(QStringLiteral("PACER")));
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")));
        QVERIFY(QDir().mkpath(root() + QStringLiteral("/.hidden")));
        VHSimPlatform platform(root());
        QStringList drives;
        platform.getRemovableDrives(drives, QStringLiteral("msdos"), 0);
        QCOMPARE(drives, (QStringList{m_sim->drivePath(QStringLiteral("PACER")),
                                      m_sim->secondaryDrivePath(QStringLiteral("PACER")),
                                      m_sim->drivePath(QStringLiteral("WATCH"))}));
        QCOMPARE(platform.getDriveVendorName(drives[1]), QStringLiteral("VELORAPacer50 Disk"));
        QCOMPARE(platform.getDriveVendorName(drives[2]), QStringLiteral("VELORAPacer70"));
        quint64 total = 0, free = 0;
        QVERIFY(QDir().mkpath(drives[0] + QStringLiteral("/sub")));
        QVERIFY(platform.getDiskSpace(drives[0] + QStringLiteral("/sub"), total, free));
        QCOMPARE(total, quint64(5000));
        QCOMPARE(free, quint64(1000));
        QVERIFY(platform.getDiskSpace(drives[2], total, free));
        QVERIFY(total > 5000);
    }

    void ejectTakesTheDriveAway()
    {
        LogCapture log;
        QVERIFY(m_sim->createFit(QStringLiteral("WATCH"), VHSimFitIdentity()));
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")));
        VHSimPlatform platform(root());
        QVERIFY(platform.ejectDevice(m_sim->drivePath(QStringLiteral("WATCH"))));
        QVERIFY(!m_sim->isPlugged(QStringLiteral("WATCH")));
        QVERIFY(QFileInfo(m_sim->identityFile(QStringLiteral("WATCH"))).isFile());
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")));
        // A device that restarts is ejected the same way: the simulation has no port power to keep.
        QVERIFY(platform.ejectDeviceInMode(m_sim->drivePath(QStringLiteral("WATCH")), VHEjectMode::KeepPower));
        QVERIFY(!m_sim->isPlugged(QStringLiteral("WATCH")));
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")));
        // A folder made by hand goes to the ejected folder.
        QVERIFY(QDir().mkpath(root() + QStringLiteral("/STICK")));
        QVERIFY(platform.ejectDevice(root() + QStringLiteral("/STICK")));
        QVERIFY(QFileInfo(root() + QStringLiteral("/.ejected/STICK")).isDir());
        QVERIFY(!platform.ejectDevice(root() + QStringLiteral("/NONE")));
        QVERIFY(!platform.ejectDevice(QStringLiteral("/tmp")));
        QVERIFY(!platform.ejectDevice(m_sim->drivePath(QStringLiteral("WATCH")) + QStringLiteral("/System")));
        QVERIFY(log.contains(QStringLiteral("open handle for ejection failed: drive=")));
    }

    void scsiDeviceAnswersThroughItsFirmware()
    {
        QVERIFY(m_sim->createScsi(QStringLiteral("P40"), pacer40()));
        QVERIFY(!findScsi()); // not plugged yet
        QVERIFY(m_sim->plug(QStringLiteral("P40")));
        std::unique_ptr<VHSimSCSIService> service = findScsi();
        QVERIFY(service);
        QCOMPARE(service->modelInfo().modelName, QStringLiteral("Pacer40"));
        QCOMPARE(service->productTag(), QByteArray("0105"));
        QCOMPARE(service->iapTag(), QByteArray("I001"));
        QString uuid;
        QVERIFY(service->getUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("1105A1B2C3D4E5F6"));

        QByteArray image(2 * 1024 * 1024, Qt::Uninitialized);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char((i >> 3) ^ i);
        m_sim->clearCommandLog(QStringLiteral("P40"));
        QVERIFY(service->writeFlashBlocks(image, 15, image.size(), 4096, 0));
        QCOMPARE(m_sim->flash(QStringLiteral("P40"), VHDevSim::Flash::External), image);
        const QStringList log = m_sim->commandLog(QStringLiteral("P40"));
        QCOMPARE(log.size(), 512);
        QCOMPARE(log.first(), QStringLiteral("WRITE sel=15 block=0 unit=4096 len=4096 ok"));
        QCOMPARE(log.last(), QStringLiteral("WRITE sel=15 block=511 unit=4096 len=4096 ok"));
        QVERIFY(service->eraseFlashBlocks(4096 * 2 + 1, 4096, 10));
        const QByteArray flash = m_sim->flash(QStringLiteral("P40"), VHDevSim::Flash::External);
        QCOMPARE(flash.mid(10 * 4096, 3 * 4096), QByteArray(3 * 4096, char(0xFF)));
        QCOMPARE(flash.mid(13 * 4096, 4096), image.mid(13 * 4096, 4096));
        // Beyond the flash the command fails.
        QVERIFY(!service->writeFlashBlocks(image.left(4096), 15, 4096, 4096, 512));
        QVERIFY(m_sim->commandLog(QStringLiteral("P40")).last().endsWith(QLatin1String("failed")));
        // A malformed request never reaches the firmware.
        const int logged = int(m_sim->commandLog(QStringLiteral("P40")).size());
        std::uint8_t cdb[17] = {0x28};
        std::uint8_t buffer[16];
        QVERIFY(!service->readClient(cdb, 17, buffer, 16));
        QVERIFY(!service->writeClient(cdb, 10, nullptr, 16));
        QCOMPARE(m_sim->commandLog(QStringLiteral("P40")).size(), logged);
        // Unplugged, the device answers nothing.
        QVERIFY(m_sim->unplug(QStringLiteral("P40")));
        QVERIFY(!service->getUUID(uuid));
    }

    void everyPluggedScsiDeviceIsFound()
    {
        VHSimScsiDevice::Identity second = pacer40();
        second.uuid = "1105FFEEDDCCBBAA";
        VHSimScsiDevice::Identity stranger = pacer40();
        stranger.identification = "NOBODY";
        stranger.uuid = "9999000011112222";
        QVERIFY(m_sim->createScsi(QStringLiteral("P40A"), pacer40()));
        QVERIFY(m_sim->createScsi(QStringLiteral("P40B"), second));
        QVERIFY(m_sim->createScsi(QStringLiteral("OTHER"), stranger));
        QVERIFY(m_sim->createScsi(QStringLiteral("P40C"), pacer40()));
        for (const char *name : {"P40A", "OTHER", "P40B"})
            QVERIFY(m_sim->plug(QLatin1String(name)));
        VHServiceList found = VHSimPlatform(root()).findSCSIDevices(m_models);
        QStringList uuids;
        for (const auto &service : found) {
            QString uuid;
            QVERIFY(service->getUUID(uuid));
            uuids << uuid;
        }
        uuids.sort();
        QCOMPARE(uuids, (QStringList{"1105A1B2C3D4E5F6", "1105FFEEDDCCBBAA"}));
    }

    void watcherTurnsFoldersIntoCodes()
    {
        QVERIFY(m_sim->createFit(QStringLiteral("WATCH"), VHSimFitIdentity()));
        QVERIFY(m_sim->createScsi(QStringLiteral("P40"), pacer40()));
        VHSimDeviceWatcher watcher(root());
        QSignalSpy spy(&watcher, &VHDeviceWatcher::DeviceChange);
        // Waits for exactly these codes since the last look, then forgets them.
        const auto sees = [&spy](const QList<quint32> &wanted) {
            const bool seen = QTest::qWaitFor([&] { return codes(spy) == wanted; }, 2000);
            if (!seen)
                qWarning() << "codes seen:" << codes(spy);
            spy.clear();
            return seen;
        };
        using namespace VHDeviceEvent;
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")) && sees({Arrival}));
        QVERIFY(m_sim->unplug(QStringLiteral("WATCH")) && sees({RemoveComplete}));
        QVERIFY(m_sim->plug(QStringLiteral("P40")) && sees({NodesChanged}));
        QVERIFY(m_sim->unplug(QStringLiteral("P40")) && sees({NodesChanged}));
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")) && sees({Arrival}));
        // Out and back in before anyone looked: still gone and new.
        QVERIFY(m_sim->restart(QStringLiteral("WATCH")) && sees({RemoveComplete, Arrival}));
        QVERIFY(QDir().mkpath(root() + QStringLiteral("/BY HAND")) && sees({Arrival}));
        QVERIFY(QDir(root() + QStringLiteral("/.scsi")).removeRecursively());
        QVERIFY(QDir().mkpath(root() + QStringLiteral("/.scsi")));
        QTest::qWait(100);
        spy.clear();
        QVERIFY(m_sim->plug(QStringLiteral("P40")) && sees({NodesChanged}));
        // A volume nobody mounted is a node change, even in a folder made late; mounting it an arrival.
        QVERIFY(QDir().mkpath(root() + QStringLiteral("/.unmounted/STICK")) && sees({NodesChanged}));
        QVERIFY(QDir().rename(root() + QStringLiteral("/.unmounted/STICK"), root() + QStringLiteral("/STICK"))
                && sees({Arrival, NodesChanged}));
    }

    // One operation of `kind` on a file in `folder` (the `step`-th): '.' when
    // it succeeded, 'E' EIO, 'S' ENOSPC, 'N' ENODEV, 'C' a read that succeeded with other bytes.
    static char storageStep(const QString &kind, const QString &folder, int fd, int step)
    {
        const QByteArray bytes = "abcdefgh";
        int result = 0;
        if (kind == QLatin1String("write")) {
            result = VHSys::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() ? 0 : errno;
        } else if (kind == QLatin1String("fsync")) {
            result = VHSys::fsync(fd) == 0 ? 0 : errno;
        } else if (kind == QLatin1String("rename")) {
            const QByteArray from = QFile::encodeName(folder + QStringLiteral("/r%1").arg(step));
            ::close(::open(from.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
            result = VHSys::rename(from.constData(), (from + ".renamed").constData()) == 0 ? 0 : errno;
        } else {
            QByteArray read(bytes.size(), '\0');
            if (VHSys::pread(fd, read.data(), size_t(read.size()), 0) != read.size())
                return char(errno == ENODEV ? 'N' : 'E');
            return read == bytes ? '.' : 'C';
        }
        return result == 0 ? '.' : result == EIO ? 'E' : result == ENOSPC ? 'S' : result == ENODEV ? 'N' : '?';
    }
    static int openStepFile(const QString &folder)
    {
        const QByteArray path = QFile::encodeName(folder + QStringLiteral("/step.bin"));
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        return fd >= 0 && ::write(fd, "abcdefgh", 8) == 8 ? fd : -1;
    }
    QString dataFolder() const { return root() + QStringLiteral("/.xdg/VeloraHub"); }

    void storageRuleFailsItsStep_data()
    {
        QTest::addColumn<QString>("place"); // volume, data, plain (a drive without device folder)
        QTest::addColumn<int>("rule");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("results"); // of five operations
        const auto row = [](const char *name, const char *place, VHFaultRule::Kind rule, int step, const char *kind,
                            const char *results) {
            QTest::newRow(name) << QString::fromLatin1(place) << int(rule) << step << QString::fromLatin1(kind)
                                << QString::fromLatin1(results);
        };
        row("volume write 3", "volume", VHFaultRule::VolumeFailWrite, 3, "write", "..E..");
        row("volume fsync 1", "volume", VHFaultRule::VolumeFailFsync, 1, "fsync", "E....");
        row("volume rename 5", "volume", VHFaultRule::VolumeFailRename, 5, "rename", "....E");
        row("volume no space 2", "volume", VHFaultRule::VolumeNoSpaceFrom, 2, "write", ".SSSS");
        row("volume corrupt read 3", "volume", VHFaultRule::VolumeCorruptRead, 3, "read", "..C..");
        row("data write 2", "data", VHFaultRule::DataFailWrite, 2, "write", ".E...");
        row("data fsync 5", "data", VHFaultRule::DataFailFsync, 5, "fsync", "....E");
        row("data rename 1", "data", VHFaultRule::DataFailRename, 1, "rename", "E....");
        row("data no space 4", "data", VHFaultRule::DataNoSpaceFrom, 4, "write", "...SS");
        row("data corrupt read 1", "data", VHFaultRule::DataCorruptRead, 1, "read", "C....");
        row("plain drive untouched", "plain", VHFaultRule::VolumeFailWrite, 1, "write", ".....");
    }
    void storageRuleFailsItsStep()
    {
        QFETCH(QString, place);
        QFETCH(int, rule);
        QFETCH(int, step);
        QFETCH(QString, kind);
        QFETCH(QString, results);
        qputenv("XDG_DATA_HOME", (root() + QStringLiteral("/.xdg")).toUtf8());
        QVERIFY(QDir().mkpath(dataFolder()));
        QVERIFY(m_sim->createFit(QStringLiteral("W1"), VHSimFitIdentity()) && m_sim->plug(QStringLiteral("W1")));
        QVERIFY(writeFile(root() + QStringLiteral("/PLAIN/.simdrive"), "vendor=VELORA\n"));
        const QString folder = place == QLatin1String("volume") ? m_sim->drivePath(QStringLiteral("W1"))
                               : place == QLatin1String("data") ? dataFolder()
                                                                : root() + QStringLiteral("/PLAIN");
        VHSimPlatform platform(root());
        VHTestFaultMatrix matrix(*m_sim, QStringLiteral("W1"));
        const VHFaultRule faultRule{VHFaultRule::Kind(rule)};
        QVERIFY(matrix.setRule(faultRule, step));
        const VHFileOps::UniqueFd fd(openStepFile(folder));
        QVERIFY(fd.isValid());
        QString seen;
        for (int i = 1; i <= results.size(); ++i)
            seen += QLatin1Char(storageStep(kind, folder, fd.get(), i));
        QCOMPARE(seen, results);
        // Every step is logged as "<kind> <path>"; a plain drive's are not counted.
        const QStringList steps = matrix.steps(faultRule);
        QCOMPARE(matrix.countSteps(faultRule), place == QLatin1String("plain") ? 0 : int(results.size()));
        if (place != QLatin1String("plain") && kind != QLatin1String("rename"))
            QCOMPARE(steps.first(), kind + QLatin1Char(' ') + folder + QStringLiteral("/step.bin"));
        if (kind == QLatin1String("rename"))
            QCOMPARE(steps.last(), QStringLiteral("rename %1/r5.renamed").arg(folder));
        // Fired once: the same file, unchanged, does not fire it again.
        if (!kind.startsWith(QLatin1String("write")) || !results.contains(QLatin1Char('S')))
            QCOMPARE(storageStep(kind, folder, fd.get(), 6), '.');
    }

    void vanishPullsTheDeviceAtItsStep()
    {
        VHSimDriveOptions drive;
        drive.secondary = true;
        QVERIFY(m_sim->createFileSystem(QStringLiteral("FS"), VHSimGalIdentity(), drive));
        QVERIFY(m_sim->plug(QStringLiteral("FS")));
        VHSimPlatform platform(root());
        VHSimDeviceWatcher watcher(root());
        QSignalSpy spy(&watcher, &VHDeviceWatcher::DeviceChange);
        QTest::qWait(100);
        spy.clear();
        VHTestFaultMatrix matrix(*m_sim, QStringLiteral("FS"));
        QVERIFY(matrix.setRule({VHFaultRule::VolumeVanishAt}, 3));
        const QString volume = m_sim->drivePath(QStringLiteral("FS"));
        const VHFileOps::UniqueFd fd(openStepFile(volume));
        QCOMPARE(storageStep(QStringLiteral("write"), volume, fd.get(), 1), '.');
        QCOMPARE(storageStep(QStringLiteral("fsync"), volume, fd.get(), 2), '.');
        QCOMPARE(storageStep(QStringLiteral("write"), volume, fd.get(), 3), 'N');
        // Pulled as an unplug: both volumes went back, the watcher saw it, the rule went.
        QVERIFY(!m_sim->isPlugged(QStringLiteral("FS")));
        QVERIFY(VHSimLayout::driveFolders(root()).isEmpty());
        QVERIFY(QTest::qWaitFor([&] { return codes(spy).contains(quint32(VHDeviceEvent::RemoveComplete)); }, 2000));
        QCOMPARE(m_sim->faults(QStringLiteral("FS")).volume.vanishAt, 0);
        QVERIFY(m_sim->commandLog(QStringLiteral("FS")).contains(QStringLiteral("VOLUME VANISHED at operation 3")));
        QCOMPARE(matrix.countSteps({VHFaultRule::VolumeVanishAt}), 3);
        // A handle opened before fails on, reads too; a new plugging works.
        QCOMPARE(storageStep(QStringLiteral("write"), volume, fd.get(), 4), 'N');
        QCOMPARE(storageStep(QStringLiteral("read"), volume, fd.get(), 5), 'N');
        QVERIFY(m_sim->plug(QStringLiteral("FS")));
        const VHFileOps::UniqueFd again(openStepFile(volume));
        QCOMPARE(storageStep(QStringLiteral("write"), volume, again.get(), 6), '.');
    }

    void hookLivesWithItsPlatforms()
    {
        QVERIFY(!VHSys::hasFaultHook());
        auto first = std::make_unique<VHSimPlatform>(root());
        const std::shared_ptr<VHSys::FaultHook> hook = VHSys::faultHook();
        QVERIFY(hook);
        {
            VHSimPlatform second(root()); // the same root shares the hook and its counts
            QCOMPARE(VHSys::faultHook(), hook);
        }
        QCOMPARE(VHSys::faultHook(), hook);
        first.reset();
        QVERIFY(!VHSys::hasFaultHook());
    }

    void matrixPicksSteps_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("pointsOfNoReturn");
        QTest::addColumn<QList<int>>("picked");
        QTest::newRow("none") << 0 << QList<int>{1} << QList<int>{};
        QTest::newRow("one") << 1 << QList<int>{} << QList<int>{1};
        QTest::newRow("two") << 2 << QList<int>{} << QList<int>{1, 2};
        QTest::newRow("first middle last") << 9 << QList<int>{} << QList<int>{1, 5, 9};
        QTest::newRow("with points") << 10 << QList<int>{7, 1, 11, 0} << QList<int>{1, 5, 7, 10};
    }
    void matrixPicksSteps()
    {
        QFETCH(int, count);
        QFETCH(QList<int>, pointsOfNoReturn);
        QFETCH(QList<int>, picked);
        QCOMPARE(VHTestFaultMatrix::pickSteps(count, pointsOfNoReturn), picked);
        QCOMPARE(VHTestFaultMatrix::describe(QStringLiteral("fit update"), {VHFaultRule::ScsiFailCommand, 15}, 3),
                 QByteArray("fit update / failCommand sel=15 / step 3"));
    }

    void defaultBackendFollowsTheEnvironment()
    {
        qputenv("VELORA_SIM_ROOT", root().toUtf8());
        QVERIFY(dynamic_cast<VHSimPlatform *>(VHPlatform::createDefaultBackend().get()));
        QVERIFY(m_sim->createFit(QStringLiteral("WATCH"), VHSimFitIdentity()));
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")));
        VHPlatform platform;
        QCOMPARE(platform.getRemovableDrives(), QStringList{m_sim->drivePath(QStringLiteral("WATCH"))});
        FakeManager manager;
        auto detector = platform.createDetector(&manager);
        QVERIFY(detector && detector->start());
        qunsetenv("VELORA_SIM_ROOT");
        QVERIFY(!dynamic_cast<VHSimPlatform *>(VHPlatform::createDefaultBackend().get()));
    }
};

QTEST_GUILESS_MAIN(TestVHSimPlatform)
#include "tst_VHSimPlatform.moc"
