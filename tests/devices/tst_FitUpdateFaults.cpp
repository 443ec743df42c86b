// Volume faults on a FIT software update at the first, middle and last step of their kind and right after
// "/update.ini" took its name: no success or instruction file over images not whole, no image copied that is not
// newer, and a clean second run brings the package's versions.

#include "VHDaemon.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHFitDevice.h"
#include "VHFitRoad.h"
#include "VHIniDocument.h"
#include "VHPlatform.h"
#include "VHSimPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFaultMatrix.h"
#include "VHTestFiles.h"
#include "VHVersion.h"
#include "VHZipUtil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

using FitPtr = std::unique_ptr<VHFitDevice, VHClientDeleter>;

// Where the fault is set: before the device is found (its identity file is read then), or before the update.
const QString kConnect = QStringLiteral("connect");
const QString kUpdate = QStringLiteral("update");

} // namespace

class TestFitUpdateFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHFitRoad> m_road;
    QString m_images;                  // the package unpacked: what a whole image holds
    QStringList m_newer;               // the images newer than the device's
    QHash<QString, QString> m_after;   // kind -> version once the newer images are installed
    QHash<QString, QStringList> m_log; // road -> the counted operations of a clean run

    static VHFitRoad::Options roadOptions(const QString &work)
    {
        VHFitRoad::Options options;
        options.work = work;
        options.serve = false;
        options.before.os = QStringLiteral("1.9.00");
        // OS and Bluetooth are newer, the time zones older: they must stay on the device.
        options.package.images = VHFitPackageBuilder::imagesWithVersions(
            QStringLiteral("1.10.00"), QStringLiteral("B1.00"), QStringLiteral("DL0100"), QStringLiteral("NL100"),
            QStringLiteral("TZ099"), QStringLiteral("BT11"));
        return options;
    }

    VHDevSim &sim() { return m_road->sim(); }
    QString name() const { return m_road->options().device; }
    QString volume() const { return m_road->volumePath(); }

    // The device as the drive scan finds it (its identity file read and marked there).
    FitPtr connect()
    {
        VHDaemon *daemon = VHDaemon::instance();
        VHServiceList found = daemon->platform()->findFSDevices(daemon->deviceManager());
        if (found.empty())
            return nullptr;
        FitPtr device(new VHFitDevice);
        device->setDeviceService(found.front().release());
        return device;
    }

    QString update(VHFitDevice &device)
    {
        int code = -1;
        const bool ok = runAction(
            device, [&] { return device.updateTotal(m_road->packagePath(), QString()); }, &code);
        return QStringLiteral("%1 %2").arg(ok ? "ok" : "failed").arg(code);
    }

    bool freshDevice() { return m_road->recreateDevice() && m_road->plug(); }

    VHTestFaultMatrix matrix() { return VHTestFaultMatrix(sim(), name()); }

    // The operations a clean run of `road` counts.
    QStringList countRoad(const QString &road)
    {
        if (!freshDevice())
            return {};
        sim().clearVolumeLog(name());
        FitPtr device = connect();
        if (road == kUpdate)
            sim().clearVolumeLog(name());
        if (!device || update(*device) != QLatin1String("ok 0"))
            return {};
        return sim().volumeLog(name());
    }

    // The first, middle and last steps of `kind`, and the first after "/update.ini" took its name.
    static QList<QPair<QString, int>> stepsOf(const QStringList &log, const QString &kind)
    {
        int count = 0, afterNoReturn = 0;
        bool pastNoReturn = false;
        for (const QString &line : log) {
            if (kind.isEmpty() || line.startsWith(kind + QLatin1Char(' '))) {
                ++count;
                afterNoReturn = pastNoReturn && !afterNoReturn ? count : afterNoReturn;
            }
            if (line.startsWith(QLatin1String("rename ")) && line.endsWith(QLatin1String("/update.ini")))
                pastNoReturn = true;
        }
        QList<QPair<QString, int>> steps;
        for (const int step : VHTestFaultMatrix::pickSteps(count, {afterNoReturn}))
            steps.append({step == 1                 ? "first"
                          : step == (count + 1) / 2 ? "middle"
                          : step == count           ? "last"
                                                    : "after no return",
                          step});
        return steps;
    }

    bool isWhole(const QString &image) const
    {
        return readFile(volume() + QLatin1Char('/') + image) == readFile(m_images + QLatin1Char('/') + image);
    }

    // What no fault may leave behind.
    void verifySound(const QString &outcome)
    {
        const QStringList files = QDir(volume()).entryList(QDir::Files | QDir::Hidden);
        const bool instructed = files.contains(QStringLiteral("update.ini"));
        for (const QString &file : files) {
            // Temporaries of a cut write go at the next write; ".simdrive" is the simulator's.
            const bool known =
                m_newer.contains(file) || file == QLatin1String("update.ini") || file == QLatin1String(".simdrive");
            QVERIFY2(known || file.startsWith(QLatin1String(".vhtmp-")), qPrintable("copied: " + file));
        }
        for (const QString &image : std::as_const(m_newer)) {
            if (outcome.startsWith(QLatin1String("ok")) || instructed)
                QVERIFY2(isWhole(image), qPrintable(image + " not whole, outcome " + outcome));
        }
        if (outcome.startsWith(QLatin1String("ok")))
            QVERIFY(instructed);
    }

    // A clean run, then the device's restart: it reports the package's versions where they are newer.
    void verifyNextRunFinishes()
    {
        QVERIFY(matrix().clearRules());
        if (!sim().isPlugged(name()))
            QVERIFY(m_road->plug());
        FitPtr device = connect();
        QVERIFY(device);
        QCOMPARE(update(*device), QStringLiteral("ok 0"));
        verifySound(QStringLiteral("ok 0"));
        if (QTest::currentTestFailed())
            return;
        device.reset();
        QVERIFY(m_road->unplug());
        QVERIFY(m_road->boot());
        const VHIniDocument identity(readFile(volume() + QStringLiteral("/System/device.txt")));
        for (auto it = m_after.cbegin(); it != m_after.cend(); ++it)
            QCOMPARE(identity.value(it.key(), QStringLiteral("Version")), it.value());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_road = std::make_unique<VHFitRoad>(roadOptions(m_work.path()));
        QVERIFY2(m_road->prepare(), qPrintable(m_road->lastError()));
        initTestEnv(m_road->xdgRoot());
        VHDeviceFamilies::registerAll();
        VHDaemon::instance()->platform()->setBackend(std::make_unique<VHSimPlatform>(m_road->simRoot()));
        VHDaemon::instance()->deviceManager()->setDeviceClassFlags(4);

        m_images = m_work.filePath(QStringLiteral("images"));
        QVERIFY(VHZipUtil().decompress(m_road->packagePath(), m_images));
        const VHSimFitIdentity &before = m_road->options().before;
        const QHash<QString, QString> device{{"OS", before.os},
                                             {"BootLoader", before.bootLoader},
                                             {"DeviceLang", before.deviceLang},
                                             {"NotificationLang", before.notificationLang},
                                             {"TimeZone", before.timeZone},
                                             {"Bluetooth", before.bluetooth}};
        for (const VHFitPackageBuilder::Image &image : m_road->options().package.images) {
            const bool newer = VHVersion::isOlder(device.value(image.kind), image.version);
            if (newer)
                m_newer << image.name;
            m_after.insert(image.kind, newer ? image.version : device.value(image.kind));
        }
        QCOMPARE(m_newer, (QStringList{"os.bin", "bt.bin"}));
        for (const QString &road : {kConnect, kUpdate}) {
            m_log.insert(road, countRoad(road));
            QVERIFY2(!m_log.value(road).isEmpty(), qPrintable(road));
        }
    }

    void faultOnTheRoad_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<int>("rule");
        QTest::addColumn<int>("step");
        QList<QPair<QString, VHFaultRule>> rows{{kConnect, {VHFaultRule::VolumeCorruptRead}}};
        for (const VHFaultRule &rule : VHFaultRule::volumeRules())
            rows.append({kUpdate, rule});
        for (const auto &[road, rule] : rows) {
            // Before the device is found only the identity file is read: its reads are the steps.
            const QStringList log =
                road == kConnect ? m_log.value(road).filter(QStringLiteral("/System/device.txt")) : m_log.value(road);
            for (const auto &[label, step] : stepsOf(log, VHTestFaultMatrix::stepKind(rule.kind)))
                QTest::addRow("%s | %s | %s %d", qPrintable(road), qPrintable(rule.name()), qPrintable(label), step)
                    << road << int(rule.kind) << step;
        }
    }
    void faultOnTheRoad()
    {
        QFETCH(QString, road);
        QFETCH(int, rule);
        QFETCH(int, step);
        QVERIFY(freshDevice());
        const VHFaultRule fault{VHFaultRule::Kind(rule)};
        if (road == kConnect)
            QVERIFY(matrix().setRule(fault, step));
        FitPtr device = connect();
        QVERIFY(device);
        if (road == kUpdate)
            QVERIFY(matrix().setRule(fault, step));
        const QString outcome = update(*device);
        verifySound(outcome);
        if (QTest::currentTestFailed())
            return;
        if (fault.kind == VHFaultRule::VolumeNoSpaceFrom)
            QCOMPARE(outcome, QStringLiteral("failed 3")); // not enough space, not "copy failed"
        if (fault.kind == VHFaultRule::VolumeVanishAt)
            QVERIFY(outcome.startsWith(QLatin1String("failed")));
        if (fault.kind == VHFaultRule::VolumeCorruptRead) // a bad read of good data is read again
            QCOMPARE(outcome, QStringLiteral("ok 0"));
        device.reset();
        verifyNextRunFinishes();
    }
};

QTEST_GUILESS_MAIN(TestFitUpdateFaults)
#include "tst_FitUpdateFaults.moc"
