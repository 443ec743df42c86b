// velora-devctl run as a child process against the device simulator and the
// local package server: every command with and without --json, the exit
// codes, the whole update road and the history it leaves, a flash-store watch's
// finalize, languages and backups (saved, listed, written back), and the
// hostile cases (no device, two devices, a device that vanishes, bad usage).

#include "VHFitPackageBuilder.h"
#include "VHGalPackageBuilder.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer50PackageBuilder.h"
#include "VHPackageServer.h"
#include "VHTestDevctlRoad.h"
#include "VHTestFiles.h"
#include "VHTestTls.h"
#include "VHZipUtil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

using Run = VHTestRun;

const QString kOtherUuid = QStringLiteral("2101FFFF00001111");
const QString kPacer = QStringLiteral("LINDEN1");
const QString kPacerUuid = QStringLiteral("1105A1B2C3D4E5F6");
constexpr qint64 kPacerFlash = 0x200000;

} // namespace

class TestVeloraDevctl : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHFitRoad> m_road;

    // Runs the program to its end; with --json its output must be one JSON object.
    Run devctl(const QStringList &arguments)
    {
        const Run run = runDevctl(m_road->simRoot(), arguments);
        if (arguments.contains(QStringLiteral("--json")) && run.json.isEmpty())
            qWarning("not one JSON object: %s", run.out.constData());
        return run;
    }

    // A simulated Pacer40 alone on its own platform root.
    QString psfRoot() const { return m_work.filePath(QStringLiteral("psfsim")); }
    Run psf(const QStringList &arguments) { return devctl(QStringList{"--sim", psfRoot()} + arguments); }
    QString psfFlash() const { return VHDevSim(psfRoot()).deviceFolder(kPacer) + QStringLiteral("/external.bin"); }
    QString ownBackup(const QString &version) const
    {
        return m_work.filePath(QStringLiteral("pacer40flash.vh%1-%2.dat").arg(version, kPacerUuid));
    }

    // Its actions are recorded in the shared history: these tests come after those that count entries.
    bool plugPacer()
    {
        // The simulated flash is ready at once: no real ready-poll pauses.
        qputenv("VELORA_DEVCTL_FLASH_POLL_MS", "0");
        if (QFileInfo::exists(psfFlash()))
            return true;
        VHDevSim sim(psfRoot());
        return QDir().mkpath(psfRoot()) && sim.createPacer40(kPacer) && sim.plug(kPacer);
    }

    QString uuid() const { return m_road->options().before.uuid; }
    QString volume() const { return m_road->volumePath(); }

    QJsonArray historyEntries()
    {
        const Run run = devctl({"history", "--json"});
        return run.code == 0 ? run.json.value(QStringLiteral("entries")).toArray() : QJsonArray();
    }

