#include "PlatformTestSupport.h"
#include "VHDeviceEvents.h"
#include "VHDeviceWatcher.h"
#include "VHPlatform.h"
#include "VHPlatformDeviceDetector.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kUuid = QStringLiteral("1105AAAABBBBCCCC");
const QString kOther = QStringLiteral("1105DDDDEEEEFFFF");
} // namespace

class TestVHPlatformDeviceDetector : public QObject
{
    Q_OBJECT

    ScriptedPlatform::Script m_script;
    VHPlatform m_platform{std::make_unique<ScriptedPlatform>(&m_script)};
    FakeManager m_manager;
    FakeClient m_device;
    quint32 m_now = 100000;

    std::unique_ptr<VHPlatformDeviceDetector> makeDetector()
    {
        auto detector = std::make_unique<VHPlatformDeviceDetector>(&m_manager, &m_platform);
        detector->setTickSource([this] { return m_now; });
        detector->addListener(&m_manager);
        return detector;
    }

    void scsiFinds(const QString &uuid)
    {
        m_script.scsi = [uuid] {
            return serviceList(std::make_unique<FakeFSService>(uuid, VHModelInfo(), VHDeviceService::DEVICE_SCSI));
        };
    }

    void makeCurrent(int type, int state, const QString &uuid = kUuid)
    {
        m_device.type = type;
        m_device.clientState = state;
        m_device.uuid = uuid;
        m_manager.current = &m_device;
    }

private slots:
    void init()
    {
        m_script = ScriptedPlatform::Script();
        m_manager.events.clear();
        m_manager.current = nullptr;
        m_manager.makeCurrentOnPlugin = true;
        m_device = FakeClient();
        m_now = 100000;
    }
    void cleanup() { QCOMPARE(liveFakeServices(), 0); }

