// velora-devctl against a simulated Pacer40 and Pacer35: bad language input writes nothing, profile-set
// reaches the flash, records fails with its reason when the store can not be read.

#include "VHDevSim.h"
#include "VHTestProcess.h"
#include "VHTestWrongPackages.h"

#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

namespace {

const QString kPacer40 = QStringLiteral("LINDEN1");
const QString kPacer35 = QStringLiteral("ASPENS1");

} // namespace

class TestDevctlLanguages : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;

    QString root(const QString &device) const { return m_work.filePath(device); }

    VHTestRun devctl(const QString &device, const QStringList &arguments)
    {
        return runTestProgram(QStringLiteral(DEVCTL_PROGRAM),
                              QStringList{QStringLiteral("--sim"), root(device), QStringLiteral("--json")} + arguments);
    }

    // A wrong package's kind, or "short-files", "no-languages", "good" language packs.
    QString package(const QString &kind)
    {
        const QString path = m_work.filePath(kind + QStringLiteral(".zip"));
        if (QFileInfo::exists(path))
            return path;
        VHPSFLanguagePackBuilder::Options pack;
        if (kind == QLatin1String("short-files"))
            pack.broken = VHPSFLanguagePackBuilder::Broken::ShortFiles;
        if (kind == QLatin1String("no-languages"))
            pack.codes.clear();
        const bool made = kWrongPackageKinds.contains(kind) ? writeWrongPackage(path, kind)
                                                            : VHPSFLanguagePackBuilder::writePackage(path, pack);
        return made && QFileInfo::exists(path) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        qputenv("XDG_DATA_HOME", m_work.filePath(QStringLiteral("xdg/data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", m_work.filePath(QStringLiteral("xdg/config")).toUtf8());
        qputenv("VELORA_DEVCTL_FLASH_POLL_MS", "0");
        QVERIFY(QDir().mkpath(root(kPacer40)) && QDir().mkpath(root(kPacer35)));
        VHDevSim pacer40(root(kPacer40));
        QVERIFY(pacer40.createPacer40(kPacer40) && pacer40.plug(kPacer40));
        VHDevSim pacer35(root(kPacer35));
        QVERIFY(pacer35.createPacer30(kPacer35, {}) && pacer35.plug(kPacer35));
    }

    void badLanguageInput_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("package");
        QTest::addColumn<QStringList>("language"); // the LANG argument, when one is given
        QTest::addColumn<int>("code");
        const QList<std::tuple<const char *, const char *, QStringList, int>> rows{
            {"a FIT package", "fit", {}, 1},
            {"a GAL package", "gal", {}, 1},
            {"a Pacer50 package", "pacer50", {}, 1},
            {"an empty pack", "empty-zip", {}, 1},
            {"a pack of short files", "short-files", {}, 1},
            {"a pack without languages", "no-languages", {}, 1},
            {"xyz", "good", {"xyz"}, 1},
            {"../../x", "good", {"../../x"}, 2},
            {"an empty language list", "good", {""}, 2},
            {"a language twice", "good", {"deu,deu"}, 2},
            {"an unknown language among known ones", "good", {"deu,xyz"}, 2}};
        for (const QString &device : {kPacer40, kPacer35}) {
            for (const auto &[name, package, language, code] : rows)
                QTest::addRow("%s: %s", qPrintable(device), name)
                    << device << QString::fromLatin1(package) << language << code;
        }
    }

    void badLanguageInput()
    {
        QFETCH(QString, device);
        QFETCH(QString, package);
        QFETCH(QStringList, language);
        QFETCH(int, code);
        const QString zip = this->package(package);
        QVERIFY(!zip.isEmpty());
        VHDevSim sim(root(device));
        sim.clearCommandLog(device);
        const VHTestRun run = devctl(device, QStringList{QStringLiteral("update"), zip} + language);
        QCOMPARE(run.code, code);
        QVERIFY(!run.json.value(QStringLiteral("error")).toString().isEmpty());
        QVERIFY2(sim.commandLog(device).filter(QStringLiteral("WRITE")).isEmpty(),
                 qPrintable(sim.commandLog(device).filter(QStringLiteral("WRITE")).value(0)));
    }

    void profileSetReachesTheFlash()
    {
        VHDevSim sim(root(kPacer40));
        const QByteArray before = sim.flash(kPacer40, VHDevSim::Flash::External);
        QCOMPARE(devctl(kPacer40, {QStringLiteral("profile-set"), QStringLiteral("User MHR=175")}).code, 0);
        QVERIFY(sim.flash(kPacer40, VHDevSim::Flash::External) != before);
        const QString out = m_work.filePath(QStringLiteral("profile.xml"));
        QCOMPARE(devctl(kPacer40, {QStringLiteral("profile"), out}).code, 0);
        QVERIFY(readFile(out).contains("175"));
    }

    void recordsFailWhenARegionIsUnread()
    {
        VHDevSim sim(root(kPacer40));
        sim.clearCommandLog(kPacer40);
        QCOMPARE(devctl(kPacer40, {QStringLiteral("info")}).code, 0);
        // The first read of the store past those of the attach fails.
        const int attachReads = int(sim.commandLog(kPacer40).filter(QStringLiteral("sel=16 ")).size());
        QVERIFY(sim.setFaults(kPacer40, {.failCommand = attachReads + 1, .failSelector = 16}));
        const VHTestRun run = devctl(kPacer40, {QStringLiteral("records"), QStringLiteral("routes")});
        QVERIFY(sim.setFaults(kPacer40, {}));
        QCOMPARE(run.code, 1);
        QVERIFY2(run.json.value(QStringLiteral("error")).toString().contains(QLatin1String("could not be read")),
                 run.out.constData());
        QCOMPARE(devctl(kPacer40, {QStringLiteral("records"), QStringLiteral("routes")}).code, 0);
    }
};

QTEST_GUILESS_MAIN(TestDevctlLanguages)
#include "tst_DevctlLanguages.moc"
