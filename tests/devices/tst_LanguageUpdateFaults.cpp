// The language updates of the 2 MiB (Pacer40) and 1 MiB (Pacer35) families
// under SCSI faults. Each road is run once clean to count its commands; then
// each fault is put at the first command, right after the first block written
// (the old directory is gone, the new one not yet there), a middle and the
// last command. A run may fail, but never reports success unless the area
// holds the new image; the next clean run writes the device's languages again
// (the same set as before, from the listing kept in the data folder when the
// area lost its directory). Faults of the data folder on the listing's write
// stop the update before the area is touched.

#include "VHDevSim.h"
#include "VHEnv.h"
#include "VHLanguageUpdate.h"
#include "VHPSFDevice.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer35.h"
#include "VHSimFileFaults.h"
#include "VHSimLayout.h"
#include "VHSimSCSIService.h"
#include "VHTestEnv.h"
#include "VHTestFaultMatrix.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <map>

namespace {

const QString kName = QStringLiteral("W");
constexpr int kReadInternal = 13;
const QStringList kBefore{QStringLiteral("eng"), QStringLiteral("deu")};

enum class Family { Pacer40, Pacer35 };
enum class Fault { FailCommand, CorruptRead, Vanish, FlashNeverReady, EraseKeepsData };
// Where in the clean road's commands the fault is put.
enum class Step { First, AfterFirstWrite, Middle, Last };

struct Road
{
    Family family = Family::Pacer40;
    qsizetype area = 0;
    QStringList log; // the clean run's commands, in order

    static int selectorOf(const QString &line)
    {
        return line.section(QLatin1String("sel="), 1).section(QLatin1Char(' '), 0, 0).toInt();
    }

    // Commands up to and including `index` with `selector`.
    int countUpTo(int index, int selector) const
    {
        int count = 0;
        for (int i = 0; i <= index; ++i)
            count += selectorOf(log[i]) == selector ? 1 : 0;
        return count;
    }

    int index(Step step) const
    {
        const auto firstWrite = std::find_if(
            log.cbegin(), log.cend(), [](const QString &line) { return line.startsWith(QLatin1String("WRITE")); });
        const int writes = int(firstWrite - log.cbegin());
        switch (step) {
        case Step::First:
            return 0;
        case Step::AfterFirstWrite:
            return writes + 1;
        case Step::Middle:
            return writes + int(log.size() - writes) / 3;
        case Step::Last:
            break;
        }
        return int(log.size()) - 1;
    }
};

const char *familyName(Family family) { return family == Family::Pacer40 ? "Pacer40" : "Pacer35"; }

} // namespace

Q_DECLARE_METATYPE(Family)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(VHFaultRule)

class TestLanguageUpdateFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    struct Bench
    {
        std::unique_ptr<QTemporaryDir> root;
        std::unique_ptr<VHDevSim> sim;
        QString package;
        QByteArray internal; // the flash as created
    };
    std::map<Family, Bench> m_benches;
    QTemporaryDir *m_root = nullptr;
    VHDevSim *m_sim = nullptr;
    std::unique_ptr<VHScsiFlashClient, VHClientDeleter> m_device;
    QString m_package;
    VHSimFileFaults::Attachment m_fileFaults; // the data folder's rules, as the simulated platform has them
    QMap<Family, Road> m_roads;
    QMap<QPair<Family, int>, QList<int>> m_dataSteps; // the listing's steps per rule kind, in the clean road
    qint64 m_faultMs = 0;

    // One simulated device per family for every row: a row starts from its
    // language area as created, plugged, without rules or logs.
    bool makeSimulator(Family family)
    {
        m_device.reset();
        Bench &bench = m_benches[family];
        if (!bench.sim) {
            bench.root = std::make_unique<QTemporaryDir>();
            bench.sim = std::make_unique<VHDevSim>(bench.root->path());
            const bool made = family == Family::Pacer40 ? bench.sim->createPacer40(kName)
                                                        : bench.sim->createPacer30(kName, VHSimPacer30Options());
            bench.package = bench.root->filePath(QStringLiteral("Total.zip"));
            if (!made || !VHPSFLanguagePackBuilder::writePackage(bench.package, {}))
                return false;
            bench.internal = bench.sim->flash(kName, VHDevSim::Flash::Internal);
        }
        m_root = bench.root.get();
        m_sim = bench.sim.get();
        m_package = bench.package;
        m_fileFaults = VHSimFileFaults::attach(m_root->path(), VHEnv::instance()->dataFolder());
        if (!m_sim->isPlugged(kName) && !m_sim->plug(kName))
            return false;
        return VHTestFaultMatrix(*m_sim, kName).clearRules()
               && m_sim->setFlash(kName, VHDevSim::Flash::Internal, bench.internal);
    }

    // A device object over the plugged simulator, as the runtime makes one at each plug.
    bool attach(Family family)
    {
        m_device.reset();
        auto sim = VHSimScsiDevice::open(m_sim->deviceFolder(kName), VHSimLayout::scsiLinkPath(m_root->path(), kName));
        if (!sim)
            return false;
        const bool pacer40 = family == Family::Pacer40;
        auto *service = new VHSimSCSIService(
            std::move(sim),
            pacer40
                ? VHModelInfo{QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("LINDEN"), nullptr}
                : VHModelInfo{QStringLiteral("1101"), QStringLiteral("Pacer35"), QStringLiteral("ASPENS"), nullptr});
        service->setInquiryTags(pacer40 ? "I012" : "I008", pacer40 ? "V012" : "V008");
        m_device.reset(pacer40 ? static_cast<VHScsiFlashClient *>(new VHPSFDevice) : new VHPacer35);
        m_device->setDeviceService(service);
        m_device->setWait([](int) {});
        return m_device->initial();
    }

    QByteArray area(Family family) const
    {
        return m_sim->flash(kName, VHDevSim::Flash::Internal).left(m_roads.value(family).area);
    }

    QByteArray expectedArea(Family family) const
    {
        return VHPSFLanguagePackBuilder::expectedArea({}, kBefore).left(m_roads.value(family).area);
    }

    static VHSimFaults faultAt(const Road &road, Fault fault, Step step)
    {
        const int index = road.index(step);
        const int selector = Road::selectorOf(road.log[index]);
        switch (fault) {
        case Fault::FailCommand:
            return {.failCommand = road.countUpTo(index, selector), .failSelector = selector};
        case Fault::CorruptRead:
            // Every read of the area up to this step answers with a byte inverted.
            return {.corruptReads = std::max(1, road.countUpTo(index, kReadInternal)),
                    .corruptSelector = kReadInternal};
        case Fault::Vanish:
            // Pulled after `index` commands: the step's command is the first to fail.
            return {.vanishAfter = std::max(1, index)};
        case Fault::FlashNeverReady:
            return {.flashNeverReady = true};
        case Fault::EraseKeepsData:
            return {.eraseKeepsData = true};
        }
        return {};
    }

    // The steps (1-based among those a rule counts) that write the listing: in
    // the data folder itself, not in the temporary folder below it.
    static QList<int> listingSteps(const QStringList &counted)
    {
        const QString folder = VHEnv::instance()->dataFolder();
        QList<int> steps;
        for (int i = 0; i < counted.size(); ++i) {
            const QString path = counted[i].section(QLatin1Char(' '), 1);
            if (path == folder || QFileInfo(path).path() == folder)
                steps.append(i + 1);
        }
        return steps;
    }

    // The second run of a row: clean, on a device plugged again, it writes the same languages.
    void nextRunRestores(Family family, const QString &uuid)
    {
        if (!m_sim->isPlugged(kName))
            QVERIFY(m_sim->plug(kName));
        QVERIFY(VHTestFaultMatrix(*m_sim, kName).clearRules());
        QVERIFY(attach(family));
        QVERIFY(m_device->_updateTotal(m_package, QString()));
        QCOMPARE(area(family), expectedArea(family));
        QCOMPARE(VHLanguageUpdate::storedListing(uuid), kBefore);
    }

