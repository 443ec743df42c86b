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
#include "VHFitRoad.h"
#include "VHPackageServer.h"
#include "VHPlatform.h"
#include "VHTestEnv.h"
#include "VHTestEvents.h"
#include "VHTestFiles.h"
#include "VHTestPhases.h"
#include "VeloraApiClient.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Results : VeloraApiClientDelegate, ReduzeduClientDelegate
{
    QList<bool> updates, assists;
    void onUpdateFinished(bool ok) override { updates << ok; }
    void onReduzeduFinished(bool ok) override { assists << ok; }
};

} // namespace

class TestFitUpdateRoad : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHFitRoad> m_road;
    std::unique_ptr<VHDaemon> m_daemon;
    Results m_results;
    VHTestEvents m_events;
    int m_hostile = 0;

    static VHFitRoad::Options roadOptions(const QString &work)
    {
        VHFitRoad::Options options = VHFitRoad::newerPackage(work);
        options.before.bluetooth = QStringLiteral("BT10");
        options.version = QStringLiteral("2.0");
        return options;
    }

    // Starts an action and waits for its end; false when it did not start, did not end in time, or failed.
    bool runAction(const std::function<bool()> &start, int action) { return m_events.run(start, action, 30000); }

    QString updates() const { return m_road->modelFolder(); }
    QString total() const { return updates() + QStringLiteral("/Total.zip"); }
    QString volume() const { return m_road->sim().drivePath(m_road->options().device); }
    VHClient *device() const { return m_daemon ? m_daemon->currentDevice() : nullptr; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_road = std::make_unique<VHFitRoad>(roadOptions(m_work.path()));
        QVERIFY2(m_road->prepare(), qPrintable(m_road->lastError()));
        QVERIFY2(m_road->startServer(), qPrintable(m_road->lastError()));
        initTestEnv(m_road->xdgRoot());
        VHDeviceFamilies::registerAll();
        m_daemon = std::make_unique<VHDaemon>();
        m_daemon->deviceManager()->setDeviceClassFlags(4);
        m_daemon->deviceManager()->addListener(&m_events);
        QVERIFY(m_daemon->start(false));
    }

    // The steps of one road, in order, on the device and server set up above.
    void plug()
    {
        QVERIFY(!device());
        QVERIFY(m_road->plug());
        QTRY_VERIFY_WITH_TIMEOUT(device(), 5000);
        QString text;
        QVERIFY(device()->getModelName(text));
        QCOMPARE(text, m_road->model());
    }

    void query()
    {
        VeloraApiClient api(&m_results);
        api.queryUpdate(m_road->model(), updates(), false);
        QTRY_COMPARE_WITH_TIMEOUT(m_results.updates.size(), 1, 20000);
        QVERIFY(m_results.updates.first());
    }

    // Into the model's updates folder.
    void download()
    {
        QVERIFY2(!m_results.updates.isEmpty(), "the query did not end");
        QCOMPARE(readFile(updates() + QStringLiteral("/version.txt")), QByteArray("2.0"));
        QCOMPARE(VHPackageServer::fileMd5(total()), VHPackageServer::fileMd5(m_road->packagePath()));
    }

    // The software update copies the newer images and leaves the instruction file.
    void update()
    {
        VHClient *watch = device();
        QVERIFY2(watch, "no device plugged");
        QVERIFY2(QFileInfo::exists(total()), "no package downloaded");
        VHTestPhases phases(watch);
        QVERIFY(runAction([&] { return watch->updateTotal(total(), QString()); }, 0));
        // Every image written before any is read back: each step once, in order, to its total.
        QVERIFY2(phases.problem().isEmpty(), qPrintable(phases.problem()));
        QCOMPARE(phases.phases(), (QList<int>{int(VHPhase::Unpack), int(VHPhase::Write), int(VHPhase::Verify)}));
        QVERIFY(QFileInfo::exists(volume() + QStringLiteral("/update.ini")));
        QVERIFY(QFileInfo::exists(volume() + QStringLiteral("/os.bin")));
        QVERIFY(QFileInfo::exists(volume() + QStringLiteral("/bt.bin")));
        QVERIFY(!QFileInfo::exists(volume() + QStringLiteral("/boot.bin"))); // same version: not copied
    }

    // The device restarts, installs, and comes back with the package's versions.
    void restartShowsTheNewVersion()
    {
        QVERIFY2(device(), "no device plugged");
        QVERIFY2(QFileInfo::exists(volume() + QStringLiteral("/update.ini")), "the update left nothing to install");
        const qsizetype connections = m_events.list.count(QStringLiteral("connected"));
        QVERIFY(m_road->unplug());
        QTRY_VERIFY_WITH_TIMEOUT(m_events.list.contains(QStringLiteral("disconnected")), 5000);
        QStringList installed;
        QVERIFY(m_road->boot(&installed));
        QVERIFY2(installed.contains(QStringLiteral("OS=1.10.00")), qPrintable(installed.join(',')));
        QVERIFY(m_road->plug());
        QTRY_VERIFY_WITH_TIMEOUT(m_events.list.count(QStringLiteral("connected")) > connections, 5000);
        QVERIFY(device());
        QString text;
        QVERIFY(device()->getImageVersion(text));
        QCOMPARE(text, QStringLiteral("1.10.00"));
        QVERIFY(!QFileInfo::exists(volume() + QStringLiteral("/update.ini")));
    }

    // Fetched with its stamp, then written to the device.
    void assistDataWithStamp()
    {
        VHClient *watch = device();
        QVERIFY2(watch, "no device plugged");
        ReduzeduClient assist(&m_results);
        assist.download(updates(), QStringLiteral("AssitOff.alp"), 14);
        QTRY_COMPARE_WITH_TIMEOUT(m_results.assists.size(), 1, 20000);
        QVERIFY(m_results.assists.first());
        QFile stampFile(updates() + QStringLiteral("/date.txt"));
        QVERIFY(stampFile.open(QIODevice::ReadOnly));
        QCOMPARE(stampFile.size(), 4);
        QDataStream stream(&stampFile);
        qint32 stamp = 0;
        stream >> stamp;
        QCOMPARE(stamp, ReduzeduClient::expiryStamp(QDateTime::currentDateTime(), 14));
        QCOMPARE(watch->getAlpDate(), 0);
        VHTestPhases phases(watch);
        QVERIFY(runAction([&] { return watch->updateAlp(QStringLiteral("AssitOff.alp"), stamp); }, 25));
        QVERIFY2(phases.problem().isEmpty(), qPrintable(phases.problem()));
        QCOMPARE(phases.phases(), (QList<int>{int(VHPhase::Write), int(VHPhase::Verify)}));
        QCOMPARE(readFile(volume() + QStringLiteral("/System/AssitOff.alp")).size(), 20000);
        QCOMPARE(watch->getAlpDate(), int(stamp));
    }

    // The check leaves the device alone, the install writes them.
    void workouts()
    {
        VHClient *watch = device();
        QVERIFY2(watch, "no device plugged");
        QVERIFY2(QFileInfo::exists(total()), "no package downloaded");
        QVERIFY(
            runAction([&] { return watch->updateComponent(total(), QString(), QString(), QStringLiteral("0")); }, 10));
        QVERIFY(!QFileInfo::exists(volume() + QStringLiteral("/System/Velorawrk")));
        VHTestPhases phases(watch);
        QVERIFY(
            runAction([&] { return watch->updateComponent(total(), QString(), QString(), QStringLiteral("1")); }, 10));
        QVERIFY2(phases.problem().isEmpty(), qPrintable(phases.problem()));
        QCOMPARE(phases.phases(), (QList<int>{int(VHPhase::Unpack), int(VHPhase::Write), int(VHPhase::Verify)}));
        QVERIFY(!QDir(volume() + QStringLiteral("/System/Velorawrk")).isEmpty(QDir::Files));
        QVERIFY(!QDir(volume() + QStringLiteral("/System/Test")).isEmpty(QDir::Files));
    }

    // Asked again, the server's version is already in the folder: no second download.
    void askedAgainNoSecondDownload()
    {
        QVERIFY2(QFileInfo::exists(total()), "no package downloaded");
        const QString path = QStringLiteral("/packages/") + m_road->model() + QStringLiteral("/Total.zip");
        const int downloads = m_road->serverRequestCount(path);
        const qsizetype answers = m_results.updates.size();
        VeloraApiClient api(&m_results);
        api.queryUpdate(m_road->model(), updates(), false);
        QTRY_COMPARE_WITH_TIMEOUT(m_results.updates.size(), answers + 1, 20000);
        QCOMPARE(m_road->serverRequestCount(path), downloads);
    }

    // The road's device leaves whatever the steps did.
    void roadEnds()
    {
        m_road->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!device(), 5000);
    }

    // Links planted at every name the FIT family writes or reads on the volume
    // point at the user's files and folders; plugging, querying, updating and
    // installing assist data and workouts leave every one of them byte for byte.
    void hostileVolumeLeavesTheUserAlone_data()
    {
        QTest::addColumn<QString>("linkAt");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("detected");
        const QString notes = QStringLiteral("notes.txt"); // the user's file the link points at
        QTest::newRow("update.ini") << "update.ini" << notes << true;
        QTest::newRow("UPDATE.INI") << "UPDATE.INI" << notes << true;
        QTest::newRow("image") << "os.bin" << notes << true;
        QTest::newRow("Bluetooth image") << "BT.BIN" << notes << true;
        QTest::newRow("assist file") << "System/AssitOff.alp" << notes << true;
        QTest::newRow("stamp") << "System/date.txt" << notes << true;
        QTest::newRow("workout folder") << "System/Velorawrk" << QString() << true;
        QTest::newRow("test folder") << "System/Test" << QString() << true;
        QTest::newRow("identity file") << "System/device.txt" << QStringLiteral("device.txt") << false;
        QTest::newRow("System") << "System" << QString() << false;
    }
    void hostileVolumeLeavesTheUserAlone()
    {
        QFETCH(QString, linkAt);
        QFETCH(QString, target);
        QFETCH(bool, detected);
        const QString name = QStringLiteral("H%1").arg(++m_hostile);
        VHDevSim &sim = m_road->sim();
        QVERIFY(sim.createFit(name, m_road->options().before));
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

        const QString updates = m_road->modelFolder();
        QDir().mkpath(updates);
        QVERIFY(VHFitPackageBuilder::writePackage(updates + QStringLiteral("/Total.zip"), m_road->options().package));
        QVERIFY(writeFile(updates + QStringLiteral("/AssitOff.alp"), QByteArray(3000, 'a')));

        QVERIFY(sim.plug(name));
        if (detected) {
            QTRY_VERIFY_WITH_TIMEOUT(this->device(), 5000);
            VHClient *device = this->device();
            QString text;
            QVERIFY(device->getRootPath(text));
            QCOMPARE(text, sim.drivePath(name));
            QVERIFY(device->getVersion(text));
            device->getAlpDate();
            const QString total = updates + QStringLiteral("/Total.zip");
            runAction([&] { return device->updateTotal(total, QString()); }, 0);
            runAction([&] { return device->updateAlp(QStringLiteral("AssitOff.alp"), 1234); }, 25);
            runAction([&] { return device->updateComponent(total, QString(), QString(), QStringLiteral("1")); }, 10);
            device->getAlpDate();
        } else {
            QTest::qWait(1500);
            QVERIFY(!device());
        }
        QCOMPARE(snapshot(home.path()), before);
        QVERIFY(sim.unplug(name));
        QTRY_VERIFY_WITH_TIMEOUT(!device(), 5000);
    }
};

QTEST_GUILESS_MAIN(TestFitUpdateRoad)
#include "tst_FitUpdateRoad.moc"