private slots:
    void initTestCase()
    {
        const QString failed = startDevctlRoad(m_road, m_work);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown command") << QStringList{"bogus"} << 2 << "unknown command";
        QTest::newRow("unknown option") << QStringList{"--frob", "list"} << 2 << "unknown option";
        QTest::newRow("missing argument") << QStringList{"restore"} << 2 << "usage";
        QTest::newRow("too many") << QStringList{"update", "a", "b", "c"} << 2 << "usage";
        QTest::newRow("no command") << QStringList{} << 2 << "no command";
        QTest::newRow("bad timeout") << QStringList{"--timeout", "x", "info"} << 2 << "--timeout";
        QTest::newRow("restore without file") << QStringList{"backup", "--restore"} << 2 << "backup --restore FILE";
        QTest::newRow("restore elsewhere") << QStringList{"info", "--restore"} << 2 << "backup --restore FILE";
        QTest::newRow("option without value") << QStringList{"list", "--device"} << 2 << "needs a value";
    }

    void badUsage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, says);
        const Run text = devctl(arguments);
        QCOMPARE(text.code, code);
        QVERIFY2(text.err.contains(says.toUtf8()), text.err.constData());
        const Run json = devctl(arguments + QStringList{"--json"});
        QCOMPARE(json.code, code);
        QCOMPARE(json.json.value(QStringLiteral("exitCode")).toInt(), code);
        QVERIFY(json.json.value(QStringLiteral("error")).toString().contains(says));
    }

    void help()
    {
        const Run run = devctl({"--help"});
        QCOMPARE(run.code, 0);
        for (const char *word : {"list", "update [PACKAGE] [LANG]", "recover PACKAGE", "Exit codes", "--json"})
            QVERIFY2(run.out.contains(word), word);
    }

    void noDevice_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("json");
        // Each command once; the answer takes the same road plain or as JSON, so the two alternate.
        bool json = false;
        for (const char *command : {"list", "info", "check", "update", "gps", "workouts"}) {
            QTest::addRow("%s%s", command, json ? " --json" : "") << QString::fromLatin1(command) << json;
            json = !json;
        }
    }

    void noDevice()
    {
        QFETCH(QString, command);
        QFETCH(bool, json);
        const Run run = devctl(json ? QStringList{command, "--json"} : QStringList{command});
        QCOMPARE(run.code, 3);
        QVERIFY2(run.err.contains("no device"), run.err.constData());
        if (json)
            QCOMPARE(run.json.value(QStringLiteral("exitCode")).toInt(), 3);
    }

    void emptyHistory()
    {
        const Run run = devctl({"history", "--json"});
        QCOMPARE(run.code, 0);
        QVERIFY(run.json.value(QStringLiteral("entries")).toArray().isEmpty());
        QVERIFY(devctl({"history"}).out.contains("no actions recorded"));
    }

    void listAndInfo()
    {
        QVERIFY(m_road->plug());
        const Run list = devctl({"list"});
        QCOMPARE(list.code, 0);
        QVERIFY(list.out.contains(uuid().toLatin1()));
        const Run listJson = devctl({"list", "--json"});
        const QJsonArray devices = listJson.json.value(QStringLiteral("devices")).toArray();
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices.at(0)[QStringLiteral("uuid")].toString(), uuid());
        QCOMPARE(devices.at(0)[QStringLiteral("family")].toString(), QStringLiteral("fit"));
        QCOMPARE(devices.at(0)[QStringLiteral("path")].toString(), volume());

        const Run info = devctl({"info"});
        QCOMPARE(info.code, 0);
        QVERIFY(info.out.contains("model:     " + m_road->model().toLatin1()));
        const Run infoJson = devctl({"info", "--json"});
        const QJsonObject device = infoJson.json.value(QStringLiteral("device")).toObject();
        QCOMPARE(device.value(QStringLiteral("uuid")).toString(), uuid());
        QVERIFY(device.value(QStringLiteral("version")).toString().startsWith(QStringLiteral("1.9.00.")));
        QCOMPARE(device.value(QStringLiteral("transport")).toString(), QStringLiteral("volume"));
    }

    void twoDevices()
    {
        VHSimFitIdentity other;
        other.uuid = kOtherUuid;
        QVERIFY(m_road->sim().createFit(QStringLiteral("OTHER"), other));
        QVERIFY(m_road->sim().plug(QStringLiteral("OTHER")));
        const Run refused = devctl({"info", "--json"});
        QCOMPARE(refused.code, 2);
        QVERIFY(refused.err.contains(uuid().toLatin1()) && refused.err.contains(kOtherUuid.toLatin1()));
        QCOMPARE(refused.json.value(QStringLiteral("devices")).toArray().size(), 2);
        const Run picked = devctl({"info", "--json", "--device", kOtherUuid});
        QCOMPARE(picked.code, 0);
        QCOMPARE(picked.json[QStringLiteral("device")][QStringLiteral("uuid")].toString(), kOtherUuid);
        QCOMPARE(devctl({"info", "--device=0000000000000000"}).code, 3);
        QVERIFY(m_road->sim().remove(QStringLiteral("OTHER")));
    }

    // check, update, the history, the device's restart, then nothing to do.
    // No server at the address: the reason names it and how to set another.
    void unreachableServer_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("host does not resolve") << "http://nonexistent.invalid";
        QTest::newRow("nothing listens") << "http://127.0.0.1:9";
    }
    void unreachableServer()
    {
        QFETCH(QString, server);
        const Run run = devctl({"check", "--json", "--server", server});
        QCOMPARE(run.code, 1);
        // "errorText" in the result contract; "error" where it is not yet in place.
        QString reason = run.json.value(QStringLiteral("errorText")).toString();
        if (reason.isEmpty())
            reason = run.json.value(QStringLiteral("error")).toString();
        QVERIFY2(reason.startsWith(QStringLiteral("the update server ") + server), qPrintable(reason));
        QVERIFY2(reason.endsWith(QStringLiteral(" could not be reached; set updateurl in vh.ini or use --server URL")),
                 qPrintable(reason));
    }

    // An https server the road's authority does not vouch for, or one that
    // sends the query to plain http: refused, the reason in the result.
    void refusedChannel_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("redirect");
        QTest::addColumn<QString>("reason");
        const QString badCertificate = QStringLiteral("the server's certificate is not valid for 127.0.0.1: ");
        QTest::newRow("certificate for another name") << "othername" << false << badCertificate;
        QTest::newRow("expired certificate") << "expired" << false << badCertificate;
        QTest::newRow("redirect to http") << "localhost" << true << "the server redirected to an insecure address";
    }
    void refusedChannel()
    {
        QFETCH(QString, certificate);
        QFETCH(bool, redirect);
        QFETCH(QString, reason);
        const QString folder = m_road->tls()->folder() + QLatin1Char('/') + certificate;
        VHPackageServer plain(m_road->serverRoot());
        VHPackageServer server(m_road->serverRoot());
        QVERIFY(server.setTls(folder + QStringLiteral(".pem"), folder + QStringLiteral(".key")));
        QVERIFY(plain.listen() && server.listen());
        if (redirect)
            server.setRedirect(QStringLiteral("/versions/index"), plain.updateUrl());
        // Run beside this thread's event loop: the servers answer on it.
        QProcess process;
        process.start(QStringLiteral(DEVCTL_PROGRAM),
                      {"--sim", m_road->simRoot(), "check", "--json", "--server", server.baseUrl()});
        QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 120000));
        QCOMPARE(process.exitCode(), 1);
        const QJsonObject result = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        const QString errorText = result.value(QStringLiteral("errorText")).toString();
        QVERIFY2(errorText.startsWith(reason), qPrintable(errorText));
        QCOMPARE(plain.requestTargets(), QStringList());
    }

    void updateRoad()
    {
        const Run check = devctl({"check", "--json"});
        QCOMPARE(check.code, 0);
        QVERIFY(check.json.value(QStringLiteral("updateAvailable")).toBool());
        const QString offered = VHFitRoad::reportedVersion(m_road->installedIdentity());
        QCOMPARE(check.json.value(QStringLiteral("offered")).toString(), offered);
        QVERIFY(devctl({"check"}).out.contains("offered version: " + offered.toLatin1()));

        const Run update = devctl({"update", "--json"});
        QCOMPARE(update.code, 0);
        QCOMPARE(update.json.value(QStringLiteral("errorCode")).toInt(), 0);
        QVERIFY(QFile::exists(volume() + QStringLiteral("/update.ini")));

        const QJsonArray entries = historyEntries();
        QCOMPARE(entries.size(), 1);
        const QJsonObject entry = entries.at(0).toObject();
        QCOMPARE(entry.value(QStringLiteral("action")).toString(), QStringLiteral("update"));
        QCOMPARE(entry.value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
        QCOMPARE(entry.value(QStringLiteral("uuid")).toString(), uuid());
        QCOMPARE(entry.value(QStringLiteral("program")).toString(), QStringLiteral("velora-devctl"));
        QCOMPARE(entry.value(QStringLiteral("packageMd5")).toString(),
                 VHPackageServer::fileMd5(m_road->modelFolder() + QStringLiteral("/Total.zip")));
        QVERIFY(entry.value(QStringLiteral("versionBefore")).toString().startsWith(QStringLiteral("1.9.00.")));
        QCOMPARE(entry.value(QStringLiteral("versionPackage")).toString(), QStringLiteral("1.10.00"));
        QVERIFY(QDateTime::fromString(entry.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).isValid());
        QVERIFY(devctl({"history"}).out.contains(" update "));
        QVERIFY(devctl({"info"}).out.contains("last:      update succeeded"));

        QVERIFY(m_road->unplug());
        QVERIFY(m_road->boot());
        QVERIFY(m_road->plug());
        QCOMPARE(devctl({"check"}).code, 4);
        const Run again = devctl({"update", "--json"});
        QCOMPARE(again.code, 4);
        QCOMPARE(again.json.value(QStringLiteral("exitCode")).toInt(), 4);
        QVERIFY(again.json.value(QStringLiteral("errorText")).toString().startsWith("already up to date"));
        QCOMPARE(historyEntries().size(), 1);
        // The version the device reported when it came back is the update's result.
        QCOMPARE(historyEntries().at(0)[QStringLiteral("versionAfter")].toString(), offered);
    }

    void gpsData()
    {
        const Run first = devctl({"gps", "--json"});
        QCOMPARE(first.code, 0);
        QVERIFY(QFile::exists(volume() + QStringLiteral("/System/date.txt")));
        QCOMPARE(devctl({"gps"}).code, 4);
        QCOMPARE(historyEntries().last()[QStringLiteral("action")].toString(), QStringLiteral("gps"));
    }

    void workouts()
    {
        const Run run = devctl({"workouts"});
        QCOMPARE(run.code, 0);
        QVERIFY(run.out.contains("workouts installed"));
        const QJsonArray entries = historyEntries();
        // The silent check before the installation is not an action of its own.
        QCOMPARE(entries.last()[QStringLiteral("action")].toString(), QStringLiteral("workouts"));
        QCOMPARE(entries.size(), 3);

        VHFitPackageBuilder::Options bare;
        bare.model = m_road->model();
        const QString package = m_work.filePath(QStringLiteral("bare.zip"));
        QVERIFY(VHFitPackageBuilder::writePackage(package, bare));
        QVERIFY(m_road->signing()->sign(package)); // the road runs signed: local packages are signed too
        const Run none = devctl({"workouts", package, "--json"});
        QCOMPARE(none.code, 4);
        QCOMPARE(devctl({"workouts", m_work.filePath("missing.zip")}).code, 2);
    }

    void historySurvivesDamage()
    {
        const QString path = m_road->dataFolder() + QStringLiteral("/history.jsonl");
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write("not json at all\n{\"time\":1}\n");
        file.write(QByteArray(3 * 1024 * 1024, 'x'));
        file.close();
        const qint64 size = QFileInfo(path).size();
        const Run run = devctl({"history", "--json"});
        QCOMPARE(run.code, 0);
        QVERIFY(run.json.value(QStringLiteral("entries")).toArray().isEmpty());
        QCOMPARE(QFileInfo(path).size(), size);
        QVERIFY(QFile::remove(path));
    }

    // A device waiting in IAP mode that no row names is listed as such.
    void iapDeviceListed()
    {
        VHDevSim::ScsiIdentity iap;
        iap.product = "Pacer21";
        iap.identification = "ALDERIAP";
        iap.uuid = "1207A1B2C3D4E5F6";
        QVERIFY(m_road->sim().createScsi(QStringLiteral("STRANDED"), iap));
        QVERIFY(m_road->sim().plug(QStringLiteral("STRANDED")));
        const Run list = devctl({"list", "--json"});
        QCOMPARE(list.code, 0);
        const QJsonArray devices = list.json.value(QStringLiteral("devices")).toArray();
        QCOMPARE(devices.size(), 2);
        const QJsonObject stranded = devices.at(1).toObject();
        QVERIFY(stranded.value(QStringLiteral("iapMode")).toBool());
        QCOMPARE(stranded.value(QStringLiteral("identification")).toString(), QStringLiteral("ALDERIAP"));
        QCOMPARE(stranded.value(QStringLiteral("uuid")).toString(), QStringLiteral("1207A1B2C3D4E5F6"));
        QCOMPARE(stranded.value(QStringLiteral("model")).toString(), QStringLiteral("Pacer21"));
        QVERIFY(devctl({"list"}).out.contains("IAP mode (ALDERIAP)"));
        QCOMPARE(devctl({"recover", m_work.filePath("missing.zip")}).code, 2);
        QVERIFY(m_road->sim().remove(QStringLiteral("STRANDED")));
    }

    // A GAL device stranded in IAP mode (its first pass ran in another
    // program run): recover flashes it with the package, and it comes back as
    // a volume with the package's version.
    void recoverStrandedDevice()
    {
        const QString name = QStringLiteral("STRANDED");
        const QString strandedUuid = QStringLiteral("1207A1B2C3D4E5F9");
        VHDevSim::GalIdentity identity;
        identity.uuid = strandedUuid;
        identity.updateMethod = 2;
        QVERIFY(m_road->sim().createGal(name, identity));
        QVERIFY(writeFile(m_road->sim().volumePath(name) + QStringLiteral("/update.ini"), QByteArray()));
        QVERIFY(m_road->sim().boot(name));
        QVERIFY(m_road->sim().plug(name));
        const Run list = devctl({"list", "--json"});
        const QJsonArray devices = list.json.value(QStringLiteral("devices")).toArray();
        QVERIFY(std::any_of(devices.begin(), devices.end(), [&](const QJsonValue &d) {
            return d[QStringLiteral("uuid")].toString() == strandedUuid && d[QStringLiteral("iapMode")].toBool();
        }));

        const Run recover = devctl({"recover", galPackage(), "--json"});
        QVERIFY2(recover.code == 0, recover.err.constData());
        QCOMPARE(recover.json[QStringLiteral("device")][QStringLiteral("transport")].toString(),
                 QStringLiteral("scsi"));
        QVERIFY(m_road->sim().restart(name));
        const Run info = devctl({"info", "--json", "--device", strandedUuid});
        QCOMPARE(info.code, 0);
        QCOMPARE(info.json[QStringLiteral("device")][QStringLiteral("transport")].toString(), QStringLiteral("volume"));
        QCOMPARE(info.json[QStringLiteral("device")][QStringLiteral("version")].toString(), QStringLiteral("120"));
        const QJsonObject last = historyEntries().last().toObject();
        QCOMPARE(last.value(QStringLiteral("uuid")).toString(), strandedUuid);
        QCOMPARE(last.value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
        // Named as the recover it was, with the version the device came back with.
        QCOMPARE(last.value(QStringLiteral("action")).toString(), QStringLiteral("recover"));
        QCOMPARE(last.value(QStringLiteral("versionAfter")).toString(), QStringLiteral("120"));
        QVERIFY(m_road->sim().remove(name));
    }

    // Packages a FIT watch must refuse: each ends non-zero and leaves the
    // volume byte for byte as it was, and nothing beside it.
    void fitRefusesHostilePackages_data()
    {
        QTest::addColumn<QString>("package");
        const auto path = [this](const char *name) { return m_work.filePath(QLatin1String(name)); };
        QVERIFY(VHGalPackageBuilder::writePackage(path("gal.zip"), VHGalPackageBuilder::Options()));
        QTest::newRow("GAL package") << path("gal.zip");
        QVERIFY(VHPacer50PackageBuilder::writeTotal(path("pacer50.zip"), VHPacer50PackageBuilder::Options()));
        QTest::newRow("Pacer50 package") << path("pacer50.zip");
        QVERIFY(VHPSFLanguagePackBuilder::writePackage(path("pacer40lang.zip"), VHPSFLanguagePackBuilder::Options()));
        QTest::newRow("Pacer40 language pack") << path("pacer40lang.zip");
        QVERIFY(writeFile(path("empty.zip"), QByteArray("PK\x05\x06") + QByteArray(18, '\0')));
        QTest::newRow("empty zip") << path("empty.zip");
        QVERIFY(writeFile(path("zero.zip"), QByteArray()));
        QTest::newRow("0-byte file") << path("zero.zip");
        VHFitPackageBuilder::Options newer;
        newer.model = m_road->model();
        newer.images = {{QStringLiteral("OS"), QStringLiteral("os.bin"), QStringLiteral("99.0"), 40000}};
        QVERIFY(VHFitPackageBuilder::writePackage(path("whole.zip"), newer));
        QVERIFY(writeFile(path("cut.zip"), readFile(path("whole.zip")).chopped(30000)));
        QTest::newRow("truncated archive") << path("cut.zip");
        QVERIFY(VHFitPackageBuilder::writeArchive(
            path("escaping.zip"), {{"release.ini", "[OS]\nName=../outside.bin\nVersion=99.0\n"}, {"outside.bin", "x"}},
            true));
        QTest::newRow("image name escaping the volume") << path("escaping.zip");
        QTest::newRow("a folder as the package") << volume();
        QTest::newRow("path climbing out") << m_work.filePath(QStringLiteral("../../../../etc/hostname"));
    }
    void fitRefusesHostilePackages()
    {
        QFETCH(QString, package);
        QVERIFY(m_road->sim().isPlugged(m_road->options().device) || m_road->plug());
        QCOMPARE(devctl({"info", "--device", uuid()}).code, 0); // the first look marks the identity file
        const QStringList before = treeOf(volume());
        const Run run = devctl({"update", package, "--json", "--device", uuid()});
        // Failed or refused as unusable; never "nothing to do", which would pass for a look at a good package.
        QVERIFY2(run.code == 1 || run.code == 2, run.err.constData());
        QCOMPARE(treeOf(volume()), before);
        QVERIFY(!QFile::exists(volume() + QStringLiteral("/update.ini")));
        QVERIFY(!QFile::exists(QFileInfo(volume()).absolutePath() + QStringLiteral("/outside.bin")));
    }

    // A stop signal during the action waits for its end and says so.
    void stopWaitsForTheAction()
    {
        QProcess process;
        QVERIFY(startBigUpdate(process));
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(120000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(process.readAllStandardError().contains("waiting for the running action to end"));
        QVERIFY(QFile::exists(volume() + QStringLiteral("/update.ini")));
    }

    // The volume goes away while the images are copied: the program ends with
    // the action's result (a copy that finished first succeeded), one JSON
    // document and a history line that agree.
    void deviceVanishesMidUpdate()
    {
        QProcess process;
        QVERIFY(startBigUpdate(process));
        // Files the program is still writing may land while the folder is removed: try again.
        QVERIFY(VHFitRoad::waitFor([this] { return m_road->sim().remove(m_road->options().device); }, 10000));
        // The waits above run the event loop: the program may have ended already.
        QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(120000));
        const int code = process.exitCode();
        QVERIFY2(code == 0 || code == 1, qPrintable(QString::number(code)));
        const QJsonObject json = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        QCOMPARE(json.value(QStringLiteral("exitCode")).toInt(), code);
        QCOMPARE(historyEntries().last()[QStringLiteral("result")].toString(),
                 code == 0 ? QStringLiteral("ok") : QStringLiteral("failed"));
        QCOMPARE(devctl({"info"}).code, 3);
    }

    void flashStoreCommands()
    {
        QVERIFY(plugPacer());
        VHDevSim sim(psfRoot());

        const Run languages = psf({"languages", "--json"});
        QCOMPARE(languages.code, 0);
        QCOMPARE(languages.json.value(QStringLiteral("languages")).toArray().size(), 2);

        const QByteArray stored = readFile(psfFlash());
        const Run finalize = psf({"finalize", "--json"});
        QCOMPARE(finalize.code, 0);
        const QString kept = finalize.json.value(QStringLiteral("backup")).toString();
        QVERIFY2(kept.endsWith(kPacerUuid + QStringLiteral(".dat")), qPrintable(kept));
        QCOMPARE(readFile(kept), stored);

        // Another device's backup beside it is not listed.
        QVERIFY(QFile::copy(kept, QFileInfo(kept).dir().filePath(QStringLiteral("pacer40flash.vh1.0-OTHER.dat"))));
        const Run listed = psf({"backup", "--json"});
        QCOMPARE(listed.code, 0);
        QCOMPARE(listed.json.value(QStringLiteral("backups")).toArray().toVariantList(), QVariantList{kept});

        const Run saved = psf({"backup", ownBackup("1.0")});
        QCOMPARE(saved.code, 0);
        const QByteArray before = readFile(psfFlash());
        QCOMPARE(readFile(ownBackup(QStringLiteral("1.0"))), before);

        // The flash changed after the backup; the restore brings it back byte for byte.
        QByteArray changed = before;
        changed.replace(0, 0x10000, QByteArray(0x10000, char(0x5A)));
        QVERIFY(writeFile(psfFlash(), changed));
        const Run restored = psf({"backup", "--restore", ownBackup("1.0")});
        QVERIFY2(restored.code == 0, restored.err.constData());
        QCOMPARE(readFile(psfFlash()), before);
        const QStringList log = sim.commandLog(kPacer);
        QVERIFY(log.filter(QStringLiteral("sel=14")).size() >= 1);
        QVERIFY(log.filter(QStringLiteral("WRITE sel=15")).size() >= 512);
    }

    // Two watches reached over SCSI only: both listed, neither taken without
    // --device, and a write meant for one never reaches the other.
    void twoScsiDevices()
    {
        qputenv("VELORA_DEVCTL_FLASH_POLL_MS", "0");
        const QString root = m_work.filePath(QStringLiteral("twoscsi"));
        const QString otherUuid = QStringLiteral("1105000000000B0B");
        VHDevSim sim(root);
        VHSimPacer40Options second;
        second.uuid = otherUuid.toLatin1();
        QVERIFY(QDir().mkpath(root) && sim.createPacer40(QStringLiteral("P40A")));
        QVERIFY(sim.createPacer40(QStringLiteral("P40B"), second));
        QVERIFY(sim.plug(QStringLiteral("P40A")) && sim.plug(QStringLiteral("P40B")));
        const auto run = [&](const QStringList &arguments) { return devctl(QStringList{"--sim", root} + arguments); };
        const auto flash = [&](const char *name) {
            return readFile(sim.deviceFolder(QLatin1String(name)) + QStringLiteral("/external.bin"));
        };

        const QJsonArray listed = run({"list", "--json"}).json.value(QStringLiteral("devices")).toArray();
        QStringList uuids;
        for (const QJsonValue &device : listed)
            uuids << device[QStringLiteral("uuid")].toString();
        uuids.sort();
        QCOMPARE(uuids, (QStringList{otherUuid, kPacerUuid}));
        const Run refused = run({"info"});
        QCOMPARE(refused.code, 2);
        QVERIFY(refused.err.contains(otherUuid.toLatin1()) && refused.err.contains(kPacerUuid.toLatin1()));
        for (const QString &picked : {otherUuid, kPacerUuid}) {
            const Run info = run({"info", "--json", "--device", picked});
            QCOMPARE(info.code, 0);
            QCOMPARE(info.json[QStringLiteral("device")][QStringLiteral("uuid")].toString(), picked);
        }

        const QString backup = m_work.filePath(QStringLiteral("pacer40flash.vh1.0-%1.dat").arg(otherUuid));
        QCOMPARE(run({"backup", backup, "--device", otherUuid}).code, 0);
        QCOMPARE(readFile(backup), flash("P40B"));
        const QByteArray untouched = flash("P40A");
        QByteArray changed = flash("P40B");
        changed.replace(0, 0x10000, QByteArray(0x10000, char(0x5A)));
        QVERIFY(writeFile(sim.deviceFolder(QStringLiteral("P40B")) + QStringLiteral("/external.bin"), changed));
        const Run restored = run({"backup", "--restore", backup, "--device", otherUuid});
        QVERIFY2(restored.code == 0, restored.err.constData());
        QCOMPARE(flash("P40B"), readFile(backup));
        QCOMPARE(flash("P40A"), untouched);

        // A device in IAP mode that tells no UUID is the one recovered, not one scanned before it.
        VHDevSim::ScsiIdentity iap;
        iap.product = "Pacer21";
        iap.identification = "ALDERIAP";
        iap.uuid = "";
        QVERIFY(sim.createScsi(QStringLiteral("ZIAP"), iap) && sim.plug(QStringLiteral("ZIAP")));
        const QByteArray firstFlash = flash("P40A"), secondFlash = flash("P40B");
        const Run recover = run({"recover", galPackage(), "--json"});
        QCOMPARE(recover.json[QStringLiteral("device")][QStringLiteral("model")].toString(), QStringLiteral("Pacer21"));
        QCOMPARE(flash("P40A"), firstFlash);
        QCOMPARE(flash("P40B"), secondFlash);
    }

    // A write-back that fails behind its erase names the backup that brings the flash back.
    void failedFinalizeNamesTheBackup()
    {
        QVERIFY(plugPacer());
        VHDevSim sim(psfRoot());
        const QByteArray before = readFile(psfFlash());
        QVERIFY(sim.setFaults(kPacer, {.failCommand = 3, .failSelector = 15}));
        const Run failed = psf({"finalize", "--json"});
        QVERIFY(sim.setFaults(kPacer, {}));
        QCOMPARE(failed.code, 1);
        const QString backup = failed.json.value(QStringLiteral("restore")).toString();
        QVERIFY2(failed.err.contains("backup --restore " + backup.toUtf8()), failed.err.constData());
        QCOMPARE(readFile(backup), before);
        QVERIFY(readFile(psfFlash()) != before);
        // The next run finds no store to back up and writes nothing; the backup still stands.
        QCOMPARE(psf({"finalize"}).code, 1);
        QCOMPARE(readFile(backup), before);
        QCOMPARE(psf({"backup", "--restore", backup}).code, 0);
        QCOMPARE(readFile(psfFlash()), before);
    }

    void restoreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("says");
        const qint64 whole = kPacerFlash;
        QTest::newRow("another device") << QStringLiteral("pacer40flash.vh1.0-2101FFFF00001111.dat") << whole
                                        << "not a backup of this device";
        QTest::newRow("no backup name") << QStringLiteral("flash.dat") << whole << "not a backup of this device";
        QTest::newRow("short") << QStringLiteral("pacer40flash.vh2.0-%1.dat").arg(kPacerUuid) << whole - 1
                               << "not one whole external flash";
        QTest::newRow("grown") << QStringLiteral("pacer40flash.vh3.0-%1.dat").arg(kPacerUuid) << whole + 4096
                               << "not one whole external flash";
        QTest::newRow("missing") << QStringLiteral("pacer40flash.vh4.0-%1.dat").arg(kPacerUuid) << qint64(-1)
                                 << "no such backup file";
    }

    void restoreRefused()
    {
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(QString, says);
        const QString path = m_work.filePath(name);
        if (size >= 0)
            QVERIFY(writeFile(path, QByteArray(size, char(0x11))));
        QVERIFY(plugPacer());
        const QByteArray before = readFile(psfFlash());
        const Run run = psf({"backup", "--restore", path, "--json"});
        QCOMPARE(run.code, 2);
        QVERIFY2(run.json.value(QStringLiteral("error")).toString().contains(says), run.err.constData());
        QCOMPARE(readFile(psfFlash()), before);
    }

private:
    // Every entry below `folder`: its path, and a file's size and checksum.
    static QStringList treeOf(const QString &folder)
    {
        QStringList tree;
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info = it.fileInfo();
            QString line = path.mid(folder.size());
            if (info.isFile() && !info.isSymLink())
                line += QStringLiteral(" %1 %2").arg(info.size()).arg(VHPackageServer::fileMd5(path));
            tree << line;
        }
        tree.sort();
        return tree;
    }

    QString galPackage()
    {
        const QString staging = m_work.filePath(QStringLiteral("galpkg"));
        QDir().mkpath(staging);
        const QList<QPair<QString, QByteArray>> files = {
            {QStringLiteral("release.ini"),
             "[IMG]\nName=SycamoreBR\nSize=64\nExt_FlashImageStartAddr=0x10000\nExt_FlashLangStartAddr=0x40000\n"
             "LangVersion=L2\n[OS]\nVersion=120\n[BootLoader]\nVersion=R002\n"},
            {QStringLiteral("iap.bin"), VHDevSim::makeImage(QStringLiteral("BootLoader"), QStringLiteral("R002"))},
            {QStringLiteral("SycamoreBR_120.bin"),
             VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("120"), QByteArray(3000, 'i'))},
            {QStringLiteral("header.bin"), QByteArray(100, 'h')},
            {VHDevSim::fontFileName(QStringLiteral("eng")), VHDevSim::makeFont(QStringLiteral("eng"), 2, 300)},
        };
        QStringList names;
        for (const auto &file : files) {
            if (!writeFile(staging + QLatin1Char('/') + file.first, file.second))
                return {};
            names << file.first;
        }
        const QString zip = staging + QStringLiteral(".zip");
        // The road runs signed: a local package is signed with its key.
        return VHZipUtil().compress(zip, staging, names) && m_road->signing()->sign(zip) ? zip : QString();
    }

    // Starts updating with a large package and returns once its copy has begun.
    bool startBigUpdate(QProcess &process)
    {
        const QString package = m_work.filePath(QStringLiteral("big.zip"));
        if (!QFile::exists(package)) {
            VHFitPackageBuilder::Options big;
            big.model = m_road->model();
            big.compress = false;
            big.images = {{QStringLiteral("OS"), QStringLiteral("os.bin"), QStringLiteral("9.0"), 256 * 1024 * 1024}};
            if (!VHFitPackageBuilder::writePackage(package, big) || !m_road->signing()->sign(package))
                return false;
        }
        const QString volumePath = volume();
        QFile::remove(volumePath + QStringLiteral("/update.ini"));
        const qsizetype before = QDir(volumePath).entryList(QDir::Files | QDir::Hidden).size();
        process.start(QStringLiteral(DEVCTL_PROGRAM), {QStringLiteral("--sim"), m_road->simRoot(),
                                                       QStringLiteral("update"), package, QStringLiteral("--json")});
        return VHFitRoad::waitFor(
            [&] { return QDir(volumePath).entryList(QDir::Files | QDir::Hidden).size() > before; }, 60000);
    }
};

QTEST_GUILESS_MAIN(TestVeloraDevctl)
#include "tst_VeloraDevctl.moc"
