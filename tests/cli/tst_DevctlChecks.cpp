// What velora-devctl decides before a write, what a package says about itself,
// and the history lines that carry an action's versions and reason.

#include "VHDevctl.h"
#include "VHDevctlChecks.h"
#include "VHHistory.h"
#include "VHPackageIdentity.h"
#include "VHTestZip.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

class TestDevctlChecks : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;

private slots:
    void comparePackage_data()
    {
        QTest::addColumn<QString>("deviceModel");
        QTest::addColumn<QString>("deviceVersion");
        QTest::addColumn<QString>("packageModel");
        QTest::addColumn<QString>("packageVersion");
        QTest::addColumn<bool>("force");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QString>("reasonHas"); // empty: no reason
        // "model version" of the device and of the package
        const auto row = [](const char *tag, const char *device, const char *package, bool force, bool allowed,
                            const char *reasonHas) {
            const QStringList d = QString::fromLatin1(device).split(QLatin1Char(' '));
            const QStringList p = QString::fromLatin1(package).split(QLatin1Char(' '));
            QTest::newRow(tag) << d.at(0) << d.value(1) << p.at(0) << p.value(1) << force << allowed << reasonHas;
        };
        row("same model, newer", "Pacer70 1.9.00", "Pacer70 1.10.00", false, true, "");
        row("same version", "Pacer70 1.9.00", "Pacer70 1.9.00", false, true, "");
        row("model in another case", "Pacer70 1.0", "PACER70 1.1", false, true, "");
        row("foreign", "Pacer70 1.0", "Pacer 2.0", false, false,
            "made for Pacer, the device is a Pacer70; use --force");
        row("foreign, forced", "Pacer70 1.0", "Pacer 2.0", true, true, "made for Pacer");
        row("older", "Pacer70 1.10.00", "Pacer70 1.9.00", false, false,
            "1.9.00 is older than the device's 1.10.00; use --force");
        row("older, forced", "Pacer70 1.10.00", " 1.9.00", true, true, "older");
        row("versions of other forms", "Pacer21 110", " 2.1.0", false, true, "");
        row("package names nothing", "Pacer21 110", " ", false, true, "");
        row("device version unknown", "Pacer21 ", "Pacer21 1.0", false, true, "");
    }
    void comparePackage()
    {
        QFETCH(QString, deviceModel);
        QFETCH(QString, deviceVersion);
        QFETCH(QString, packageModel);
        QFETCH(QString, packageVersion);
        QFETCH(bool, force);
        QFETCH(bool, allowed);
        QFETCH(QString, reasonHas);
        VHPackageIdentity package;
        package.model = packageModel;
        package.version = packageVersion;
        const auto verdict = VHDevctlChecks::comparePackage({deviceModel, deviceVersion}, package, force);
        QCOMPARE(verdict.allowed, allowed);
        QCOMPARE(verdict.forced, force && !reasonHas.isEmpty());
        QVERIFY2(reasonHas.isEmpty() ? verdict.reason.isEmpty() : verdict.reason.contains(reasonHas),
                 qPrintable(verdict.reason));
    }

    void answers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("yes");
        for (const char *word : {"y\n", "Y", " yes ", "YES\n"})
            QTest::newRow(word) << QString::fromLatin1(word) << true;
        for (const char *word : {"", "\n", "n", "no", "yep", "y y"})
            QTest::newRow(word) << QString::fromLatin1(word) << false;
    }
    void answers()
    {
        QFETCH(QString, answer);
        QFETCH(bool, yes);
        QCOMPARE(VHDevctlChecks::isYes(answer), yes);
    }

    // kind: "zip" a package file, "folder" release.ini in a folder, "total" Total.zip in a folder.
    void packageIdentity_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("releaseIni");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("version");
        const QByteArray fit = "[MODEL]\r\nName=Pacer70\r\n[OS]\r\nName=os.bin\r\nVersion=1.10.00\r\n";
        const auto row = [](const char *tag, const char *kind, const QByteArray &ini, const char *identity) {
            const QStringList said = QString::fromLatin1(identity).split(QLatin1Char(' '));
            QTest::newRow(tag) << QString::fromLatin1(kind) << ini << said.at(0) << said.value(1);
        };
        row("zip", "zip", fit, "Pacer70 1.10.00");
        row("folder", "folder", fit, "Pacer70 1.10.00");
        row("Total.zip in a folder", "total", fit, "Pacer70 1.10.00");
        row("names no model", "zip", "[IMG]\nName=SycamorePlus\n[OS]\nVersion=2.1.0\n", " 2.1.0");
        row("no release.ini", "zip", QByteArray(), " ");
        row("control characters", "zip",
            "[MODEL]\nName=Pa\x01"
            "cer\n",
            " ");
        row("too large", "zip", fit + QByteArray(VHPackageIdentity::kMaxReleaseIniSize, ';'), " ");
        row("damaged zip", "broken", fit, " ");
    }
    void packageIdentity()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, releaseIni);
        QFETCH(QString, model);
        QFETCH(QString, version);
        const QString folder = m_work.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        QList<QPair<QString, QByteArray>> files{{QStringLiteral("os.bin"), QByteArray(100, 'x')}};
        if (!releaseIni.isEmpty())
            files.append({QStringLiteral("release.ini"), releaseIni});
        QString path = folder + QStringLiteral("/package.zip");
        if (kind == QLatin1String("folder")) {
            path = folder;
            QVERIFY(writeFile(folder + QStringLiteral("/release.ini"), releaseIni));
        } else {
            QVERIFY(!zipFiles(kind == QLatin1String("total") ? folder + QStringLiteral("/Total.zip") : path, files)
                         .isEmpty());
            if (kind == QLatin1String("total"))
                path = folder;
            if (kind == QLatin1String("broken"))
                QVERIFY(writeFile(path, readFile(path).left(40)));
        }
        const VHPackageIdentity identity = VHPackageIdentity::read(path);
        QCOMPARE(identity.model, model);
        QCOMPARE(identity.version, version);
    }

    // A device's return sets the versionAfter of its last write, and only of a write that succeeded.
    void returnsFolded_data()
    {
        QTest::addColumn<QStringList>("lines"); // "action uuid result versionAfter"
        QTest::addColumn<QStringList>("folded");
        QTest::newRow("update, return") << QStringList{"update A ok 1.0", "return A ok 2.0"}
                                        << QStringList{"update A ok 2.0"};
        QTest::newRow("failed update") << QStringList{"update A failed 1.0", "return A ok 2.0"}
                                       << QStringList{"update A failed 1.0"};
        QTest::newRow("other device between") << QStringList{"recover A ok ?", "restore B ok 1.0", "return A ok 3.0"}
                                              << QStringList{"recover A ok 3.0", "restore B ok 1.0"};
        QTest::newRow("gps is no write that restarts")
            << QStringList{"gps A ok 1.0", "return A ok 2.0"} << QStringList{"gps A ok 1.0"};
        QTest::newRow("return without an action") << QStringList{"return A ok 2.0"} << QStringList{};
    }
    void returnsFolded()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, folded);
        QList<VHHistoryEntry> entries;
        for (const QString &line : lines) {
            const QStringList fields = line.split(QLatin1Char(' '));
            VHHistoryEntry entry;
            entry.action = fields.at(0);
            entry.uuid = fields.at(1);
            entry.ok = fields.at(2) == QLatin1String("ok");
            entry.versionAfter = fields.at(3);
            entries.append(entry);
        }
        QStringList shown;
        for (const VHHistoryEntry &entry : VHHistory::foldReturns(entries))
            shown << QStringLiteral("%1 %2 %3 %4")
                         .arg(entry.action, entry.uuid, entry.ok ? QStringLiteral("ok") : QStringLiteral("failed"),
                              entry.versionAfter);
        QCOMPARE(shown, folded);
    }

    // Lines written before the package version and reason were kept still read; new ones carry both.
    void historyFields_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("shown");
        QTest::newRow("old line") << QByteArray(R"({"time":"2026-01-02T03:04:05.000Z","action":"update",)"
                                                R"("versionBefore":"1.0","versionAfter":"1.1","result":"ok"})")
                                  << "1.0 -> 1.1  ok";
        QTest::newRow("failed, with reason")
            << QByteArray(R"({"time":"2026-01-02T03:04:05.000Z","action":"update","versionBefore":"1.0",)"
                          R"("versionPackage":"1.2","result":"failed","errorCode":3,"reason":"not enough space"})")
            << "1.0 -> ? (package 1.2)  failed (3): not enough space";
        QTest::newRow("recover") << QByteArray(R"({"time":"2026-01-02T03:04:05.000Z","action":"recover",)"
                                               R"("versionBefore":"","versionAfter":"2.1.0","result":"ok"})")
                                 << "? -> 2.1.0  ok";
    }
    void historyFields()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, shown);
        const QList<VHHistoryEntry> entries = VHHistory::parse(line + '\n', false);
        QCOMPARE(entries.size(), 1);
        QVERIFY2(VHDevctl::historyLine(entries.first()).contains(shown),
                 qPrintable(VHDevctl::historyLine(entries.first())));
        VHHistoryEntry again;
        QVERIFY(VHHistoryEntry::fromJson(entries.first().toJson(), again));
        QCOMPARE(again.versionPackage, entries.first().versionPackage);
        QCOMPARE(again.reason, entries.first().reason);
    }
};

QTEST_GUILESS_MAIN(TestDevctlChecks)
#include "tst_DevctlChecks.moc"
