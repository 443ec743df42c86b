#include "FakeUDisks2.h"
#include "PlatformTestSupport.h"
#include "SysfsTree.h"
#include "VHLinuxPlatform.h"
#include "VHPlatform.h"
#include "VHUDisks2.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(VHEjectMode)

namespace {

const QString kNoInteraction = QStringLiteral("auth.no_user_interaction");
using Result = VHUDisks2Client::Result;

} // namespace

// The disk service client against a fake service on a private bus.
class TestVHUDisks2 : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<FakeUDisks2Service> m_service;
    int m_connections = 0;

    QDBusConnection callerBus() { return m_bus->connect(QStringLiteral("caller-%1").arg(++m_connections)); }

    FakeUDisks2 &startService(const std::function<void(FakeUDisks2 &)> &configure = {})
    {
        auto fake = std::make_unique<FakeUDisks2>();
        if (configure)
            configure(*fake);
        m_service = std::make_unique<FakeUDisks2Service>(std::move(fake));
        const bool started = m_service->start(m_bus->address());
        if (!started)
            qWarning("the fake service did not start");
        return m_service->fake();
    }

    // A new client's answer (result and text) to mounting /dev/sdb1, or to ejecting /dev/sdb with it.
    QPair<Result, QString> answerTo(bool mount)
    {
        VHUDisks2Client client(callerBus());
        QSignalSpy spy(&client, mount ? &VHUDisks2Client::mountFinished : &VHUDisks2Client::finished);
        mount ? client.mount(QStringLiteral("/dev/sdb1"))
              : client.eject({QStringLiteral("/dev/sdb1")}, QStringLiteral("/dev/sdb"));
        if (!spy.wait(10000))
            return {Result::Failed, QStringLiteral("no answer")};
        return {spy.first().at(0).value<Result>(), spy.first().at(1).toString()};
    }

    static bool askedWithoutInteraction(const QList<FakeUDisks2::Call> &calls, const QString &method)
    {
        for (const FakeUDisks2::Call &call : calls) {
            if (call.method == method && !call.options.value(kNoInteraction).toBool())
                return false;
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        if (!PrivateBus::daemonInstalled()) {
            if (!qEnvironmentVariableIsEmpty("CI"))
                QFAIL("dbus-daemon not found (Debian package dbus-daemon)");
            QSKIP("dbus-daemon not found (Debian package dbus-daemon)");
        }
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(!m_bus->address().isEmpty(), "the private bus did not start");
        // The Linux backend talks to the system bus; here that is the private one.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus->address().toUtf8());
    }

    void cleanup() { m_service.reset(); }

    void ejectUnmountsEveryMountThenEjectsTheDrive_data()
    {
        QTest::addColumn<bool>("mediaRemovable");
        QTest::addColumn<bool>("canPowerOff");
        QTest::addColumn<VHEjectMode>("mode");
        QTest::addColumn<QString>("lastCall");
        QTest::newRow("fixed media is powered off") << false << true << VHEjectMode::PowerOff << "PowerOff Watch";
        QTest::newRow("removable media is ejected") << true << true << VHEjectMode::PowerOff << "Eject Watch";
        QTest::newRow("no power switch: ejected") << false << false << VHEjectMode::PowerOff << "Eject Watch";
        // A device that restarts must find its port still powered.
        QTest::newRow("keep power never powers off") << false << true << VHEjectMode::KeepPower << "Eject Watch";
    }
    void ejectUnmountsEveryMountThenEjectsTheDrive()
    {
        QFETCH(bool, mediaRemovable);
        QFETCH(bool, canPowerOff);
        QFETCH(VHEjectMode, mode);
        QFETCH(QString, lastCall);
        FakeUDisks2 &fake = startService([&](FakeUDisks2 &f) {
            f.mediaRemovable = mediaRemovable;
            f.canPowerOff = canPowerOff;
        });
        VHUDisks2Client client(callerBus());
        QSignalSpy finished(&client, &VHUDisks2Client::finished);
        client.eject({QStringLiteral("/dev/sdb1"), QStringLiteral("/dev/sdb2")}, QStringLiteral("/dev/sdb"), mode);
        QVERIFY(client.isBusy());
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().at(0).value<Result>(), Result::Ejected);
        QVERIFY(!client.isBusy());
        const QStringList expected{QStringLiteral("ResolveDevice Manager"), QStringLiteral("Unmount sdb1"),
                                   QStringLiteral("ResolveDevice Manager"), QStringLiteral("Unmount sdb2"),
                                   QStringLiteral("ResolveDevice Manager"), QStringLiteral("Get sdb"),
                                   QStringLiteral("GetAll Watch"),          lastCall};
        QCOMPARE(fake.methodsCalled(), expected);
        QVERIFY(askedWithoutInteraction(fake.calls(), QStringLiteral("Unmount")));
        QVERIFY(askedWithoutInteraction(fake.calls(), lastCall.section(QLatin1Char(' '), 0, 0)));
    }

    void aRefusalFailsWithTheServicesReason_data()
    {
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QStringList>("notCalled");
        QTest::newRow("unmount refused") << "Unmount" << QStringList{"Get", "Eject", "PowerOff"};
        QTest::newRow("power off refused") << "PowerOff" << QStringList{"Eject"};
    }
    void aRefusalFailsWithTheServicesReason()
    {
        QFETCH(QString, refused);
        QFETCH(QStringList, notCalled);
        FakeUDisks2 &fake = startService([&](FakeUDisks2 &f) { f.refusedMethods.insert(refused); });
        const auto [result, reason] = answerTo(false);
        QCOMPARE(result, Result::Failed);
        QVERIFY2(reason.startsWith(FakeUDisks2::kNotAuthorized + QStringLiteral(": Not ")), qPrintable(reason));
        for (const FakeUDisks2::Call &call : fake.calls())
            QVERIFY2(!notCalled.contains(call.method), qPrintable(call.method));
    }

    void withoutTheServiceTheClientReportsUnavailable()
    {
        const auto [result, reason] = answerTo(false);
        QCOMPARE(result, Result::Unavailable);
        QVERIFY(reason.startsWith(QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown")));

        // No bus at all (no system bus in a container): the same answer, from the event loop.
        VHUDisks2Client offline(QDBusConnection(QStringLiteral("no such connection")));
        QSignalSpy offlineFinished(&offline, &VHUDisks2Client::finished);
        offline.eject({}, QStringLiteral("/dev/sdb"));
        QCOMPARE(offlineFinished.size(), 0);
        QVERIFY(offlineFinished.wait(5000));
        QCOMPARE(offlineFinished.first().at(0).value<Result>(), Result::Unavailable);
    }

    void mountReturnsTheMountPointOrTheRefusal()
    {
        FakeUDisks2 &fake = startService();
        QCOMPARE(answerTo(true), qMakePair(Result::Mounted, QStringLiteral("/media/user/WATCH")));
        QCOMPARE(fake.methodsCalled(), (QStringList{"ResolveDevice Manager", "Mount sdb1"}));
        // The user may be asked to authorise a mount.
        QVERIFY(!fake.calls().last().options.contains(kNoInteraction));

        // Mounted by the desktop in the meantime: its mount point, not an error.
        FakeUDisks2 &mountedAlready = startService([](FakeUDisks2 &f) {
            f.alreadyMounted = true;
            f.mountPoint = QStringLiteral("/media/user/My Watch");
        });
        QCOMPARE(answerTo(true), qMakePair(Result::Mounted, QStringLiteral("/media/user/My Watch")));
        QCOMPARE(mountedAlready.methodsCalled().last(), QStringLiteral("Get sdb1"));

        startService([](FakeUDisks2 &f) { f.refusedMethods.insert(QStringLiteral("Mount")); });
        const auto [result, reason] = answerTo(true);
        QCOMPARE(result, Result::Failed);
        QVERIFY2(reason.startsWith(FakeUDisks2::kNotAuthorized), qPrintable(reason));
    }

    void theEventLoopKeepsRunningWhileAnAnswerIsPending()
    {
        startService([](FakeUDisks2 &f) {
            f.slowMethod = QStringLiteral("Unmount");
            f.slowDelayMs = 800;
        });
        VHUDisks2Client client(callerBus());
        QSignalSpy finished(&client, &VHUDisks2Client::finished);
        int ticks = 0;
        QTimer timer;
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
        timer.start();
        QElapsedTimer clock;
        clock.start();
        client.eject({QStringLiteral("/dev/sdb1")}, QStringLiteral("/dev/sdb"));
        QVERIFY(clock.elapsed() < 400);
        // A second request while one runs is refused, and the first goes on.
        QSignalSpy mountFinished(&client, &VHUDisks2Client::mountFinished);
        client.mount(QStringLiteral("/dev/sdb1"));
        QVERIFY(mountFinished.wait(400));
        QCOMPARE(mountFinished.first().at(0).value<Result>(), Result::Failed);
        QCOMPARE(finished.size(), 0);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().at(0).value<Result>(), Result::Ejected);
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }

    void ejectAndWaitAnswersOnWorkerAndGuiThreads()
    {
        FakeUDisks2 &fake = startService();
        const QDBusConnection bus = callerBus();
        Result onWorker = Result::Failed;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            onWorker = VHUDisks2::ejectAndWait(bus, {QStringLiteral("/dev/sdb1")}, QStringLiteral("/dev/sdb"),
                                               VHEjectMode::KeepPower);
        }));
        worker->start();
        QVERIFY(worker->wait(20000));
        QCOMPARE(onWorker, Result::Ejected);
        QCOMPARE(fake.methodsCalled().last(), QStringLiteral("Eject Watch"));

        // Called on the GUI thread it still answers (on a thread of its own).
        QString reason;
        QCOMPARE(VHUDisks2::ejectAndWait(bus, {QStringLiteral("/dev/sdb1")}, QStringLiteral("/dev/sdb"),
                                         VHEjectMode::PowerOff, &reason),
                 Result::Ejected);
        QCOMPARE(fake.methodsCalled().last(), QStringLiteral("PowerOff Watch"));
    }

    void ejectAndWaitGivesUpAfterItsTimeout()
    {
        startService([](FakeUDisks2 &f) {
            f.slowMethod = QStringLiteral("Unmount");
            f.slowDelayMs = 5000;
        });
        QElapsedTimer clock;
        clock.start();
        QString reason;
        QCOMPARE(VHUDisks2::ejectAndWait(callerBus(), {QStringLiteral("/dev/sdb1")}, QStringLiteral("/dev/sdb"),
                                         VHEjectMode::PowerOff, &reason, 300),
                 Result::Failed);
        QVERIFY(clock.elapsed() < 3000);
        QCOMPARE(reason, QStringLiteral("timed out"));
    }

    void theLinuxBackendEjectsItsDriveThroughTheService()
    {
        QTemporaryDir dir;
        SysfsTree sys(dir.path() + QStringLiteral("/sys"));
        const QString usb =
            sys.usbInterface(QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0"), QStringLiteral("usb-storage"));
        const QString disk = sys.disk(usb, QStringLiteral("sdb"), 8, 16, "0\n", "VELORA  \n", "Pacer70\n");
        sys.partition(disk, QStringLiteral("sdb1"), 8, 17);
        VHLinuxPaths paths;
        paths.sysRoot = sys.root();
        paths.devRoot = dir.path() + QStringLiteral("/dev");
        paths.mountInfo = dir.path() + QStringLiteral("/mountinfo");
        const QString mountPoint = dir.path() + QStringLiteral("/WATCH");
        QVERIFY(writeFile(paths.mountInfo, "40 22 8:17 / " + mountPoint.toUtf8() + " rw - vfat /dev/sdb1 rw\n"));

        FakeUDisks2 &fake = startService();
        // From a worker, as the device classes call it.
        bool ejected = false;
        std::unique_ptr<QThread> worker(QThread::create(
            [&] { ejected = VHLinuxPlatform(paths).ejectDeviceInMode(mountPoint, VHEjectMode::KeepPower); }));
        worker->start();
        QVERIFY(worker->wait(20000));
        QVERIFY(ejected);
        QCOMPARE(fake.methodsCalled(), (QStringList{"ResolveDevice Manager", "Unmount sdb1", "ResolveDevice Manager",
                                                    "Get sdb", "GetAll Watch", "Eject Watch"}));

        FakeUDisks2 &refusing =
            startService([](FakeUDisks2 &f) { f.refusedMethods.insert(QStringLiteral("PowerOff")); });
        LogCapture log;
        // A refusal is final: no root fallback behind the service's back.
        QVERIFY(!VHLinuxPlatform(paths).ejectDevice(mountPoint));
        QCOMPARE(refusing.methodsCalled().last(), QStringLiteral("PowerOff Watch"));
        QVERIFY(log.contains(QStringLiteral("eject failed:  ") + FakeUDisks2::kNotAuthorized));
    }

    void thePlatformHandsTheEjectModeToItsBackend()
    {
        ScriptedPlatform::Script script;
        VHPlatform platform(std::make_unique<ScriptedPlatform>(&script));
        QVERIFY(platform.ejectDevice(QStringLiteral("/media/user/WATCH")));
        QVERIFY(platform.ejectDevice(QStringLiteral("/media/user/WATCH"), VHEjectMode::KeepPower));
        QCOMPARE(script.ejectModes, (QList<VHEjectMode>{VHEjectMode::PowerOff, VHEjectMode::KeepPower}));
    }
};

QTEST_GUILESS_MAIN(TestVHUDisks2)
#include "tst_VHUDisks2.moc"
