// The Pacer50 family's data operations on a prepared volume: the lists with
// their columns through the share-data action, deletes with ids bound (text
// that looks like SQL deletes nothing), a workout going with its intervals,
// the log archive that leaves links and oversize files out, the refusal on
// the GUI thread and the operations this family does not support.

#include "VHDeviceDbBuilder.h"
#include "VHFSDeviceService.h"
#include "VHPacer50CR.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"
#include "VHTestLog.h"
#include "VHZipUtil.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>

#include <unistd.h>

namespace {

using DevicePtr = std::unique_ptr<VHPacer50CR, VHClientDeleter>;

template <typename Result>
Result onWorker(const std::function<Result()> &work)
{
    Result result{};
    std::unique_ptr<QThread> thread(QThread::create([&] { result = work(); }));
    thread->start();
    thread->wait(30000);
    return result;
}

// Runs the statements with a connection of the test's own; the first value
// the last one answers (-1 when any failed).
int sql(const QString &path, const QStringList &statements)
{
    int value = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        bool ok = db.open();
        for (const QString &statement : statements)
            ok = ok && query.exec(statement);
        if (ok)
            value = query.next() ? query.value(0).toInt() : 0;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test"));
    return value;
}

} // namespace

class TestPacer50DataOperations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_volume;
    int m_count = 0;

    QString share() const { return m_volume + QStringLiteral("/nimbra/applications/cycling"); }
    QString routeDb() const { return share() + QStringLiteral("/data/route/route.dat"); }

    DevicePtr makeDevice()
    {
        DevicePtr device(new VHPacer50CR);
        const VHModelInfo row{QStringLiteral("1104"), QStringLiteral("Pacer50CR"), QStringLiteral("Velora"), nullptr};
        device->setDeviceService(new VHFSDeviceService(m_volume, row, m_volume + QStringLiteral("/device.ini")));
        return device;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        initTestEnv(m_root.path() + QStringLiteral("/xdg"));
    }

    void init()
    {
        m_volume = m_root.filePath(QStringLiteral("vol%1").arg(++m_count));
        QVERIFY(
            writeFile(m_volume + QStringLiteral("/device.ini"),
                      "[UUID]\r\nUUID=1104AAAABBBBCCCC\r\n[MODEL]\r\nModel=Pacer50CR\r\n[OS]\r\nVersion=1.0.0\r\n"));
        QVERIFY(VHDeviceDbBuilder::writeDatabases(share()));
    }

    void listsWithTheirColumns()
    {
        DevicePtr device = makeDevice();
        const QVariantList lists = shareDataLists(*device);
        QCOMPARE(lists.size(), 4);
        const QVariantList pois = lists.at(0).toList(), routes = lists.at(1).toList(), tracks = lists.at(2).toList();
        QCOMPARE(pois.size(), 2);
        QCOMPARE(pois.first().toMap().keys(),
                 QStringList({"Info", "Latitude", "Longitude", "Name", "Place", "idMyFavorite"}));
        QCOMPARE(pois.first().toMap().value("Name").toString(), QStringLiteral("Place 0"));
        QCOMPARE(routes.size(), 2);
        QCOMPARE(routes.at(1).toMap().value("EndPlace").toString(), QStringLiteral("End 1"));
        QCOMPARE(tracks.size(), 2);
        QCOMPARE(tracks.first().toMap().value("Title").toString(), QStringLiteral("Ride 0"));
        QVERIFY(tracks.first().toMap().contains("Uploaded") && tracks.first().toMap().contains("ActivityType"));
        QVERIFY(lists.at(3).toList().isEmpty()); // the Workout table exists, empty
        // The second forms: each row a list in column order.
        const QVariantList rows = onWorker<QVariantList>([&] {
            QVariantList list;
            device->getTracks2(list);
            return list;
        });
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.first().toList().value(1).toString(), QStringLiteral("Ride 0"));
    }

    void deletes_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariantList>("ids");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("left");
        QTest::newRow("one track") << "tracks" << QVariantList{1} << true << "TraceLog" << 1;
        QTest::newRow("ids as text") << "routes" << QVariantList{"1", "2"} << true << "Route" << 0;
        QTest::newRow("sql in an id") << "tracks" << QVariantList{"1 OR 1=1"} << false << "TraceLog" << 2;
        QTest::newRow("sql with a good id")
            << "pois" << QVariantList{1, "1); DROP TABLE MyFavorite;--"} << false << "MyFavorite" << 2;
        QTest::newRow("unknown id") << "pois" << QVariantList{99} << true << "MyFavorite" << 2;
        QTest::newRow("workout and intervals") << "workouts" << QVariantList{7} << true << "WorkoutInterval" << 1;
    }

    void deletes()
    {
        QFETCH(QString, kind);
        QFETCH(QVariantList, ids);
        QFETCH(bool, ok);
        QFETCH(QString, table);
        QFETCH(int, left);
        DevicePtr device = makeDevice();
        QCOMPARE(shareDataLists(*device).size(), 4); // sets the store up
        QVERIFY(sql(routeDb(), {"insert into Workout (id, wid, name) values (7, 70, 'Tempo')",
                                "insert into Workout (id, wid, name) values (8, 80, 'Base')",
                                "insert into WorkoutInterval (wid, iid, name) values (70, 1, 'a')",
                                "insert into WorkoutInterval (wid, iid, name) values (70, 2, 'b')",
                                "insert into WorkoutInterval (wid, iid, name) values (80, 1, 'c')"})
                == 0);
        const bool result = onWorker<bool>([&] {
            if (kind == "tracks")
                return device->deleteTracks(ids);
            if (kind == "routes")
                return device->deleteRoutes(ids);
            if (kind == "pois")
                return device->deletePOIs(ids);
            return device->deleteWorkouts(ids);
        });
        QCOMPARE(result, ok);
        const QString file = table == "MyFavorite" ? share() + "/data/poi/favorite.dat" : routeDb();
        QCOMPARE(sql(file, {"select count(*) from " + table}), left);
    }

    // A database file that is not one, or a link where it belongs: empty lists, failed deletes.
    void hostileDatabaseFiles()
    {
        QVERIFY(writeFile(share() + "/data/poi/favorite.000", QByteArray(4096, '\x5a')));
        QVERIFY(QFile::remove(share() + "/data/route/route.000"));
        QVERIFY(QFile::link(m_root.filePath("elsewhere.dat"), routeDb()));
        DevicePtr device = makeDevice();
        const QVariantList lists = shareDataLists(*device);
        QCOMPARE(lists.size(), 4);
        for (const QVariant &list : lists)
            QVERIFY(list.toList().isEmpty());
        QVERIFY(!onWorker<bool>([&] { return device->deletePOIs({1}); }));
        QVERIFY(!onWorker<bool>([&] { return device->deleteTracks({1}); }));
        QVERIFY(!QFileInfo::exists(m_root.filePath("elsewhere.dat")));
    }

    void refusedOnTheGuiThread()
    {
        DevicePtr device = makeDevice();
        LogCapture log;
        QVariantList rows;
        device->getTracks(rows);
        QVERIFY(rows.isEmpty());
        QVERIFY(!device->deleteTracks({1}));
        QCOMPARE(log.count("database work refused on the GUI thread"), 2);
        QCOMPARE(sql(share() + "/data/route/route.000", {"select count(*) from TraceLog"}), 2);
    }

    void logArchiveLeavesOutLinksAndOversizeFiles()
    {
        QVERIFY(writeFile(m_volume + "/DumpFiles/dump1.bin", "dump"));
        QVERIFY(writeFile(m_volume + "/pacer50Log/2026/run.log", "log line\n"));
        QVERIFY(writeFile(m_root.filePath("secret.txt"), "secret"));
        QVERIFY(QDir().mkpath(m_volume + "/crashdump"));
        QVERIFY(QFile::link(m_root.filePath("secret.txt"), m_volume + "/crashdump/core.txt"));
        QVERIFY(QFile::link(m_root.path(), m_volume + "/syslog"));
        QVERIFY(writeFile(m_volume + "/pacer50Log/huge.log", ""));
        QVERIFY(::truncate(QFile::encodeName(m_volume + "/pacer50Log/huge.log").constData(), 65 << 20) == 0);
        DevicePtr device = makeDevice();
        const QString archive = m_root.filePath("logs.zip");
        QVERIFY(onWorker<bool>([&] { return device->writeLogArchive(archive); }));
        const QString out = m_root.filePath("logs");
        VHZipUtil zip;
        QVERIFY(zip.decompress(archive, out));
        QCOMPARE(treeOf(out), QStringList({"DumpFiles", "DumpFiles/dump1.bin", "pacer50Log", "pacer50Log/2026",
                                           "pacer50Log/2026/run.log"}));
        QCOMPARE(readFile(out + "/pacer50Log/2026/run.log"), QByteArray("log line\n"));
    }

    void unsupportedNeverSucceed()
    {
        DevicePtr device = makeDevice();
        LogCapture log;
        for (const std::function<bool()> &start : std::initializer_list<std::function<bool()>>{
                 [&] { return device->makeUploadZip(); }, [&] { return device->importDownloadZip("share.zip"); },
                 [&] { return device->exportTrack("gpx"); }}) {
            QVERIFY(start() && waitUntilIdle(*device));
            QVERIFY(device->errorFlag());
            QVERIFY(device->resultList().isEmpty() || device->resultList() == QVariantList{QString()});
        }
        QCOMPARE(log.count("not supported"), 3);
    }
};

QTEST_GUILESS_MAIN(TestPacer50DataOperations)
#include "tst_Pacer50DataOperations.moc"
