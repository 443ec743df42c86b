// The updater's windows while a device restarts in the middle of its job, on
// the simulated platform with every family: a GAL update and a GAL factory
// restore resumed in the loader, a Pacer50 restore whose second pass runs on
// the formatted device, a device that never comes back, and one left waiting
// in its loader and recovered from the main window.

#include "OrlaModelChooser.h"
#include "OrlaRecovery.h"
#include "OrlaRestartWatch.h"
#include "OrlaStrandedWatch.h"
#include "OrlaTestSupport.h"
#include "VHDevSim.h"
#include "VHDeviceEvents.h"
#include "VHDeviceFamilies.h"
#include "VHGalDevice.h"
#include "VHGalPending.h"
#include "VHPacer50PackageBuilder.h"
#include "VHPacer50RestoreRequest.h"
#include "VHTestGalPackages.h"

#include <QComboBox>
#include <QSettings>
#include <QSignalSpy>

#include <algorithm>
#include <atomic>

#include <cstdio>

namespace {

constexpr int kStepMs = 20000;

} // namespace

class TestOrlaRestart : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHDevSim> m_sim;
    std::unique_ptr<VHPackageServer> m_server;
    std::unique_ptr<OrlaController> m_controller;
    std::unique_ptr<MessageCatcher> m_messages;
    qint64 m_now = 1700000000;
    int m_count = 0;

    VHDeviceManager *manager() const { return VHDaemon::instance()->deviceManager(); }
    VHClient *device() const { return manager()->currentDevice(); }
    OrlaRestartWatch *watch() const { return m_controller->restartWatch(); }
    QString mainLine() const { return widget<QLabel>(m_controller->mainWindow(), "Msg_label")->text(); }
    QString dialogLine() const { return widget<QLabel>(m_controller->softUpdateForm(), "remind_label")->text(); }
    bool idle() const { return OrlaRoad::runtimeIdle(m_controller.get(), true); }

    // Sixteen characters however many devices the run makes.
    static QString uuidOf(int count) { return QStringLiteral("1207A1B2C3D4E5%1").arg(count, 2, 10, QLatin1Char('0')); }

    int rowsNaming(const QString &identification, VHDeviceManager *in = nullptr) const
    {
        const VHModelTable &rows = (in ? in : manager())->models();
        return int(std::count_if(rows.begin(), rows.end(),
                                 [&](const VHModelInfo &row) { return row.identification == identification; }));
    }

    bool showsResult(bool ok)
    {
        QWidget *expected = ok ? static_cast<QWidget *>(m_controller->completeForm()) : m_controller->failForm();
        return QTest::qWaitFor(
                   [&] { return m_controller->completeForm()->isVisible() || m_controller->failForm()->isVisible(); },
                   kStepMs)
               && expected->isVisible() && !m_controller->mainWindow()->isVisible();
    }

    QString galPackage() { return VHTestGalPackages::writeUpdate(m_work.filePath(QStringLiteral("gal.zip"))); }

    QString galRestoreFolder()
    {
        return VHTestGalPackages::writeRestoreFolder(m_work.filePath(QStringLiteral("galrestore")));
    }

    bool plug(const QString &name)
    {
        m_now += 60;
        return m_sim->plug(name) && QTest::qWaitFor([this] { return device() != nullptr; }, kStepMs)
               && QTest::qWaitFor([this] { return idle(); }, kStepMs);
    }

    // A GAL device with update method 2 and the update of 110 to 120 offered by the main window.
    // `iapName` other than the ones earlier first passes registered keeps it unknown in IAP mode.
    QString plugGal(const QString &iapName = QString())
    {
        const QString name = QStringLiteral("gal%1").arg(++m_count);
        VHDevSim::GalIdentity identity;
        identity.uuid = uuidOf(m_count);
        identity.updateMethod = 2;
        identity.lang = QStringLiteral("deu");
        if (!iapName.isEmpty())
            identity.iapName = iapName;
        if (!m_sim->createGal(name, identity) || !plug(name))
            return QString();
        auto *notice = widget<QWidget>(m_controller->mainWindow(), "download_count_label");
        if (!QTest::qWaitFor([&] { return notice->isVisibleTo(m_controller->mainWindow()) && idle(); }, kStepMs))
            return QString();
        return name;
    }

    // The update started from the dialog; its first pass sends the device into its loader.
    bool startGalUpdate()
    {
        m_controller->mainWindow()->findChild<QPushButton *>(QStringLiteral("soft_update_button"))->click();
        m_controller->softUpdateForm()->findChild<QPushButton *>(QStringLiteral("soft_update_button"))->click();
        if (QTest::qWaitFor([this] { return watch()->phase() == OrlaRestartWatch::Phase::Away; }, kStepMs))
            return true;
        std::fprintf(stderr, "%s\n", qPrintable(readTestLog().right(4000)));
        return false;
    }

    // The device back from its own start after the job: what it installed.
    QStringList bootAgain(const QString &name)
    {
        QStringList installed;
        if (!m_sim->unplug(name) || !QTest::qWaitFor([this] { return !device(); }, kStepMs)
            || !m_sim->boot(name, &installed) || !plug(name))
            return {QStringLiteral("the device did not come back")};
        return installed;
    }

    // A GAL update whose device is not back before the time-out.
    QString strandGal()
    {
        const QString name = plugGal();
        watch()->setTimeoutMs(2000);
        if (name.isEmpty() || !startGalUpdate())
            return QString();
        return name;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        const QString simRoot = m_work.filePath(QStringLiteral("sim"));
        const QString serverRoot = m_work.filePath(QStringLiteral("server"));
        QVERIFY(QDir().mkpath(simRoot) && QDir().mkpath(serverRoot));
        qputenv("VELORA_SIM_ROOT", simRoot.toUtf8());
        m_server = std::make_unique<VHPackageServer>(serverRoot);
        QVERIFY(m_server->listen());
        writeFile(serverRoot + QStringLiteral("/current_14d.alp"), QByteArray(2048, 'A'));
        initTestEnv(m_work.filePath(QStringLiteral("xdg")), {{QStringLiteral("debug"), QStringLiteral("1")},
                                                             {QStringLiteral("updateurl"), m_server->updateUrl()},
                                                             {QStringLiteral("alpurl"), m_server->baseUrl()}});
        QSettings settings(VHEnv::instance()->settingsPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Pacer50CR/deviceinipath"), QStringLiteral("/device.ini"));
        settings.setValue(QStringLiteral("Pacer50CR/apversionpath"), QStringLiteral("/nimbra/version.ini"));
        settings.sync();
        QString error;
        QVERIFY2(VHPackageServer::publish(serverRoot, QStringLiteral("Pacer21"), galPackage(), QStringLiteral("120"),
                                          QStringLiteral("note"), &error),
                 qPrintable(error));
        VHDeviceFamilies::registerAll();
        VHGalWait::setSleeper([](int) {});
        m_sim = std::make_unique<VHDevSim>(simRoot);
        manager()->setDeviceClassFlags(3);
        manager()->setClock([this] { return m_now; });
        QVERIFY(VHDaemon::instance()->start(true));
        m_messages = std::make_unique<MessageCatcher>();
        m_controller = std::make_unique<OrlaController>();
        m_controller->onDeviceConnected(nullptr);
    }

    void cleanup()
    {
        watch()->setTimeoutMs(OrlaRestartWatch::kDefaultTimeoutSeconds * 1000);
        for (const QString &name : m_sim->devices())
            if (m_sim->isPlugged(name))
                m_sim->unplug(name);
        // A device left between its passes is held for its return until given up on.
        manager()->abandonRestart();
        QTRY_VERIFY_WITH_TIMEOUT(!device(), kStepMs);
        m_controller->refreshMainWindow(true);
    }

    void cleanupTestCase() { m_controller.reset(); }

    void galJobGoesOnAfterTheRestart_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QString>("installed");
        QTest::newRow("update from the dialog") << false << "OS=120";
        QTest::newRow("factory restore") << true << "OS=100";
    }

    void galJobGoesOnAfterTheRestart()
    {
        QFETCH(bool, restore);
        QFETCH(QString, installed);
        const QString name = plugGal();
        QVERIFY(!name.isEmpty());
        const QString folder = restore ? galRestoreFolder() : QString();
        if (restore) {
            QVERIFY(device()->restoreFactory(folder));
            QTRY_COMPARE_WITH_TIMEOUT(watch()->phase(), OrlaRestartWatch::Phase::Away, kStepMs);
            // The main window is in front and says so; it does not fall back to "no device".
            QVERIFY(m_controller->mainWindow()->isVisible());
            QCOMPARE(mainLine(), OrlaRestartWatch::restartingText());
        } else {
            QVERIFY(startGalUpdate());
            QVERIFY(m_controller->softUpdateForm()->isVisible());
            QCOMPARE(dialogLine(), OrlaRestartWatch::restartingText());
            // The device said it restarts: the bar's phase says so.
            QTRY_COMPARE_WITH_TIMEOUT(widget<QLabel>(m_controller->softUpdateForm(), "phase_label")->text(),
                                      QStringLiteral("Waiting for the watch"), kStepMs);
        }
        // A later run knows the device again, and a restore's folder, from what the first pass kept.
        VHGalPending::Record record;
        QVERIFY(VHGalPending::ofDataFolder().load(uuidOf(m_count), record));
        QCOMPARE(record.model, QStringLiteral("Pacer21"));
        QCOMPARE(record.restoreFolder, folder);
        m_now += 60;
        QVERIFY(m_sim->restart(name));
        QVERIFY(showsResult(true));
        QVERIFY(!VHGalPending::ofDataFolder().load(uuidOf(m_count), record));
        // The device starts again with what the job wrote; the completion stays in front.
        QVERIFY(bootAgain(name).contains(installed));
        QVERIFY(m_controller->completeForm()->isVisible());
        QVERIFY(!m_controller->mainWindow()->isVisible());
    }

    void pacer50RestoreRunsItsSecondPass()
    {
        VHSimPacer50Options options;
        QVERIFY(m_sim->createPacer50(QStringLiteral("p50"), options));
        QVERIFY(plug(QStringLiteral("p50")));
        const QString folder = m_work.filePath(QStringLiteral("p50restore"));
        QVERIFY(VHPacer50PackageBuilder::writePackageFolder(folder, {}));
        QVERIFY(device()->restoreFactory(folder));
        // The first pass asked for the format: the user is told to restart the watch.
        QTRY_COMPARE_WITH_TIMEOUT(watch()->phase(), OrlaRestartWatch::Phase::AskedToRestart, kStepMs);
        QVERIFY(m_controller->mainWindow()->isVisible());
        QCOMPARE(mainLine(), OrlaRestartWatch::replugText());
        QVERIFY(m_sim->unplug(QStringLiteral("p50")));
        QTRY_COMPARE_WITH_TIMEOUT(watch()->phase(), OrlaRestartWatch::Phase::Away, kStepMs);
        QCOMPARE(mainLine(), OrlaRestartWatch::restartingText());
        QStringList changes;
        QVERIFY(m_sim->boot(QStringLiteral("p50"), &changes));
        QCOMPARE(changes, QStringList{"formatted"});
        m_now += 60;
        QVERIFY(m_sim->plug(QStringLiteral("p50")));
        QVERIFY(showsResult(true));
        QCOMPARE(QDir(VHPacer50RestoreRequest::folder()).entryList(QDir::Files), QStringList());
        QCOMPARE(bootAgain(QStringLiteral("p50")), QStringList{"OS=2.0.0"});
        QVERIFY(m_controller->completeForm()->isVisible());
    }

    void deviceThatNeverReturns()
    {
        QVERIFY(!strandGal().isEmpty());
        QVERIFY(showsResult(false));
        const QString details = m_controller->failForm()->details();
        QVERIFY2(details.contains(QStringLiteral("2 s")), qPrintable(details));
        QVERIFY2(details.contains(QStringLiteral("press Recover")), qPrintable(details));
        // The manager no longer holds the device for its update: another may connect.
        QTRY_VERIFY_WITH_TIMEOUT(!device(), kStepMs);
        QVERIFY(m_controller->failForm()->isVisible());
    }

    void strandedDeviceRecoveredFromTheWindow()
    {
        const QString name = strandGal();
        QVERIFY(!name.isEmpty());
        QVERIFY(showsResult(false));
        QString uuid = uuidOf(m_count);
        VHGalPending::Record record;
        QVERIFY(VHGalPending::ofDataFolder().load(uuid, record));
        QCOMPARE(record.language, QStringLiteral("deu"));
        // Back in its loader, later: the main window offers to finish the update.
        m_now += 60;
        QVERIFY(m_sim->restart(name));
        QTRY_VERIFY_WITH_TIMEOUT(device() && device()->waitsInIapMode() && idle(), kStepMs);
        m_controller->failForm()->findChild<QPushButton *>(QStringLiteral("OK_button"))->click();
        QVERIFY(m_controller->mainWindow()->isVisible());
        QCOMPARE(mainLine(), OrlaRecovery::waitingLine());
        QVERIFY(device()->offeredJobs().testFlag(VHJob::Recover));
        m_controller->recoverDevice();
        QCOMPARE(mainLine(), OrlaRecovery::recoveringLine());
        QVERIFY(showsResult(true));
        QVERIFY(!VHGalPending::ofDataFolder().load(uuid, record));
        QVERIFY(bootAgain(name).contains(QStringLiteral("OS=120")));
    }

    // A device already in its loader when the program starts, or plugged in later: shown with Recover from what
    // was kept, or from the model the user picks; a restore goes on from its folder. Known once, adopted once.
    void deviceWaitingAtStart_data()
    {
        QTest::addColumn<bool>("pluggedLater");
        QTest::addColumn<QString>("keptModel");
        QTest::addColumn<bool>("keptRestore");
        QTest::addColumn<QString>("picked"); // empty: no chooser; "-": cancelled
        QTest::addColumn<QString>("installed");
        for (const bool later : {false, true}) {
            const auto row = [later](const char *name, const char *kept, bool restore, const char *picked,
                                     const char *installed) {
                QTest::newRow(qPrintable(QLatin1String(later ? "plugged later, " : "at start, ") + QLatin1String(name)))
                    << later << QString::fromLatin1(kept) << restore << QString::fromLatin1(picked)
                    << QString::fromLatin1(installed);
            };
            row("update kept", "Pacer21", false, "", "OS=120");
            row("restore kept", "Pacer21", true, "", "OS=100");
            row("nothing kept, model picked", "", false, "Pacer21", "OS=120");
            row("nothing kept, cancelled", "", false, "-", "");
        }
    }
    void deviceWaitingAtStart()
    {
        QFETCH(bool, pluggedLater);
        QFETCH(QString, keptModel);
        QFETCH(bool, keptRestore);
        QFETCH(QString, picked);
        QFETCH(QString, installed);
        const QString name = plugGal(QStringLiteral("BIRCH%1").arg(m_count + 1));
        QVERIFY(!name.isEmpty());
        const QString uuid = uuidOf(m_count);
        // Sent into its loader by an earlier run: this run has nothing that names it.
        QVERIFY(writeFile(m_sim->volumePath(name) + QStringLiteral("/update.ini"), QByteArray()));
        m_now += 60;
        QVERIFY(m_sim->restart(name));
        QTRY_VERIFY_WITH_TIMEOUT(!device(), kStepMs);
        QVERIFY(VHGalPending::ofDataFolder().remove(uuid));
        if (!keptModel.isEmpty()) {
            VHGalPending::Record record;
            record.language = QStringLiteral("deu");
            record.model = keptModel;
            record.restoreFolder = keptRestore ? galRestoreFolder() : QString();
            QVERIFY(VHGalPending::ofDataFolder().store(uuid, record));
        }
        if (pluggedLater)
            QVERIFY(m_sim->unplug(name));
        m_now += 60;
        // The window starts: its scan for such devices runs off its thread.
        OrlaStrandedWatch strandedWatch(*VHDaemon::instance()->platform(), *manager());
        QSignalSpy scanned(&strandedWatch, &OrlaStrandedWatch::scanned);
        strandedWatch.start(OrlaStrandedWatch::eventSourceOf(*manager()));
        QTRY_VERIFY_WITH_TIMEOUT(!scanned.isEmpty(), kStepMs);
        QCOMPARE(scanned.first().value(0).toInt(), pluggedLater ? 0 : 1);
        if (pluggedLater)
            QVERIFY(m_sim->plug(name));
        QTRY_VERIFY_WITH_TIMEOUT(device() && idle(), kStepMs);
        QVERIFY(device()->waitsInIapMode());
        QCOMPARE(mainLine(), OrlaRecovery::waitingLine());
        QVERIFY(widget<QPushButton>(m_controller->mainWindow(), "recover_button")->isVisible());
        // Another node change while it is served: it is known, nothing is registered again.
        const qsizetype scans = scanned.size();
        strandedWatch.DeviceChange(VHDeviceEvent::NodesChanged);
        QTRY_VERIFY_WITH_TIMEOUT(scanned.size() > scans, kStepMs);
        int adopted = 0;
        for (const QList<QVariant> &result : std::as_const(scanned))
            adopted += result.value(0).toInt();
        QCOMPARE(adopted, 1);
        QCOMPARE(rowsNaming(QStringLiteral("BIRCH%1").arg(m_count)), 1);
        m_controller->recoverDevice();
        OrlaModelChooser *chooser = m_controller->modelChooser();
        QCOMPARE(chooser && chooser->isVisible(), !picked.isEmpty());
        if (!picked.isEmpty()) {
            QCOMPARE(widget<QComboBox>(chooser, "model_box")->count(), 2); // the table's GAL models
            QCOMPARE(chooser->chosenModel(), QStringLiteral("Pacer21"));   // the one the device names
            widget<QPushButton>(chooser, picked == QLatin1String("-") ? "cancel_button" : "ok_button")->click();
            QVERIFY(!chooser->isVisible());
        }
        if (installed.isEmpty()) {
            // Nothing confirmed: nothing started, nothing kept.
            QCOMPARE(mainLine(), OrlaRecovery::waitingLine());
            QVERIFY(!QFileInfo::exists(VHGalPending::ofDataFolder().filePathFor(uuid)));
            return;
        }
        QVERIFY(showsResult(true));
        QVERIFY(!QFileInfo::exists(VHGalPending::ofDataFolder().filePathFor(uuid)));
        QVERIFY(bootAgain(name).contains(installed));
    }

    // What the scan off the window's thread found is used only while it still holds: not after a node changed
    // meanwhile (it scans again), not after the window closed, not for a device the table already names.
    void strandedScanResult_data()
    {
        QTest::addColumn<QString>("during"); // what happens while the first scan runs
        QTest::addColumn<bool>("known");
        QTest::addColumn<int>("rows"); // rows naming the device afterwards
        QTest::addColumn<int>("scans");
        QTest::newRow("used") << "" << false << 1 << 1;
        QTest::newRow("already registered") << "" << true << 1 << 1;
        QTest::newRow("device left meanwhile") << "node change" << false << 0 << 2;
        QTest::newRow("window closed meanwhile") << "close" << false << 0 << 1;
    }
    void strandedScanResult()
    {
        QFETCH(QString, during);
        QFETCH(bool, known);
        QFETCH(int, rows);
        QFETCH(int, scans);
        VHDeviceManager manager; // no platform: nothing but the watch registers or connects
        VHGalStranded::Device found{QStringLiteral("1207FFFFFFFFFFFF"), QStringLiteral("ASPEN9"), QString()};
        const VHModelInfo row = VHGalStranded::rowFor(found, QStringLiteral("Pacer21"));
        if (known)
            manager.registerModel(row, true);
        QSemaphore entered, release;
        std::atomic<int> calls{0};
        auto watch = std::make_unique<OrlaStrandedWatch>(*VHDaemon::instance()->platform(), manager);
        watch->setScan([&](const VHModelTable &) {
            entered.release();
            release.acquire();
            // Gone by the second look.
            return ++calls == 1 ? QList<VHGalStranded::Waiting>{{found, row}} : QList<VHGalStranded::Waiting>{};
        });
        QSignalSpy scanned(watch.get(), &OrlaStrandedWatch::scanned);
        watch->start(nullptr);
        QVERIFY(entered.tryAcquire(1, kStepMs));
        if (during == QLatin1String("node change"))
            watch->DeviceChange(VHDeviceEvent::NodesChanged);
        release.release(2);
        if (during == QLatin1String("close")) {
            watch.reset();
            QCoreApplication::processEvents();
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(scanned.size(), 1, kStepMs);
        }
        QCOMPARE(calls.load(), scans);
        QCOMPARE(rowsNaming(found.identification, &manager), rows);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestOrlaRestart test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_OrlaRestart.moc"
