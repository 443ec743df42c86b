// The Pacer50 update and two-pass restore through the runtime with one volume or data-folder (restore request) fault
// at the first, middle and last operation of its kind and right after "/Update.ini" and "/format.ini": no success for
// data not written and verified, no "/Update.ini" naming a bad folder, and the next run brings the package's versions.

#include "VHDaemon.h"
#include "VHEnv.h"
#include "VHPacer50.h"
#include "VHPacer50PackageBuilder.h"
#include "VHPacer50RestoreRequest.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFaultMatrix.h"
#include "VHTestFiles.h"
#include "VHTestIni.h"
#include "VHTestSimRuntime.h"
#include "VHZipUtil.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

const QString kUpdate = QStringLiteral("update");
const QString kRestore = QStringLiteral("restore");
// What a road may come to under a fault; anything else fails the row.
const QString kWritten = QStringLiteral("update written");
const QString kUpdateFailed = QStringLiteral("update failed, no Update.ini naming a bad folder");
const QString kRestored = QStringLiteral("restored");
const QString kFirstPassFailed = QStringLiteral("first pass failed, no request without format.ini");
const QString kSecondPassFailed = QStringLiteral("second pass failed, request kept");
const QString kAskedAgain = QStringLiteral("request unreadable, format asked again");
const QStringList kAcceptable = {kWritten, kUpdateFailed, kRestored, kFirstPassFailed, kSecondPassFailed, kAskedAgain};
const QByteArray kImageVersion = "2.0.0";
const QString kApVersion = QStringLiteral("GH1.4.0.56");
// The first, middle and last of the steps a rule counts whose lines contain `on`.
QList<int> stepsOn(const QStringList &counted, const QString &on)
{
    QList<int> steps;
    for (qsizetype i = 0; i < counted.size(); ++i) {
        if (counted.at(i).contains(on))
            steps.append(int(i) + 1);
    }
    if (steps.isEmpty())
        return steps;
    QList<int> picked{steps.first(), steps.at(steps.size() / 2), steps.last()};
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    return picked;
}

// The first step of `rule` in the volume log after the rename that gave `point` its content; 0 without one.
int stepAfter(const QStringList &volumeLog, const VHFaultRule &rule, const QString &point)
{
    const QString kind = VHTestFaultMatrix::stepKind(rule.kind);
    int seen = 0;
    for (const QString &line : volumeLog) {
        if (kind.isEmpty() || line.startsWith(kind + QLatin1Char(' ')))
            ++seen;
        if (line.startsWith(QLatin1String("rename ")) && line.endsWith(point))
            return seen + 1;
    }
    return 0;
}

// The roads flush hundreds of times: on a memory file system the table times the code, not the disk.
QString workTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? QStringLiteral("/dev/shm/tst_Pacer50Faults-XXXXXX")
                                           : QDir::tempPath() + QStringLiteral("/tst_Pacer50Faults-XXXXXX");
}

} // namespace

