// The updater window with every device family on the simulated platform and
// the built-in model table: the job buttons each family gets, and the update
// and factory-restore roads through them, from the button to the result window.

#include "OrlaTestSupport.h"
#include "VHDevSim.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceRegistry.h"
#include "VHGalDevice.h"
#include "VHGalPackageBuilder.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer50PackageBuilder.h"
#include "VHScsiFlashClient.h"

#include <QMenu>

class TestOrlaJobs : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHDevSim> m_sim;
    std::unique_ptr<VHPackageServer> m_server;
    std::unique_ptr<OrlaController> m_controller;
    std::unique_ptr<MessageCatcher> m_messages;
    QString m_plugged;
    int m_devices = 0;
    QString m_why; // what the last plug waited for in vain
    // The manager's clock: a minute passes at each unplugging, so no plug
    // counts as a slow device's reconnection.
    qint64 m_now = 1800000000;

    QString serverRoot() const { return m_work.filePath(QStringLiteral("server")); }
    QString file(const QString &name) const { return m_work.filePath(name); }
    static VHDeviceManager *manager() { return VHDaemon::instance()->deviceManager(); }
    static VHClient *device() { return manager()->currentDevice(); }
    OrlaForm *main() const { return m_controller->mainWindow(); }

    // Device changes within a second of the last one are one burst to the detector.
    static void settle() { QTest::qWait(1100); }

    bool unplugCurrent()
    {
        if (m_plugged.isEmpty())
            return true;
        settle(); // apart from the plug's burst
        const bool gone = m_sim->unplug(m_plugged) && QTest::qWaitFor([] { return !device(); }, 10000);
        m_why = gone ? QString() : m_plugged + QStringLiteral(" stays after unplugging");
        m_now += 60;
        m_plugged.clear();
        settle();
        return gone;
    }

    // A new device made by `make` under a fresh name, plugged alone; true once
    // the window shows it and its connection's device work has ended.
    bool plugNew(const std::function<bool(const QString &)> &make, int classFlags = 3)
    {
        if (!unplugCurrent())
            return false;
        manager()->setDeviceClassFlags(classFlags);
        const QString name = QStringLiteral("DEV%1").arg(++m_devices);
        if (!make(name) || !m_sim->plug(name)) {
            m_why = name + QStringLiteral(" not made: ") + m_sim->lastError();
            return false;
        }
        m_plugged = name;
        if (!QTest::qWaitFor([] { return device() != nullptr; }, 10000)) {
            m_why = name + QStringLiteral(" not found");
            return false;
        }
        // The simulated flash is ready at once.
        if (auto *flash = qobject_cast<VHScsiFlashClient *>(device()))
            flash->setWait([](int) {});
        if (QTest::qWaitFor([this] { return OrlaRoad::runtimeIdle(m_controller.get(), false); }, 15000))
            return true;
        m_why = QStringLiteral("%1 stays busy: action %2, state %3, assist %4")
                    .arg(name)
                    .arg(device()->currentAction())
                    .arg(device()->state())
                    .arg(m_controller->assistClient()->isDownloading());
        return false;
    }

    bool plugGal(const VHSimGalIdentity &identity)
    {
        return plugNew([&](const QString &name) { return m_sim->createGal(name, identity); });
    }

    // A GAL whose method-2 update left it in its loader: found by its loader's
    // INQUIRY answer through the row its first pass registered.
    bool plugGalInIapMode()
    {
        VHSimGalIdentity identity;
        identity.updateMethod = 2;
        const VHDeviceFactory gal = VHDeviceRegistry::instance().factory(VHDeviceRegistry::kGalRole);
        manager()->registerModel({identity.uuid.left(4), identity.model, identity.iapName, gal}, true);
        return plugNew([&](const QString &name) {
            return m_sim->createGal(name, identity)
                   && writeFile(m_sim->volumePath(name) + QStringLiteral("/update.ini"), QByteArray())
                   && m_sim->boot(name);
        });
    }

    bool plugFamily(const QString &family)
    {
        VHSimGalIdentity gal;
        VHSimPacer30Options pacer30;
        if (family == QLatin1String("FIT"))
            return plugNew([this](const QString &name) { return m_sim->createFit(name, VHSimFitIdentity()); }, 4);
        if (family.startsWith(QLatin1String("GAL method"))) {
            gal.updateMethod = family.endsWith(QLatin1Char('2')) ? 2 : 1;
            return plugGal(gal);
        }
        if (family == QLatin1String("GAL in IAP mode"))
            return plugGalInIapMode();
        if (family == QLatin1String("Pacer50"))
            return plugNew([this](const QString &name) { return m_sim->createPacer50(name, VHSimPacer50Options()); });
        if (family == QLatin1String("Pacer40"))
            return plugNew([this](const QString &name) { return m_sim->createPacer40(name); });
        pacer30.model = family;
        return plugNew([&](const QString &name) { return m_sim->createPacer30(name, pacer30); });
    }

    QStringList visibleJobButtons() const
    {
        QStringList shown;
        for (QPushButton *button : main()->findChildren<QPushButton *>())
            if (button->isVisibleTo(main()) && button->objectName() != QLatin1String("mount_button"))
                shown << button->objectName();
        shown.sort();
        return shown;
    }

    // Publishes `zip` as the model's package and plugs the device; true once the update notice shows.
    bool offer(const QString &model, const QString &zip, const QString &version,
               const std::function<bool()> &plugDevice)
    {
        QString error;
        if (!VHPackageServer::publish(serverRoot(), model, zip, version, QStringLiteral("note"), &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        auto *notice = main()->findChild<QWidget *>(QStringLiteral("download_count_label"));
        return plugDevice() && QTest::qWaitFor([&] { return notice->isVisibleTo(main()); }, 15000);
    }

    // The update button, then the dialog's; true once a result window shows.
    bool updateFromDialog()
    {
        m_messages->clear();
        QTest::mouseClick(main()->jobButton(VHJob::SoftwareUpdate), Qt::LeftButton);
        if (!m_controller->softUpdateForm()->isVisible())
            return false;
        QTest::mouseClick(
            m_controller->softUpdateForm()->findChild<QPushButton *>(QStringLiteral("soft_update_button")),
            Qt::LeftButton);
        return QTest::qWaitFor(
            [this] { return m_controller->completeForm()->isVisible() || m_controller->failForm()->isVisible(); },
            60000);
    }

    QString failDetails() const { return m_controller->failForm()->details(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        qputenv("VELORA_SIM_ROOT", file(QStringLiteral("sim")).toUtf8());
        QVERIFY(QDir().mkpath(file(QStringLiteral("sim"))));
        m_sim = std::make_unique<VHDevSim>(file(QStringLiteral("sim")));
        m_server = std::make_unique<VHPackageServer>(serverRoot());
        QVERIFY(m_server->listen());
        initTestEnv(file(QStringLiteral("xdg")), {{QStringLiteral("debug"), QStringLiteral("1")},
                                                  {QStringLiteral("updateurl"), m_server->updateUrl()},
                                                  {QStringLiteral("alpurl"), m_server->baseUrl()}});
        VHDeviceFamilies::registerAll();
        VHGalWait::setSleeper([](int) {});
        VHDaemon::instance()->platform()->setBackend(VHPlatform::createDefaultBackend());
        m_messages = std::make_unique<MessageCatcher>();
        m_controller = std::make_unique<OrlaController>();
        manager()->setClock([this] { return m_now; });
        QVERIFY(VHDaemon::instance()->start(true));
    }

    void cleanupTestCase()
    {
        unplugCurrent();
        m_controller.reset();
    }

    void init()
    {
        // Each road starts from the main window.
        m_controller->refreshMainWindow(false);
    }

    void buttonsPerFamily_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QStringList>("more"); // the "More" menu's entries
        const QStringList updateAndRestore{"factory_restore_button", "soft_update_button"};
        const QStringList flashStore{"languages_button", "more_button", "soft_update_button"};
        const QStringList flashStoreMore{"factory_restore_button", "backups_button"};
        QTest::newRow("FIT") << "FIT"
                             << QStringList{"gpsdata_update_button", "soft_update_button", "workout_update_button"}
                             << QStringList();
        QTest::newRow("GAL m1") << "GAL method 1" << QStringList{"soft_update_button"} << QStringList();
        QTest::newRow("GAL m2") << "GAL method 2" << updateAndRestore << QStringList();
        QTest::newRow("Pacer50") << "Pacer50" << updateAndRestore << QStringList();
        QTest::newRow("Pacer40") << "Pacer40" << flashStore << flashStoreMore;
        QTest::newRow("Pacer30") << "Pacer30" << flashStore << flashStoreMore;
        QTest::newRow("Pulsar30") << "Pulsar30" << flashStore << flashStoreMore;
        QTest::newRow("GAL in IAP") << "GAL in IAP mode" << QStringList{"recover_button"} << QStringList();
    }
    void buttonsPerFamily()
    {
        QFETCH(QString, family);
        QFETCH(QStringList, buttons);
        QFETCH(QStringList, more);
        QVERIFY2(plugFamily(family), qPrintable(m_why));
        QCOMPARE(visibleJobButtons(), buttons);
        QStringList entries;
        for (const QAction *action : main()->moreMenu()->actions())
            entries << action->objectName();
        QCOMPARE(entries, more);
        // The jobs fill the slots from the top, and every shown button can be pressed.
        QCOMPARE(main()->findChild<QPushButton *>(buttons.first())->isEnabled(), true);
        int top = 1000;
        for (const QString &name : buttons)
            top = std::min(top, main()->findChild<QPushButton *>(name)->y());
        QCOMPARE(top, 280);
    }

    void galMethod1UpdateToCompletion()
    {
        VHGalPackageBuilder::Options package;
        QVERIFY(VHGalPackageBuilder::writePackage(file(QStringLiteral("gal.zip")), package));
        VHSimGalIdentity identity;
        identity.os = QStringLiteral("1.0.0");
        identity.bootLoader = QStringLiteral("R001");
        QVERIFY(offer(identity.model, file(QStringLiteral("gal.zip")), package.imageVersion,
                      [&] { return plugGal(identity); }));
        QVERIFY(updateFromDialog());
        QVERIFY2(m_controller->completeForm()->isVisible(), qPrintable(failDetails()));
        QVERIFY(!m_controller->completeForm()->showsUnchanged());
    }

    void pacer40LanguagePackToCompletion()
    {
        QVERIFY(VHPSFLanguagePackBuilder::writePackage(file(QStringLiteral("lang.zip")),
                                                       VHPSFLanguagePackBuilder::Options()));
        QVERIFY(offer(QStringLiteral("Pacer40"), file(QStringLiteral("lang.zip")), QStringLiteral("V013"),
                      [this] { return plugFamily(QStringLiteral("Pacer40")); }));
        QVERIFY(updateFromDialog());
        QVERIFY2(m_controller->completeForm()->isVisible(), qPrintable(failDetails()));
        // Written with the languages the watch had.
        QStringList codes;
        QVERIFY(device()->getLanguageOnDevice(codes));
        QCOMPARE(codes, (QStringList{"eng", "deu"}));
    }

    void pacer50UpdateToCompletion()
    {
        VHPacer50PackageBuilder::Options package;
        QVERIFY(VHPacer50PackageBuilder::writePackageFolder(file(QStringLiteral("pacer50")), package));
        QVERIFY(offer(QStringLiteral("Pacer50CR"), file(QStringLiteral("pacer50/Total.zip")), package.imageVersion,
                      [this] { return plugFamily(QStringLiteral("Pacer50")); }));
        QVERIFY(updateFromDialog());
        QVERIFY2(m_controller->completeForm()->isVisible(), qPrintable(failDetails()));
        QVERIFY(QFileInfo::exists(m_sim->volumePath(m_plugged) + QStringLiteral("/Update.ini")));
    }

    // A package made for another model is refused before the device is touched, with its reason.
    void foreignPackageRefusedWithItsReason()
    {
        VHFitPackageBuilder::Options fit;
        fit.model = QStringLiteral("Pacer70");
        QVERIFY(VHFitPackageBuilder::writePackage(file(QStringLiteral("fit.zip")), fit));
        VHSimGalIdentity identity;
        identity.os = QStringLiteral("1.0.0");
        QVERIFY(offer(identity.model, file(QStringLiteral("fit.zip")), QStringLiteral("3.0.0"),
                      [&] { return plugGal(identity); }));
        const QStringList before = snapshot(m_sim->volumePath(m_plugged));
        QVERIFY(updateFromDialog());
        QVERIFY(m_controller->failForm()->isVisible());
        QVERIFY2(failDetails().contains(QStringLiteral("made for Pacer70, the device is a Pacer21")),
                 qPrintable(failDetails()));
        QCOMPARE(snapshot(m_sim->volumePath(m_plugged)), before);
    }

    // The restore files come from the server beside the package; the restore
    // asks first, naming what is lost, and its "Restore" writes them.
    void factoryRestoreAsksThenRestores()
    {
        const QString files = file(QStringLiteral("linden"));
        QVERIFY(VHPSFLanguagePackBuilder::writeRestoreFolder(files, QStringLiteral("LINDEN"), QStringLiteral("V020")));
        VHPacer50PackageBuilder::Entries entries;
        for (const QString &name : QDir(files).entryList(QDir::Files))
            entries.append({name, readFile(files + QLatin1Char('/') + name)});
        QVERIFY(VHPacer50PackageBuilder::writeZip(file(QStringLiteral("linden.zip")), entries));
        QVERIFY(VHPSFLanguagePackBuilder::writePackage(file(QStringLiteral("lang.zip")),
                                                       VHPSFLanguagePackBuilder::Options()));
        QString error;
        QVERIFY(VHPackageServer::publish(serverRoot(), QStringLiteral("Pacer40"), file(QStringLiteral("lang.zip")),
                                         QStringLiteral("V013"), QString(), &error));
        QVERIFY2(VHPackageServer::publishRestore(serverRoot(), QStringLiteral("Pacer40"),
                                                 file(QStringLiteral("linden.zip")), QStringLiteral("R1"), &error),
                 qPrintable(error));
        QVERIFY(plugFamily(QStringLiteral("Pacer40")));
        const QString restore = m_controller->restoreFolder();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(restore + QStringLiteral("/LINDENExData.bin")).isFile(), 15000);
        QCOMPARE(readFile(restore + QStringLiteral("/LINDENExData.bin")),
                 readFile(files + QStringLiteral("/LINDENExData.bin")));
        m_messages->clear();
        main()->moreMenu()->actions().at(0)->trigger();
        QCOMPARE(m_messages->boxes.size(), 1);
        QVERIFY(m_messages->boxes.first().informative.contains(QStringLiteral("lost")));
        QVERIFY(QTest::qWaitFor(
            [this] { return m_controller->completeForm()->isVisible() || m_controller->failForm()->isVisible(); },
            30000));
        QVERIFY2(m_controller->completeForm()->isVisible(), qPrintable(failDetails()));
        QCOMPARE(m_sim->flash(m_plugged, VHDevSim::Flash::External),
                 readFile(restore + QStringLiteral("/LINDENExData.bin")));
    }

    // The first pass asks the device to format itself; the window says so and
    // runs the second when the device is back, before it shows the completion.
    void pacer50RestoreInTwoPasses()
    {
        VHPacer50PackageBuilder::Options package;
        const QString folder = file(QStringLiteral("pacer50restore"));
        QVERIFY(VHPacer50PackageBuilder::writePackageFolder(folder, package));
        VHPacer50PackageBuilder::Entries entries;
        for (const QString name : {"Total.zip", "LaunchSec.zip", "DeviceAp.zip"})
            entries.append({name, readFile(folder + QLatin1Char('/') + name)});
        QVERIFY(VHPacer50PackageBuilder::writeZip(file(QStringLiteral("pacer50restore.zip")), entries));
        QVERIFY(VHPackageServer::publish(serverRoot(), QStringLiteral("Pacer50CR"),
                                         folder + QStringLiteral("/Total.zip"), package.imageVersion, QString()));
        QVERIFY(VHPackageServer::publishRestore(serverRoot(), QStringLiteral("Pacer50CR"),
                                                file(QStringLiteral("pacer50restore.zip")), QStringLiteral("R1")));
        QVERIFY2(plugFamily(QStringLiteral("Pacer50")), qPrintable(m_why));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(m_controller->restoreFolder() + QStringLiteral("/DeviceAp.zip")).isFile(),
                                 15000);
        QTest::mouseClick(main()->jobButton(VHJob::FactoryRestore), Qt::LeftButton);
        // The first pass leaves the watch to format itself at its restart; the restart watch runs the second.
        QTRY_VERIFY_WITH_TIMEOUT(device()->state() == VHClient::STATE_MODEL && !device()->isBusy(), 30000);
        QVERIFY(!m_controller->completeForm()->isVisible());
        const QString name = m_plugged;
        QVERIFY(unplugCurrent());
        QVERIFY(m_sim->boot(name));
        QVERIFY(m_sim->plug(name));
        m_plugged = name;
        QTRY_VERIFY_WITH_TIMEOUT(m_controller->completeForm()->isVisible() || m_controller->failForm()->isVisible(),
                                 60000);
        QVERIFY2(m_controller->completeForm()->isVisible(), qPrintable(failDetails()));
    }

    void factoryRestoreWithoutFilesSaysSo()
    {
        QVERIFY(plugFamily(QStringLiteral("GAL method 2")));
        QVERIFY(!QFileInfo::exists(m_controller->restoreFolder()));
        m_messages->clear();
        QTest::mouseClick(main()->jobButton(VHJob::FactoryRestore), Qt::LeftButton);
        QTRY_COMPARE(m_controller->lastMessage(), OrlaController::Message::NoRestoreFiles);
        QVERIFY(!device()->isBusy());
        QVERIFY(main()->isVisible());
    }
};

QTEST_MAIN(TestOrlaJobs)
#include "tst_OrlaJobs.moc"
