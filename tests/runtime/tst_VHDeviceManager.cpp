#include "VHDaemon.h"
#include "VHDeviceManager.h"
#include "VHDeviceRegistry.h"
#include "VHEnv.h"
#include "VHHistory.h"
#include "VHPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"
#include "VHZipUtil.h"

#include <QNetworkReply>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

namespace {

// Records each notice and, beside it, the device it came with.
struct Recorder : VHDeviceManagerListener
{
    QStringList events;
    QList<VHClient *> devices;
    VHClient *lastConnected = nullptr;
    void onDeviceConnected(VHClient *device) override
    {
        lastConnected = device;
        record(QStringLiteral("connected"), device);
    }
    void onDeviceDisconnected(VHClient *device) override { record(QStringLiteral("disconnected"), device); }
    void onDeviceChanged(VHClient *device) override { record(QStringLiteral("changed"), device); }
    void onActionDone(VHClient *device, int action) override { record(QStringLiteral("done %1").arg(action), device); }
    void record(const QString &event, VHClient *device)
    {
        events << event;
        devices << device;
    }
};

const QString kUuid = QStringLiteral("1105AAAABBBBCCCC");

VHClient *createFlashDevice(VHDeviceService *service)
{
    auto *device = static_cast<FakeFlashDevice *>(vhCreateDevice<FakeFlashDevice>(service));
    if (device)
        device->model = QStringLiteral("Pacer40");
    return device;
}

// The version every device made by createReportingDevice reports.
QString g_reportedVersion;

VHClient *createReportingDevice(VHDeviceService *service)
{
    auto *device = static_cast<FakeDevice *>(createFakeDevice(service));
    if (device)
        device->imageVersion = g_reportedVersion;
    return device;
}

// Every file of a zip archive, by entry name.
QMap<QString, QByteArray> zipContents(const QString &zipPath)
{
    QTemporaryDir folder;
    QMap<QString, QByteArray> files;
    if (!VHZipUtil().decompress(zipPath, folder.path()))
        return files;
    for (const QString &name : treeOf(folder.path()))
        files.insert(name, readFile(folder.filePath(name)));
    return files;
}

QString canonical(const QString &path) { return QFileInfo(path).canonicalFilePath(); }

} // namespace

class TestVHDeviceManager : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    FakePlatform::Script m_script;
    VHPlatform m_platform{std::make_unique<FakePlatform>(&m_script)};
    qint64 m_now = 1000000;

    std::unique_ptr<VHDeviceManager> makeManager(Recorder &recorder)
    {
        auto manager = std::make_unique<VHDeviceManager>(&m_platform);
        manager->setClock([this] { return m_now; });
        manager->addListener(&recorder);
        return manager;
    }

    std::unique_ptr<VHDeviceService> fsService(const QString &model, const QString &uuid = kUuid)
    {
        return std::make_unique<FakeFSService>(uuid, fakeModelRow(uuid.left(4), model));
    }
    std::unique_ptr<VHDeviceService> scsiService(const QString &model, const QString &uuid = kUuid)
    {
        return std::make_unique<FakeSCSIService>(uuid, fakeModelRow(uuid.left(4), model));
    }

    static FakeDevice *fake(VHClient *client) { return static_cast<FakeDevice *>(client); }

    // The manager and its listener of each case.
    Recorder m_recorder;
    std::unique_ptr<VHDeviceManager> m_manager;

    // Leaves the current device in the given state, as a model would during an update.
    static void putInState(VHClient *device, int state)
    {
        QVERIFY(device->setStateWithMatch(VHClient::STATE_READY, state));
    }

