// velora-devctl run as a child process against a simulated Pacer40 and
// Pacer35: language updates given bad input write nothing to the device and
// exit non-zero; profile-set reaches the Pacer40's flash; records fails with
// its reason when a region of the store can not be read.

#include "VHDevSim.h"
#include "VHFitPackageBuilder.h"
#include "VHGalPackageBuilder.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer50PackageBuilder.h"
#include "VHTestFiles.h"
#include "VHTestProcess.h"

#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kPacer40 = QStringLiteral("LINDEN1");
const QString kPacer35 = QStringLiteral("ASPENS1");

enum class Package { Fit, Gal, Pacer50, Empty, ShortFiles, NoLanguages, Good };

} // namespace

Q_DECLARE_METATYPE(Package)

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

    QString package(Package kind)
    {
        const QString path = m_work.filePath(QStringLiteral("pkg%1.zip").arg(int(kind)));
        if (QFileInfo::exists(path))
            return path;
        VHPSFLanguagePackBuilder::Options pack;
        bool made = false;
        switch (kind) {
        case Package::Fit:
            made = VHFitPackageBuilder::writePackage(path, {});
            break;
        case Package::Gal:
            made = VHGalPackageBuilder::writePackage(path, {});
            break;
        case Package::Pacer50:
            made = VHPacer50PackageBuilder::writeTotal(path, {});
            break;
        case Package::Empty:
            // A zip of no entries: its end record alone.
            made = writeFile(path, QByteArray("PK\x05\x06", 4) + QByteArray(18, char(0)));
            break;
        case Package::ShortFiles:
            pack.broken = VHPSFLanguagePackBuilder::Broken::ShortFiles;
            made = VHPSFLanguagePackBuilder::writePackage(path, pack);
            break;
        case Package::NoLanguages:
            pack.codes.clear();
            made = VHPSFLanguagePackBuilder::writePackage(path, pack);
            break;
        case Package::Good:
            made = VHPSFLanguagePackBuilder::writePackage(path, pack);
            break;
        }
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
        QTest::addColumn<Package>("package");
        QTest::addColumn<QStringList>("language"); // the LANG argument, when one is given
        QTest::addColumn<int>("code");
        for (const QString &device : {kPacer40, kPacer35}) {
            const QByteArray name = device.toLatin1();
            QTest::addRow("%s: a FIT package", name.constData()) << device << Package::Fit << QStringList() << 1;
            QTest::addRow("%s: a GAL package", name.constData()) << device << Package::Gal << QStringList() << 1;
            QTest::addRow("%s: a Pacer50 package", name.constData())
                << device << Package::Pacer50 << QStringList() << 1;
            QTest::addRow("%s: an empty pack", name.constData()) << device << Package::Empty << QStringList() << 1;
            QTest::addRow("%s: a pack of short files", name.constData())
                << device << Package::ShortFiles << QStringList() << 1;
            QTest::addRow("%s: a pack without languages", name.constData())
                << device << Package::NoLanguages << QStringList() << 1;
            QTest::addRow("%s: xyz", name.constData()) << device << Package::Good << QStringList{"xyz"} << 1;
            QTest::addRow("%s: ../../x", name.constData()) << device << Package::Good << QStringList{"../../x"} << 2;
            QTest::addRow("%s: an empty language list", name.constData())
                << device << Package::Good << QStringList{""} << 2;
        }
    }

    void badLanguageInput()
    {
        QFETCH(QString, device);
        QFETCH(Package, package);
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
