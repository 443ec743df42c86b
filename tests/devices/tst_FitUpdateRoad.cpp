// The device side of the updater's three jobs against a simulated FIT device
// and the local package server, without the windows: connect, query, download,
// update, restart and see the new version; fetch assist data once and write it
// with its stamp; check and install workouts.

#include "ReduzeduClient.h"
#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHEnv.h"
#include "VHFitPackageBuilder.h"
#include "VHPackageServer.h"
#include "VHPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"
#include "VeloraApiClient.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDirIterator>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Results : VeloraApiClientDelegate, ReduzeduClientDelegate, VHDeviceManagerListener
{
    QList<bool> updates, assists;
    QStringList events;
    void onUpdateFinished(bool ok) override { updates << ok; }
    void onReduzeduFinished(bool ok) override { assists << ok; }
    void onDeviceConnected(VHClient *) override { events << QStringLiteral("connected"); }
    void onDeviceDisconnected(VHClient *) override { events << QStringLiteral("disconnected"); }
    void onDeviceChanged(VHClient *) override {}
    void onActionDone(VHClient *, int action) override { events << QStringLiteral("done %1").arg(action); }
};

} // namespace

class TestFitUpdateRoad : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data, m_sim, m_server;
    int m_hostile = 0;

    bool runAction(VHClient *device, const std::function<bool()> &start, Results &results, int action)
    {
        const qsizetype before = results.events.count(QStringLiteral("done %1").arg(action));
        if (!start())
            return false;
        QElapsedTimer timer;
        timer.start();
        while (results.events.count(QStringLiteral("done %1").arg(action)) == before && timer.elapsed() < 30000)
            QTest::qWait(10);
        int code = 0;
        return !device->actionFailed(code);
    }

