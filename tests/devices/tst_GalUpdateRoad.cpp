// The flash-based road of a GAL device through the whole runtime, on the
// simulated platform with the built-in model table: the volume connects, the
// first pass leaves "/update.ini" and ejects, the device restarts in IAP mode
// and is handed back over SCSI, the second pass flashes it, and it returns as
// a volume with the package's versions. The same for the factory restore, and
// the ways the road can break.

#include "VHDaemon.h"
#include "VHFitPackageBuilder.h"
#include "VHGalDevice.h"
#include "VHTestFiles.h"
#include "VHTestGalPackages.h"
#include "VHTestPhases.h"
#include "VHTestSimRuntime.h"

#include <QTemporaryDir>
#include <QTest>

class TestGalUpdateRoad : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    VHTestSimRuntime m_runtime;
    VHDevSim *m_sim = nullptr;
    QString m_name;
    int m_count = 0;

    VHClient *device() const { return m_runtime.device(); }
    VHDeviceManager *manager() const { return m_runtime.daemon->deviceManager(); }
    qsizetype count(const QString &event) const { return m_runtime.count(event); }
    QString deviceVolume() const { return m_sim->deviceFolder(m_name) + QStringLiteral("/volume"); }

    QString package() { return VHTestGalPackages::writeUpdate(m_work.filePath(QStringLiteral("pkg.zip"))); }

    QString restoreFolder()
    {
        return VHTestGalPackages::writeRestoreFolder(m_work.filePath(QStringLiteral("restore")));
    }

    void plug() { QVERIFY(m_runtime.plug(m_name)); }
    void unplug() { QVERIFY(m_runtime.unplug(m_name)); }

    // A new simulated GAL device with update method 2, plugged and connected.
    void plugNewDevice()
    {
        if (!m_name.isEmpty())
            unplug();
        m_name = QStringLiteral("gal%1").arg(++m_count);
        VHDevSim::GalIdentity identity;
        identity.uuid = QStringLiteral("1207A1B2C3D4E5F%1").arg(m_count);
        identity.updateMethod = 2;
        identity.lang = QStringLiteral("deu");
        QVERIFY2(m_sim->createGal(m_name, identity), qPrintable(m_sim->lastError()));
        plug();
        QString model;
        QVERIFY(device()->getModelName(model));
        QCOMPARE(model, QStringLiteral("Pacer21"));
    }

    // The first pass: the instruction on the ejected volume, the IAP row at the front.
    void firstPass(const std::function<bool(VHClient *)> &start, int state)
    {
        VHClient *client = device();
        VHTestPhases phases(client);
        QVERIFY(start(client));
        QTRY_VERIFY_WITH_TIMEOUT(!client->isBusy(), 10000);
        QCOMPARE(client->state(), state);
        // An update unpacks first, then writes what goes to the volume, each step once, to its total.
        if (state == VHClient::STATE_UPDATING) {
            QVERIFY2(phases.problem().isEmpty(), qPrintable(phases.problem()));
            QCOMPARE(phases.phases().first(), int(VHPhase::Unpack));
        }
        // Both first passes end saying the device restarts, before it leaves.
        QCOMPARE(phases.phases().last(), int(VHPhase::Waiting));
        QVERIFY(QFileInfo::exists(deviceVolume() + QStringLiteral("/update.ini")));
        QVERIFY(!QFileInfo::exists(m_sim->drivePath(m_name))); // ejected
        const VHModelInfo row = manager()->models().front();
        QCOMPARE(row.code, QStringLiteral("1207"));
        QCOMPARE(row.identification, QStringLiteral("ALDERIAP"));
        QVERIFY(row.factory);
    }

    // A new device whose update has done its first pass.
    void startUpdate()
    {
        plugNewDevice();
        firstPass([&](VHClient *client) { return client->updateTotal(package(), QString()); },
                  VHClient::STATE_UPDATING);
    }

    // The device restarts; `changes` lists what it installed.
    bool restart(QStringList *changes = nullptr)
    {
        m_runtime.now += 60;
        return m_sim->restart(m_name, 0, changes);
    }