private slots:
    void initTestCase()
    {
        initTestEnv(m_data.path());
        for (const Family family : {Family::Pacer40, Family::Pacer35}) {
            QVERIFY(makeSimulator(family));
            QVERIFY(attach(family));
            QString uuid; // asked before the faults of a row are set, too
            QVERIFY(m_device->getUUID(uuid));
            VHTestFaultMatrix matrix(*m_sim, kName);
            matrix.clearLogs();
            QVERIFY(m_device->_updateTotal(m_package, QString()));
            for (const VHFaultRule &rule : VHFaultRule::dataFolderRules())
                m_dataSteps.insert({family, int(rule.kind)}, listingSteps(matrix.steps(rule)));
            Road road;
            road.family = family;
            road.area = family == Family::Pacer40 ? VHPSFLanguageImage::kAreaSize : 0x79000;
            road.log = m_sim->commandLog(kName);
            QVERIFY(!road.log.isEmpty());
            m_roads.insert(family, road);
            QCOMPARE(area(family), expectedArea(family));
        }
    }

    void cleanupTestCase()
    {
        m_device.reset();
        std::printf("MEASURED language update fault rows: %lld ms (%d and %d commands per clean road)\n", m_faultMs,
                    int(m_roads.value(Family::Pacer40).log.size()), int(m_roads.value(Family::Pacer35).log.size()));
    }

    void scsiFaults_data()
    {
        QTest::addColumn<Family>("family");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Step>("step");
        const std::pair<Fault, const char *> faults[] = {
            {Fault::FailCommand, "fail command"}, {Fault::CorruptRead, "corrupt read"}, {Fault::Vanish, "vanish"}};
        const std::pair<Step, const char *> steps[] = {{Step::First, "first step"},
                                                       {Step::AfterFirstWrite, "after the first block written"},
                                                       {Step::Middle, "middle step"},
                                                       {Step::Last, "last step"}};
        for (const Family family : {Family::Pacer40, Family::Pacer35}) {
            for (const auto &[fault, faultName] : faults) {
                for (const auto &[step, stepName] : steps)
                    QTest::addRow("%s language update | %s | %s", familyName(family), faultName, stepName)
                        << family << fault << step;
            }
            // The language road neither erases nor polls: these rules find nothing to act on.
            QTest::addRow("%s language update | flash never ready | whole road", familyName(family))
                << family << Fault::FlashNeverReady << Step::First;
            QTest::addRow("%s language update | erase keeps data | whole road", familyName(family))
                << family << Fault::EraseKeepsData << Step::First;
        }
    }

    void scsiFaults()
    {
        QFETCH(Family, family);
        QFETCH(Fault, fault);
        QFETCH(Step, step);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(makeSimulator(family));
        QVERIFY(attach(family));
        QString uuid;
        QVERIFY(m_device->getUUID(uuid));
        QFile::remove(VHLanguageUpdate::listingPath(uuid));
        QVERIFY(m_sim->setFaults(kName, faultAt(m_roads.value(family), fault, step)));
        const bool ok = m_device->_updateTotal(m_package, QString());
        // Success only with the new image in the area, read back equal.
        if (ok)
            QCOMPARE(area(family), expectedArea(family));
        QStringList left;
        const VHLanguageUpdate::Area state =
            VHLanguageUpdate::listing(area(family), VHPSFLanguageImage::kDirectorySize, left);
        std::printf("ROW %s: %s, area left %s\n", QTest::currentDataTag(), ok ? "succeeded" : "failed",
                    state == VHLanguageUpdate::Area::Listed
                        ? qPrintable(QStringLiteral("listing ") + left.join(QLatin1Char(',')))
                        : "without a directory");
        nextRunRestores(family, uuid);
        m_faultMs += timer.elapsed();
    }

    void dataFolderFaults_data()
    {
        QTest::addColumn<Family>("family");
        QTest::addColumn<VHFaultRule>("rule");
        QTest::addColumn<int>("step");
        const QList<VHFaultRule> rules{
            {VHFaultRule::DataFailWrite}, {VHFaultRule::DataFailFsync}, {VHFaultRule::DataFailRename}};
        for (const Family family : {Family::Pacer40, Family::Pacer35}) {
            for (const VHFaultRule &rule : rules) {
                const QList<int> steps = m_dataSteps.value({family, int(rule.kind)});
                QVERIFY2(!steps.isEmpty(), qPrintable(rule.name()));
                for (const int step : steps)
                    QTest::addRow("%s language update | %s | listing step %d", familyName(family),
                                  qPrintable(rule.name()), step)
                        << family << rule << step;
            }
        }
    }

    // The listing is written before the area: a failed write of it writes nothing.
    void dataFolderFaults()
    {
        QFETCH(Family, family);
        QFETCH(VHFaultRule, rule);
        QFETCH(int, step);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(makeSimulator(family));
        QVERIFY(attach(family));
        QString uuid;
        QVERIFY(m_device->getUUID(uuid));
        QFile::remove(VHLanguageUpdate::listingPath(uuid));
        const QByteArray before = area(family);
        VHTestFaultMatrix matrix(*m_sim, kName);
        QVERIFY(matrix.setRule(rule, step));
        const bool ok = m_device->_updateTotal(m_package, QString());
        std::printf("ROW %s: %s\n", QTest::currentDataTag(), ok ? "succeeded" : "failed, area untouched");
        QVERIFY2(!ok, VHTestFaultMatrix::describe(QStringLiteral("language update"), rule, step).constData());
        QCOMPARE(area(family), before);
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE")).isEmpty());
        nextRunRestores(family, uuid);
        m_faultMs += timer.elapsed();
    }
};

QTEST_GUILESS_MAIN(TestLanguageUpdateFaults)
#include "tst_LanguageUpdateFaults.moc"
