// The data operations of the PSF family against a simulated Pacer40 whose
// store holds the fixture builder's records.

#include "VHDevSim.h"
#include "VHPSFContainer_1_5.h"
#include "VHPSFDevice.h"
#include "VHPSFStoreBuilder.h"
#include "VHTestEnv.h"
#include "VHTestLog.h"
#include "VHTestSimDevice.h"

#include <QFontDatabase>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using PSFPtr = std::unique_ptr<VHPSFDevice, VHClientDeleter>;
namespace B = VHPSFStoreBuilder;

namespace {
const QString kName = QStringLiteral("W");

QList<qlonglong> idsOf(const QVariantList &list)
{
    QList<qlonglong> ids;
    for (const QVariant &item : list)
        ids.append(item.toMap().value(QStringLiteral("Id")).toLongLong());
    return ids;
}
} // namespace

class tst_PSFDataOperations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    VHTestSimDevice m_bench;
    VHDevSim *m_sim = nullptr;
    PSFPtr m_device;

    VHPSFDevice &device() { return *m_device; }

    bool makeDevice()
    {
        m_device.reset(new VHPSFDevice);
        return m_bench.attach(*m_device, vhTestSimRow("Pacer40", "LINDEN"), "I012", "V012") && m_device->initial();
    }

    QVariantList routes()
    {
        QVariantList list;
        return device().getPSFRoute(list) ? list : QVariantList{QStringLiteral("failed")};
    }

private slots:
    void initTestCase()
    {
        initTestEnv(m_data.path());
        QVERIFY(QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"))
                >= 0);
    }

    void init()
    {
        m_sim = &m_bench.fresh();
        QVERIFY(m_sim->createPacer40(kName));
        QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::External, B::image({}, B::sampleRecords())));
        QVERIFY(m_sim->plug(kName));
        QVERIFY(makeDevice());
    }

    void cleanup() { m_device.reset(); }

    void listsWithTheirColumns()
    {
        QVariantList tracks, workouts;
        LogCapture log;
        device().getTracks(tracks);
        QVERIFY(log.contains(QStringLiteral("finished")));
        QCOMPARE(tracks.size(), 4);
        const QVariantMap first = tracks[0].toMap();
        QCOMPARE(first.value("Points").toInt(), 4);
        QCOMPARE(first.value("StartTime").toUInt(), 1000u);
        QCOMPARE(first.value("EndTime").toUInt(), 1138u);
        QCOMPARE(tracks[1].toMap().value("Points").toInt(), 0); // unset count
        device().getWorkouts(workouts);
        QCOMPARE(workouts.size(), 2);
        QCOMPARE(workouts[1].toMap().value("Intervals").toStringList(),
                 QStringList({"Recovery", "Sprint", "Walk", "Other"}));
        const QVariantList list = routes();
        QCOMPARE(list.size(), 4);
        QCOMPARE(list[0].toMap().value("Languages").toStringList(), QStringList({"eng", "chi"}));
        QCOMPARE(list[3].toMap().value("Laps").toInt(), 3);
    }

    void finalizeCommitsDeletes()
    {
        QVariantList tracks, workouts;
        device().getTracks(tracks);
        device().getWorkouts(workouts);
        const QVariantList before = routes();
        QVERIFY(device().deleteRoutes({before[1], before[2].toMap().value("Id")}));
        QVERIFY(device().deleteTracks({tracks[1]}));
        QVERIFY(device().deleteWorkouts({workouts[0]}));
        // One unknown id: nothing is removed.
        QVERIFY(!device().deleteWorkouts({qlonglong(12345), workouts[1]}));
        QVERIFY(device()._finalize());
        QVERIFY(makeDevice());
        QCOMPARE(idsOf(routes()), QList<qlonglong>({idsOf(before)[0], idsOf(before)[0] + 36 + 2 * (12 + 128)}));
        tracks.clear();
        workouts.clear();
        device().getTracks(tracks);
        device().getWorkouts(workouts);
        QCOMPARE(tracks.size(), 3);
        QCOMPARE(workouts.size(), 1);
        QCOMPARE(workouts[0].toMap().value("Intervals").toStringList().size(), 4);
        // Every route of one kind, then of the other.
        QVERIFY(device().deleteRoutes({QVariantMap{{"Kind", 0}}}));
        QCOMPARE(routes().size(), 1);
        QVERIFY(device().deleteRoutes({QVariantMap{{"Kind", 1}}}));
        QCOMPARE(routes().size(), 0);
    }

    void addRouteNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << QStringLiteral("Morning loop");
        QTest::newRow("10,000 characters") << QString(10000, QLatin1Char('w'));
        QTest::newRow("right to left") << QStringLiteral("مسار الصباح عبر الحديقة");
        QTest::newRow("CJK") << QStringLiteral("晨跑路线经过公园");
        QTest::newRow("SQL text") << QStringLiteral("x'); DROP TABLE routes;--");
    }

    void addRouteNames()
    {
        QFETCH(QString, name);
        QVERIFY(device().addRoute(name, true, "ara"));
        const QVariantList list = routes();
        QCOMPARE(list.size(), 5);
        QCOMPARE(list.last().toMap().value("Languages").toStringList(), QStringList({"ara"}));
        QVERIFY(device()._finalize());
        QVERIFY(makeDevice());
        QCOMPARE(routes().size(), 5);
    }

    void addRouteFromAWorkerThread()
    {
        bool added = false;
        std::unique_ptr<QThread> worker(QThread::create([&] { added = device().addRoute(QStringLiteral("Hill")); }));
        worker->start();
        QTRY_VERIFY(worker->isFinished());
        QVERIFY(added);
        QVERIFY(device().addRoute(QStringLiteral("Valley"))); // and from this thread
        QCOMPARE(routes().size(), 6);
    }

    void formatsNotDefinedAreNeverDone()
    {
        QString path;
        LogCapture log;
        QVERIFY(!device().prepareUploadData(path, false));
        QVERIFY(!device().toGpxTrack(0, path));
        QVERIFY(!device().toGpxSsrLog(0, path));
        QVERIFY(!device().workoutToXml(0, path));
        QVERIFY(!device().trackToXml(0, path));
        QVERIFY(!device().setShareData(path));
        QCOMPARE(log.count(QStringLiteral("not supported")), 6);
    }
};

QTEST_MAIN(tst_PSFDataOperations)
#include "tst_PSFDataOperations.moc"
