// velora-devctl says what happened: a failed update of every family names its
// reason and the log, nothing to do is exit 4, a foreign or older package waits
// for --force, the history keeps versions and reasons, plain progress ends at 100%.

#include "VHDevSim.h"
#include "VHTestPhaseLines.h"
#include "VHTestProcess.h"
#include "VHTestWrongPackages.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kName = QStringLiteral("WATCH");
} // namespace

class TestDevctlOutcome : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;

    QString simRoot(const QString &family) const { return m_work.filePath(QStringLiteral("sim-") + family); }

    VHTestRun devctl(const QString &family, const QStringList &arguments)
    {
        return runTestProgram(QStringLiteral(DEVCTL_PROGRAM),
                              QStringList{QStringLiteral("--sim"), simRoot(family)} + arguments);
    }

    // A fresh device of the family alone on its own platform root.
    bool plug(const QString &family, const VHDevSim::FitIdentity &fit = {})
    {
        VHDevSim sim(simRoot(family));
        sim.remove(kName);
        QDir().mkpath(sim.root());
        bool made = false;
        if (family == QLatin1String("FIT")) {
            made = sim.createFit(kName, fit);
        } else if (family == QLatin1String("GAL")) {
            VHDevSim::GalIdentity gal;
            gal.bootLoader = QStringLiteral("R001");
            made = sim.createGal(kName, gal);
        } else if (family == QLatin1String("Pacer50")) {
            made = sim.createPacer50(kName, VHSimPacer50Options());
        } else if (family == QLatin1String("Pacer40")) {
            made = sim.createPacer40(kName);
        } else if (family == QLatin1String("Pacer30")) {
            made = sim.createPacer30(kName);
        }
        return made && sim.plug(kName);
    }

    QString fitPackage(const QString &name, const QString &model, const QString &os, const QString &bluetooth)
    {
        VHFitPackageBuilder::Options options;
        options.model = model;
        options.images =
            VHFitPackageBuilder::imagesWithVersions(os, QStringLiteral("B1.00"), QStringLiteral("DL0100"),
                                                    QStringLiteral("NL100"), QStringLiteral("TZ100"), bluetooth);
        const QString path = m_work.filePath(name + QStringLiteral(".zip"));
        return VHFitPackageBuilder::writePackage(path, options) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        qputenv("XDG_DATA_HOME", m_work.filePath(QStringLiteral("xdg/data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", m_work.filePath(QStringLiteral("xdg/config")).toUtf8());
        qputenv("VELORA_DEVCTL_FLASH_POLL_MS", "0");
    }

    // Each family refuses another family's package (or an empty archive) in its own words.
    void failedUpdateSaysWhy_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("wrong");
        const char *rows[][2] = {
            {"FIT", "gal"}, {"GAL", "pacer50"}, {"Pacer50", "gal"}, {"Pacer40", "empty-zip"}, {"Pacer30", "empty-zip"}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
    }
    void failedUpdateSaysWhy()
    {
        QFETCH(QString, family);
        QFETCH(QString, wrong);
        QVERIFY(plug(family));
        const QString package = m_work.filePath(family + QStringLiteral("-wrong.zip"));
        QVERIFY(writeWrongPackage(package, wrong));
        const VHTestRun run = devctl(family, {QStringLiteral("update"), package, QStringLiteral("--json")});
        QCOMPARE(run.code, 1);
        const QString errorText = run.json.value(QStringLiteral("errorText")).toString();
        const QString log = run.json.value(QStringLiteral("log")).toString();
        QVERIFY2(!errorText.isEmpty() && run.err.contains(errorText.toUtf8()), run.err.constData());
        QVERIFY2(!run.err.contains("the action failed (error code"), run.err.constData());
        QVERIFY2(!log.isEmpty() && run.err.contains("see the log: " + log.toUtf8()), run.err.constData());
        QCOMPARE(run.json.value(QStringLiteral("ok")).toBool(true), false);
        QCOMPARE(run.json.value(QStringLiteral("changed")).toBool(true), false);
        QVERIFY(run.json.value(QStringLiteral("errorCode")).toInt() != 0);
        QCOMPARE(run.json.value(QStringLiteral("command")).toString(), QStringLiteral("update"));
    }

    // The package the device already runs: exit 4 and "already up to date", never "update written".
    void nothingToDo_data()
    {
        QTest::addColumn<bool>("json");
        QTest::newRow("plain") << false;
        QTest::newRow("JSON") << true;
    }
    void nothingToDo()
    {
        QFETCH(bool, json);
        VHDevSim sim(simRoot(QStringLiteral("GAL-current")));
        sim.remove(kName);
        QDir().mkpath(sim.root());
        const VHGalPackageBuilder::Options gal;
        VHDevSim::GalIdentity identity;
        identity.os = gal.imageVersion;
        identity.langVersion = gal.langVersion;
        identity.bootLoader = gal.bootLoaderVersion;
        QVERIFY(sim.createGal(kName, identity) && sim.plug(kName));
        const QString package = m_work.filePath(QStringLiteral("gal-current.zip"));
        QVERIFY(VHGalPackageBuilder::writePackage(package, gal));
        QStringList arguments{QStringLiteral("update"), package};
        if (json)
            arguments << QStringLiteral("--json");
        const VHTestRun run = devctl(QStringLiteral("GAL-current"), arguments);
        QCOMPARE(run.code, 4);
        QVERIFY(!run.out.contains("update written"));
        QVERIFY2(run.err.contains("already up to date"), run.err.constData());
        QVERIFY(!run.err.contains("see the log"));
        if (!json) {
            QVERIFY(run.out.contains("already up to date"));
            return;
        }
        QCOMPARE(run.json.value(QStringLiteral("ok")).toBool(), true);
        QCOMPARE(run.json.value(QStringLiteral("changed")).toBool(true), false);
        QCOMPARE(run.json.value(QStringLiteral("errorCode")).toInt(-1), 0);
        QVERIFY(
            run.json.value(QStringLiteral("errorText")).toString().startsWith(QStringLiteral("already up to date")));
    }

    // A FIT device at 1.00.00 (BT10): a foreign or an older package is refused unless forced.
    void foreignOrOlderPackage_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("os");
        QTest::addColumn<bool>("force");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const auto row = [](const char *tag, const char *model, const char *os, bool force, int exitCode,
                            const char *said) {
            QTest::newRow(tag) << QString::fromLatin1(model) << QString::fromLatin1(os) << force << exitCode
                               << QString::fromLatin1(said);
        };
        row("foreign", "Pacer", "1.10.00", false, 1,
            "made for Pacer, the device is a Pacer70; use --force to write it anyway");
        row("foreign, forced", "Pacer", "1.10.00", true, 0, "forced: "); // an older one forced: tst_DevctlChecks
        row("older", "Pacer70", "0.90.00", false, 1,
            "the package's version 0.90.00 is older than the device's 1.00.00");
        row("own and newer", "Pacer70", "1.10.00", false, 0, "");
    }
    void foreignOrOlderPackage()
    {
        QFETCH(QString, model);
        QFETCH(QString, os);
        QFETCH(bool, force);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QVERIFY(plug(QStringLiteral("FIT")));
        const QString volume = VHDevSim(simRoot(QStringLiteral("FIT"))).volumePath(kName);
        // The Bluetooth image is newer, so a forced package has something to write.
        const QString package = fitPackage(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'), model, os,
                                           QStringLiteral("BT11"));
        QVERIFY(!package.isEmpty());
        QStringList arguments{QStringLiteral("update"), package};
        if (force)
            arguments << QStringLiteral("--force");
        const VHTestRun run = devctl(QStringLiteral("FIT"), arguments);
        QVERIFY2(run.code == exitCode, run.err.constData());
        QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
        QCOMPARE(QFileInfo::exists(volume + QStringLiteral("/update.ini")), exitCode == 0);
        // Not on a terminal: never a question.
        QVERIFY(!run.err.contains("[y/N]"));
        if (exitCode == 0)
            QCOMPARE(run.err.trimmed().split('\n').constLast(), QByteArray("100%"));
        // Every phase of the device's bytes ends at 100%, in order.
        if (exitCode == 0) {
            const QString problem = devctlPhaseProblem(run.err, {"unpack", "write", "verify"});
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

    // On a pseudo-terminal the program asks before writing: only yes writes, -y skips the question.
    void askOnTerminal_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("answered no") << QByteArray("n\n") << false << 1;
        QTest::newRow("answered with Enter") << QByteArray("\n") << false << 1;
        QTest::newRow("answered yes") << QByteArray("y\n") << false << 0;
        QTest::newRow("-y") << QByteArray() << true << 0;
    }
    void askOnTerminal()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, yes);
        QFETCH(int, exitCode);
        const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
        if (script.isEmpty())
            QSKIP("no script program to give the program a terminal");
        QVERIFY(plug(QStringLiteral("FIT")));
        const QString volume = VHDevSim(simRoot(QStringLiteral("FIT"))).volumePath(kName);
        const QString package = fitPackage(QStringLiteral("terminal"), QStringLiteral("Pacer70"),
                                           QStringLiteral("1.10.00"), QStringLiteral("BT11"));
        QString command = QStringLiteral("%1 --sim %2 update %3")
                              .arg(QStringLiteral(DEVCTL_PROGRAM), simRoot(QStringLiteral("FIT")), package);
        if (yes)
            command += QStringLiteral(" -y");
        QProcess process;
        process.start(script, {QStringLiteral("-qec"), command, QStringLiteral("/dev/null")});
        QVERIFY(process.waitForStarted());
        process.write(answer); // typed ahead: the terminal keeps it for the question
        QVERIFY(process.waitForFinished(120000));
        const QByteArray shown = process.readAllStandardOutput();
        QVERIFY2(process.exitCode() == exitCode, shown.constData());
        QCOMPARE(shown.contains("Write terminal.zip (1.10.00) to Pacer70 2101A1B2C3D4E5F6? [y/N]"), !yes);
        QCOMPARE(QFileInfo::exists(volume + QStringLiteral("/update.ini")), exitCode == 0);
    }

    // Every update above left its versions and, when it failed, its reason.
    void historyShowsVersionsAndReason()
    {
        const VHTestRun listed = devctl(QStringLiteral("FIT"), {QStringLiteral("history"), QStringLiteral("--json")});
        QCOMPARE(listed.code, 0);
        const QJsonArray entries = listed.json.value(QStringLiteral("entries")).toArray();
        QVERIFY(!entries.isEmpty());
        int failed = 0;
        int written = 0;
        for (const QJsonValue &value : entries) {
            const QJsonObject entry = value.toObject();
            if (entry.value(QStringLiteral("uuid")).toString() != VHDevSim::FitIdentity().uuid)
                continue;
            if (entry.value(QStringLiteral("result")).toString() == QLatin1String("failed")) {
                QVERIFY(!entry.value(QStringLiteral("reason")).toString().isEmpty());
                ++failed;
            } else if (entry.value(QStringLiteral("versionPackage")).toString() == QLatin1String("1.10.00")) {
                ++written;
            }
        }
        QCOMPARE(failed, 1);  // the GAL package; the refused ones never reached the device
        QCOMPARE(written, 4); // two forced or own packages here, two answered yes on a terminal
        const VHTestRun plain = devctl(QStringLiteral("FIT"), {QStringLiteral("history")});
        QVERIFY2(plain.out.contains(" -> ") && plain.out.contains("(package 1.10.00)  ok"), plain.out.constData());
        QVERIFY(plain.out.contains("failed ("));
    }
};

QTEST_GUILESS_MAIN(TestDevctlOutcome)
#include "tst_DevctlOutcome.moc"