private slots:
    void initTestCase()
    {
        initTestEnv(m_root.path());
        VHDeviceRegistry::instance().setBackendFactory([this] { return std::make_unique<FakePlatform>(&m_script); });
    }
    void init()
    {
        m_script = FakePlatform::Script();
        m_now = 1000000;
        m_recorder = Recorder();
        m_manager = makeManager(m_recorder);
    }
    void cleanup() { m_manager.reset(); }

    void registrationAtFrontAndAppended()
    {
        VHDeviceManager manager;
        manager.registerModel(fakeModelRow(QStringLiteral("0001"), QStringLiteral("A")), false);
        manager.registerModel(fakeModelRow(QStringLiteral("0002"), QStringLiteral("B")), false);
        manager.registerModel(fakeModelRow(QStringLiteral("0003"), QStringLiteral("C")), true);
        QStringList names;
        for (const VHModelInfo &row : manager.models())
            names << row.modelName;
        QCOMPARE(names, (QStringList{"C", "A", "B"}));
        QCOMPARE(manager.deviceClassFlags(), 3);
    }

    // Whoever runs the manager (window or command line), a device that comes
    // back reports the version its update left, once.
    void arrivalClosesTheLastUpdateInTheHistory_data()
    {
        QTest::addColumn<QString>("lastAction");
        QTest::addColumn<bool>("lastOk");
        QTest::addColumn<QString>("reported");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("versionAfter");
        QTest::newRow("restarted into the new version") << "update" << true << "2.0" << 2 << "2.0";
        QTest::newRow("restarted after a restore") << "restore" << true << "1.0" << 2 << "1.0";
        QTest::newRow("seen again before its restart") << "update" << true << "1.5" << 1 << "1.5";
        QTest::newRow("after a failed update") << "update" << false << "2.0" << 1 << "1.5";
        QTest::newRow("after assist data") << "gps" << true << "2.0" << 1 << "1.5";
    }
    void arrivalClosesTheLastUpdateInTheHistory()
    {
        QFETCH(QString, lastAction);
        QFETCH(bool, lastOk);
        QFETCH(QString, reported);
        const VHHistory history = VHHistory::ofDataFolder();
        QFile::remove(history.path());
        VHHistoryEntry last;
        last.time = QDateTime::currentDateTimeUtc();
        last.action = lastAction;
        last.model = QStringLiteral("Pacer40");
        last.uuid = kUuid;
        last.versionBefore = QStringLiteral("1.0");
        last.versionAfter = QStringLiteral("1.5");
        last.ok = lastOk;
        QVERIFY(history.append(last));
        g_reportedVersion = reported;
        m_manager->onDevicePlugin(
            std::make_unique<FakeFSService>(kUuid, fakeModelRow(kUuid.left(4), "Pacer40", createReportingDevice)));
        QVERIFY(m_manager->currentDevice());
        QTEST(int(history.lines().size()), "lines");
        QTEST(history.entries().constLast().versionAfter, "versionAfter");
    }

    void startConnectsAPresentDeviceAndStartsTheDetector()
    {
        m_manager->registerModel(fakeModelRow(QStringLiteral("1105"), QStringLiteral("Pacer40")), false);
        m_script.scsi = [this](const VHModelTable &models) {
            VHServiceList list;
            list.push_back(std::make_unique<FakeSCSIService>(kUuid, models.first()));
            list.push_back(std::make_unique<FakeSCSIService>(kUuid, models.first())); // dropped
            return list;
        };
        const int before = liveFakeServices();
        QVERIFY(m_manager->start());
        QCOMPARE(m_recorder.events, QStringList{"connected"});
        QVERIFY(m_manager->currentDevice());
        QCOMPARE(liveFakeServices(), before + 1);
        QVERIFY(m_script.lastDetector && m_script.lastDetector->started);
        QCOMPARE(m_script.lastDetector->vendorFilter, QStringList{"Velora"});
        QCOMPARE(m_script.lastDetector->listeners.size(), 1);
        QVERIFY(readTestLog().contains(QStringLiteral("start():send onDeviceConnected")));
    }

    void startWithoutDetectorOrModelsFindsNothing()
    {
        QVERIFY(m_manager->start()); // an empty table still starts the detector
        QVERIFY(!m_manager->currentDevice());
        m_script.withDetector = false;
        auto second = makeManager(m_recorder);
        QVERIFY(!second->start());
        QCOMPARE(second->lastRemovalTime(), qint64(0));
        QVERIFY(m_recorder.events.isEmpty());
    }

    void plugUnplugAndPreviousParking()
    {
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer40")));
        VHClient *first = m_manager->currentDevice();
        QVERIFY(first);
        QCOMPARE(m_recorder.lastConnected, first);

        // A second device while one is current is ignored and its service deleted.
        const int before = liveFakeServices();
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer40"), QStringLiteral("1105ZZZZZZZZZZZZ")));
        QCOMPARE(liveFakeServices(), before);
        QCOMPARE(m_manager->currentDevice(), first);

        m_manager->onDeviceChanged();
        m_manager->onDeviceUnplug();
        QCOMPARE(m_recorder.events, (QStringList{"connected", "changed", "disconnected"}));
        QCOMPARE(m_recorder.devices, (QList<VHClient *>{first, first, first}));
        QVERIFY(!m_manager->currentDevice());
        QCOMPARE(m_manager->previousDevice(), first); // still usable by listeners
        QCOMPARE(m_manager->lastRemovalTime(), m_now);

        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer40")));
        VHClient *second = m_manager->currentDevice();
        m_manager->onDeviceUnplug();
        QCOMPARE(m_manager->previousDevice(), second); // the first one is gone now
        m_manager->onDeviceUnplug();                   // nothing current: nothing happens
        QCOMPARE(m_recorder.events.count(QStringLiteral("disconnected")), 2);

        m_manager->onDeviceChanged();
        QCOMPARE(m_recorder.events.last(), QStringLiteral("changed"));
        QCOMPARE(m_recorder.devices.last(), nullptr);
    }

    void factoryFailureGivesNoDeviceAndNoNotice()
    {
        const int before = liveFakeServices();
        m_manager->onDevicePlugin(std::make_unique<FakeFSService>(
            kUuid, fakeModelRow(QStringLiteral("1105"), QStringLiteral("X"), createFailingDevice)));
        m_manager->onDevicePlugin(
            std::make_unique<FakeFSService>(kUuid, fakeModelRow(QStringLiteral("1105"), QStringLiteral("X"), nullptr)));
        QVERIFY(!m_manager->currentDevice());
        QVERIFY(m_recorder.events.isEmpty());
        QCOMPARE(liveFakeServices(), before);
    }

    void sixSecondRuleForSlowReconnectingModels()
    {
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer21")));
        m_manager->onDeviceUnplug();
        m_now += 5;
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer21")));
        QVERIFY(!m_manager->currentDevice());
        QVERIFY(readTestLog().contains(QStringLiteral("plugin device in 5 seconds , do not connect the device")));
        // Other models are not held back.
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer40")));
        QVERIFY(m_manager->currentDevice());
        m_manager->onDeviceUnplug();
        m_now += 6;
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer20plus")));
        QVERIFY(m_manager->currentDevice());
        // A clock set back before the removal is far away in unsigned terms.
        m_manager->onDeviceUnplug();
        m_now -= 100;
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer21")));
        QVERIFY(m_manager->currentDevice());
    }

    // Back over SCSI, the device goes on with its update or restore; another
    // device answering while one waits leaves the waiting one parked.
    void reconnectDuringUpdateOverScsi_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("uuid");
        QTest::addColumn<QStringList>("updates");
        QTest::addColumn<QStringList>("restores");
        QTest::newRow("update resumes") << int(VHClient::STATE_UPDATING) << kUuid << QStringList{"|"} << QStringList();
        QTest::newRow("restore resumes") << int(VHClient::STATE_RESTORING) << kUuid << QStringList()
                                         << QStringList{QString()};
        QTest::newRow("another device parks")
            << int(VHClient::STATE_UPDATING) << QStringLiteral("1105OTHERDEVICE1") << QStringList() << QStringList();
    }
    void reconnectDuringUpdateOverScsi()
    {
        QFETCH(int, state);
        QFETCH(QString, uuid);
        QFETCH(QStringList, updates);
        QFETCH(QStringList, restores);
        m_manager->onDevicePlugin(scsiService(QStringLiteral("Pacer40")));
        FakeDevice *device = fake(m_manager->currentDevice());
        putInState(device, state);
        device->updateTotalBody = [device](const QString &, const QString &) {
            return device->setStateWithMatch(VHClient::STATE_UPDATING, VHClient::STATE_READY);
        };

        // The device vanishes during its own update: no removal notice.
        m_manager->onDeviceUnplug();
        QCOMPARE(m_manager->currentDevice(), device);
        QVERIFY(!m_recorder.events.contains(QStringLiteral("disconnected")));

        m_manager->onDevicePlugin(scsiService(QStringLiteral("Pacer40"), uuid));
        QVERIFY(readTestLog().contains(QStringLiteral("devicePlugin for software update")));
        QTRY_VERIFY(!device->isBusy());
        QCOMPARE(device->updateTotalCalls, updates);
        QCOMPARE(device->restoreCalls, restores);
        QCOMPARE(device->serviceType(), int(VHDeviceService::DEVICE_SCSI));
        const bool resumed = uuid == kUuid;
        QCOMPARE(m_manager->currentDevice(), resumed ? device : nullptr);
        QCOMPARE(m_manager->previousDevice(), resumed ? nullptr : device);
    }

    // The device restarted without its update mode: the pending action ends as
    // failed and the volume connects as a new device. Another device's volume is refused.
    void reconnectDuringUpdateOverAVolume_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("uuid");
        QTest::addColumn<QString>("done");
        QTest::newRow("update, same device") << int(VHClient::STATE_UPDATING) << kUuid << "done 0";
        QTest::newRow("restore, same device") << int(VHClient::STATE_RESTORING) << kUuid << "done 22";
        QTest::newRow("another device") << int(VHClient::STATE_UPDATING) << QStringLiteral("1105OTHERDEVICE1")
                                        << QString();
    }
    void reconnectDuringUpdateOverAVolume()
    {
        QFETCH(int, state);
        QFETCH(QString, uuid);
        QFETCH(QString, done);
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer40")));
        FakeDevice *device = fake(m_manager->currentDevice());
        putInState(device, state);
        const int before = liveFakeServices();
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer40"), uuid));
        QVERIFY(readTestLog().contains(QStringLiteral("find device service DEVICE_FS for software update")));
        QVERIFY(device->updateTotalCalls.isEmpty());
        if (done.isEmpty()) {
            QCOMPARE(liveFakeServices(), before);
            QCOMPARE(m_manager->currentDevice(), device);
            QCOMPARE(device->state(), state);
            return;
        }
        QCOMPARE(m_recorder.events.mid(1), (QStringList{done, QStringLiteral("connected")}));
        QCOMPARE(m_recorder.devices.at(1), device);
        QVERIFY(device->errorFlag());
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        QCOMPARE(m_manager->previousDevice(), device);
        QVERIFY(m_manager->currentDevice() && m_manager->currentDevice() != device);
    }

    // A device that left during its update pass and did not come back is
    // disconnected when its action ends, so the next plug connects it.
    void awayDuringTheUpdatePassIsDisconnectedAtItsEnd()
    {
        m_manager->onDevicePlugin(scsiService(QStringLiteral("Pacer40")));
        FakeDevice *device = fake(m_manager->currentDevice());
        putInState(device, VHClient::STATE_UPDATING);
        m_manager->onDeviceUnplug();
        QCOMPARE(m_manager->currentDevice(), device);
        QVERIFY(device->setStateWithMatch(VHClient::STATE_UPDATING, VHClient::STATE_READY));
        m_manager->notifyActionDone(device, VHClient::ActionUpdateTotal);
        QCOMPARE(m_recorder.events.mid(1), (QStringList{QStringLiteral("done 0"), QStringLiteral("disconnected")}));
        QVERIFY(!m_manager->currentDevice());
        QCOMPARE(m_manager->previousDevice(), device);
        m_now += 10;
        m_manager->onDevicePlugin(scsiService(QStringLiteral("Pacer40")));
        QVERIFY(m_manager->currentDevice());
    }

    void actionDoneReachesListenersWithTheDeviceThatRanIt()
    {
        m_manager->onDevicePlugin(fsService(QStringLiteral("Pacer40")));
        FakeDevice *device = fake(m_manager->currentDevice());
        QVERIFY(device->readData());
        QTRY_COMPARE(m_recorder.events.last(), QStringLiteral("done 7"));
        QCOMPARE(m_recorder.devices.last(), device);

        // Removed while its action runs, it is still the device reported.
        QSemaphore release;
        device->genericBody = [&release] {
            release.acquire();
            return true;
        };
        QVERIFY(device->readData());
        m_manager->onDeviceUnplug();
        QCOMPARE(m_manager->previousDevice(), device);
        release.release();
        QTRY_COMPARE(m_recorder.events.last(), QStringLiteral("done 7"));
        QCOMPARE(m_recorder.events.count(QStringLiteral("done 7")), 2);
        QCOMPARE(m_recorder.devices.last(), device);
    }

    void daemonTracksConnectionsAndFlags()
    {
        VHDaemon daemon;
        VHDeviceManager *manager = daemon.deviceManager();
        m_script.scsi = [](const VHModelTable &) { return VHServiceList(); };
        QVERIFY(daemon.start(false));
        QVERIFY(manager->models().isEmpty());
        QVERIFY(manager->listeners().contains(static_cast<VHDeviceManagerListener *>(&daemon)));

        manager->onDevicePlugin(fsService(QStringLiteral("AVeryLongModelName")));
        QVERIFY(daemon.currentDevice());
        VHEnv *env = VHEnv::instance();
        env->setAppTooOld(true);
        env->setRestorePending(true);
        env->setFirmwareTooOld(true);
        manager->onDeviceUnplug();
        QVERIFY(!env->appTooOld());
        QVERIFY(!env->restorePending());
        QVERIFY(!env->firmwareTooOld());

        // A device in the model-defined state keeps the firmware flag.
        manager->onDevicePlugin(fsService(QStringLiteral("Pacer40")));
        putInState(daemon.currentDevice(), VHClient::STATE_MODEL);
        env->setFirmwareTooOld(true);
        manager->onDeviceUnplug();
        QVERIFY(env->firmwareTooOld());
        env->setFirmwareTooOld(false);
    }

    void daemonScansThroughItsOneBackendWithTheBuiltInRows()
    {
        // A backend per scan would lose what a backend keeps between scans.
        int made = 0;
        VHDeviceRegistry &registry = VHDeviceRegistry::instance();
        registry.setBackendFactory([this, &made] {
            ++made;
            return std::make_unique<FakePlatform>(&m_script);
        });
        registry.setBuiltInModels({fakeModelRow(QStringLiteral("1207"), QStringLiteral("Pacer21")),
                                   fakeModelRow(QStringLiteral("1105"), QStringLiteral("Pacer40"))});
        {
            VHDaemon daemon;
            QVERIFY(daemon.start(true));
            QVERIFY(daemon.deviceManager()->start());
            QCOMPARE(made, 1);
            QCOMPARE(daemon.deviceManager()->platform(), daemon.platform());
            // The built-in rows are registered in their order.
            QCOMPARE(daemon.deviceManager()->models().size(), 2);
            QCOMPARE(daemon.deviceManager()->models().at(1).modelName, QStringLiteral("Pacer40"));
        }
        registry.setBuiltInModels({});
        registry.setBackendFactory([this] { return std::make_unique<FakePlatform>(&m_script); });
        // Without a platform a manager finds nothing and starts no detector.
        QVERIFY(!VHDeviceManager().start());
    }

    void daemonLogZipKeepsTheCurrentFolder()
    {
        VHDaemon daemon;
        daemon.deviceManager()->onDevicePlugin(std::make_unique<FakeFSService>(
            kUuid, fakeModelRow(QStringLiteral("1105"), QStringLiteral("Pacer40"), createFlashDevice)));
        QVERIFY(daemon.currentDevice());
        const QString data = VHEnv::instance()->dataFolder();
        QVERIFY(writeFile(data + QStringLiteral("/vh.log"), "main log"));
        QVERIFY(writeFile(data + QStringLiteral("/vhuser.log"), "user log"));
        QTemporaryDir elsewhere;
        QTemporaryDir out;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));

        const QString zip = out.filePath(QStringLiteral("logs.zip"));
        const bool packed = daemon.makeLogZip(zip);
        const QString during = QDir::currentPath();
        // A relative name lies in the data folder, whatever the current folder is.
        const bool packedRelative = daemon.makeLogZip(QStringLiteral("relative.zip"));
        QDir::setCurrent(before);

        QVERIFY(packed);
        QCOMPARE(canonical(during), canonical(elsewhere.path()));
        const QMap<QString, QByteArray> expected{{QStringLiteral("Pacer40flash.dat"), "flash"},
                                                 {QStringLiteral("vhlog.txt"), "main log"},
                                                 {QStringLiteral("vhuserlog.txt"), "user log"}};
        QCOMPARE(zipContents(zip), expected);
        QVERIFY(packedRelative);
        QCOMPARE(zipContents(data + QStringLiteral("/relative.zip")), expected);
        QVERIFY(!QFileInfo::exists(elsewhere.filePath(QStringLiteral("relative.zip"))));
        // The copies are gone, the logs stay.
        for (const QString &name : expected.keys())
            QVERIFY2(!QFileInfo::exists(data + QLatin1Char('/') + name), qPrintable(name));
        QCOMPARE(readFile(data + QStringLiteral("/vh.log")), QByteArray("main log"));
        QFile::remove(data + QStringLiteral("/vh.log"));
        QFile::remove(data + QStringLiteral("/vhuser.log"));
        QFile::remove(data + QStringLiteral("/relative.zip"));
    }

    void proxyLogZipAsksTheCompanionServiceOnLoopback()
    {
        QTcpServer companion;
        QVERIFY2(companion.listen(QHostAddress::LocalHost, VHDaemonProxy::kCompanionPort),
                 qPrintable(companion.errorString()));
        QByteArray request;
        connect(&companion, &QTcpServer::newConnection, &companion, [&] {
            QTcpSocket *socket = companion.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&request, socket] {
                request += socket->readAll();
                if (request.contains("\r\n\r\n")) {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                }
            });
        });
        VHDaemonProxy proxy;
        const QString before = QDir::currentPath();
        const QString zip = QStringLiteral("/tmp/logs & more/a+b=c%20d.zip");
        QVERIFY(proxy.makeLogZip(zip));
        QTRY_VERIFY(request.contains("\r\n\r\n"));

        const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
        QCOMPARE(requestLine.size(), 3);
        QCOMPARE(requestLine.at(0), QByteArray("GET"));
        const QUrl target(QString::fromLatin1(requestLine.at(1)));
        QCOMPARE(target.path(), QStringLiteral("/export_log"));
        const QUrlQuery query(target);
        QCOMPARE(query.queryItems(QUrl::FullyDecoded).size(), 1);
        QCOMPARE(query.queryItemValue(QStringLiteral("dest"), QUrl::FullyDecoded), zip);
        QVERIFY(request.contains("\r\nHost: 127.0.0.1:18888\r\n"));
        // The finished reply is released, and the current folder never moved.
        QTRY_VERIFY(proxy.findChildren<QNetworkReply *>().isEmpty());
        QCOMPARE(QDir::currentPath(), before);
    }
};

QTEST_GUILESS_MAIN(TestVHDeviceManager)
#include "tst_VHDeviceManager.moc"