    void nodeChangesWithinOneSecondCauseOneRescan()
    {
        scsiFinds(kUuid);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events, QStringList{QStringLiteral("plugin ") + kUuid});
        QCOMPARE(detector->lastEventTick(), m_now);
        m_now += 500;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_script.scsiScans, 1);
        // Exactly one second is still the same burst.
        m_now += 500;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_script.scsiScans, 1);
    }

    void nodeChangesMoreThanOneSecondApartRescanTwice()
    {
        scsiFinds(kUuid);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        m_now += 1001;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_script.scsiScans, 2);
        // The same device found again is no event: one plug-in only.
        QCOMPARE(m_manager.events.size(), 1);
    }

    void burstFilterSurvivesTheTickWrap()
    {
        scsiFinds(kUuid);
        auto detector = makeDetector();
        m_now = 0xFFFFFF00u;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        m_now = 0x100u; // 512 ms later, after the 32-bit wrap
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_script.scsiScans, 1);
        m_now = 0x400u;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_script.scsiScans, 2);
    }

    void noUnplugWhileTheDeviceUpdates_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("software update") << 1;
        QTest::newRow("factory restore") << 3;
    }
    void noUnplugWhileTheDeviceUpdates()
    {
        QFETCH(int, state);
        makeCurrent(VHDeviceService::DEVICE_FS, state);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::RemoveComplete);
        QCOMPARE(m_script.driveScans, 0);
        QVERIFY(m_manager.events.isEmpty());
        // The device comes back over SCSI: its service is passed on for the reconnection.
        scsiFinds(kUuid);
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events, QStringList{QStringLiteral("plugin ") + kUuid});
        // Nothing found while it is away is no unplug either.
        m_script.scsi = nullptr;
        m_now += 2000;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events.size(), 1);
    }

    void idleVolumeDeviceIgnoresNodeChanges()
    {
        LogCapture log;
        makeCurrent(VHDeviceService::DEVICE_FS, 0);
        scsiFinds(kOther);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QVERIFY(log.contains(QStringLiteral("ignore event: device=")));
        QVERIFY(!log.contains(QStringLiteral("tickcount=")));
        QCOMPARE(m_script.scsiScans, 0);
        QVERIFY(m_manager.events.isEmpty());
    }

    void arrivalWithACurrentDeviceDoesNothing()
    {
        makeCurrent(VHDeviceService::DEVICE_SCSI, 0);
        scsiFinds(kUuid); // still there
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::Arrival);
        QCOMPARE(m_script.driveScans, 0);
        QVERIFY(m_manager.events.isEmpty());
        QCOMPARE(detector->lastEventTick(), 0u);
    }

    // A device that left its SCSI mode and returned as a volume before the
    // node change was seen: the SCSI device is gone, the volume connects.
    void arrivalAfterTheScsiDeviceLeft()
    {
        QTemporaryDir drive;
        QVERIFY(
            writeFile(drive.path() + QStringLiteral("/System/device.txt"), "[UUID]\nUUID=" + kUuid.toLatin1() + "\n"));
        m_manager.table = {{QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("X"), nullptr}};
        m_script.drives = {drive.path()};
        makeCurrent(VHDeviceService::DEVICE_SCSI, 0);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::Arrival);
        QCOMPARE(m_manager.events, (QStringList{QStringLiteral("unplug"), QStringLiteral("plugin ") + kUuid}));
    }

    // A device sent away for its update that returns as a volume is passed on.
    void arrivalOfTheVolumeOfADeviceInItsUpdate()
    {
        QTemporaryDir drive;
        QVERIFY(
            writeFile(drive.path() + QStringLiteral("/System/device.txt"), "[UUID]\nUUID=" + kUuid.toLatin1() + "\n"));
        m_manager.table = {{QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("X"), nullptr}};
        m_script.drives = {drive.path()};
        makeCurrent(VHDeviceService::DEVICE_FS, 1);
        m_manager.makeCurrentOnPlugin = false;
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::Arrival);
        QCOMPARE(m_manager.events, QStringList{QStringLiteral("plugin ") + kUuid});
    }

    // A node change dropped by the burst filter is rescanned once when the window ends.
    void droppedNodeChangeRescansOnce()
    {
        scsiFinds(kUuid);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::NodesChanged); // plugged
        QCOMPARE(m_script.scsiScans, 1);
        m_script.scsi = nullptr; // the device left within the second
        m_now += 300;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_script.scsiScans, 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_script.scsiScans, 2, 3000);
        QCOMPARE(m_manager.events, (QStringList{QStringLiteral("plugin ") + kUuid, QStringLiteral("unplug")}));
        QTest::qWait(1200);
        QCOMPARE(m_script.scsiScans, 2);
    }

    void arrivalWithoutDeviceScansTheDrives()
    {
        QTemporaryDir drive;
        QVERIFY(
            writeFile(drive.path() + QStringLiteral("/System/device.txt"), "[UUID]\nUUID=" + kUuid.toLatin1() + "\n"));
        m_manager.table = {{QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("X"), nullptr}};
        m_script.drives = {drive.path()};
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::Arrival);
        QCOMPARE(m_manager.events, QStringList{QStringLiteral("plugin ") + kUuid});
        QCOMPARE(detector->lastEventTick(), m_now);
        // Not debounced: a second arrival scans again (and finds the device current).
        detector->DeviceChange(VHDeviceEvent::Arrival);
        QCOMPARE(m_script.driveScans, 1);
    }

    void removalChecksTheCurrentVolumeDevice()
    {
        QTemporaryDir drive;
        QVERIFY(
            writeFile(drive.path() + QStringLiteral("/System/device.txt"), "[UUID]\nUUID=" + kUuid.toLatin1() + "\n"));
        m_manager.table = {{QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("X"), nullptr}};
        m_script.drives = {drive.path()};
        makeCurrent(VHDeviceService::DEVICE_FS, 2);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::RemoveComplete);
        QVERIFY(m_manager.events.isEmpty()); // still there
        m_device.uuid = kOther;
        detector->DeviceChange(VHDeviceEvent::RemoveComplete);
        QCOMPARE(m_manager.events, QStringList{QStringLiteral("unplug")});
        makeCurrent(VHDeviceService::DEVICE_FS, 0);
        m_script.drives.clear();
        detector->DeviceChange(VHDeviceEvent::RemoveComplete);
        QCOMPARE(m_manager.events.size(), 2);
    }

    void volumeRemovalDoesNotUnplugAScsiDevice()
    {
        makeCurrent(VHDeviceService::DEVICE_SCSI, 2);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::RemoveComplete);
        QCOMPARE(m_script.driveScans, 0);
        QVERIFY(m_manager.events.isEmpty());
    }

    void nodeChangeChecksTheCurrentScsiDevice()
    {
        makeCurrent(VHDeviceService::DEVICE_SCSI, 0);
        scsiFinds(kUuid);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QVERIFY(m_manager.events.isEmpty());
        QCOMPARE(detector->lastEventTick(), 0u); // nothing passed on
        scsiFinds(kOther);
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events, QStringList{QStringLiteral("unplug")});
        // A model without service (type -1) is checked the same way.
        makeCurrent(-1, 0);
        m_script.scsi = nullptr;
        m_now += 1001;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events.size(), 2);
    }

    void otherCodesAreIgnored()
    {
        scsiFinds(kUuid);
        auto detector = makeDetector();
        for (quint32 code : {0x0000u, 0x0018u, 0x8001u, 0x8003u, 0xFFFFFFFFu})
            detector->DeviceChange(code);
        QCOMPARE(m_script.scsiScans + m_script.driveScans, 0);
    }

    void firstListenerTakesTheService()
    {
        FakeManager second;
        scsiFinds(kUuid);
        auto detector = makeDetector();
        detector->addListener(&second);
        detector->addListener(&m_manager); // no duplicates
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events, QStringList{QStringLiteral("plugin ") + kUuid});
        QCOMPARE(second.events, QStringList{QStringLiteral("plugin none")});
        detector->removeListener(&second);
        m_manager.current = nullptr;
        m_now += 2000;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(second.events.size(), 1);
    }

    void startConnectsThePlatformWatcher()
    {
        VHDeviceWatcher *created = nullptr;
        m_script.watcher = [&created] {
            auto watcher = std::make_unique<VHDeviceWatcher>();
            created = watcher.get();
            return watcher;
        };
        scsiFinds(kUuid);
        auto detector = makeDetector();
        QVERIFY(detector->start());
        QVERIFY(created && detector->watcher() == created);
        emit created->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events.size(), 1);
    }

    void startPrefersTheApplicationsEventSource()
    {
        auto application = std::make_unique<VHDeviceWatcher>();
        m_platform.setDeviceEventSource(application.get());
        scsiFinds(kUuid);
        auto detector = makeDetector();
        QVERIFY(detector->start());
        QVERIFY(!detector->watcher());
        emit application->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events.size(), 1);
        application.reset();
        QVERIFY(!m_platform.deviceEventSource());
        // Without any source there is nothing to connect.
        QVERIFY(!makeDetector()->start());
    }
};

QTEST_GUILESS_MAIN(TestVHPlatformDeviceDetector)
#include "tst_VHPlatformDeviceDetector.moc"
