// velora-devctl against a simulated Pacer50CR: the two-pass factory restore (in one run and across two)
// and input refused before anything reaches the volume.

#include "VHDevSim.h"
#include "VHTestIni.h"
#include "VHTestProcess.h"
#include "VHTestWrongPackages.h"
#include "VHTestZip.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kName = QStringLiteral("P50");
} // namespace

class TestDevctlPacer50 : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHDevSim> m_sim;
    int m_count = 0;

    QString volume() const { return m_sim->drivePath(kName); }
    QString requests() const { return m_work.filePath(QStringLiteral("xdg/VeloraHub/pacer50restore")); }
    QStringList devctlArguments(const QStringList &arguments) const
    {
        return QStringList{QStringLiteral("--sim"), m_sim->root()} + arguments;
    }
    VHTestRun devctl(const QStringList &arguments)
    {
        return runTestProgram(QStringLiteral(DEVCTL_PROGRAM), devctlArguments(arguments), m_work.path());
    }
    QString newPath(const QString &name) { return m_work.filePath(QStringLiteral("%1%2").arg(name).arg(++m_count)); }

    QString package(const QString &imageVersion)
    {
        VHPacer50PackageBuilder::Options options;
        options.imageVersion = imageVersion;
        options.apVersion = QStringLiteral("GH1.5.0.") + imageVersion.section(QLatin1Char('.'), 1, 1);
        const QString folder = newPath(QStringLiteral("pkg"));
        return VHPacer50PackageBuilder::writePackageFolder(folder, options) ? folder : QString();
    }

    // The firmware's start after the restore's second pass: the image named by "/Update.ini" is installed.
    void expectInstalledAfterRestart(const QString &imageVersion)
    {
        QVERIFY(QFileInfo::exists(volume() + "/Update.ini"));
        QVERIFY(QFileInfo::exists(volume() + "/launchsec.ini"));
        QCOMPARE(iniValue(volume() + "/nimbra/version.ini", "version"),
                 QStringLiteral("GH1.5.0.") + imageVersion.section(QLatin1Char('.'), 1, 1));
        QStringList changes;
        QVERIFY(m_sim->restart(kName, 0, &changes));
        QCOMPARE(changes, QStringList{"OS=" + imageVersion});
        QCOMPARE(QDir(requests()).entryList(QDir::Files), QStringList());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        qputenv("XDG_DATA_HOME", m_work.filePath(QStringLiteral("xdg")).toUtf8());
        QSettings settings(m_work.filePath(QStringLiteral("xdg/VeloraHub/vh.ini")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Pacer50CR/apversionpath"), QStringLiteral("/nimbra/version.ini"));
        settings.sync();
        const QString root = m_work.filePath(QStringLiteral("sim"));
        QVERIFY(QDir().mkpath(root));
        m_sim = std::make_unique<VHDevSim>(root);
        QVERIFY2(m_sim->createPacer50(kName, VHSimPacer50Options()) && m_sim->plug(kName),
                 qPrintable(m_sim->lastError()));
    }

    // One run: the format is asked, the run waits for the restarted device and installs on it.
    void restoreWaitsForTheRestart()
    {
        const QString folder = package(QStringLiteral("2.1.0"));
        QProcess process;
        process.setWorkingDirectory(m_work.path());
        process.start(QStringLiteral(DEVCTL_PROGRAM), devctlArguments({"restore", folder, "--timeout", "60"}));
        QVERIFY(QTest::qWaitFor(
            [&] { return QFileInfo::exists(volume() + "/format.ini") && !QDir(requests()).isEmpty(QDir::Files); },
            30000));
        QVERIFY(!process.waitForFinished(300));
        QStringList changes;
        QVERIFY(m_sim->restart(kName, 500, &changes));
        QCOMPARE(changes, QStringList{"formatted"});
        QVERIFY(process.waitForFinished(60000));
        const QByteArray out = process.readAllStandardOutput();
        const QByteArray err = process.readAllStandardError();
        QVERIFY2(process.exitCode() == 0, err.constData());
        // Said once, whether the device or the wait for it says it first.
        QCOMPARE(err.count("waiting for the device to restart\n"), 1);
        QVERIFY(out.contains("factory restore done"));
        QVERIFY(!QFileInfo::exists(volume() + "/format.ini"));
        expectInstalledAfterRestart(QStringLiteral("2.1.0"));
    }

    // The run that asked for the format ends before the device is back; the next run installs without a format.
    void restoreGoesOnInALaterRun()
    {
        const QString folder = package(QStringLiteral("2.2.0"));
        const VHTestRun first = devctl({"restore", folder, "--timeout", "1"});
        QCOMPARE(first.code, 1);
        QVERIFY(!first.out.contains("factory restore done"));
        QVERIFY(first.err.contains("goes on when it runs again"));
        QCOMPARE(QDir(requests()).entryList(QDir::Files).size(), 1);
        QStringList changes;
        QVERIFY(m_sim->restart(kName, 0, &changes));
        QCOMPARE(changes, QStringList{"formatted"});

        const VHTestRun second = devctl({"restore", folder, "--timeout", "30"});
        QVERIFY2(second.code == 0, second.err.constData());
        QVERIFY(second.out.contains("factory restore done"));
        QVERIFY(!second.out.contains("formats itself"));
        QVERIFY(!QFileInfo::exists(volume() + "/format.ini"));
        expectInstalledAfterRestart(QStringLiteral("2.2.0"));
    }

    void badInputWritesNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QStringList wrong; // fit, gal, language pack, zero bytes
        for (const char *kind : {"fit", "gal", "pacer40-languages", "zero-bytes"}) {
            wrong << newPath(QString::fromLatin1(kind)) + ".zip";
            QVERIFY(writeWrongPackage(wrong.last(), QString::fromLatin1(kind)));
        }
        const QString good = package(QStringLiteral("9.0.0"));
        const QString shortZip = newPath(QStringLiteral("short")) + ".zip";
        QVERIFY(writeFile(shortZip, readFile(good + "/Total.zip").left(300)));
        const QString noAp = package(QStringLiteral("9.0.0"));
        QVERIFY(QFile::remove(noAp + "/DeviceAp.zip"));
        const QString emptyLaunchSec = package(QStringLiteral("9.0.0"));
        QVERIFY(writeFile(emptyLaunchSec + "/LaunchSec.zip", QByteArray()));
        QStringList instructing; // a launch-security archive that would ask the firmware to format or update
        for (const char *name : {"format.ini", "UPDATE.INI"}) {
            instructing << package(QStringLiteral("9.0.0"));
            QVERIFY(!zipFiles(instructing.last() + "/LaunchSec.zip", {{QString::fromLatin1(name), "1"}}).isEmpty());
        }

        QTest::newRow("FIT package") << QStringList{"update", wrong[0]} << 1;
        QTest::newRow("GAL package") << QStringList{"update", wrong[1]} << 1;
        QTest::newRow("Pacer40 language pack") << QStringList{"update", wrong[2]} << 1;
        QTest::newRow("empty archive") << QStringList{"update", wrong[3]} << 1;
        QTest::newRow("short archive") << QStringList{"update", shortZip} << 1;
        QTest::newRow("restore folder without DeviceAp.zip") << QStringList{"restore", noAp} << 1;
        QTest::newRow("restore folder with an empty LaunchSec.zip") << QStringList{"restore", emptyLaunchSec} << 1;
        QTest::newRow("LaunchSec.zip bringing format.ini") << QStringList{"restore", instructing[0]} << 1;
        QTest::newRow("LaunchSec.zip bringing Update.ini") << QStringList{"restore", instructing[1]} << 1;
        QTest::newRow("a package as restore folder") << QStringList{"restore", good + "/Total.zip"} << 2;
        QTest::newRow("path-like folder as package") << QStringList{"update", "../../../../../../../../tmp"} << 2;
        QTest::newRow("path-like system file as package")
            << QStringList{"update", "../../../../../../../../etc/passwd"} << 1;
        QTest::newRow("path-like UUID") << QStringList{"update", good + "/Total.zip", "--device", "../../P50"} << 3;
    }
    void badInputWritesNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        // The attach leaves the companion's marker in the identity file; it is set before the snapshot.
        QCOMPARE(devctl({"info"}).code, 0);
        const QStringList before = snapshot(volume());
        const VHTestRun run = devctl(arguments);
        QCOMPARE(run.code, code);
        QCOMPARE(snapshot(volume()), before);
        QCOMPARE(QDir(requests()).entryList(QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestDevctlPacer50)
#include "tst_DevctlPacer50.moc"