private slots:
    void initTestCase()
    {
        VHGalWait::setSleeper([](int) {});
        QVERIFY(m_runtime.startIn(m_work));
        m_sim = m_runtime.sim.get();
    }

    void updateThroughIapMode()
    {
        startUpdate();
        QCOMPARE(count(QStringLiteral("done 0 ok")), 0);
        m_sim->clearCommandLog(m_name);
        QVERIFY(restart());
        QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("done 0 ok")), 1, 10000);
        QVERIFY(device()->serviceType() == VHDeviceService::DEVICE_SCSI);
        // 64 KiB of image from 0x10000 (blocks 16-31), one block of language at 0x40000.
        const QStringList log = m_sim->commandLog(m_name);
        const QString imageBlocks = QStringLiteral(" block=(1[6-9]|2[0-9]|3[01]) ");
        QCOMPARE(
            log.filter(QRegularExpression(QStringLiteral("^WRITE sel=24") + imageBlocks + "unit=512 .* ok")).size(),
            16);
        QCOMPARE(
            log.filter(QRegularExpression(QStringLiteral("^WRITE sel=15") + imageBlocks + "unit=4096 .* ok")).size(),
            16);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^WRITE sel=24 block=64 .* ok"))).size(), 1);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^WRITE sel=15 block=64 .* ok"))).size(), 1);
        QVERIFY(log.last().startsWith(QStringLiteral("READ sel=26 block=0 unit=512 len=512 ok")));

        // The IAP device leaves; the volume comes back after the reconnect pause.
        unplug();
        QStringList installed;
        QVERIFY(m_sim->boot(m_name, &installed));
        QVERIFY2(installed.contains(QStringLiteral("OS=120")), qPrintable(installed.join(',')));
        plug();
        QString version;
        QVERIFY(device()->getImageVersion(version));
        QCOMPARE(version, QStringLiteral("120"));
        QCOMPARE(count(QStringLiteral("done 0 ok")), 1);
    }

    void restoreThroughIapMode()
    {
        plugNewDevice();
        firstPass([&](VHClient *client) { return client->restoreFactory(restoreFolder()); }, VHClient::STATE_RESTORING);
        m_sim->clearCommandLog(m_name);
        QVERIFY(restart());
        QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("done 22 ok")), 1, 10000);
        const QStringList log = m_sim->commandLog(m_name);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^WRITE sel=12 block=0 unit=2048 .* ok"))).size(), 1);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^WRITE sel=24 block=[0-2] .* ok"))).size(), 3);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^WRITE sel=15 block=0 unit=4096 .* ok"))).size(), 1);
        QCOMPARE(device()->state(), int(VHClient::STATE_READY));
        QCOMPARE(m_sim->flash(m_name, VHDevSim::Flash::Internal).left(5000), QByteArray(5000, 'f'));
        // Like an update it ends with the notification, so the device starts again with the restored software.
        QVERIFY(log.last().startsWith(QStringLiteral("READ sel=26 block=0 unit=512 len=512 ok")));
        unplug();
        QStringList installed;
        QVERIFY(m_sim->boot(m_name, &installed));
        QVERIFY2(installed.contains(QStringLiteral("OS=100")), qPrintable(installed.join(',')));
        plug();
        QCOMPARE(device()->serviceType(), int(VHDeviceService::DEVICE_FS));
    }

    // The device restarts without its update mode: the update fails, the device is connected.
    void comesBackAsAVolume()
    {
        startUpdate();
        VHClient *pending = device();
        QVERIFY(QFile::remove(deviceVolume() + QStringLiteral("/update.ini")));
        const qsizetype connections = count(QStringLiteral("connected"));
        QVERIFY(restart());
        QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("done 0 failed")), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("connected")) > connections, 5000);
        QVERIFY(device() != pending);
        QCOMPARE(device()->state(), int(VHClient::STATE_READY));
        QCOMPARE(device()->serviceType(), int(VHDeviceService::DEVICE_FS));
    }

    // The cable goes in the middle of the flash: the action fails, the device
    // is disconnected, and plugged again in IAP mode it connects as a new device.
    void unpluggedInTheMiddleOfTheFlash()
    {
        startUpdate();
        VHSimFaults faults;
        faults.vanishAfter = 6;
        QVERIFY(m_sim->setFaults(m_name, faults));
        VHClient *pending = device();
        const qsizetype disconnections = count(QStringLiteral("disconnected"));
        const qsizetype failures = count(QStringLiteral("done 0 failed"));
        QVERIFY(restart());
        QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("done 0 failed")), failures + 1, 10000);
        QCOMPARE(pending->state(), int(VHClient::STATE_READY));
        const QStringList log = m_sim->commandLog(m_name);
        QVERIFY2(log.contains(QStringLiteral("VANISHED after 6 commands")), qPrintable(log.join('\n')));
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("disconnected")) > disconnections, 5000);
        QVERIFY(!device());

        plug();
        QVERIFY(device() != pending);
        QCOMPARE(device()->serviceType(), int(VHDeviceService::DEVICE_SCSI));
        QString uuid;
        QVERIFY(device()->getUUID(uuid));
        QCOMPARE(uuid.left(4), QStringLiteral("1207"));

        // The object made in IAP mode finishes the update from the package.
        VHClient *stranded = device();
        const qsizetype successes = count(QStringLiteral("done 0 ok"));
        QVERIFY(stranded->setStateWithMatch(VHClient::STATE_READY, VHClient::STATE_UPDATING));
        QVERIFY(stranded->updateTotal(package(), QStringLiteral("deu")));
        QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("done 0 ok")), successes + 1, 10000);
        unplug();
        QStringList installed;
        QVERIFY(m_sim->boot(m_name, &installed));
        QVERIFY2(installed.contains(QStringLiteral("OS=120")), qPrintable(installed.join(',')));
    }

    // Another device plugged while the first one is away is refused; the first one's update goes on.
    void secondDeviceWhileTheFirstIsAway()
    {
        startUpdate();
        VHClient *pending = device();
        VHDevSim::GalIdentity other;
        other.uuid = QStringLiteral("1207FFFFEEEEDDDD");
        QVERIFY(m_sim->createGal(QStringLiteral("other"), other));
        QVERIFY(m_sim->plug(QStringLiteral("other")));
        QTest::qWait(300);
        QCOMPARE(device(), pending);
        QCOMPARE(pending->state(), int(VHClient::STATE_UPDATING));
        const qsizetype successes = count(QStringLiteral("done 0 ok"));
        QVERIFY(restart());
        QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("done 0 ok")), successes + 1, 10000);
        QVERIFY(m_sim->unplug(QStringLiteral("other")));
    }
};

QTEST_GUILESS_MAIN(TestGalUpdateRoad)
#include "tst_GalUpdateRoad.moc"
