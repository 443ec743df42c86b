// velora-devctl's interface as a contract: the --json document of every
// command, on a simulated device of each family and without one, against the
// schema the package installs; and the man page against --help.

#include "VHDevSim.h"
#include "VHGalPackageBuilder.h"
#include "VHTestDevctlRoad.h"
#include "VHTestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kTwoUuid = QStringLiteral("2101FFFF00001111");
const QString kIapUuid = QStringLiteral("1207A1B2C3D4E5F9");

// The names a text of one of the two kinds documents, by kind ("command", "option").
using Documented = QMap<QString, QSet<QString>>;

QString unescapeRoff(QString line)
{
    line.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    return line.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
}

// Commands: the first word of the line after each .TP of COMMANDS; options:
// every -x or --word on the line after each .TP of OPTIONS.
Documented manPageNames(const QString &page)
{
    Documented names;
    QString section;
    bool tagLine = false;
    static const QRegularExpression option(QStringLiteral("(?:^|[\\s\"])(--?[a-z][a-z-]*)"));
    for (const QString &raw : page.split(QLatin1Char('\n'))) {
        const QString line = unescapeRoff(raw);
        if (line.startsWith(QLatin1String(".SH ")))
            section = line.mid(4).remove(QLatin1Char('"')).trimmed();
        else if (tagLine && section == QLatin1String("COMMANDS"))
            names[QStringLiteral("command")].insert(line.section(QLatin1Char(' '), 1, 1).remove(QLatin1Char('"')));
        else if (tagLine && section == QLatin1String("OPTIONS")) {
            for (auto it = option.globalMatch(line.section(QLatin1Char(' '), 1)); it.hasNext();)
                names[QStringLiteral("option")].insert(it.next().captured(1));
        }
        tagLine = line == QLatin1String(".TP");
    }
    return names;
}

// The first word of each "Commands:" line; every name before the
// description of each "Options:" line.
Documented helpNames(const QString &help)
{
    Documented names;
    QString section;
    for (const QString &line : help.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("  "))) {
            section = line.endsWith(QLatin1Char(':')) ? line.chopped(1) : QString();
            continue;
        }
        const QString head = line.trimmed().section(QStringLiteral("  "), 0, 0);
        if (section == QLatin1String("Commands"))
            names[QStringLiteral("command")].insert(head.section(QLatin1Char(' '), 0, 0));
        else if (section == QLatin1String("Options")) {
            for (const QString &name : head.split(QStringLiteral(", ")))
                names[QStringLiteral("option")].insert(name.section(QLatin1Char(' '), 0, 0));
        }
    }
    return names;
}

// The value at "devices/0/version"; undefined when the path leads nowhere.
QJsonValue valueAt(const QJsonObject &document, const QString &path)
{
    QJsonValue value = document;
    for (const QString &step : path.split(QLatin1Char('/'))) {
        bool index = false;
        const int at = step.toInt(&index);
        value = index ? value.toArray().at(at) : value.toObject().value(step);
    }
    return value;
}

} // namespace

