// velora-devctl's data commands run as a child process against simulated GAL
// and Pacer50 devices: records, deletes (a path or SQL text deletes nothing),
// the profile out and back, the raw-data export, the log archive, and bad
// usage.

#include "VHDevSim.h"
#include "VHTestFiles.h"
#include "VHTestProcess.h"
#include "gal_data_builder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestDevctlData : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;

    QString galRoot() const { return m_work.filePath(QStringLiteral("galsim")); }
    QString pacerRoot() const { return m_work.filePath(QStringLiteral("pacersim")); }

    // Runs the program on one simulation root; its output must be one JSON object.
    VHTestRun devctl(const QString &root, const QStringList &arguments)
    {
        // The helper module is found in the working folder's "Resources/python".
        return runTestProgram(QStringLiteral(DEVCTL_PROGRAM), QStringList{"--sim", root, "--json"} + arguments,
                              m_work.path());
    }

    int recordCount(const QString &root, const QString &kind)
    {
        const VHTestRun run = devctl(root, {QStringLiteral("records"), kind});
        return run.code == 0 ? int(run.json.value(QStringLiteral("records")).toArray().size()) : -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        qputenv("XDG_DATA_HOME", m_work.filePath(QStringLiteral("xdg")).toUtf8());
        QVERIFY(QDir().mkpath(m_work.filePath(QStringLiteral("Resources/python"))));
        QVERIFY(QFile::copy(QStringLiteral(VH_PYTHON_MODULES "/galapi.py"),
                            m_work.filePath(QStringLiteral("Resources/python/galapi.py"))));
        QVERIFY(QDir().mkpath(galRoot()) && QDir().mkpath(pacerRoot()));
        VHDevSim gal(galRoot());
        QVERIFY(gal.createGal(QStringLiteral("gal"), VHDevSim::GalIdentity()) && gal.plug(QStringLiteral("gal")));
        QVERIFY(corvotest::writeGalData(gal.drivePath(QStringLiteral("gal")).toStdString()));
        VHDevSim pacer(pacerRoot());
        QVERIFY(pacer.createPacer50(QStringLiteral("p50"), VHSimPacer50Options()) && pacer.plug(QStringLiteral("p50")));
        QVERIFY(writeFile(pacer.drivePath(QStringLiteral("p50")) + QStringLiteral("/syslog/boot.log"), "booted\n"));
    }

    void galRecordsAndDeletes()
    {
        const QJsonArray records = devctl(galRoot(), {"records", "activities"}).json.value("records").toArray();
        QCOMPARE(records.size(), 2);
        QVERIFY(records.at(0).toObject().value(QStringLiteral("StartTime")).toString().startsWith("2023-05-1"));
        QCOMPARE(devctl(galRoot(), {"delete", "activities", "../../device.ini"}).code, 1);
        QCOMPARE(devctl(galRoot(), {"delete", "workouts", "Tempo.wkt"}).code, 0);
        QCOMPARE(recordCount(galRoot(), QStringLiteral("workouts")), 1);
        QCOMPARE(recordCount(galRoot(), QStringLiteral("activities")), 2);
    }

    void galProfileAndRawExport()
    {
        const QString xml = m_work.filePath(QStringLiteral("profile.xml"));
        QCOMPARE(devctl(galRoot(), {"profile-set", "UP-weight=75"}).code, 0);
        QCOMPARE(devctl(galRoot(), {"profile", xml}).code, 0);
        QVERIFY(readFile(xml).contains("key=\"UP-weight\" value=\"75\""));
        QCOMPARE(devctl(galRoot(), {"export-raw", m_work.filePath("raw")}).json.value("files").toArray().size(), 2);
        // The family keeps no log folders.
        QCOMPARE(devctl(galRoot(), {"export-log", m_work.filePath(QStringLiteral("gal.zip"))}).code, 1);
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown kind") << QStringList{"records", "photos"};
        QTest::newRow("delete without ids") << QStringList{"delete", "tracks"};
        QTest::newRow("pair without a key") << QStringList{"profile-set", "=5"};
        QTest::newRow("pair on two lines") << QStringList{"profile-set", "a=1\nb=2"};
        QTest::newRow("text beyond 8 bits") << QStringList{"profile-set", QStringLiteral("name=\u4e2d")};
    }

    void badUsage()
    {
        QFETCH(QStringList, arguments);
        QCOMPARE(devctl(galRoot(), arguments).code, 2);
    }

    void pacer50RecordsDeletesAndLogs()
    {
        QCOMPARE(recordCount(pacerRoot(), QStringLiteral("routes")), 2);
        QCOMPARE(devctl(pacerRoot(), {"delete", "pois", "1 OR 1=1"}).code, 1);
        QCOMPARE(recordCount(pacerRoot(), QStringLiteral("pois")), 2);
        QCOMPARE(devctl(pacerRoot(), {"delete", "routes", "1"}).code, 0);
        QCOMPARE(recordCount(pacerRoot(), QStringLiteral("routes")), 1);
        const QString archive = m_work.filePath(QStringLiteral("logs.zip"));
        QCOMPARE(devctl(pacerRoot(), {"export-log", archive}).code, 0);
        QVERIFY(readFile(archive).contains("syslog/boot.log"));
        // Formats this family does not have: failure, never success.
        QCOMPARE(devctl(pacerRoot(), {"export-raw", m_work.filePath(QStringLiteral("gpx"))}).code, 1);
    }
};

QTEST_GUILESS_MAIN(TestDevctlData)
#include "tst_DevctlData.moc"
