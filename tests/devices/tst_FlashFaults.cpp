// Faults at the first, middle and last command of their kind and right after the erase, one table per road that
// erases or rewrites a watch's flash: success only with the clean run's flash, every backup a good state, and a clean
// rerun (or the last backup written back) brings the flash back byte for byte.

#include "VHDevSim.h"
#include "VHEnv.h"
#include "VHPSFDevice.h"
#include "VHPacer30ImageBuilder.h"
#include "VHPacer35.h"
#include "VHPulsar30.h"
#include "VHSimFileFaults.h"
#include "VHSimLayout.h"
#include "VHTestEnv.h"
#include "VHTestFaultMatrix.h"
#include "VHTestFiles.h"
#include "VHTestSimDevice.h"
#include "VHTestZip.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

const QString kName = QStringLiteral("W");

enum class Road { Pacer40Restore, Pacer40Finalize, Pacer30WriteBack, Pacer30Loader, Pulsar30Image };
// DataFolder: a rule of the data folder (where backups and work files go), its kind in the selector column.
enum class Fault { None, FailCommand, CorruptRead, Vanish, NeverReady, EraseKeeps, DataFolder };

struct Flashes
{
    QByteArray internal, external, loader;
    bool operator==(const Flashes &) const = default;
};

struct RoadShape
{
    const char *name;
    QList<int> selectors; // whose commands are failed one at a time
    int readSelector;     // whose answers are corrupted; -1 none (the loader's reads are its readiness polls)
    bool erases;
};

const RoadShape &shapeOf(Road road)
{
    static const RoadShape shapes[] = {{"Pacer40 restore", {14, 15, 16}, 16, true},
                                       {"Pacer40 finalize", {14, 15, 16}, 16, true},
                                       {"Pacer30 write-back", {14, 15, 16}, 16, true},
                                       {"Pacer30 loader", {12, 1, 10, 0}, -1, false},
                                       {"Pulsar30 image", {16, 14, 12, 13}, 13, true}};
    return shapes[int(road)];
}

const char *faultName(Fault fault)
{
    static const char *names[] = {
        "clean", "fail", "corrupt read", "vanish", "flash never ready", "erase keeps data", "data folder"};
    return names[int(fault)];
}

} // namespace

Q_DECLARE_METATYPE(Road)
Q_DECLARE_METATYPE(Fault)

class TestFlashFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    VHTestSimDevice m_bench;
    VHDevSim *m_sim = nullptr;
    std::unique_ptr<VHScsiFlashClient, VHClientDeleter> m_device;
    QString m_restoreFrom; // the Pacer40 restore road's backup
    QByteArray m_good;     // the sound external flash before the road
    QHash<int, Flashes> m_expected;
    QHash<int, Flashes> m_made; // the flashes of the device the road's table runs on
    VHSimFileFaults::Attachment m_fileFaults;
    QElapsedTimer m_faultTime;

    Flashes flashes() const
    {
        return {m_sim->flash(kName, VHDevSim::Flash::Internal), m_sim->flash(kName, VHDevSim::Flash::External),
                m_sim->flash(kName, VHDevSim::Flash::Loader)};
    }

    static bool isPacer40(Road road) { return road == Road::Pacer40Restore || road == Road::Pacer40Finalize; }

    // The road's device as it was made: its flashes put back, its state and rules gone.
    bool createDevice(Road road)
    {
        m_device.reset();
        for (const QString &old : QDir(VHEnv::instance()->dataFolder()).entryList({QStringLiteral("*.dat")}))
            QFile::remove(VHEnv::instance()->dataFolder() + QLatin1Char('/') + old);
        if (!m_made.contains(int(road)))
            return makeDevice(road);
        const Flashes &made = m_made[int(road)];
        QFile::remove(m_sim->deviceFolder(kName) + QLatin1Char('/') + VHSimLayout::kDeviceState);
        const bool reset = m_sim->setFaults(kName, {}) && m_sim->setDataFolderFaults({})
                           && m_sim->setFlash(kName, VHDevSim::Flash::Internal, made.internal)
                           && m_sim->setFlash(kName, VHDevSim::Flash::External, made.external)
                           && m_sim->setFlash(kName, VHDevSim::Flash::Loader, made.loader);
        return reset && (m_sim->isPlugged(kName) || m_sim->plug(kName)) && attach(road);
    }

    bool makeDevice(Road road)
    {
        m_fileFaults = {};
        m_sim = &m_bench.fresh();
        m_fileFaults = VHSimFileFaults::attach(m_bench.root->path(), VHEnv::instance()->dataFolder());
        m_made.clear();
        VHSimPacer30Options options;
        options.model = road == Road::Pulsar30Image ? QStringLiteral("Pulsar30") : QStringLiteral("Pacer35");
        options.productTag = road == Road::Pulsar30Image ? "V002" : "V008"; // an image update that erases
        if (!(isPacer40(road) ? m_sim->createPacer40(kName) : m_sim->createPacer30(kName, options)))
            return false;
        m_made.insert(int(road), flashes());
        return m_sim->plug(kName) && attach(road);
    }

    bool attach(Road road)
    {
        const QString model = isPacer40(road)               ? QStringLiteral("Pacer40")
                              : road == Road::Pulsar30Image ? QStringLiteral("Pulsar30")
                                                            : QStringLiteral("Pacer35");
        m_device.reset(isPacer40(road)               ? static_cast<VHScsiFlashClient *>(new VHPSFDevice)
                       : road == Road::Pulsar30Image ? static_cast<VHScsiFlashClient *>(new VHPulsar30)
                                                     : static_cast<VHScsiFlashClient *>(new VHPacer35));
        const VHModelInfo row = vhTestSimRow(model, isPacer40(road) ? QStringLiteral("LINDEN") : QString());
        return m_bench.attach(*m_device, row, "I008", road == Road::Pulsar30Image ? "V002" : "V008")
               && m_device->initial();
    }

    QString package(Road road) const
    {
        const QString path = m_data.filePath(road == Road::Pacer30Loader ? "iap.zip" : "image.zip");
        if (QFileInfo::exists(path))
            return path;
        const bool written = road == Road::Pacer30Loader ? VHPacer30ImageBuilder::writeLoaderZip(path, {})
                                                         : VHPacer30ImageBuilder::writePulsar30ImageZip(path, {});
        return written ? path : QString();
    }

    // What the road needs before it starts, on a device that just attached.
    bool prepare(Road road)
    {
        m_good = m_sim->flash(kName, VHDevSim::Flash::External);
        if (road != Road::Pacer40Restore)
            return true;
        QByteArray read;
        if (m_device->takeCheckedBackup(read) != VHScsiFlashClient::Backup::Kept)
            return false;
        m_restoreFrom = m_device->latestBackup();
        // The flash the backup replaces: its store half gone.
        QByteArray damaged = m_good;
        damaged.replace(0, 0x40000, QByteArray(0x40000, char(0xFF)));
        return m_sim->setFlash(kName, VHDevSim::Flash::External, damaged);
    }

    bool runRoad(Road road)
    {
        switch (road) {
        case Road::Pacer40Restore:
            return m_device->_restoreBackup(m_restoreFrom);
        case Road::Pacer40Finalize: {
            auto *psf = static_cast<VHPSFDevice *>(m_device.get());
            QVariantList routes; // the change: one route fewer
            return psf->getPSFRoute(routes) && !routes.isEmpty() && psf->deleteRoutes({routes.first()})
                   && psf->_finalize();
        }
        case Road::Pacer30WriteBack: {
            auto *pacer = static_cast<VHPacer30 *>(m_device.get());
            if (!pacer->readPSF())
                return false;
            pacer->setDataChanged(true);
            return pacer->_finalize();
        }
        case Road::Pacer30Loader:
            return static_cast<VHPacer30 *>(m_device.get())->updateLaunchsec(package(road));
        case Road::Pulsar30Image:
            return static_cast<VHPulsar30 *>(m_device.get())->_updateTotal(package(road), QString());
        }
        return false;
    }

    // The clean run: the flashes it leaves and its commands.
    bool cleanRun(Road road, QStringList &commands)
    {
        if (!createDevice(road) || !prepare(road))
            return false;
        VHTestFaultMatrix(*m_sim, kName).clearLogs();
        const bool ok = runRoad(road);
        commands = m_sim->commandLog(kName);
        m_expected.insert(int(road), flashes());
        return ok;
    }

    void addRow(Road road, Fault fault, int selector, int step, const QString &where)
    {
        QTest::addRow("%s / %s sel=%d / %s", shapeOf(road).name, faultName(fault), selector, qPrintable(where))
            << road << fault << selector << step;
    }

    // Rows at the first, middle and last of `count` steps and at `extra`.
    void addSteps(Road road, Fault fault, int selector, int count, const char *where, const QList<int> &extra = {})
    {
        for (int step : VHTestFaultMatrix::pickSteps(count, extra))
            addRow(road, fault, selector, step, QString::fromLatin1(where).arg(step).arg(count));
    }

    void faultTable(Road road)
    {
        QTest::addColumn<Road>("road");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("selector");
        QTest::addColumn<int>("step");
        QStringList commands;
        if (!cleanRun(road, commands))
            QFAIL("the clean road failed");
        addRow(road, Fault::None, -1, 0, QStringLiteral("none"));
        const RoadShape &shape = shapeOf(road);
        const auto count = [&](const QString &pattern, int selector) {
            return int(commands.filter(pattern.arg(selector)).size());
        };
        for (int selector : shape.selectors)
            addSteps(road, Fault::FailCommand, selector, count(QStringLiteral(" sel=%1 "), selector), "%1 of %2");
        if (shape.readSelector >= 0)
            addSteps(road, Fault::CorruptRead, shape.readSelector,
                     count(QStringLiteral("READ sel=%1 "), shape.readSelector), "%1 of %2");
        // indexOf() wants the whole line to match.
        const int erase = int(commands.indexOf(QRegularExpression(QStringLiteral(".* sel=14 .*"))));
        addSteps(road, Fault::Vanish, -1, int(commands.size()), "after %1 of %2", {erase + 1}); // and after the erase
        if (shape.erases) {
            addRow(road, Fault::NeverReady, -1, 0, QStringLiteral("always"));
            addRow(road, Fault::EraseKeeps, -1, 0, QStringLiteral("always"));
        }
        if (road == Road::Pacer40Restore || road == Road::Pacer30Loader)
            return; // they keep no backup
        for (const VHFaultRule &rule : VHFaultRule::dataFolderRules()) {
            const int count = VHTestFaultMatrix(*m_sim, kName).countSteps(rule); // in the clean run's log
            for (int step : VHTestFaultMatrix::pickSteps(count))
                QTest::addRow("%s / %s / %d of %d", shapeOf(road).name, qPrintable(rule.name()), step, count)
                    << road << Fault::DataFolder << int(rule.kind) << step;
        }
    }

    static VHSimFaults faultsFor(Fault fault, int selector, int step)
    {
        switch (fault) {
        case Fault::FailCommand:
            return {.failCommand = step, .failSelector = selector};
        case Fault::CorruptRead:
            return {.corruptReads = 1, .corruptSelector = selector, .corruptAfter = step - 1};
        case Fault::Vanish:
            return {.vanishAfter = step};
        case Fault::NeverReady:
            return {.flashNeverReady = true};
        case Fault::EraseKeeps:
            return {.eraseKeepsData = true};
        default:
            return {}; // clean, or a data-folder rule
        }
    }

    // Every backup kept is the good state of the device before the road.
    void checkBackups(Road road)
    {
        for (const QString &path : m_device ? m_device->ownBackups() : QStringList())
            QVERIFY2(readFile(path) == m_good,
                     qPrintable(QStringLiteral("a backup holds neither good state: ") + path));
        if (road == Road::Pacer40Restore)
            QCOMPARE(readFile(m_restoreFrom), m_good);
    }

    // After a failed road: the clean rerun or the last backup brings the flash back.
    void checkRecovery(Road road)
    {
        QVERIFY(m_sim->setFaults(kName, {}));
        QVERIFY(m_sim->isPlugged(kName) || m_sim->plug(kName));
        const bool untouched = m_sim->flash(kName, VHDevSim::Flash::External) == m_good;
        attach(road); // an erased store may not attach: the recovery still runs
        QString latest = m_device->latestBackup();
        switch (road) {
        case Road::Pacer40Restore:
        case Road::Pacer30Loader:
            QVERIFY(runRoad(road));
            QVERIFY(flashes() == m_expected.value(int(road)));
            std::printf("OUTCOME %s | failed; the rerun completed it\n", QTest::currentDataTag());
            break;
        case Road::Pulsar30Image:
            QVERIFY(runRoad(road));
            QCOMPARE(m_sim->flash(kName, VHDevSim::Flash::Internal), m_expected.value(int(road)).internal);
            checkBackups(road);
            // The rerun backs up a flash the faulty run left whole, never an erased one.
            latest = m_device->latestBackup();
            QVERIFY(!latest.isEmpty());
            [[fallthrough]];
        case Road::Pacer40Finalize:
        case Road::Pacer30WriteBack:
            if (latest.isEmpty() || m_sim->flash(kName, VHDevSim::Flash::External) == m_good) {
                // Nothing was backed up: then nothing was erased either.
                QCOMPARE(m_sim->flash(kName, VHDevSim::Flash::External), m_good);
                std::printf("OUTCOME %s | failed; %s\n", QTest::currentDataTag(),
                            untouched ? "nothing erased" : "the rerun left the flash whole");
            } else {
                QCOMPARE(readFile(latest), m_good);
                QVERIFY(m_device->_restoreBackup(latest));
                QCOMPARE(m_sim->flash(kName, VHDevSim::Flash::External), m_good);
                std::printf("OUTCOME %s | failed; %s; the last backup restored it\n", QTest::currentDataTag(),
                            untouched ? "nothing erased" : "erased");
            }
            break;
        }
    }

    void runFaultRow()
    {
        QFETCH(Road, road);
        QFETCH(Fault, fault);
        QFETCH(int, selector);
        QFETCH(int, step);
        QVERIFY(createDevice(road));
        QVERIFY(prepare(road));
        if (fault == Fault::DataFolder)
            QVERIFY(VHTestFaultMatrix(*m_sim, kName).setRule({VHFaultRule::Kind(selector)}, step));
        else
            QVERIFY(m_sim->setFaults(kName, faultsFor(fault, selector, step)));
        m_sim->clearCommandLog(kName);
        const bool ok = runRoad(road);
        QVERIFY(m_sim->setDataFolderFaults({}));
        if (fault == Fault::None)
            QVERIFY(ok);
        if (ok) // done means written and verified
            QVERIFY2(flashes() == m_expected.value(int(road)),
                     "success reported for a flash the clean road did not leave");
        // Erases that kept data or never finished are never done; the 1 MiB family does not ask whether it is ready.
        if (fault == Fault::EraseKeeps)
            QVERIFY(!ok);
        if (fault == Fault::NeverReady)
            QCOMPARE(ok, !isPacer40(road));
        checkBackups(road);
        if (fault == Fault::NeverReady)
            QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE sel=14 ")).size() <= 1);
        if (ok)
            std::printf("OUTCOME %s | done and verified\n", QTest::currentDataTag());
        else
            checkRecovery(road);
    }

private slots:
    void initTestCase()
    {
        initTestEnv(m_data.path());
        m_faultTime.start();
    }
    void cleanup() { m_device.reset(); }
    void cleanupTestCase() { std::printf("MEASURED fault tables %lld ms\n", qint64(m_faultTime.elapsed())); }

    void pacer40Restore_data() { faultTable(Road::Pacer40Restore); }
    void pacer40Restore() { runFaultRow(); }
    void pacer40Finalize_data() { faultTable(Road::Pacer40Finalize); }
    void pacer40Finalize() { runFaultRow(); }
    void pacer30WriteBack_data() { faultTable(Road::Pacer30WriteBack); }
    void pacer30WriteBack() { runFaultRow(); }
    void pacer30Loader_data() { faultTable(Road::Pacer30Loader); }
    void pacer30Loader() { runFaultRow(); }
    void pulsar30Image_data() { faultTable(Road::Pulsar30Image); }
    void pulsar30Image() { runFaultRow(); }
};

QTEST_GUILESS_MAIN(TestFlashFaults)
#include "tst_FlashFaults.moc"