class TestDevctlContract : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHFitRoad> m_road;

    QString simRoot(const QString &device) const
    {
        return device == QLatin1String("fit") ? m_road->simRoot() : m_work.filePath(QStringLiteral("sim-") + device);
    }
    QString galPackage() const { return m_work.filePath(QStringLiteral("gal.zip")); }

    // "@fit.zip", "@gal.zip": the packages; "@missing": a path with nothing
    // there; "@out/NAME": a fresh path in the work folder.
    QStringList expanded(const QStringList &arguments) const
    {
        QStringList result;
        for (const QString &argument : arguments) {
            if (argument == QLatin1String("@fit.zip"))
                result << m_road->packagePath();
            else if (argument == QLatin1String("@gal.zip"))
                result << galPackage();
            else if (argument == QLatin1String("@missing"))
                result << m_work.filePath(QStringLiteral("missing/nothing"));
            else if (argument.startsWith(QLatin1String("@out/")))
                result << m_work.filePath(QStringLiteral("out/") + argument.mid(5));
            else
                result << argument;
        }
        return result;
    }

    // What the schema checker says of a document; empty when it conforms.
    static QString schemaViolations(const QByteArray &document)
    {
        QProcess checker;
        checker.start(QStringLiteral("python3"), {QStringLiteral(VH_SCHEMA_CHECK), QStringLiteral(VH_SCHEMA_FILE)});
        checker.write(document);
        checker.closeWriteChannel();
        if (!checker.waitForFinished(60000))
            return QStringLiteral("the schema checker did not end");
        const QString said = QString::fromUtf8(checker.readAllStandardOutput() + checker.readAllStandardError());
        return checker.exitCode() == 0 ? QString() : said + QStringLiteral("(exit %1)").arg(checker.exitCode());
    }

    bool prepareDevices()
    {
        qputenv("VELORA_DEVCTL_FLASH_POLL_MS", "0");
        VHDevSim gal(simRoot(QStringLiteral("gal")));
        VHSimGalIdentity galIdentity;
        galIdentity.bootLoader = QStringLiteral("R001"); // the package's loader is newer
        VHDevSim pacer50(simRoot(QStringLiteral("pacer50")));
        VHDevSim pacer40(simRoot(QStringLiteral("pacer40")));
        VHDevSim pacer30(simRoot(QStringLiteral("pacer30")));
        VHDevSim two(simRoot(QStringLiteral("two")));
        VHSimFitIdentity other;
        other.uuid = kTwoUuid;
        for (const QString &device : QStringList{"gal", "pacer50", "pacer40", "pacer30", "none", "two", "iap"})
            QDir().mkpath(simRoot(device));
        return gal.createGal(QStringLiteral("GAL1"), galIdentity) && gal.plug(QStringLiteral("GAL1"))
               && pacer50.createPacer50(QStringLiteral("P50"), VHSimPacer50Options())
               && pacer50.plug(QStringLiteral("P50")) && pacer40.createPacer40(QStringLiteral("P40"))
               && pacer40.plug(QStringLiteral("P40")) && pacer30.createPacer30(QStringLiteral("P30"))
               && pacer30.plug(QStringLiteral("P30")) && two.createFit(QStringLiteral("A"), VHSimFitIdentity())
               && two.createFit(QStringLiteral("B"), other) && two.plug(QStringLiteral("A"))
               && two.plug(QStringLiteral("B")) && strandInIapMode()
               && VHGalPackageBuilder::writePackage(galPackage(), VHGalPackageBuilder::Options())
               && QDir().mkpath(m_work.filePath(QStringLiteral("out")));
    }

    // A GAL device whose update was cut off after its first pass: it waits in IAP mode.
    bool strandInIapMode()
    {
        VHDevSim sim(simRoot(QStringLiteral("iap")));
        VHSimGalIdentity identity;
        identity.uuid = kIapUuid;
        identity.updateMethod = 2;
        return sim.createGal(QStringLiteral("IAP1"), identity)
               && writeFile(sim.volumePath(QStringLiteral("IAP1")) + QStringLiteral("/update.ini"), QByteArray())
               && sim.boot(QStringLiteral("IAP1")) && sim.plug(QStringLiteral("IAP1"));
    }

    // `nulls`: paths ("devices/0/version") of values the device does not know.
    static void row(const char *device, const QStringList &arguments, int exitCode, const QStringList &nulls = {})
    {
        QTest::newRow(
            qPrintable(QStringLiteral("%1 | %2").arg(QLatin1String(device), arguments.join(QLatin1Char(' ')))))
            << QString::fromLatin1(device) << arguments << exitCode << nulls;
    }

    VHTestRun devctl(const QString &device, const QStringList &arguments)
    {
        return runDevctl(simRoot(device), QStringList{QStringLiteral("--json")} + expanded(arguments), 180000);
    }

