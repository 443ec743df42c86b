// Deleting device files and the files that belong to them.

#include "corvo_volume.h"

using namespace corvotest;

namespace {

constexpr uint32_t kTrackTime = kSampleTime;          // 230517083015
constexpr uint32_t kSensorTime = kSampleTime + 1;     // 230517083016
constexpr uint32_t kLogTime = kSampleTime + 60;       // 230517083115
constexpr uint32_t kOtherLogTime = kSampleTime + 120; // 230517083215

const QString kActivity = QStringLiteral("Data/History/GAL/a1.gal");
const QString kTrack = QStringLiteral("Data/History/TRK/230517083015.trk");
const QString kSensor = QStringLiteral("Data/History/SSL/230517083016.ssl");
const QString kLog = QStringLiteral("Data/History/WLOG/230517083115.wkl");
const QString kOtherLog = QStringLiteral("Data/History/WLOG/230517083215.wkl");

void writeLinkedActivity(const CorvoVolume &volume)
{
    ActivityParts parts;
    parts.trackTime = kTrackTime;
    parts.sensorTime = kSensorTime;
    parts.workoutLogTime = kLogTime;
    QVERIFY(volume.write(kActivity, activityFile(parts)));
    QVERIFY(volume.write(kTrack, trackFile({TrackSegmentShape()}).bytes));
    QVERIFY(volume.write(kSensor, sensorLogFile({SensorSegmentShape()}).bytes));
    QVERIFY(volume.write(kLog, workoutLogFile(0x1234, {pattern(8, 1)})));
}

} // namespace

class TestCorvoDelete : public QObject
{
    Q_OBJECT

private slots:
    void activityTakesTrackAndSensorLogAndUnlinksItsWorkoutLog_data()
    {
        QTest::addColumn<bool>("trackGone");
        QTest::addColumn<bool>("damaged"); // the activity cut inside its header: its links unreadable
        QTest::newRow("whole") << false << false;
        QTest::newRow("track already gone") << true << false;
        QTest::newRow("damaged activity") << false << true;
    }

    void activityTakesTrackAndSensorLogAndUnlinksItsWorkoutLog()
    {
        QFETCH(bool, trackGone);
        QFETCH(bool, damaged);
        CorvoVolume volume;
        writeLinkedActivity(volume);
        const QByteArray logBefore = volume.read(kLog);
        if (trackGone)
            QVERIFY(QFile::remove(volume.path(kTrack)));
        if (damaged)
            QVERIFY(volume.write(kActivity, toByteArray(fileHeader(30)).left(9)));
        QCOMPARE(DeleteGALFile(30, "a1.gal"), 1);
        QVERIFY(!volume.exists(kActivity));
        QCOMPARE(volume.exists(kTrack), damaged);
        QCOMPARE(volume.exists(kSensor), damaged);
        const QByteArray logAfter = volume.read(kLog);
        QCOMPARE(le32At(logAfter, 28), damaged ? le32At(logBefore, 28) : kNone);
        QCOMPARE(logAfter.left(28), logBefore.left(28));
        QCOMPARE(logAfter.mid(32), logBefore.mid(32));
    }

