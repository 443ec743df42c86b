#include "GHDbModel.h"
#include "GHDeviceDatabases.h"
#include "VHDeviceDbBuilder.h"
#include "VHTestFiles.h"
#include "VHTestLog.h"

#include <QElapsedTimer>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>

namespace {

// The first column of every row of a query.
QStringList titles(QSqlQuery query)
{
    QStringList out;
    while (query.next())
        out << query.value(0).toString();
    return out;
}

// Reads a database with a connection of the test's own, never the layer's.
QStringList queryColumn(const QString &path, const QString &text)
{
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
        db.setDatabaseName(path);
        if (db.open())
            values = titles(QSqlQuery(text, db));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return values;
}

QStringList schemaOf(const QString &path)
{
    return queryColumn(path, QStringLiteral("select sql from sqlite_master order by name"));
}

QStringList columnsOf(const QString &path, const QString &table)
{
    return queryColumn(path, QStringLiteral("select name from pragma_table_info('%1')").arg(table));
}

void onWorker(const std::function<void()> &work)
{
    QThread *thread = QThread::create(work);
    thread->start();
    QVERIFY(thread->wait(30000));
    delete thread;
}

} // namespace

class tst_GHDbModel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString share(const QString &name) { return m_dir.filePath(name); }
    QString routeDb(const QString &name) { return share(name) + QStringLiteral("/data/route/route.dat"); }
    // A device share folder holding the ".000" files, attached.
    QString attached(const QString &name, const VHDeviceDbBuilder::Options &options = {})
    {
        const QString folder = share(name);
        if (!QFileInfo::exists(folder) && !VHDeviceDbBuilder::writeDatabases(folder, options))
            QTest::qFail("fixture not written", __FILE__, __LINE__);
        openDeviceDatabases(folder, folder + QStringLiteral("/data/tracelog"), QStringLiteral("GH1.3.0.8"));
        return folder;
    }