private slots:
    void initTestCase()
    {
        initTestEnv(m_data.path());
        qputenv("VELORA_SIM_ROOT", m_sim.path().toUtf8());
        VHPlatform::setBackendFactory({});
        VHDeviceFamilies::registerAll();
    }

    void wholeRoad()
    {
        const QString model = QStringLiteral("Pacer70");
        VHPackageServer server(m_server.path());
        QVERIFY(server.listen());
        {
            QSettings ini(VHEnv::instance()->settingsPath(), QSettings::IniFormat);
            ini.setValue(QStringLiteral("VeloraHub/updateurl"), server.updateUrl());
            ini.setValue(QStringLiteral("VeloraHub/alpurl"), server.baseUrl());
        }
        QFile alp(m_server.path() + QStringLiteral("/current_14d.alp"));
        QVERIFY(alp.open(QIODevice::WriteOnly));
        alp.write(QByteArray(20000, 'a'));
        alp.close();

        // The package: OS 1.10.00 is newer than the device's 1.9.00 only in natural order.
        VHFitPackageBuilder::Options options;
        options.model = model;
        options.images = VHFitPackageBuilder::imagesWithVersions(QStringLiteral("1.10.00"), QStringLiteral("B1.00"),
                                                                 QStringLiteral("DL0100"), QStringLiteral("NL100"),
                                                                 QStringLiteral("TZ100"), QStringLiteral("BT11"));
        options.withWorkouts = true;
        options.simulatorHeaders = true;
        const QString package = m_server.path() + QStringLiteral("/build.zip");
        QVERIFY(VHFitPackageBuilder::writePackage(package, options));
        QVERIFY(VHPackageServer::publish(m_server.path(), model, package, QStringLiteral("2.0"),
                                         QStringLiteral("Faster fixes")));

        VHDevSim sim(m_sim.path());
        VHSimFitIdentity identity;
        identity.model = model;
        identity.os = QStringLiteral("1.9.00");
        identity.bluetooth = QStringLiteral("BT10");
        QVERIFY(sim.createFit(QStringLiteral("WATCH"), identity));

        VHDaemon daemon;
        Results results;
        daemon.deviceManager()->setDeviceClassFlags(4);
        daemon.deviceManager()->addListener(&results);
        QVERIFY(daemon.start(false));
        QVERIFY(!daemon.currentDevice());
        QVERIFY(sim.plug(QStringLiteral("WATCH")));
        QTRY_VERIFY_WITH_TIMEOUT(daemon.currentDevice(), 5000);
        VHClient *device = daemon.currentDevice();
        QString text;
        QVERIFY(device->getModelName(text));
        QCOMPARE(text, model);

        // Query and download into the model's updates folder.
        const QString updates = VHEnv::instance()->dataFolder() + QStringLiteral("/updates/") + model;
        VeloraApiClient api(&results);
        api.queryUpdate(model, updates, false);
        QTRY_COMPARE_WITH_TIMEOUT(results.updates.size(), 1, 20000);
        QCOMPARE(readFile(updates + QStringLiteral("/version.txt")), QByteArray("2.0"));
        QCOMPARE(VHPackageServer::fileMd5(updates + QStringLiteral("/Total.zip")), VHPackageServer::fileMd5(package));

        // The software update copies the newer images and leaves the instruction file.
        QVERIFY(runAction(
            device, [&] { return device->updateTotal(updates + QStringLiteral("/Total.zip"), QString()); }, results,
            0));
        const QString volume = sim.drivePath(QStringLiteral("WATCH"));
        QVERIFY(QFileInfo::exists(volume + QStringLiteral("/update.ini")));
        QVERIFY(QFileInfo::exists(volume + QStringLiteral("/os.bin")));
        QVERIFY(QFileInfo::exists(volume + QStringLiteral("/bt.bin")));
        QVERIFY(!QFileInfo::exists(volume + QStringLiteral("/boot.bin"))); // same version: not copied

        // The device restarts, installs, and comes back with the package's versions.
        QVERIFY(sim.unplug(QStringLiteral("WATCH")));
        QTRY_VERIFY_WITH_TIMEOUT(results.events.contains(QStringLiteral("disconnected")), 5000);
        QStringList installed;
        QVERIFY(sim.boot(QStringLiteral("WATCH"), &installed));
        QVERIFY2(installed.contains(QStringLiteral("OS=1.10.00")), qPrintable(installed.join(',')));
        QVERIFY(sim.plug(QStringLiteral("WATCH")));
        QTRY_VERIFY_WITH_TIMEOUT(results.events.count(QStringLiteral("connected")) == 2, 5000);
        device = daemon.currentDevice();
        QVERIFY(device);
        QVERIFY(device->getImageVersion(text));
        QCOMPARE(text, QStringLiteral("1.10.00"));
        QVERIFY(!QFileInfo::exists(volume + QStringLiteral("/update.ini")));

        // Assist data: fetched with its stamp, then written to the device.
        ReduzeduClient assist(&results);
        assist.download(updates, QStringLiteral("AssitOff.alp"), 14);
        QTRY_COMPARE_WITH_TIMEOUT(results.assists.size(), 1, 20000);
        QVERIFY(results.assists.first());
        QFile stampFile(updates + QStringLiteral("/date.txt"));
        QVERIFY(stampFile.open(QIODevice::ReadOnly));
        QCOMPARE(stampFile.size(), 4);
        QDataStream stream(&stampFile);
        qint32 stamp = 0;
        stream >> stamp;
        QCOMPARE(stamp, ReduzeduClient::expiryStamp(QDateTime::currentDateTime(), 14));
        QCOMPARE(device->getAlpDate(), 0);
        QVERIFY(runAction(
            device, [&] { return device->updateAlp(QStringLiteral("AssitOff.alp"), stamp); }, results, 25));
        QCOMPARE(readFile(volume + QStringLiteral("/System/AssitOff.alp")).size(), 20000);
        QCOMPARE(device->getAlpDate(), int(stamp));

        // Workouts: the check leaves the device alone, the install writes them.
        const QString total = updates + QStringLiteral("/Total.zip");
        QVERIFY(runAction(
            device, [&] { return device->updateComponent(total, QString(), QString(), QStringLiteral("0")); }, results,
            10));
        QVERIFY(!QFileInfo::exists(volume + QStringLiteral("/System/Velorawrk")));
        QVERIFY(runAction(
            device, [&] { return device->updateComponent(total, QString(), QString(), QStringLiteral("1")); }, results,
            10));
        QVERIFY(!QDir(volume + QStringLiteral("/System/Velorawrk")).isEmpty(QDir::Files));
        QVERIFY(!QDir(volume + QStringLiteral("/System/Test")).isEmpty(QDir::Files));

        // Asked again, the server's version is already in the folder: no second download.
        const int downloads = server.requestCount(QStringLiteral("/packages/") + model + QStringLiteral("/Total.zip"));
        api.queryUpdate(model, updates, false);
        QTRY_COMPARE_WITH_TIMEOUT(results.updates.size(), 2, 20000);
        QCOMPARE(server.requestCount(QStringLiteral("/packages/") + model + QStringLiteral("/Total.zip")), downloads);
        QVERIFY(sim.unplug(QStringLiteral("WATCH")));
        daemon.deviceManager()->removeListener(&results);
    }

    // Links planted at every name the FIT family writes or reads on the volume
    // point at the user's files and folders; plugging, querying, updating and
    // installing assist data and workouts leave every one of them byte for byte.
    void hostileVolumeLeavesTheUserAlone_data()
    {
        QTest::addColumn<QString>("linkAt");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("detected");
        QTest::newRow("update.ini") << "update.ini"
                                    << "notes.txt" << true;
        QTest::newRow("UPDATE.INI") << "UPDATE.INI"
                                    << "notes.txt" << true;
        QTest::newRow("image") << "os.bin"
                               << "notes.txt" << true;
        QTest::newRow("Bluetooth image") << "BT.BIN"
                                         << "notes.txt" << true;
        QTest::newRow("assist file") << "System/AssitOff.alp"
                                     << "notes.txt" << true;
        QTest::newRow("stamp") << "System/date.txt"
                               << "notes.txt" << true;
        QTest::newRow("workout folder") << "System/Velorawrk"
                                        << "" << true;
        QTest::newRow("test folder") << "System/Test"
                                     << "" << true;
        QTest::newRow("identity file") << "System/device.txt"
                                       << "device.txt" << false;
        QTest::newRow("System") << "System"
                                << "" << false;
    }
    void hostileVolumeLeavesTheUserAlone()
    {
        QFETCH(QString, linkAt);
        QFETCH(QString, target);
        QFETCH(bool, detected);
        const QString model = QStringLiteral("Pacer70");
        const QString name = QStringLiteral("H%1").arg(++m_hostile);
        VHDevSim sim(m_sim.path());
        VHSimFitIdentity identity;
        identity.model = model;
        identity.os = QStringLiteral("1.9.00");
        identity.bluetooth = QStringLiteral("BT10");
        QVERIFY(sim.createFit(name, identity));
        const QString volume = sim.volumePath(name);

        // The user's home: a copy of the identity file, notes, a workout folder of their own.
        QTemporaryDir home;
        QVERIFY(writeFile(home.filePath(QStringLiteral("notes.txt")), "the user's notes"));
        QVERIFY(writeFile(home.filePath(QStringLiteral("device.txt")),
                          readFile(volume + QStringLiteral("/System/device.txt"))));
        QVERIFY(writeFile(home.filePath(QStringLiteral("Velorawrk/Mine.wkt")), "mine"));
        QVERIFY(writeFile(home.filePath(QStringLiteral("Test/Mine.wkt")), "mine too"));
        const QString at = volume + QLatin1Char('/') + linkAt;
        if (QFileInfo(at).isDir())
            QDir(at).removeRecursively();
        QFile::remove(at);
        QVERIFY(QFile::link(target.isEmpty() ? home.path() : home.filePath(target), at));
        const QStringList before = snapshot(home.path());

        const QString updates = VHEnv::instance()->dataFolder() + QStringLiteral("/updates/") + model;
        VHFitPackageBuilder::Options options;
        options.model = model;
        options.images = VHFitPackageBuilder::imagesWithVersions(QStringLiteral("1.10.00"), QStringLiteral("B1.00"),
                                                                 QStringLiteral("DL0100"), QStringLiteral("NL100"),
                                                                 QStringLiteral("TZ100"), QStringLiteral("BT11"));
        options.withWorkouts = true;
        QDir().mkpath(updates);
        QVERIFY(VHFitPackageBuilder::writePackage(updates + QStringLiteral("/Total.zip"), options));
        QVERIFY(writeFile(updates + QStringLiteral("/AssitOff.alp"), QByteArray(3000, 'a')));

        VHDaemon daemon;
        Results results;
        daemon.deviceManager()->setDeviceClassFlags(4);
        daemon.deviceManager()->addListener(&results);
        QVERIFY(daemon.start(false));
        QVERIFY(sim.plug(name));
        if (detected) {
            QTRY_VERIFY_WITH_TIMEOUT(daemon.currentDevice(), 5000);
            VHClient *device = daemon.currentDevice();
            QString text;
            QVERIFY(device->getRootPath(text));
            QCOMPARE(text, sim.drivePath(name));
            QVERIFY(device->getVersion(text));
            device->getAlpDate();
            const QString total = updates + QStringLiteral("/Total.zip");
            runAction(
                device, [&] { return device->updateTotal(total, QString()); }, results, 0);
            runAction(
                device, [&] { return device->updateAlp(QStringLiteral("AssitOff.alp"), 1234); }, results, 25);
            runAction(
                device, [&] { return device->updateComponent(total, QString(), QString(), QStringLiteral("1")); },
                results, 10);
            device->getAlpDate();
        } else {
            QTest::qWait(1500);
            QVERIFY(!daemon.currentDevice());
        }
        QCOMPARE(snapshot(home.path()), before);
        QVERIFY(sim.unplug(name));
        daemon.deviceManager()->removeListener(&results);
    }
};

QTEST_GUILESS_MAIN(TestFitUpdateRoad)
#include "tst_FitUpdateRoad.moc"