    void typeAndExtensionMustAgree_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("result");
        QTest::newRow("point") << 20 << "Data/Sharing/p.poi" << 1;
        QTest::newRow("point as wkt") << 21 << "Data/Sharing/p.poi" << 0;
        QTest::newRow("route") << 22 << "Data/Plan/r.rte" << 1;
        QTest::newRow("plan") << 21 << "Data/Plan/w.wkt" << 1;
        QTest::newRow("cycling plan") << 23 << "Data/Plan/Cycling/w.wkt" << 1;
        QTest::newRow("downloaded") << 35 << "Data/Velorawrk/w.wkt" << 1;
        QTest::newRow("test") << 36 << "Data/Test/w.wkt" << 1;
        QTest::newRow("upper-case extension") << 22 << "Data/Plan/R.RTE" << 1;
        QTest::newRow("activity as route") << 22 << "Data/History/GAL/x.gal" << 0;
        QTest::newRow("activity kind 31") << 31 << "Data/History/GAL/x.gal" << 0;
        QTest::newRow("unknown kind") << 99 << "Data/Plan/w.wkt" << 0;
    }

    void typeAndExtensionMustAgree()
    {
        QFETCH(int, type);
        QFETCH(QString, file);
        CorvoVolume volume;
        QVERIFY(volume.write(file, templateWithLogs({})));
        const QByteArray name = QFileInfo(file).fileName().toUtf8();
        QTEST(DeleteGALFile(type, name.constData()), "result");
        QFETCH(int, result);
        QCOMPARE(volume.exists(file), result == 0);
    }

    void missingFilesAndUnsafeNamesFail()
    {
        CorvoVolume volume;
        QVERIFY(volume.write("Data/Sharing/p.poi", fileHeader(20)));
        QCOMPARE(DeleteGALFile(20, "q.poi"), 0);
        QCOMPARE(DeleteGALFile(30, "none.gal"), 0);
        QCOMPARE(DeleteGALFile(21, "none.wkt"), 0);
        QCOMPARE(DeleteGALFile(22, "../Sharing/p.poi"), 0);
        QCOMPARE(DeleteGALFile(20, nullptr), 0);
        QVERIFY(volume.exists("Data/Sharing/p.poi"));
    }

    void workoutTakesItsLinkedLogsOnly()
    {
        CorvoVolume volume;
        QVERIFY(volume.write("Data/Plan/w.wkt", templateWithLogs({kLogTime, kOtherLogTime})));
        QVERIFY(volume.write(kLog, workoutLogFile(kNone, {})));
        QVERIFY(volume.write(kOtherLog, workoutLogFile(kNone, {})));
        QVERIFY(volume.write("Data/History/WLOG/230101000000.wkl", workoutLogFile(kNone, {})));
        QCOMPARE(DeleteGALFile(21, "w.wkt"), 1);
        QVERIFY(!volume.exists("Data/Plan/w.wkt"));
        QVERIFY(!volume.exists(kLog));
        QVERIFY(!volume.exists(kOtherLog));
        QVERIFY(volume.exists("Data/History/WLOG/230101000000.wkl"));
    }

    void workoutWithHostileLogTableIsDeleted()
    {
        CorvoVolume volume;
        ByteBuilder file;
        file.raw(templateWithLogs({kLogTime}));
        file.put32(16 + 24, 0xFFFFFFF0u); // table offset past the end
        QVERIFY(volume.write("Data/Test/w.wkt", file.bytes()));
        QVERIFY(volume.write(kLog, workoutLogFile(kNone, {})));
        QCOMPARE(DeleteGALFile(36, "w.wkt"), 1);
        QVERIFY(!volume.exists("Data/Test/w.wkt"));
        QVERIFY(volume.exists(kLog));
    }

    void deleteAllWorkoutsOfAKind()
    {
        CorvoVolume volume;
        for (const char *name : {"a.wkt", "b.wkt", "c.WKT"})
            QVERIFY(volume.write(QStringLiteral("Data/Velorawrk/") + name, templateWithLogs({})));
        QVERIFY(volume.write("Data/Velorawrk/keep.txt", QByteArray("x")));
        QVERIFY(volume.write("Data/Plan/p.wkt", templateWithLogs({})));
        QCOMPARE(DeleteGALAllFile(35), 1);
        QCOMPARE(QDir(volume.path("Data/Velorawrk")).entryList(QDir::Files), QStringList{"keep.txt"});
        QVERIFY(volume.exists("Data/Plan/p.wkt"));
        QCOMPARE(DeleteGALAllFile(36), 1); // nothing there is nothing to do
        QCOMPARE(DeleteGALAllFile(20), 0);
    }

    void deleteAllActivities()
    {
        CorvoVolume volume;
        writeLinkedActivity(volume);
        QVERIFY(volume.write("Data/History/GAL/a2.gal", activityFile(ActivityParts())));
        QVERIFY(volume.write("Data/History/TRK/orphan.trk", fileHeader()));
        QVERIFY(volume.write("Data/History/SSL/orphan.ssl", fileHeader()));
        QCOMPARE(DeleteGALAllFile(30), 1);
        for (const char *folder : {"Data/History/GAL", "Data/History/TRK", "Data/History/SSL"})
            QVERIFY(QDir(volume.path(folder)).entryList(QDir::Files).isEmpty());
        QCOMPARE(le32At(volume.read(kLog), 28), kNone);
    }
};

QTEST_APPLESS_MAIN(TestCorvoDelete)
#include "tst_corvo_delete.moc"
