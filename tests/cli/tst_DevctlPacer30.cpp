// velora-devctl run as a child process against a simulated Pulsar30: info, a
// refused and a good loader package, an image update that erases after a
// backup, that backup listed and written back, the flash copy and the
// write-back; the restarted device reports the versions it was given.

#include "VHDevSim.h"
#include "VHTestFiles.h"
#include "VHTestProcess.h"
#include "VHTestZip.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kName = QStringLiteral("MAPLE1");
} // namespace

class TestDevctlPacer30 : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHDevSim> m_sim;

    int devctl(const QStringList &arguments, QJsonObject *json = nullptr)
    {
        const VHTestRun run =
            runTestProgram(QStringLiteral(DEVCTL_PROGRAM),
                           QStringList{QStringLiteral("--sim"), m_sim->root(), QStringLiteral("--json")} + arguments);
        if (json)
            *json = run.json;
        return run.code;
    }

    QString zip(const QString &name, const QList<QPair<QString, QByteArray>> &files)
    {
        return zipFiles(m_work.filePath(name), files);
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", m_work.filePath(QStringLiteral("xdg/data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", m_work.filePath(QStringLiteral("xdg/config")).toUtf8());
        qputenv("VELORA_DEVCTL_FLASH_POLL_MS", "0");
        m_sim = std::make_unique<VHDevSim>(m_work.filePath(QStringLiteral("sim")));
        VHSimPacer30Options options;
        options.model = QStringLiteral("Pulsar30");
        options.productTag = "V002"; // old enough that the image update erases the external flash
        options.rebootCommands = 2;
        QVERIFY(QDir().mkpath(m_sim->root()));
        QVERIFY(m_sim->createPacer30(kName, options));
        QVERIFY(m_sim->plug(kName));
    }

    void updateLoaderAndRestart()
    {
        QJsonObject json;
        QCOMPARE(devctl({QStringLiteral("info")}, &json), 0);
        QCOMPARE(json.value(QStringLiteral("device")).toObject().value(QStringLiteral("model")).toString(),
                 QStringLiteral("Pulsar30"));
        // Without a temporary loader nothing is written.
        m_sim->clearCommandLog(kName);
        QCOMPARE(devctl({QStringLiteral("loader"), zip(QStringLiteral("bad.zip"), {{"IAP.bin", "x"}})}), 1);
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE")).isEmpty());
        const QByteArray loader = VHDevSim::makeImage(QStringLiteral("IAP"), QStringLiteral("I012"), "loader");
        QCOMPARE(devctl({QStringLiteral("loader"),
                         zip(QStringLiteral("iap.zip"), {{"ITemp.bin", QByteArray(3000, 'T')}, {"IAP.bin", loader}})}),
                 0);
        // The temporary loader ran from internal flash: the program image comes after it.
        const QByteArray image =
            VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("V011"), "MAPLE" + QByteArray(600, 'm'));
        QCOMPARE(devctl({QStringLiteral("update"), zip(QStringLiteral("maple.zip"), {{"maple.bin", image}})}), 0);
        QVERIFY(m_sim->restart(kName));
        QCOMPARE(devctl({QStringLiteral("info")}, &json), 0);
        QCOMPARE(json.value(QStringLiteral("device")).toObject().value(QStringLiteral("version")).toString(),
                 QStringLiteral("V011"));
        QCOMPARE(VHSimScsiDevice::readIdentity(m_sim->deviceFolder(kName)).iapTag, QByteArray("I012"));
        // The image the device runs, again: nothing is written, and that is "nothing to do" (4), not done.
        m_sim->clearCommandLog(kName);
        QCOMPARE(devctl({QStringLiteral("update"), zip(QStringLiteral("maple.zip"), {{"maple.bin", image}})}), 4);
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE")).isEmpty());
    }

    // Packages and backups that are not this device's: refused, nothing erased or written.
    void badInputWritesNothing_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("code");
        const QByteArray tagged = "MAPLE" + QByteArray(600, 'm');
        const QString own = QStringLiteral("pacer30flash.vh2.8.0.99-1004A1B2C3D4E5F6.dat");
        const QStringList update{QStringLiteral("update")},
            restore{QStringLiteral("backup"), QStringLiteral("--restore")};
        const auto zipped = [](const QList<QPair<QString, QByteArray>> &files) {
            QTemporaryDir dir;
            return readFile(zipFiles(dir.filePath(QStringLiteral("p.zip")), files));
        };
        QTest::newRow("image: a FIT package")
            << update << "fit.zip"
            << zipped({{"release.ini", "[OS]\nName=OS_V2.bin\nVersion=V2\n"}, {"OS_V2.bin", tagged}}) << 1;
        QTest::newRow("image: a GAL package")
            << update << "gal.zip" << zipped({{"iap.bin", tagged}, {"SycamoreBR_120.bin", tagged}}) << 1;
        QTest::newRow("image: a language pack")
            << update << "lang.zip" << zipped({{"aspens.bin", tagged}, {"x_eng_x.bft", "font"}}) << 1;
        QTest::newRow("image: a 0-byte image") << update << "zero.zip" << zipped({{"PULSAR30_V5.bin", {}}}) << 1;
        QTest::newRow("image: a short image") << update << "short.zip" << zipped({{"MAPLE.bin", tagged.left(64)}}) << 1;
        QTest::newRow("image: an empty file") << update << "empty.zip" << QByteArray() << 1;
        QTest::newRow("image: a path-like entry")
            << update << "escape.zip" << zipped({{"../PULSAR30_V5.bin", tagged}}) << 1;
        QTest::newRow("backup: a package") << restore << own << zipped({{"MAPLE.bin", tagged}}) << 2;
        QTest::newRow("backup: 0 bytes") << restore << own << QByteArray() << 2;
        QTest::newRow("backup: short") << restore << own << QByteArray(4096, char(0xFF)) << 2;
        QTest::newRow("backup: a whole flash that holds no store")
            << restore << own << QByteArray(1024 * 1024, char(0xFF)) << 1;
        QTest::newRow("backup: a path-like argument") << restore << "../../" + own << QByteArray() << 2;
    }

    void badInputWritesNothing()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        const QString path = m_work.filePath(QStringLiteral("bad/") + file);
        if (!file.startsWith(QLatin1String("..")))
            QVERIFY(writeFile(path, content));
        const QByteArray before = m_sim->flash(kName, VHDevSim::Flash::External);
        m_sim->clearCommandLog(kName);
        QCOMPARE(devctl(command + QStringList{path}), code);
        const QStringList log = m_sim->commandLog(kName);
        QVERIFY2(log.filter(QStringLiteral("WRITE")).isEmpty(), qPrintable(log.join(QLatin1Char('\n'))));
        QCOMPARE(m_sim->flash(kName, VHDevSim::Flash::External), before);
    }

    // The backup saved before the erase is listed, another device's beside it is
    // not; bad files write nothing; the own backup brings the flash back whole.
    void listAndRestoreBackup()
    {
        QJsonObject json;
        QCOMPARE(devctl({QStringLiteral("backup")}, &json), 0);
        const QJsonArray listed = json.value(QStringLiteral("backups")).toArray();
        QCOMPARE(listed.size(), 1);
        const QString kept = listed.first().toString();
        const QByteArray backup = readFile(kept);
        QCOMPARE(backup.size(), 1024 * 1024);
        QVERIFY(backup != m_sim->flash(kName, VHDevSim::Flash::External));
        const QString other = QFileInfo(kept).dir().filePath(QStringLiteral("pacer30flash.vh1.0-OTHER.dat"));
        QVERIFY(writeFile(other, backup));
        QCOMPARE(devctl({QStringLiteral("backup")}, &json), 0);
        QCOMPARE(json.value(QStringLiteral("backups")).toArray(), listed);

        const QString shortCopy = m_work.filePath(QFileInfo(kept).fileName());
        QVERIFY(writeFile(shortCopy, backup.left(backup.size() - 1)));
        m_sim->clearCommandLog(kName);
        for (const QString &refused : {other, shortCopy, m_work.filePath(QStringLiteral("missing.dat"))})
            QVERIFY2(devctl({QStringLiteral("backup"), QStringLiteral("--restore"), refused}) == 2,
                     qPrintable(refused));
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE")).isEmpty());

        QCOMPARE(devctl({QStringLiteral("backup"), QStringLiteral("--restore"), kept}), 0);
        QCOMPARE(m_sim->flash(kName, VHDevSim::Flash::External), backup);
    }

    void backupAndFinalize()
    {
        const QString copy = m_work.filePath(QStringLiteral("copy.dat"));
        QCOMPARE(devctl({QStringLiteral("backup"), copy}), 0);
        QCOMPARE(readFile(copy), m_sim->flash(kName, VHDevSim::Flash::External));
        // Nothing was changed: the write-back has nothing to write (4), and the flash stays as it was.
        const QByteArray before = m_sim->flash(kName, VHDevSim::Flash::External);
        QCOMPARE(devctl({QStringLiteral("finalize")}), 4);
        QCOMPARE(m_sim->flash(kName, VHDevSim::Flash::External), before);
        // The Pulsar30 keeps no language in its profile.
        QCOMPARE(devctl({QStringLiteral("languages")}), 1);
    }
};

QTEST_GUILESS_MAIN(TestDevctlPacer30)
#include "tst_DevctlPacer30.moc"
