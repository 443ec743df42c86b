// The Pacer50 family through the whole runtime, on the simulated platform with
// the built-in model table: an image update that the device installs at its
// restart, an attach after an interrupted update, the two-pass factory restore
// across the device's own format, and a Pacer60 whose release.ini names its image.

#include "VHDaemon.h"
#include "VHEnv.h"
#include "VHPacer50.h"
#include "VHPacer50PackageBuilder.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"
#include "VHTestPhases.h"
#include "VHTestSimRuntime.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <optional>

class TestPacer50Road : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    VHTestSimRuntime m_runtime;
    VHDevSim *m_sim = nullptr;
    int m_count = 0;

    VHClient *device() const { return m_runtime.device(); }
    qsizetype count(const QString &event) const { return m_runtime.count(event); }
    void connect(const QString &name) { QVERIFY(m_runtime.plug(name)); }
    void disconnect(const QString &name) { QVERIFY(m_runtime.unplug(name)); }
    // Restarts the device's firmware; what it installed.
    QStringList restart(const QString &name) { return m_runtime.restart(name); }

    QString package(const VHPacer50PackageBuilder::Options &options = {})
    {
        const QString folder = m_work.filePath(QStringLiteral("pkg%1").arg(++m_count));
        return VHPacer50PackageBuilder::writePackageFolder(folder, options) ? folder : QString();
    }

    QString create(const VHSimPacer50Options &options)
    {
        const QString name = QStringLiteral("p%1").arg(++m_count);
        return m_sim->createPacer50(name, options) ? name : QString();
    }

    // Runs an action on the current device; whether it succeeded.
    bool run(const std::function<bool(VHClient *)> &start)
    {
        VHClient *client = device();
        if (!client || !start(client) || !QTest::qWaitFor([&] { return !client->isBusy(); }, 20000))
            return false;
        int code = 0;
        if (!client->actionFailed(code))
            return true;
        // The reason is in the log's last lines.
        qWarning("%s", qPrintable(readTestLog().right(1500)));
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.startIn(m_work));
        m_sim = m_runtime.sim.get();
        QSettings settings(VHEnv::instance()->settingsPath(), QSettings::IniFormat);
        for (const char *model : {"Pacer50CR", "Pacer50", "Pacer60"}) {
            settings.setValue(QStringLiteral("%1/deviceinipath").arg(model), QStringLiteral("/device.ini"));
            settings.setValue(QStringLiteral("%1/apversionpath").arg(model), QStringLiteral("/nimbra/version.ini"));
        }
    }

    void imageUpdateInstalledAtRestart()
    {
        VHSimPacer50Options options;
        options.secondary = true;
        const QString name = create(options);
        QVERIFY(!name.isEmpty());
        connect(name);
        QString text;
        QVERIFY(device()->getModelName(text));
        QCOMPARE(text, QStringLiteral("Pacer50CR"));
        const QString folder = package();
        VHTestPhases phases(device());
        QVERIFY(run([&](VHClient *client) { return client->updateTotal(folder + "/Total.zip", QString()); }));
        QVERIFY2(phases.problem().isEmpty(), qPrintable(phases.problem()));
        QCOMPARE(phases.phases(), (QList<int>{int(VHPhase::Unpack), int(VHPhase::Write), int(VHPhase::Verify)}));
        QVERIFY(QFileInfo::exists(m_sim->drivePath(name) + "/Update.ini"));
        QCOMPARE(restart(name), QStringList{"OS=2.0.0"});
        QVERIFY(device()->getImageVersion(text));
        QCOMPARE(text, QStringLiteral("2.0.0"));
        QVERIFY(QDir(m_sim->drivePath(name)).entryList({"Vel0ra!#@*"}, QDir::Dirs).isEmpty());
        disconnect(name);
    }

    void instructionWithoutChecksumsInstallsNothing()
    {
        const QString name = create({});
        const QString volume = m_sim->deviceFolder(name) + "/volume";
        writeFile(volume + "/Vel0ra!#@5/ALDER.bin", VHDevSim::makeImage("OS", "9.9.9"));
        writeFile(volume + "/Update.ini", VHPacer50Package::updateIni(5, "ALDER.bin"));
        writeFile(volume + "/updating@@!.ini", "1");
        QStringList changes;
        QVERIFY(m_sim->boot(name, &changes));
        QVERIFY(changes.isEmpty());
        QVERIFY(!QFileInfo::exists(volume + "/Update.ini"));
        // The flag stays: the next attach drops the versions (unpluggedMidCopy).
        QVERIFY(QFileInfo::exists(volume + "/updating@@!.ini"));
    }

    // Unplugged for real in the middle of the application copy, after the flag was set.
    void unpluggedMidCopy()
    {
        const QString name = create({});
        connect(name);
        for (const char *spelling : {"Version.ini", "VERSION.ini", "VERSION.INI"})
            writeFile(m_sim->drivePath(name) + "/nimbra/" + spelling, "version=GH1.3.0.7\r\n");
        auto *pacer = dynamic_cast<VHPacer50 *>(device());
        QVERIFY(pacer);
        std::atomic<int> copies{0};
        std::atomic<bool> unplugged{false};
        VHDevSim sim(m_sim->root());
        pacer->setCopyObserver([&, name](const QString &) {
            if (++copies == 2)
                unplugged = sim.unplug(name);
        });
        const QString folder = package();
        QVERIFY(device()->updateAP(folder + "/DeviceAp.zip"));
        QTRY_VERIFY_WITH_TIMEOUT(!device(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!pacer->isBusy(), 20000);
        QVERIFY(unplugged);

        connect(name);
        QCOMPARE(QDir(m_sim->drivePath(name) + "/nimbra").entryList({"*.ini", "*.INI"}, QDir::Files), QStringList());
        QString version;
        QVERIFY(static_cast<VHPacer50 *>(device())->getAPVersion(version));
        QCOMPARE(version, QStringLiteral("GH0.0.0.0"));
        disconnect(name);
    }

    void twoPassRestore()
    {
        const QString name = create({});
        connect(name);
        const QString folder = package();
        std::optional<VHTestPhases> phases(device());
        QVERIFY(run([&](VHClient *client) { return client->restoreFactory(folder); }));
        QCOMPARE(device()->state(), int(VHClient::STATE_MODEL));
        // The first pass ends saying the device restarts; the second pass does not.
        QCOMPARE(phases->phases().last(), int(VHPhase::Waiting));
        phases.reset();
        QVERIFY(QFileInfo::exists(m_sim->drivePath(name) + "/format.ini"));

        QCOMPARE(restart(name), QStringList{"formatted"});
        QVERIFY(!QFileInfo::exists(m_sim->drivePath(name) + "/nimbra"));
        QVERIFY(VHEnv::instance()->restorePending());
        QCOMPARE(device()->state(), int(VHClient::STATE_READY));
        phases.emplace(device());
        QVERIFY(run([&](VHClient *client) { return client->restoreFactory(folder); }));
        QVERIFY(!phases->phases().contains(int(VHPhase::Waiting)));
        QVERIFY(!VHEnv::instance()->restorePending());
        QCOMPARE(device()->state(), int(VHClient::STATE_READY));
        QVERIFY(QFileInfo::exists(m_sim->drivePath(name) + "/launchsec.ini"));
        QString version;
        QVERIFY(static_cast<VHPacer50 *>(device())->getAPVersion(version));
        QCOMPARE(version, QStringLiteral("GH1.4.0.56"));
        QCOMPARE(restart(name), QStringList{"OS=2.0.0"});
        disconnect(name);
    }

    void pacer60NamesItsImage()
    {
        VHSimPacer50Options options;
        options.kind = QStringLiteral("pacer60");
        options.mapVolume = true;
        const QString name = create(options);
        connect(name);
        QString text;
        QVERIFY(device()->getModelName(text));
        QCOMPARE(text, QStringLiteral("Pacer60"));
        VHPacer50PackageBuilder::Options packageOptions;
        packageOptions.imageName = QStringLiteral("OAK");
        packageOptions.imageVersion = QStringLiteral("3.1.0");
        const QString folder = package(packageOptions);
        QVERIFY(run([&](VHClient *client) { return client->updateTotal(folder + "/Total.zip", QString()); }));
        QVERIFY(readFile(m_sim->drivePath(name) + "/Update.ini").contains("/OAK.bin\r\nCRC="));
        QCOMPARE(restart(name), QStringList{"OS=3.1.0"});
        QVERIFY(device()->getImageVersion(text));
        QCOMPARE(text, QStringLiteral("3.1.0"));

        // Map data goes to the labelled volume of this device.
        const QString resources = m_work.filePath(QStringLiteral("maps"));
        QVERIFY(VHPacer50PackageBuilder::writeMapResources(resources, {"Italy^20240101.map"}));
        QVERIFY(run([&](VHClient *client) { return client->updateMapData(resources + "^Pacer60"); }));
        QVERIFY(QFileInfo::exists(m_sim->mapDrivePath(name) + "/data/mapengine/map/Countries/Italy^20240101.map"));
        QVERIFY(QFileInfo::exists(m_sim->mapDrivePath(name) + "/data/mapsinfo/currentMap.xml"));
        disconnect(name);
    }
};

QTEST_GUILESS_MAIN(TestPacer50Road)
#include "tst_Pacer50Road.moc"