class TestPacer50Faults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work{workTemplate()};
    VHTestSimRuntime m_runtime;
    VHDevSim *m_sim = nullptr;
    QString m_package;
    QString m_uuid;          // of the fresh device
    QStringList m_imageTree; // the unpacked "Total.zip", with hashes: what a whole image folder holds
    int m_count = 0;
    QElapsedTimer m_rowsTime;

    VHClient *device() const { return m_runtime.device(); }
    QString volume(const QString &name) const { return m_sim->drivePath(name); }
    bool connect(const QString &name) { return m_runtime.plug(name); }
    bool disconnect(const QString &name) { return m_runtime.unplug(name, true); }
    QStringList restart(const QString &name) { return m_runtime.restart(name, true); }

    // A device that was pulled by a fault is plugged again.
    bool ensureConnected(const QString &name)
    {
        return (m_sim->isPlugged(name) && device()) || (disconnect(name) && connect(name));
    }

    // Runs an action on the current device to its end; whether it succeeded.
    bool run(const std::function<bool(VHClient *)> &start)
    {
        VHClient *client = device();
        return client && runAction(*client, [&] { return start(client); });
    }

    // Each with a UUID of its own, so no restore request of an earlier row is found.
    QString freshDevice()
    {
        const QString name = QStringLiteral("f%1").arg(++m_count);
        VHSimPacer50Options options;
        m_uuid = options.uuid = QStringLiteral("1104%1").arg(m_count, 12, 10, QLatin1Char('0'));
        if (!m_sim->createPacer50(name, options) || !connect(name))
            return {};
        return name;
    }

    // Why the volume's "/Update.ini" could mislead the firmware; empty when there is none or its folder is whole.
    QString instructionProblem(const QString &name)
    {
        const QString instruction = volume(name) + QStringLiteral("/Update.ini");
        if (!QFileInfo::exists(instruction))
            return {};
        const QString named = iniValue(instruction, QStringLiteral("Total/Name")).section(QLatin1Char('/'), 2, 2);
        const QString folder = volume(name) + QLatin1Char('/') + named;
        if (!QFileInfo(folder).isDir())
            return QStringLiteral("Update.ini names a missing folder");
        if (treeOf(folder, TreeDetail::WithHashes) != m_imageTree)
            return QStringLiteral("Update.ini names an incomplete folder");
        return {};
    }

    bool hasRequest()
    {
        VHPacer50RestoreRequest request;
        return VHPacer50RestoreRequest::find(m_uuid, request);
    }

    // The device restarted after the road shows the package's image and application versions.
    void expectPackageVersions(const QString &name)
    {
        QCOMPARE(restart(name), QStringList{QStringLiteral("OS=") + kImageVersion});
        QString text;
        QVERIFY(device()->getImageVersion(text));
        QCOMPARE(text, QString::fromLatin1(kImageVersion));
    }

    // ---- the roads: one run each, from a connected device; what happened, in words -------

    QString updateRoad(const QString &name)
    {
        const bool ok = run([&](VHClient *c) { return c->updateTotal(m_package + "/Total.zip", QString()); });
        // A device pulled by the fault is looked at once it is back.
        if (!ensureConnected(name))
            return QStringLiteral("device did not come back");
        if (const QString problem = instructionProblem(name); !problem.isEmpty())
            return problem;
        if (ok && !QFileInfo::exists(volume(name) + QStringLiteral("/Update.ini")))
            return QStringLiteral("success without Update.ini");
        return ok ? kWritten : kUpdateFailed;
    }

    QString restoreRoad(const QString &name)
    {
        const bool asked = run([&](VHClient *c) { return c->restoreFactory(m_package); });
        const bool model = asked && device() && device()->state() == VHClient::STATE_MODEL;
        if (!ensureConnected(name))
            return QStringLiteral("device did not come back");
        const bool formatIni = QFileInfo::exists(volume(name) + QStringLiteral("/format.ini"));
        // A request without the instruction would install on a device that never formatted.
        if (hasRequest() && !formatIni)
            return QStringLiteral("request stored without format.ini");
        if (!asked)
            return kFirstPassFailed;
        if (!model || !formatIni)
            return QStringLiteral("first pass succeeded without format.ini and request");
        if (restart(name) != QStringList{QStringLiteral("formatted")})
            return QStringLiteral("device did not format");
        const bool installed = run([&](VHClient *c) { return c->restoreFactory(m_package); });
        const bool askedAgain = installed && device() && device()->state() == VHClient::STATE_MODEL;
        if (!ensureConnected(name))
            return QStringLiteral("device did not come back");
        if (const QString problem = instructionProblem(name); !problem.isEmpty())
            return problem;
        if (askedAgain)
            return kAskedAgain;
        if (!installed)
            return hasRequest() ? kSecondPassFailed : QStringLiteral("second pass failed and lost its request");
        if (hasRequest() || !QFileInfo::exists(volume(name) + QStringLiteral("/Update.ini")))
            return QStringLiteral("second pass succeeded with the request kept or without Update.ini");
        return kRestored;
    }

    QString runRoad(const QString &road, const QString &name)
    {
        return road == kUpdate ? updateRoad(name) : restoreRoad(name);
    }

    // The road again without faults where the faulted run did not finish it, until the device has the package
    // (a restore resumes, formatting once more only when its request was lost).
    void finishRoad(const QString &road, const QString &name, const QString &outcome)
    {
        QVERIFY(VHTestFaultMatrix(*m_sim, name).clearRules());
        QVERIFY(ensureConnected(name));
        if (road == kUpdate && outcome != kWritten) {
            QCOMPARE(updateRoad(name), kWritten);
        } else if (road == kRestore) {
            // A device asked to format (state 4) is restarted before the next pass.
            for (int pass = 0; pass < 4 && outcome != kRestored; ++pass) {
                if (device()->state() == VHClient::STATE_MODEL) {
                    QCOMPARE(restart(name), QStringList{QStringLiteral("formatted")});
                    continue;
                }
                QVERIFY(run([&](VHClient *c) { return c->restoreFactory(m_package); }));
                if (device()->state() != VHClient::STATE_MODEL)
                    break;
            }
            QVERIFY(!hasRequest());
            QString text;
            QVERIFY(static_cast<VHPacer50 *>(device())->getAPVersion(text));
            QCOMPARE(text, kApVersion);
        }
        expectPackageVersions(name);
    }

    // A clean run of the road on a fresh device: the steps each rule counts in it, and its volume log.
    void countRoad(const QString &road, QHash<int, QStringList> &counted, QStringList &volumeLog)
    {
        const QString name = freshDevice();
        QVERIFY(!name.isEmpty());
        VHTestFaultMatrix matrix(*m_sim, name);
        matrix.clearLogs();
        QCOMPARE(runRoad(road, name), road == kUpdate ? kWritten : kRestored);
        for (const VHFaultRule &rule : VHFaultRule::volumeRules() + VHFaultRule::dataFolderRules())
            counted.insert(rule.kind, matrix.steps(rule));
        volumeLog = m_sim->volumeLog(name);
        QVERIFY(disconnect(name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.startIn(m_work));
        m_sim = m_runtime.sim.get();
        QSettings settings(VHEnv::instance()->settingsPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Pacer50CR/deviceinipath"), QStringLiteral("/device.ini"));
        settings.setValue(QStringLiteral("Pacer50CR/apversionpath"), QStringLiteral("/nimbra/version.ini"));
        settings.sync();
        m_package = m_work.filePath(QStringLiteral("package"));
        QVERIFY(VHPacer50PackageBuilder::writePackageFolder(m_package, {}));
        const QString unpacked = m_work.filePath(QStringLiteral("unpacked"));
        QVERIFY(VHZipUtil().decompress(m_package + QStringLiteral("/Total.zip"), unpacked));
        m_imageTree = treeOf(unpacked, TreeDetail::WithHashes);
        m_rowsTime.start();
    }

    void faultTable_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<int>("rule");
        QTest::addColumn<int>("step");
        for (const QString &road : {kUpdate, kRestore}) {
            QHash<int, QStringList> counted;
            QStringList volumeLog;
            countRoad(road, counted, volumeLog);
            // The points of no return: the restore passes both, its second pass writes "/Update.ini" too.
            QStringList points{QStringLiteral("/Update.ini")};
            if (road == kRestore)
                points.prepend(QStringLiteral("/format.ini"));
            // The update keeps nothing in the data folder that a later run relies on; the restore its request.
            QList<VHFaultRule> rules = VHFaultRule::volumeRules();
            if (road == kRestore)
                rules += VHFaultRule::dataFolderRules();
            for (const VHFaultRule &rule : std::as_const(rules)) {
                const QStringList &steps = counted.value(rule.kind);
                QList<int> after;
                for (const QString &point : std::as_const(points))
                    after << stepAfter(volumeLog, rule, point);
                const QList<int> picked = rule.isDataFolder() ? stepsOn(steps, QStringLiteral("/pacer50restore"))
                                                              : VHTestFaultMatrix::pickSteps(int(steps.size()), after);
                for (const int step : std::as_const(picked))
                    QTest::newRow(VHTestFaultMatrix::describe(road, rule, step).constData())
                        << road << int(rule.kind) << step;
            }
        }
    }

    void faultTable()
    {
        QFETCH(QString, road);
        QFETCH(int, rule);
        QFETCH(int, step);
        QElapsedTimer timer;
        timer.start();
        const QString name = freshDevice();
        QVERIFY(!name.isEmpty());
        const VHFaultRule fault{VHFaultRule::Kind(rule)};
        QVERIFY(VHTestFaultMatrix(*m_sim, name).setRule(fault, step));
        const QString outcome = runRoad(road, name);
        const QByteArray row = VHTestFaultMatrix::describe(road, fault, step);
        std::printf("ROW %s | %s\n", row.constData(), qPrintable(outcome));
        QVERIFY2(kAcceptable.contains(outcome), (row + ": " + outcome.toUtf8()).constData());
        const qint64 faulted = timer.elapsed();
        finishRoad(road, name, outcome);
        std::printf("  %lld ms faulted, %lld ms finished\n", faulted, qlonglong(timer.elapsed()));
    }

    // A row that failed half-way leaves no device behind for the next.
    void cleanup()
    {
        if (m_count > 0)
            QVERIFY(disconnect(QStringLiteral("f%1").arg(m_count)));
    }

    void cleanupTestCase()
    {
        std::printf("fault rows (with the clean counting runs): %lld ms\n", qlonglong(m_rowsTime.elapsed()));
    }
};

QTEST_GUILESS_MAIN(TestPacer50Faults)
#include "tst_Pacer50Faults.moc"
