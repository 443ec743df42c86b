// Language updates of the Pacer40 and Pacer35 families with a SCSI fault at the first command, right after the
// first block (old directory gone, new not yet there), a middle and the last: no success unless the area holds the
// new image, and the next clean run writes the same languages again. Data-folder faults on the listing's write stop
// the update before the area is touched.

#include "VHDevSim.h"
#include "VHEnv.h"
#include "VHLanguageUpdate.h"
#include "VHPSFDevice.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer35.h"
#include "VHSimFileFaults.h"
#include "VHTestEnv.h"
#include "VHTestFaultMatrix.h"
#include "VHTestSimDevice.h"

#include <QElapsedTimer>
#include <QRegularExpression>
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
    qsizetype area = 0;
    QStringList log; // the clean run's commands, in order

    static int selectorOf(const QString &line)
    {
        return line.section(QLatin1String("sel="), 1).section(QLatin1Char(' '), 0, 0).toInt();
    }

    // Commands up to and including `index` with `selector`.
    int countUpTo(int index, int selector) const
    {
        return int(std::count_if(log.cbegin(), log.cbegin() + index + 1,
                                 [&](const QString &line) { return selectorOf(line) == selector; }));
    }

    int index(Step step) const
    {
        const int writes = int(log.indexOf(QRegularExpression(QStringLiteral("WRITE.*")))); // commands before
        return step == Step::First             ? 0
               : step == Step::AfterFirstWrite ? writes + 1
               : step == Step::Middle          ? writes + int(log.size() - writes) / 3
                                               : int(log.size()) - 1;
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
    struct Bench : VHTestSimDevice
    {
        QString package;
        QByteArray internal; // the flash as created
    };
    std::map<Family, Bench> m_benches;
    Bench *m_bench = nullptr;
    VHDevSim *m_sim = nullptr;
    std::unique_ptr<VHScsiFlashClient, VHClientDeleter> m_device;
    QString m_package;
    VHSimFileFaults::Attachment m_fileFaults; // the data folder's rules, as the simulated platform has them
    QMap<Family, Road> m_roads;
    QMap<QPair<Family, int>, QList<int>> m_dataSteps; // the listing's steps per rule kind, in the clean road
    qint64 m_faultMs = 0;
    QElapsedTimer m_rowTime;

    // One simulated device per family; a row starts from its area as created, plugged, without rules.
    bool makeSimulator(Family family)
    {
        m_device.reset();
        Bench &bench = m_benches[family];
        if (!bench.sim) {
            bench.fresh();
            const bool made = family == Family::Pacer40 ? bench.sim->createPacer40(kName)
                                                        : bench.sim->createPacer30(kName, VHSimPacer30Options());
            bench.package = bench.root->filePath(QStringLiteral("Total.zip"));
            if (!made || !VHPSFLanguagePackBuilder::writePackage(bench.package, {}))
                return false;
            bench.internal = bench.sim->flash(kName, VHDevSim::Flash::Internal);
        }
        m_bench = &bench;
        m_sim = bench.sim.get();
        m_package = bench.package;
        m_fileFaults = VHSimFileFaults::attach(bench.root->path(), VHEnv::instance()->dataFolder());
        if (!m_sim->isPlugged(kName) && !m_sim->plug(kName))
            return false;
        return VHTestFaultMatrix(*m_sim, kName).clearRules()
               && m_sim->setFlash(kName, VHDevSim::Flash::Internal, bench.internal);
    }

    // A device object over the plugged simulator, as the runtime makes one at each plug.
    bool attach(Family family)
    {
        const bool pacer40 = family == Family::Pacer40;
        m_device.reset(pacer40 ? static_cast<VHScsiFlashClient *>(new VHPSFDevice) : new VHPacer35);
        const VHModelInfo row = vhTestSimRow(familyName(family), pacer40 ? "LINDEN" : "ASPENS");
        return m_bench->attach(*m_device, row, pacer40 ? "I012" : "I008", pacer40 ? "V012" : "V008")
               && m_device->initial();
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

    // The steps (1-based among those a rule counts) on the listing in the data folder, not in a temporary below it.
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

    // A row's device attached afresh, its UUID, and no listing kept from an earlier row.
    QString startRow(Family family)
    {
        QString uuid;
        if (makeSimulator(family) && attach(family) && m_device->getUUID(uuid))
            QFile::remove(VHLanguageUpdate::listingPath(uuid));
        return uuid;
    }

    // The second run of a row: clean, on a device plugged again, it writes the same languages.
    void nextRunRestores(Family family, const QString &uuid)
    {
        QVERIFY(m_sim->isPlugged(kName) || m_sim->plug(kName));
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
            const Road road{family == Family::Pacer40 ? VHPSFLanguageImage::kAreaSize : 0x79000,
                            m_sim->commandLog(kName)};
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

    void init() { m_rowTime.start(); }
    void cleanup() { m_faultMs += m_rowTime.elapsed(); }

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
            for (const auto &[fault, faultName] : {std::pair{Fault::FlashNeverReady, "flash never ready"},
                                                   std::pair{Fault::EraseKeepsData, "erase keeps data"}})
                QTest::addRow("%s language update | %s | whole road", familyName(family), faultName)
                    << family << fault << Step::First;
        }
    }

    void scsiFaults()
    {
        QFETCH(Family, family);
        QFETCH(Fault, fault);
        QFETCH(Step, step);
        const QString uuid = startRow(family);
        QVERIFY(!uuid.isEmpty());
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
    }

    void dataFolderFaults_data()
    {
        QTest::addColumn<Family>("family");
        QTest::addColumn<VHFaultRule>("rule");
        QTest::addColumn<int>("step");
        for (const Family family : {Family::Pacer40, Family::Pacer35}) {
            for (const VHFaultRule &rule : VHFaultRule::dataFolderRules().mid(0, 3)) { // write, fsync, rename
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
        const QString uuid = startRow(family);
        QVERIFY(!uuid.isEmpty());
        const QByteArray before = area(family);
        QVERIFY(VHTestFaultMatrix(*m_sim, kName).setRule(rule, step));
        const bool ok = m_device->_updateTotal(m_package, QString());
        std::printf("ROW %s: %s\n", QTest::currentDataTag(), ok ? "succeeded" : "failed, area untouched");
        QVERIFY2(!ok, VHTestFaultMatrix::describe(QStringLiteral("language update"), rule, step).constData());
        QCOMPARE(area(family), before);
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE")).isEmpty());
        nextRunRestores(family, uuid);
    }
};

QTEST_GUILESS_MAIN(TestLanguageUpdateFaults)
#include "tst_LanguageUpdateFaults.moc"