private slots:
    void initTestCase()
    {
        const QString failed = startDevctlRoad(m_road, m_work, true);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QVERIFY(prepareDevices());
        // The road runs signed: the local packages the rows write are signed with its key.
        QVERIFY(m_road->signing()->sign(m_road->packagePath()) && m_road->signing()->sign(galPackage()));
    }

    // Rows run in order on the same devices: a second "gps" finds the data written.
    void everyDocumentMatchesTheSchema_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("nulls");
        // One row per command and outcome; list and info of every family are checked below.
        row("fit", {"check"}, 0);
        row("fit", {"update", "@fit.zip"}, 0);
        row("fit", {"workouts", "@fit.zip"}, 0);
        row("fit", {"gps"}, 0, {"deviceDate"}); // the device never had assist data
        row("fit", {"gps"}, 4);
        row("fit", {"history"}, 0);
        row("fit", {"update", "@missing"}, 2);
        row("fit", {"restore", "@missing"}, 2);
        row("fit", {"finalize"}, 4);
        row("fit", {"languages"}, 4);
        row("fit", {"backup"}, 4);
        row("fit", {"loader", "@fit.zip"}, 4);
        row("fit", {"recover", "@fit.zip"}, 3);
        row("fit", {"bogus"}, 2);
        row("fit", {}, 2);
        row("fit", {"--timeout", "x", "info"}, 2);
        row("gal", {"update", "@gal.zip"}, 0);
        row("pacer50", {"update", "@fit.zip"}, 1);
        row("pacer40", {"languages"}, 0);
        row("pacer40", {"records", "tracks"}, 0);
        row("pacer40", {"backup", "@out/pacer40.dat"}, 0);
        row("pacer40", {"finalize"}, 0);
        row("pacer40", {"backup", "--restore", "@out/pacer40.dat"}, 2);
        row("pacer40", {"profile-set", "User MHR=175"}, 0);
        row("pacer40", {"profile", "@out/pacer40-profile.xml"}, 0);
        row("pacer30", {"finalize"}, 4); // a store read and found unchanged is not written
        row("pacer30", {"loader", "@missing"}, 2);
        row("none", {"list"}, 3);
        row("none", {"info"}, 3);
        row("two", {"list"}, 0);
        row("two", {"info"}, 2);
        row("iap", {"list"}, 0, {"devices/0/version", "devices/0/family"});
        row("iap", {"recover", "@gal.zip"}, 0);
    }
    void everyDocumentMatchesTheSchema()
    {
        QFETCH(QString, device);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, nulls);
        const VHTestRun run = devctl(device, arguments);
        QVERIFY2(!run.json.isEmpty(), run.out.constData());
        const QString violations = schemaViolations(run.out);
        QVERIFY2(violations.isEmpty(), qPrintable(violations + QString::fromUtf8(run.out)));
        QVERIFY2(run.code == exitCode, run.err.constData());
        QCOMPARE(run.json.value(QStringLiteral("exitCode")).toInt(), exitCode);
        // The log named is the one the program wrote.
        if (const QString log = run.json.value(QStringLiteral("log")).toString(); !log.isEmpty())
            QVERIFY2(QFileInfo(log).isFile() && QFileInfo(log).size() > 0, qPrintable(log));
        for (const QString &path : std::as_const(nulls))
            QVERIFY2(valueAt(run.json, path).isNull(), qPrintable(path));
    }

    // list, before the runtime starts, and info, from the device object, show one device alike, each by the
    // schema; info may know more versions, never other ones.
    void listAndInfoShowTheSameDevice_data()
    {
        QTest::addColumn<QString>("device");
        for (const char *device : {"fit", "gal", "pacer50", "pacer40", "pacer30"})
            QTest::newRow(device) << QString::fromLatin1(device);
    }
    void listAndInfoShowTheSameDevice()
    {
        QFETCH(QString, device);
        const VHTestRun list = devctl(device, {QStringLiteral("list")});
        const VHTestRun info = devctl(device, {QStringLiteral("info")});
        for (const VHTestRun &run : {list, info}) {
            const QString violations = schemaViolations(run.out);
            QVERIFY2(run.code == 0 && violations.isEmpty(), qPrintable(violations + QString::fromUtf8(run.err)));
        }
        QJsonObject listed = list.json[QStringLiteral("devices")][0].toObject();
        QJsonObject shown = info.json[QStringLiteral("device")].toObject();
        const QJsonObject listedVersions = listed.take(QStringLiteral("versions")).toObject();
        const QJsonObject shownVersions = shown.take(QStringLiteral("versions")).toObject();
        QVERIFY(!listed.isEmpty());
        QCOMPARE(listed, shown);
        for (auto it = listedVersions.begin(); it != listedVersions.end(); ++it)
            QCOMPARE(shownVersions.value(it.key()), it.value());
    }

    // The schema is no rubber stamp: a document that breaks the contract is refused.
    void schemaRefusesBrokenDocuments_data()
    {
        QTest::addColumn<QString>("path"); // "device/state": what is replaced
        QTest::addColumn<QJsonValue>("value");
        QTest::newRow("state as number") << "device/state" << QJsonValue(0);
        QTest::newRow("unknown version as empty text") << "device/version" << QJsonValue(QString());
        QTest::newRow("unknown transport") << "device/transport" << QJsonValue(QStringLiteral("usb"));
        QTest::newRow("versions as list") << "device/versions" << QJsonValue(QJsonArray{QStringLiteral("1.0")});
        QTest::newRow("no errorText") << "errorText" << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("no changed") << "changed" << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("success with a reason") << "errorText" << QJsonValue(QStringLiteral("failed"));
        QTest::newRow("failure without a reason") << "ok" << QJsonValue(false);
    }
    void schemaRefusesBrokenDocuments()
    {
        QFETCH(QString, path);
        QFETCH(QJsonValue, value);
        static const QJsonObject sound = devctl(QStringLiteral("fit"), {QStringLiteral("info")}).json;
        QJsonObject document = sound;
        QVERIFY(schemaViolations(QJsonDocument(document).toJson()).isEmpty());
        const QString key = path.section(QLatin1Char('/'), -1);
        QJsonObject device = document.value(QStringLiteral("device")).toObject();
        QJsonObject &target = path.contains(QLatin1Char('/')) ? device : document;
        if (value.isUndefined())
            target.remove(key);
        else
            target.insert(key, value);
        document.insert(QStringLiteral("device"), device);
        QVERIFY(!schemaViolations(QJsonDocument(document).toJson()).isEmpty());
    }

    void versionOption()
    {
        const VHTestRun run = runTestProgram(QStringLiteral(DEVCTL_PROGRAM), {QStringLiteral("--version")});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out, QByteArray("velora-devctl " VH_PROJECT_VERSION "\n"));
    }

    // Every command and option in both texts: a row per name either names.
    void helpAndManPageAgree_data()
    {
        QTest::addColumn<bool>("inHelp");
        QTest::addColumn<bool>("inManPage");
        QFile page(QStringLiteral(VH_MAN_PAGE));
        QVERIFY(page.open(QIODevice::ReadOnly));
        const Documented man = manPageNames(QString::fromUtf8(page.readAll()));
        const Documented help = helpNames(
            QString::fromUtf8(runTestProgram(QStringLiteral(DEVCTL_PROGRAM), {QStringLiteral("--help")}).out));
        for (const QString &kind : {QStringLiteral("command"), QStringLiteral("option")}) {
            // An unparsed text would agree with anything.
            QVERIFY2(help.value(kind).size() >= 8 && man.value(kind).size() >= 8, qPrintable(kind));
            QStringList names = (help.value(kind) | man.value(kind)).values();
            names.sort();
            for (const QString &name : std::as_const(names))
                QTest::newRow(qPrintable(kind + QLatin1Char(' ') + name))
                    << help.value(kind).contains(name) << man.value(kind).contains(name);
        }
    }
    void helpAndManPageAgree()
    {
        QFETCH(bool, inHelp);
        QFETCH(bool, inManPage);
        QVERIFY2(inHelp, "documented in the man page, unknown to --help");
        QVERIFY2(inManPage, "shown by --help, missing from the man page");
    }
};

QTEST_GUILESS_MAIN(TestDevctlContract)
#include "tst_DevctlContract.moc"