private slots:
    void statementTexts_data()
    {
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("order");
        QTest::addColumn<QStringList>("texts"); // select, insert, update, remove
        QTest::newRow("order only") << QStringList{"Title"} << QString() << "order by Title"
                                    << QStringList{"select Title from Route order by Title",
                                                   "insert into Route (Title) values (?)",
                                                   "update Route set Title=? where ", "delete from Route where "};
        QTest::newRow("where and order")
            << QStringList{"Title", "Uploaded"} << "idRoute=?"
            << "order by idRoute desc"
            << QStringList{"select Title,Uploaded from Route where idRoute=? order by idRoute desc",
                           "insert into Route (Title,Uploaded) values (?,?)",
                           "update Route set Title=?,Uploaded=? where idRoute=?", "delete from Route where idRoute=?"};
        QTest::newRow("percent signs stay")
            << QStringList{"Title"} << "Title like '%1%'" << QString()
            << QStringList{"select Title from Route where Title like '%1%'", "insert into Route (Title) values (?)",
                           "update Route set Title=? where Title like '%1%'",
                           "delete from Route where Title like '%1%'"};
    }
    void statementTexts()
    {
        QFETCH(QStringList, columns);
        QFETCH(QString, where);
        QFETCH(QString, order);
        QFETCH(QStringList, texts);
        RouteDbm model(QStringLiteral("unused"));
        model.setColumns(columns);
        model.setValues(QVariantList(columns.size(), 1));
        model.setWhere(where);
        model.setOrder(order);
        QCOMPARE(QStringList({model.selectText(), model.insertText(), model.updateText(), model.removeText()}), texts);
    }

    void restoreAddsSchemaOnceAndFollowsTheDevice()
    {
        LogCapture log;
        onWorker([&] {
            attached(QStringLiteral("a"));
            QCOMPARE(GHWorkoutModel().databasePath(), routeDb("a"));
        });
        const QString a = share(QStringLiteral("a"));
        QVERIFY(QFileInfo::exists(a + "/data/poi/poi.dat") && QFileInfo::exists(a + "/data/poi/favorite.dat"));
        QVERIFY(columnsOf(routeDb("a"), "TraceLog").contains("pause"));
        QCOMPARE(columnsOf(routeDb("a"), "Workout").mid(9),
                 QStringList({"createtime", "orgid", "oneshot", "desc", "listOrder"}));
        QCOMPARE(columnsOf(routeDb("a"), "WorkoutInterval").last(), QStringLiteral("logreso"));
        QCOMPARE(columnsOf(routeDb("a"), "WorkoutRoute").size(), 3);
        const QStringList schema = schemaOf(routeDb("a"));
        QCOMPARE(queryColumn(a + "/data/route/route.000", "select count(*) from sqlite_master").value(0), "2");

        // Another device, holding only route.000: the texts and the workout model follow it.
        QVERIFY(writeFile(share("b") + "/data/route/route.000", readFile(a + "/data/route/route.000")));
        onWorker([&] {
            attached(QStringLiteral("b"));
            GHWorkoutModel workouts;
            QCOMPARE(workouts.databasePath(), routeDb("b"));
            QCOMPARE(deviceDatabaseTexts().sharePath, share("b"));
        });
        QVERIFY(log.contains("can't found any POI dat file") && log.contains("can't found any FAV dat file"));
        // Back to the first: a second run leaves its schema as it was.
        onWorker([&] { attached(QStringLiteral("a")); });
        QCOMPARE(schemaOf(routeDb("a")), schema);
        QVERIFY(!log.contains("SQL:"));
        QVERIFY(QSqlDatabase::connectionNames().isEmpty());
    }

    void statementsBindValues()
    {
        GHDbConnectionScope scope;
        attached(QStringLiteral("c"));
        RouteDbm routes(routeDb("c"));
        LogCapture log;
        routes.setColumns({"Title", "TotalLength", "Uploaded"});
        routes.setValues({"x", 1});
        QVERIFY(!routes.insert());
        QVERIFY(log.contains("miss match column and values for sql cmd: insert into Route"));

        const QString hostile = QStringLiteral("x'); delete from Route; --");
        routes.setValues({hostile, 5, 0});
        QVERIFY(routes.insert());
        const qlonglong id = routes.lastInsertId().toLongLong();
        QVERIFY(id > 2);
        routes.setColumns({"Title"});
        routes.setWhere(QStringLiteral("idRoute=?"));
        routes.setValues({"Renamed", id});
        QVERIFY(routes.update());
        routes.setValues({});
        routes.setWhere(QString());
        routes.setOrder(QStringLiteral("order by Title"));
        QCOMPARE(titles(routes.select()), QStringList({"Renamed", "Route 0", "Route 1"}));

        routes.setWhere(QStringLiteral("Title=?"));
        routes.setValues({"Renamed"});
        QVERIFY(routes.remove());
        routes.setWhere(QStringLiteral("no_such_column=?"));
        QVERIFY(!routes.remove());
        QVERIFY(log.contains("SQL:delete from Route where no_such_column=?\nError:"));
        QVERIFY(log.contains("bind col=0, val=Renamed"));

        RouteDbm nowhere(share("c") + "/no/such/folder/route.dat");
        nowhere.setColumns({"Title"});
        const QSqlQuery unopened = nowhere.select();
        QVERIFY(unopened.lastQuery().isEmpty() && !unopened.isActive());
        QVERIFY(log.contains("opendb " + share("c") + "/no/such/folder/route.dat Error:"));
    }

    void closeThenSelectReopens()
    {
        GHDbConnectionScope scope;
        attached(QStringLiteral("d"));
        TraceLogDbm logs;
        logs.setColumns({"Title"});
        QCOMPARE(titles(logs.select()).size(), 2);
        QCOMPARE(GHDbConnectionScope::openConnections(), QStringList({"ghddb"}));
        closeDeviceDatabases();
        QVERIFY(GHDbConnectionScope::openConnections().isEmpty());
        QCOMPARE(titles(logs.select()).size(), 2);
        const int before = QSqlDatabase::connectionNames().size();
        int after = -1;
        onWorker([&] {
            closeDeviceDatabases();
            after = QSqlDatabase::connectionNames().size();
        });
        QCOMPARE(after, before);
    }

    void successiveActionThreads()
    {
        attached(QStringLiteral("e"));
        QTest::failOnWarning(QRegularExpression("does not belong|still in use|duplicate connection"));
        for (int round = 0; round < 2; ++round) {
            int rows = 0;
            onWorker([&] {
                GHDbConnectionScope scope;
                FavoriteDbm favorites;
                favorites.setColumns({"Name", "Longitude", "Latitude"});
                favorites.setValues({QStringLiteral("Round %1").arg(round), round, round});
                if (favorites.insert()) {
                    favorites.setValues({});
                    rows = titles(favorites.select()).size();
                }
                GHWorkoutModel workouts;
                workouts.setColumns({"wid"});
                (void)titles(workouts.select());
            });
            QCOMPARE(rows, 3 + round);
            QVERIFY(QSqlDatabase::connectionNames().isEmpty());
        }
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not sqlite") << "garbage";
        QTest::newRow("locked") << "locked";
        QTest::newRow("read-only") << "readonly";
        QTest::newRow("link to outside") << "link";
        QTest::newRow("folder is a link") << "folderlink";
    }
    void hostileFiles()
    {
        QFETCH(QString, kind);
        const QString folder = share("hostile-" + kind);
        const QString outside = share("outside-" + kind);
        QVERIFY(VHDeviceDbBuilder::writeDatabases(outside));
        const QString outsideDb = outside + "/data/route/route.000";
        const QStringList outsideSchema = schemaOf(outsideDb);
        const QString route = folder + "/data/route/route.dat";
        QDir().mkpath(folder + "/data");
        QSqlDatabase locker;
        if (kind == "garbage") {
            QVERIFY(writeFile(folder + "/data/route/route.000", QByteArray(4096, 'z')));
        } else if (kind == "link") {
            QDir().mkpath(folder + "/data/route");
            QVERIFY(QFile::link(outsideDb, route));
        } else if (kind == "folderlink") {
            QVERIFY(QFile::link(outside + "/data/route", folder + "/data/route"));
        } else {
            QVERIFY(writeFile(route, readFile(outsideDb)));
            QVERIFY(QFile::setPermissions(route, QFile::ReadOwner));
            if (kind == "locked") {
                locker = QSqlDatabase::addDatabase("QSQLITE", "locker");
                locker.setDatabaseName(route);
                QVERIFY(locker.open() && QSqlQuery(locker).exec("begin exclusive"));
            }
        }
        QElapsedTimer timer;
        timer.start();
        onWorker([&] {
            openDeviceDatabases(folder, QString(), QStringLiteral("GH1.0"));
            TraceLogDbm logs;
            logs.setColumns({"Title"});
            (void)titles(logs.select());
        });
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(schemaOf(outsideDb), outsideSchema);
        if (kind == "locked") {
            locker.close();
            locker = QSqlDatabase();
            QSqlDatabase::removeDatabase("locker");
        }
        const QStringList columns = columnsOf(route, "Workout");
        if (kind == "readonly") {
            QVERIFY(QFileInfo(route).permissions() & QFile::WriteOwner);
            QVERIFY(!columns.isEmpty());
        } else if (kind != "folderlink") {
            QVERIFY(kind == "link" || QFileInfo(route).isFile());
        }
        if (kind == "locked")
            QVERIFY(columns.isEmpty());
        // The worker used a model outside any scope: its thread's end removes the connection.
        QTRY_VERIFY(QSqlDatabase::connectionNames().isEmpty());
    }

    void scriptBuiltDatabases_data()
    {
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<bool>("built");
        QTest::newRow("script") << QByteArray() << true;
        QTest::newRow("failing statement") << QByteArray("insert into NoSuchTable values (1);\n") << false;
    }
    void scriptBuiltDatabases()
    {
        QFETCH(QByteArray, extra);
        QFETCH(bool, built);
        const QString folder = share(QStringLiteral("gh2-%1").arg(built));
        QVERIFY(VHDeviceDbBuilder::writeRouteScript(folder));
        const QString script = folder + "/data/route/route.sql";
        QVERIFY(writeFile(script, readFile(script) + extra));
        const QString route = folder + "/data/route/route.dat";
        for (int attach = 0; attach < 2; ++attach) {
            onWorker([&] { openDeviceDatabases(folder, QString(), QStringLiteral("GH2.0.1")); });
            QCOMPARE(QFileInfo::exists(route), built);
            QCOMPARE(treeOf(folder + "/data/route"),
                     built ? QStringList({"route.dat", "route.sql"}) : QStringList({"route.sql"}));
            QCOMPARE(queryColumn(folder + "/data/poi/favorite.dat", "select Name from MyFavorite"),
                     QStringList({"Home"}));
            if (built && attach == 0) // the user's own data from here on must survive the next attach
                queryColumn(route, "insert into Route (Title) values ('Mine')");
        }
        if (built)
            QCOMPARE(queryColumn(route, "select Title from Route order by Title"), QStringList({"Home loop", "Mine"}));
    }

    void splitScript_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("statements");
        QTest::newRow("quotes and comments")
            << "a ';' -- c;\n; b \"x;y\" /* ; */ ;;" << QStringList({"a ';'", "b \"x;y\""});
        QTest::newRow("trigger body") << "create temp trigger t after insert on x begin update y; delete z; end; q"
                                      << QStringList({"create temp trigger t after insert on x begin update y; "
                                                      "delete z; end",
                                                      "q"});
    }
    void splitScript()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, statements);
        QCOMPARE(GHDeviceDatabases::splitScript(script), statements);
    }

    // Not a timed test: the figure goes to the output.
    void benchmarkLargeRouteDatabase()
    {
        VHDeviceDbBuilder::Options big;
        big.minimumRouteBytes = 20 * 1024 * 1024;
        QVERIFY(VHDeviceDbBuilder::writeDatabases(share("big"), big));
        qint64 elapsed = 0;
        onWorker([&] {
            QElapsedTimer timer;
            timer.start();
            openDeviceDatabases(share("big"), QString(), QStringLiteral("GH1.3.0.8"));
            elapsed = timer.elapsed();
        });
        QVERIFY(QFileInfo(routeDb("big")).size() >= big.minimumRouteBytes);
        qDebug() << "openDeviceDatabases with a" << QFileInfo(routeDb("big")).size() << "byte route.000:" << elapsed
                 << "ms";
    }
};

QTEST_GUILESS_MAIN(tst_GHDbModel)
#include "tst_GHDbModel.moc"
