// A person's view of the simulation: a FIT device made with the device
// simulator is seen by the device runtime, connected, and disconnected again
// when it is removed. The FIT class lives above this layer; a fake device
// class stands in for it.

#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceManager.h"
#include "VHDeviceRegistry.h"
#include "VHPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {
struct Recorder : VHDeviceManagerListener
{
    QStringList events;
    QElapsedTimer sinceChange;
    qint64 lastLatencyMs = -1;
    void onDeviceConnected(VHClient *device) override
    {
        QString model;
        device->getModelName(model);
        lastLatencyMs = sinceChange.isValid() ? sinceChange.elapsed() : -1;
        events << QStringLiteral("connected ") + model;
    }
    void onDeviceDisconnected(VHClient *) override
    {
        lastLatencyMs = sinceChange.isValid() ? sinceChange.elapsed() : -1;
        events << QStringLiteral("disconnected");
    }
    void onDeviceChanged(VHClient *) override {}
    void onActionDone(VHClient *, int) override {}
};
} // namespace

class TestVHSimRuntime : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    QTemporaryDir m_root;

private slots:
    void initTestCase()
    {
        initTestEnv(m_data.path());
        qputenv("VELORA_SIM_ROOT", m_root.path().toUtf8());
        VHDeviceRegistry &registry = VHDeviceRegistry::instance();
        registry.setBackendFactory({});
        for (const QString &role :
             {VHDeviceRegistry::kFitRole, VHDeviceRegistry::kGalRole, VHDeviceRegistry::kPacer60Role})
            registry.setFactory(role, createFakeDevice);
    }

    void deviceComesAndGoes()
    {
        VHDevSim sim(m_root.path());
        VHSimFitIdentity identity;
        identity.model = QStringLiteral("Pacer70");
        QVERIFY(sim.createFit(QStringLiteral("WATCH"), identity));
        QVERIFY(sim.plug(QStringLiteral("WATCH")));

        VHDaemon daemon;
        Recorder recorder;
        daemon.deviceManager()->setDeviceClassFlags(4);
        daemon.deviceManager()->addListener(&recorder);
        QVERIFY(daemon.start(false));
        QVERIFY(daemon.currentDevice());
        QCOMPARE(recorder.events, QStringList{QStringLiteral("connected Pacer70")});
        QVERIFY(readTestLog().contains(QLatin1String("start():send onDeviceConnected")));
        QString uuid;
        QVERIFY(daemon.currentDevice()->getUUID(uuid));
        QCOMPARE(uuid, identity.uuid);

        recorder.sinceChange.start();
        QVERIFY(sim.unplug(QStringLiteral("WATCH")));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 2, 2000);
        QCOMPARE(recorder.events.last(), QStringLiteral("disconnected"));
        // The runtime's message handler keeps info lines out of its log; measurements go to the test output.
        std::printf("MEASURED unplugged to onDeviceDisconnected: %lld ms\n", recorder.lastLatencyMs);
        QVERIFY(!daemon.currentDevice());

        // Plugged while the runtime runs: event driven, well within the bound.
        recorder.sinceChange.start();
        QVERIFY(sim.plug(QStringLiteral("WATCH")));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 3, 2000);
        QCOMPARE(recorder.events.last(), QStringLiteral("connected Pacer70"));
        std::printf("MEASURED plugged to onDeviceConnected: %lld ms\n", recorder.lastLatencyMs);
        QVERIFY(recorder.lastLatencyMs < 2000);
        QVERIFY(readTestLog().contains(QLatin1String("send onDeviceConnected")));

        // A restart with an update: gone and back, reporting the new version.
        QByteArray image = VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("2.00.00"), "payload");
        QVERIFY(writeFile(sim.drivePath(QStringLiteral("WATCH")) + QStringLiteral("/os.bin"), image));
        QVERIFY(writeFile(sim.drivePath(QStringLiteral("WATCH")) + QStringLiteral("/update.ini"), QByteArray()));
        QVERIFY(sim.unplug(QStringLiteral("WATCH")));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 4, 2000);
        QStringList installed;
        QVERIFY(sim.boot(QStringLiteral("WATCH"), &installed));
        QCOMPARE(installed, QStringList{QStringLiteral("OS=2.00.00")});
        QVERIFY(sim.plug(QStringLiteral("WATCH")));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 5, 2000);
        QCOMPARE(QSettings(sim.identityFile(QStringLiteral("WATCH")), QSettings::IniFormat)
                     .value(QStringLiteral("OS/Version"))
                     .toString(),
                 QStringLiteral("2.00.00"));
        daemon.deviceManager()->removeListener(&recorder);
    }
};

QTEST_GUILESS_MAIN(TestVHSimRuntime)
#include "tst_VHSimRuntime.moc"
