// velora-devctl against a simulated GAL device: refused or current packages leave the volume and the mode.

#include "VHDevSim.h"
#include "VHTestProcess.h"
#include "VHTestWrongPackages.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kName = QStringLiteral("GAL1");
} // namespace

class TestDevctlGal : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHDevSim> m_sim;
    int m_count = 0;

    VHTestRun devctl(const QStringList &arguments)
    {
        return runTestProgram(QStringLiteral(DEVCTL_PROGRAM),
                              QStringList{QStringLiteral("--sim"), m_sim->root(), QStringLiteral("--json")}
                                  + arguments);
    }

    QString file(const QString &name) const { return m_work.filePath(name); }

    // The volume's files and their contents, but for the identity file the drive scan marks.
    QStringList volumeState() const
    {
        QStringList files = snapshot(m_sim->volumePath(kName));
        files.removeIf([](const QString &line) { return line.startsWith(QLatin1String("device.ini ")); });
        return files;
    }

    void plugDevice(const VHDevSim::GalIdentity &identity)
    {
        m_sim->remove(kName);
        QVERIFY2(m_sim->createGal(kName, identity), qPrintable(m_sim->lastError()));
        QVERIFY(m_sim->plug(kName));
    }

    // One kind of input per row; its file, built once.
    QString input(const QString &kind)
    {
        const QString path = file(kind + QStringLiteral(".zip"));
        if (QFileInfo::exists(path))
            return path;
        VHGalPackageBuilder::Options gal = VHGalPackageBuilder::broken(VHGalPackageBuilder::Broken::ShortFont);
        if (kind != QLatin1String("short-fonts"))
            gal = VHGalPackageBuilder::Options();
        if (kind == QLatin1String("parts-exceed-size"))
            gal.sizeKiB = QStringLiteral("64"); // the image alone is 200 KiB
        const bool made = kWrongPackageKinds.contains(kind) ? writeWrongPackage(path, kind)
                                                            : VHGalPackageBuilder::writePackage(path, gal);
        return made ? path : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        qputenv("XDG_DATA_HOME", m_work.filePath(QStringLiteral("xdg/data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", m_work.filePath(QStringLiteral("xdg/config")).toUtf8());
        m_sim = std::make_unique<VHDevSim>(m_work.filePath(QStringLiteral("sim")));
        QVERIFY(QDir().mkpath(m_sim->root()));
    }

    // "current": the package the device already runs, nothing to do (exit 4).
    void badInput_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("exitCode");
        const QList<std::pair<const char *, const char *>> inputs{
            {"fit", ""},        {"pacer50", ""},     {"pacer40-languages", ""}, {"empty-zip", ""},
            {"zero-bytes", ""}, {"short-fonts", ""}, {"parts-exceed-size", ""}, {"gal", "../../etc/x"},
            {"current", ""}};
        for (int method : {1, 2}) {
            for (const auto &[kind, language] : inputs) {
                const int code = *language ? 2 : qstrcmp(kind, "current") == 0 ? 4 : 1;
                QTest::newRow(qPrintable(QStringLiteral("method %1 | %2%3").arg(method).arg(kind, language)))
                    << QString::fromLatin1(kind) << QString::fromLatin1(language) << method << code;
            }
        }
    }
    void badInput()
    {
        QFETCH(QString, kind);
        QFETCH(QString, language);
        QFETCH(int, method);
        QFETCH(int, exitCode);
        const VHGalPackageBuilder::Options gal;
        VHDevSim::GalIdentity identity;
        identity.updateMethod = method;
        identity.bootLoader = QStringLiteral("R001"); // every package's boot loader is newer
        if (kind == QLatin1String("current")) {
            identity.os = gal.imageVersion;
            identity.langVersion = gal.langVersion;
            identity.bootLoader = gal.bootLoaderVersion;
        }
        plugDevice(identity);
        const QStringList before = volumeState();
        const QString package = input(kind);
        QVERIFY(!package.isEmpty());
        QStringList arguments{QStringLiteral("update"), package};
        if (!language.isEmpty())
            arguments << language;
        const VHTestRun run = devctl(arguments);
        QCOMPARE(run.code, exitCode);
        QVERIFY2(run.err.contains("nothing to do") == (exitCode == 4), run.err.constData());
        QCOMPARE(volumeState(), before);
        // Still a volume: restarted, the device is not in IAP mode.
        QVERIFY(m_sim->restart(kName));
        QVERIFY(QFileInfo::exists(m_sim->drivePath(kName) + QStringLiteral("/device.ini")));
    }

    // recover flashes a device left in IAP mode with the first pass's choice unless LANG is given; a folder
    // restores, and a restore the first pass kept goes on from its own folder whatever is given.
    void recover_data()
    {
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("kept"); // the record's restore folder: "", "folder" or "gone"
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("argument"); // "gal" or "folder"
        QTest::addColumn<QString>("used");
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("exitCode");
        const auto row = [](const char *name, const char *remembered, const char *kept, const char *given,
                            const char *argument, const char *used, const char *source, int exitCode) {
            QTest::newRow(name) << QString::fromLatin1(remembered) << QString::fromLatin1(kept)
                                << QString::fromLatin1(given) << QString::fromLatin1(argument)
                                << QString::fromLatin1(used) << QString::fromLatin1(source) << exitCode;
        };
        row("remembered", "deu", "", "", "gal", "deu", "remembered", 0);
        row("LANG given", "deu", "", "eng", "gal", "eng", "given", 0);
        row("nothing remembered", "", "", "", "gal", "eng", "default", 0);
        row("restore folder", "", "", "", "folder", "", "", 0);
        row("restore kept, package given", "deu", "folder", "eng", "gal", "", "", 0);
        row("restore kept, its folder gone", "deu", "gone", "", "gal", "", "", 1);
    }
    void recover()
    {
        QFETCH(QString, remembered);
        QFETCH(QString, kept);
        QFETCH(QString, given);
        QFETCH(QString, argument);
        QFETCH(QString, used);
        QFETCH(QString, source);
        QFETCH(int, exitCode);
        VHDevSim::GalIdentity identity;
        identity.updateMethod = 2;
        plugDevice(identity);
        QVERIFY(writeFile(m_sim->volumePath(kName) + QStringLiteral("/update.ini"), QByteArray()));
        QVERIFY(m_sim->restart(kName)); // now in IAP mode
        const QString record = file(QStringLiteral("xdg/data/VeloraHub/pending/gal-%1.ini")).arg(identity.uuid);
        QFile::remove(record);
        const QString keptFolder = file(QStringLiteral("kept-") + kept);
        if (kept == QLatin1String("folder"))
            QVERIFY(VHGalPackageBuilder::writeRestoreFolder(keptFolder, VHGalPackageBuilder::Restore()));
        if (!remembered.isEmpty()) {
            QByteArray text = "[GalPending]\nlanguage=" + remembered.toLatin1() + "\n";
            if (!kept.isEmpty())
                text += "restorefolder=" + keptFolder.toUtf8().toPercentEncoding() + "\n";
            QVERIFY(writeFile(record, text));
        }
        QString package = input(QStringLiteral("gal"));
        if (argument == QLatin1String("folder")) {
            package = file(QStringLiteral("restore"));
            QVERIFY(VHGalPackageBuilder::writeRestoreFolder(package, VHGalPackageBuilder::Restore()));
        }
        QStringList arguments{QStringLiteral("recover"), package};
        if (!given.isEmpty())
            arguments << given;
        const VHTestRun run = devctl(arguments);
        QVERIFY2(run.code == exitCode, run.err.constData());
        QCOMPARE(run.json.value(QStringLiteral("package")).toString(), package);
        if (exitCode != 0) {
            // Nothing else is written over a restore begun from a folder that is gone; the record stays.
            QVERIFY2(run.json.value(QStringLiteral("errorText")).toString().contains(QStringLiteral("gone")),
                     run.out.constData());
            QVERIFY(QFileInfo::exists(record));
            return;
        }
        QCOMPARE(run.json.value(QStringLiteral("source")).toString(), kept.isEmpty() ? package : keptFolder);
        // Without a language kept or given it says which one the image gets.
        QCOMPARE(run.err.contains("English (eng)"), source == QLatin1String("default"));
        if (!used.isEmpty()) {
            QCOMPARE(run.json.value(QStringLiteral("language")).toString(), used);
            QCOMPARE(run.json.value(QStringLiteral("languageSource")).toString(), source);
        }
        QVERIFY(!QFileInfo::exists(record)); // flashed: nothing left to carry
        // The notification was sent: the device starts again from its volume.
        QStringList installed;
        QVERIFY(m_sim->restart(kName, 0, &installed));
        QVERIFY2(installed.contains(used.isEmpty() ? QStringLiteral("OS=1.0.0") : QStringLiteral("OS=2.1.0")),
                 qPrintable(installed.join(',')));
    }
};

QTEST_GUILESS_MAIN(TestDevctlGal)
#include "tst_DevctlGal.moc"
