// Every family as the updater window meets it: the runtime started with the
// built-in rows and both identity files finds each simulated device, which
// then reports a version the update server's can be compared with and the
// jobs the window offers for it.

#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHTestEnv.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

int bits(VHJobs jobs) { return int(jobs.toInt()); }

const int kVolumeJobs = bits(VHJob::SoftwareUpdate | VHJob::FactoryRestore);
const int kFlashJobs = bits(VHJob::SoftwareUpdate | VHJob::Languages | VHJob::FactoryRestore | VHJob::Backups);

// One simulated device of `family` ("fit", "gal", "pacer50", "pacer40", "pacer30"), plugged.
bool plugDevice(VHDevSim &sim, const QString &family, const QString &model, int updateMethod)
{
    const QString name = QStringLiteral("dev");
    bool made = false;
    if (family == QLatin1String("fit")) {
        VHDevSim::FitIdentity identity;
        identity.model = model;
        made = sim.createFit(name, identity);
    } else if (family == QLatin1String("gal")) {
        VHDevSim::GalIdentity identity;
        identity.model = model;
        identity.uuid = (model == QLatin1String("Pacer21") ? "1207" : "1206") + QStringLiteral("A1B2C3D4E5F6");
        identity.updateMethod = updateMethod;
        made = sim.createGal(name, identity);
    } else if (family == QLatin1String("pacer50")) {
        VHSimPacer50Options options;
        options.kind = model.toLower();
        made = sim.createPacer50(name, options);
    } else if (family == QLatin1String("pacer40")) {
        made = sim.createPacer40(name);
    } else {
        VHSimPacer30Options options;
        options.model = model;
        made = sim.createPacer30(name, options);
    }
    return made && sim.plug(name);
}

} // namespace

class TestDeviceFamilies : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;

private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        initTestEnv(m_data.path());
        VHDeviceFamilies::registerAll();
    }

    void everyFamilyIsFoundWithAVersionAndItsJobs_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("updateMethod");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("jobs");
        // FIT: its image versions joined, as its packages name them.
        QTest::newRow("FIT Pacer70") << "fit"
                                     << "Pacer70" << 0 << "1.00.00.1.00.0100.10.100.100"
                                     << bits(VHJob::SoftwareUpdate | VHJob::AssistData | VHJob::Workouts);
        QTest::newRow("GAL Pacer21") << "gal"
                                     << "Pacer21" << 1 << "110" << bits(VHJob::SoftwareUpdate);
        QTest::newRow("GAL Pacer20plus, two passes") << "gal"
                                                     << "Pacer20plus" << 2 << "110" << kVolumeJobs;
        QTest::newRow("Pacer50") << "pacer50"
                                 << "Pacer50" << 0 << "1.0.0" << kVolumeJobs;
        QTest::newRow("Pacer50CR") << "pacer50"
                                   << "Pacer50CR" << 0 << "1.0.0" << kVolumeJobs;
        QTest::newRow("Pacer60") << "pacer50"
                                 << "Pacer60" << 0 << "1.0.0" << kVolumeJobs;
        QTest::newRow("Pacer40") << "pacer40"
                                 << "Pacer40" << 0 << "V012" << kFlashJobs;
        QTest::newRow("Pacer35") << "pacer30"
                                 << "Pacer35" << 0 << "V008" << kFlashJobs;
        QTest::newRow("Pulsar30") << "pacer30"
                                  << "Pulsar30" << 0 << "V008" << kFlashJobs;
        QTest::newRow("Pulsar35") << "pacer30"
                                  << "Pulsar35" << 0 << "V008" << kFlashJobs;
        QTest::newRow("Pacer20") << "pacer30"
                                 << "Pacer20" << 0 << "V008" << kFlashJobs;
    }
    void everyFamilyIsFoundWithAVersionAndItsJobs()
    {
        QFETCH(QString, family);
        QFETCH(QString, model);
        QFETCH(int, updateMethod);
        QTemporaryDir root;
        qputenv("VELORA_SIM_ROOT", root.path().toUtf8());
        VHDevSim sim(root.path());
        QVERIFY2(plugDevice(sim, family, model, updateMethod), qPrintable(sim.lastError()));
        VHDaemon daemon;
        daemon.deviceManager()->setDeviceClassFlags(VHDeviceManagerInterface::kIdentifyByEitherFile);
        QVERIFY(daemon.start(true));
        VHClient *device = daemon.currentDevice();
        QVERIFY(device);
        QString name;
        QVERIFY(device->getModelName(name));
        QCOMPARE(name, model);
        QString version;
        QVERIFY(device->getVersion(version));
        QTEST(version, "version");
        QTEST(bits(device->offeredJobs()), "jobs");
    }
};

QTEST_GUILESS_MAIN(TestDeviceFamilies)
#include "tst_DeviceFamilies.moc"
