#include "PlatformTestSupport.h"
#include "VHDeviceEvents.h"
#include "VHDeviceWatcher.h"
#include "VHPlatform.h"
#include "VHPlatformDeviceDetector.h"

#include "VHTestIoThreads.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kUuid = QStringLiteral("1105AAAABBBBCCCC");
const QString kOther = QStringLiteral("1105DDDDEEEEFFFF");
const QString kPlugin = QStringLiteral("plugin ") + kUuid;
const QString kUnplug = QStringLiteral("unplug");
constexpr int kNoDevice = -2;
constexpr int kFs = VHDeviceService::DEVICE_FS;
constexpr int kScsi = VHDeviceService::DEVICE_SCSI;

constexpr quint32 kNodes = VHDeviceEvent::NodesChanged;
constexpr quint32 kArrival = VHDeviceEvent::Arrival;
constexpr quint32 kRemoval = VHDeviceEvent::RemoveComplete;

// One device event met by a detector: the current device, what the scans find (a
// SCSI device of that UUID, the volume of kUuid) and what must follow: the events
// the manager is told and how often the SCSI devices and the drives were scanned.
struct Scenario
{
    struct Current
    {
        int type = kNoDevice;
        int state = 0;
        QString uuid = kUuid;
    } device;
    QString scsi;
    bool volume = true;
    bool adopts = true; // the manager makes a plugged device current
    quint32 event = 0;
    int repeat = 1;
    QStringList told;
    QList<int> scans{0, 0};
    QString logged;
};
} // namespace
Q_DECLARE_METATYPE(Scenario)

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

    // `uuids`: one SCSI device per comma-separated UUID, in scan order.
    void scsiFinds(const QString &uuids)
    {
        m_script.scsi = [uuids] {
            VHServiceList found;
            for (const QString &uuid : uuids.split(QLatin1Char(',')))
                found.push_back(std::make_unique<FakeFSService>(uuid, VHModelInfo(), VHDeviceService::DEVICE_SCSI));
            return found;
        };
    }

    void makeCurrent(int type, int state, const QString &uuid = kUuid)
    {
        m_device.type = type;
        m_device.clientState = state;
        m_device.uuid = uuid;
        m_manager.current = &m_device;
    }

    // One row of oneEventWithTheCurrentDevice_data, scanned at once or on the worker.
    void meetScenario(bool onWorker)
    {
        QFETCH(Scenario, scenario);
        LogCapture log;
        QTemporaryDir drive;
        if (scenario.volume) {
            QVERIFY(writeFile(drive.path() + QStringLiteral("/System/device.txt"),
                              "[UUID]\nUUID=" + kUuid.toLatin1() + "\n"));
            m_manager.table = {{QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("X"), nullptr}};
            m_script.drives = {drive.path()};
        }
        if (!scenario.scsi.isEmpty())
            scsiFinds(scenario.scsi);
        if (scenario.device.type != kNoDevice)
            makeCurrent(scenario.device.type, scenario.device.state, scenario.device.uuid);
        m_manager.makeCurrentOnPlugin = scenario.adopts;
        const auto reads = VHTestIoThreads::install(drive.path(), VHSys::Op::Read);
        auto detector = makeDetector();
        detector->setScanOnWorker(onWorker);
        for (int i = 0; i < scenario.repeat; ++i)
            detector->DeviceChange(scenario.event);
        QTRY_VERIFY_WITH_TIMEOUT(!detector->isScanning(), 5000);
        QCOMPARE(m_script.scansOnCaller, onWorker ? 0 : m_script.scsiScans + m_script.driveScans);
        QVERIFY(!onWorker || reads->onHomeThread == 0);
        QCOMPARE(m_manager.events, scenario.told);
        QCOMPARE((QList<int>{m_script.scsiScans, m_script.driveScans}), scenario.scans);
        // Only what is passed on to the listeners starts a burst.
        QCOMPARE(detector->lastEventTick(), scenario.told.isEmpty() ? 0u : m_now);
        if (!scenario.logged.isEmpty()) {
            QVERIFY(log.contains(scenario.logged));
            QVERIFY(!log.contains(QStringLiteral("tickcount=")));
        }
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

    // Node changes within one second are one burst, scanned once; the tick may wrap.
    void burstsOfNodeChangesAreScannedOnce_data()
    {
        QTest::addColumn<QList<quint32>>("ticks");
        QTest::addColumn<QList<int>>("scans");
        // Exactly one second is still the same burst.
        QTest::newRow("within one second") << QList<quint32>{100000, 100500, 101000} << QList<int>{1, 1, 1};
        QTest::newRow("more than a second apart") << QList<quint32>{100000, 101001} << QList<int>{1, 2};
        QTest::newRow("across the 32-bit wrap") << QList<quint32>{0xFFFFFF00u, 0x100u, 0x400u} << QList<int>{1, 1, 2};
    }
    void burstsOfNodeChangesAreScannedOnce()
    {
        QFETCH(QList<quint32>, ticks);
        QFETCH(QList<int>, scans);
        scsiFinds(kUuid);
        auto detector = makeDetector();
        for (int i = 0; i < ticks.size(); ++i) {
            m_now = ticks[i];
            detector->DeviceChange(VHDeviceEvent::NodesChanged);
            QCOMPARE(m_script.scsiScans, scans[i]);
        }
        QCOMPARE(detector->lastEventTick(), ticks.first());
        // The same device found again is no event: one plug-in only.
        QCOMPARE(m_manager.events, QStringList{kPlugin});
    }

    void oneEventWithTheCurrentDevice_data()
    {
        QTest::addColumn<Scenario>("scenario");
        QTest::newRow("idle volume device ignores node changes")
            << Scenario{.device = {kFs}, .scsi = kOther, .event = kNodes, .logged = "ignore event: device="};
        QTest::newRow("node change, current SCSI device still there")
            << Scenario{.device = {kScsi}, .scsi = kUuid, .event = kNodes, .scans = {1, 0}};
        QTest::newRow("node change, another SCSI device")
            << Scenario{.device = {kScsi}, .scsi = kOther, .event = kNodes, .told = {kUnplug}, .scans = {1, 0}};
        // Other devices plugged beside it, found first, do not unplug it.
        QTest::newRow("node change, current SCSI device behind another")
            << Scenario{.device = {kScsi}, .scsi = kOther + "," + kUuid, .event = kNodes, .scans = {1, 0}};
        QTest::newRow("arrival, current SCSI device behind another")
            << Scenario{.device = {kScsi}, .scsi = kOther + "," + kUuid, .event = kArrival, .scans = {1, 0}};
        // A model without service (type -1) is checked the same way.
        QTest::newRow("node change, device without service gone")
            << Scenario{.device = {-1}, .event = kNodes, .told = {kUnplug}, .scans = {1, 0}};
        QTest::newRow("arrival, current SCSI device still there")
            << Scenario{.device = {kScsi}, .scsi = kUuid, .event = kArrival, .scans = {1, 0}};
        // It left its SCSI mode and returned as a volume before the node change was seen.
        QTest::newRow("arrival after the SCSI device left")
            << Scenario{.device = {kScsi}, .event = kArrival, .told = {kUnplug, kPlugin}, .scans = {1, 1}};
        // A device sent away for its update that returns as a volume is passed on.
        QTest::newRow("arrival of the volume of a device in its update")
            << Scenario{.device = {kFs, 1}, .adopts = false, .event = kArrival, .told = {kPlugin}, .scans = {0, 1}};
        // Not debounced: the second arrival finds the device current.
        QTest::newRow("arrival without device scans the drives")
            << Scenario{.event = kArrival, .repeat = 2, .told = {kPlugin}, .scans = {0, 1}};
        QTest::newRow("removal, the current volume still there")
            << Scenario{.device = {kFs, 2}, .event = kRemoval, .scans = {0, 1}};
        QTest::newRow("removal, another device's volume left")
            << Scenario{.device = {kFs, 2, kOther}, .event = kRemoval, .told = {kUnplug}, .scans = {0, 1}};
        QTest::newRow("removal, no volume left")
            << Scenario{.device = {kFs}, .volume = false, .event = kRemoval, .told = {kUnplug}, .scans = {0, 1}};
        QTest::newRow("volume removal does not unplug a SCSI device")
            << Scenario{.device = {kScsi, 2}, .event = kRemoval};
        for (quint32 code : {0x0000u, 0x0018u, 0x8001u, 0x8003u, 0xFFFFFFFFu})
            QTest::addRow("code 0x%x is ignored", code) << Scenario{.scsi = kUuid, .event = code};
    }
    void oneEventWithTheCurrentDevice() { meetScenario(false); }

    // The same decisions when every scan runs on the worker: no scan on the
    // test's thread, the result the same once the scans are done.
    void oneEventWithScansOnWorker_data() { oneEventWithTheCurrentDevice_data(); }
    void oneEventWithScansOnWorker() { meetScenario(true); }

    void noUnplugWhileTheDeviceUpdates_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("software update") << 1;
        QTest::newRow("factory restore") << 3;
    }
    void noUnplugWhileTheDeviceUpdates()
    {
        QFETCH(int, state);
        makeCurrent(kFs, state);
        auto detector = makeDetector();
        detector->DeviceChange(VHDeviceEvent::RemoveComplete);
        QCOMPARE(m_script.driveScans, 0);
        QVERIFY(m_manager.events.isEmpty());
        // The device comes back over SCSI: its service is passed on for the
        // reconnection, not that of another device found before it.
        scsiFinds(kOther + "," + kUuid);
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events, QStringList{kPlugin});
        // Nothing found while it is away is no unplug either.
        m_script.scsi = nullptr;
        m_now += 2000;
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events.size(), 1);
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
        QCOMPARE(m_manager.events, (QStringList{kPlugin, kUnplug}));
        QTest::qWait(1200);
        QCOMPARE(m_script.scsiScans, 2);
    }

    // With the scan on a worker, an arrival reads the volume there and the
    // listeners hear of it on their own thread afterwards.
    void volumeScannedOnWorker_data()
    {
        QTest::addColumn<bool>("knownModel");
        QTest::addColumn<bool>("adopts");
        QTest::addColumn<int>("arrivals");
        QTest::addColumn<bool>("connectedMeanwhile");
        QTest::addColumn<QStringList>("told");
        QTest::addColumn<int>("driveScans");
        QTest::newRow("plugged") << true << true << 1 << false << QStringList{kPlugin} << 1;
        QTest::newRow("unknown model: its row reaches the manager")
            << false << true << 1 << false << QStringList{kPlugin} << 1;
        QTest::newRow("another device connected meanwhile: the volume is dropped")
            << true << true << 1 << true << QStringList() << 1;
        QTest::newRow("arrival during the scan, device taken: no second scan")
            << true << true << 2 << false << QStringList{kPlugin} << 1;
        QTest::newRow("arrival during the scan, device not taken: scanned once more")
            << true << false << 3 << false << QStringList{kPlugin, kPlugin} << 2;
    }
    void volumeScannedOnWorker()
    {
        QFETCH(bool, knownModel);
        QFETCH(bool, adopts);
        QFETCH(int, arrivals);
        QFETCH(bool, connectedMeanwhile);
        QFETCH(QStringList, told);
        QFETCH(int, driveScans);
        QTemporaryDir drive;
        QVERIFY(writeFile(drive.path() + QStringLiteral("/System/device.txt"),
                          "[UUID]\nUUID=" + kUuid.toLatin1() + "\n[MODEL]\nModel=Pacer40\n"));
        if (knownModel)
            m_manager.table = {{QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("X"), nullptr}};
        m_script.drives = {drive.path()};
        m_manager.makeCurrentOnPlugin = adopts;
        const auto reads = VHTestIoThreads::install(drive.path(), VHSys::Op::Read);
        auto detector = makeDetector();
        detector->setScanOnWorker(true);
        for (int i = 0; i < arrivals; ++i)
            detector->DeviceChange(kArrival);
        QVERIFY(detector->isScanning());
        QVERIFY(m_manager.events.isEmpty());
        if (connectedMeanwhile)
            makeCurrent(kScsi, 0, kOther);
        QTRY_VERIFY_WITH_TIMEOUT(!detector->isScanning(), 5000);
        QCOMPARE(m_manager.events, told);
        QCOMPARE(m_script.driveScans, driveScans);
        QVERIFY(reads->elsewhere > 0);
        QCOMPARE(reads->onHomeThread.load(), 0);
        QCOMPARE(m_manager.table.size(), 1);
        QCOMPARE(m_manager.table.first().modelName, QStringLiteral("Pacer40"));
    }

    // A scan's result that came after the current device changed is not acted
    // on: the event is met again, as the device now stands.
    void staleScanIsJudgedAgain_data()
    {
        QTest::addColumn<int>("stateDuringScan"); // -1: the device is gone
        QTest::addColumn<QStringList>("told");
        QTest::addColumn<int>("scsiScans");
        QTest::newRow("still in its update: its SCSI service is passed on") << 1 << QStringList{kPlugin} << 1;
        QTest::newRow("its update ended: an idle volume device ignores the change") << 0 << QStringList() << 1;
        QTest::newRow("gone: the SCSI device found is a new one") << -1 << QStringList{kPlugin} << 2;
    }
    void staleScanIsJudgedAgain()
    {
        QFETCH(int, stateDuringScan);
        QFETCH(QStringList, told);
        QFETCH(int, scsiScans);
        scsiFinds(kUuid);
        makeCurrent(kFs, 1);
        auto detector = makeDetector();
        detector->setScanOnWorker(true);
        detector->DeviceChange(kNodes);
        QVERIFY(detector->isScanning());
        // The result waits for this thread's events: the change comes first.
        if (stateDuringScan < 0)
            m_manager.current = nullptr;
        else
            m_device.clientState = stateDuringScan;
        QTRY_VERIFY_WITH_TIMEOUT(!detector->isScanning(), 5000);
        QCOMPARE(m_manager.events, told);
        QCOMPARE(m_script.scsiScans, scsiScans);
        QCOMPARE(m_script.scansOnCaller, 0);
    }

    void firstListenerTakesTheService()
    {
        FakeManager second;
        scsiFinds(kUuid);
        auto detector = makeDetector();
        detector->addListener(&second);
        detector->addListener(&m_manager); // no duplicates
        detector->DeviceChange(VHDeviceEvent::NodesChanged);
        QCOMPARE(m_manager.events, QStringList{kPlugin});
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
