// The demo's whole roads through the real application object, the simulated
// platform, the device families, the network clients and the local package
// server: a FIT software update from plugging to the restarted device, a GAL
// update by method 2 through the watch's restart into its loader, and one
// more language on a Pacer40. VU_ROAD picks the road (fit when unset); each
// runs in a process of its own, in English or in German (LANGUAGE=de,
// LC_ALL=de_DE.UTF-8): no road may depend on a translated text or on the C
// library's number format.

#include "OrlaApp.h"
#include "OrlaController.h"
#include "OrlaForm.h"
#include "OrlaRoad.h"
#include "VHClient.h"
#include "VHDaemon.h"
#include "VHDeviceManager.h"
#include "VHEnv.h"
#include "VHTestFiles.h"
#include "VHTestIni.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>

class TestOrlaRoad : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<OrlaRoad> m_road;
    OrlaRoad::Kind m_kind = OrlaRoad::Kind::Fit;

    // Runs the road; false with its report when a step failed or the GUI thread stalled.
    void runRoad(int steps)
    {
        const bool ok = m_road->runAll(OrlaApp::instance()->controller());
        QVERIFY2(ok, qPrintable(m_road->report()));
        qInfo().noquote() << m_road->report();
        QCOMPARE(m_road->steps().size(), steps);
        // The GUI thread kept answering (a loose bound: this build is sanitized and the machine shared).
        QVERIFY2(m_road->worstEventGapMs() < 1000, qPrintable(m_road->report()));
    }

private slots:
    void initTestCase();
    void init();
    void softwareUpdateFromPlugToRestart();
    void deviceFilesAfterTheRoad();
    void galUpdateFollowsTheWatchThroughItsRestart();
    void pacer40GetsOneMoreLanguage();
};

void TestOrlaRoad::initTestCase()
{
    QVERIFY(m_work.isValid());
    OrlaRoad::Options options;
    const QString road = qEnvironmentVariable("VU_ROAD", QStringLiteral("fit"));
    QVERIFY2(OrlaRoad::kindNamed(road, &m_kind), qPrintable(road));
    options.road = m_kind;
    options.work = m_work.path();
    options.imageBytes = 512 * 1024;
    m_road = std::make_unique<OrlaRoad>(options);
    QVERIFY2(m_road->prepare(), qPrintable(m_road->lastError()));
    QCOMPARE(OrlaApp::instance()->init(), 0);
    OrlaApp::instance()->controller()->onDeviceConnected(nullptr);
}

// Each process runs one road: the others' slots have nothing to check.
void TestOrlaRoad::init()
{
    const QByteArray slot = QTest::currentTestFunction();
    const bool fitSlot = slot == "softwareUpdateFromPlugToRestart" || slot == "deviceFilesAfterTheRoad";
    const OrlaRoad::Kind wanted = fitSlot                  ? OrlaRoad::Kind::Fit
                                  : slot.startsWith("gal") ? OrlaRoad::Kind::Gal
                                                           : OrlaRoad::Kind::Pacer40;
    if (wanted != m_kind)
        QSKIP("another road's check (VU_ROAD)");
}

void TestOrlaRoad::softwareUpdateFromPlugToRestart()
{
    // Eight steps, the Mount offer and the failure window for a damaged package among them.
    runRoad(8);
    // The road runs signed: the package damaged after its download is refused by its signature, before the
    // device is touched (deviceFilesAfterTheRoad finds nothing of it on the volume).
    const QString refusal =
        QCoreApplication::translate("orlacontroller", "The package was not written: %1.")
            .arg(QCoreApplication::translate("orlacontroller", "the package's signature does not match its contents"));
    QVERIFY2(m_road->steps().last().detail.contains(refusal), qPrintable(m_road->steps().last().detail));
    QVERIFY(QFileInfo::exists(VHEnv::instance()->dataFolder() + QStringLiteral("/updates/Pacer60F/Total.zip.minisig")));
    // The package was fetched once; the assist data once.
    QCOMPARE(m_road->stage().serverRequestCount(QStringLiteral("/current_14d.alp")), 1);
    QCOMPARE(m_road->stage().serverRequestCount(QStringLiteral("/packages/Pacer60F/Total.zip")), 1);
    OrlaForm *main = OrlaApp::instance()->controller()->mainWindow();
    QVERIFY(main->isVisible());
    // The new version on one line, elided in the middle; whole in the tooltip.
    auto *shown = main->findChild<QLabel *>(QStringLiteral("soft_info_label"));
    QVERIFY2(shown->text().split('\n').first().startsWith(QStringLiteral("1.10.02")), qPrintable(shown->text()));
    QVERIFY2(shown->toolTip().split('\n').first().startsWith(QStringLiteral("1.10.02.")), qPrintable(shown->toolTip()));
}

void TestOrlaRoad::deviceFilesAfterTheRoad()
{
    const QString volume = m_road->stage().volumePath();
    const QString identity = volume + QStringLiteral("/System/device.txt");
    QCOMPARE(iniValue(identity, QStringLiteral("OS/Version")), QStringLiteral("1.10.02"));
    QCOMPARE(iniValue(identity, QStringLiteral("DeviceLang/Version")), QStringLiteral("DL0312"));
    QCOMPARE(iniValue(identity, QStringLiteral("BootLoader/Version")), QStringLiteral("B2.10"));
    // The unchanged boot loader was never copied; the installed images are gone.
    for (const char *name : {"update.ini", "os.bin", "lang.bin", "boot.bin"})
        QVERIFY2(!QFile::exists(volume + QLatin1Char('/') + QLatin1String(name)), name);
    QCOMPARE(QFileInfo(volume + QStringLiteral("/System/AssitOff.alp")).size(), 64 * 1024);
    QCOMPARE(QFileInfo(volume + QStringLiteral("/System/date.txt")).size(), 4);
    QCOMPARE(m_road->messagesShown(), QList<OrlaController::Message>{OrlaController::Message::WorkoutsInstalled});
    QCOMPARE(readFile(volume + QStringLiteral("/System/Velorawrk/Long Ride.wkt")), QByteArray("endurance 3 h"));
    // The package and its version stay in the model's folder for next time.
    QCOMPARE(readFile(VHEnv::instance()->dataFolder() + QStringLiteral("/updates/Pacer60F/version.txt")),
             m_road->newVersion().toUtf8());
}

void TestOrlaRoad::galUpdateFollowsTheWatchThroughItsRestart()
{
    // Offer, dialog, first pass and restart, second pass and completion, the new version's start.
    runRoad(5);
    QCOMPARE(m_road->stage().serverRequestCount(QStringLiteral("/packages/Pacer21/Total.zip")), 1);
    // The loader wrote the image; the watch installed it at its next start.
    QVERIFY2(m_road->installed().contains(QStringLiteral("OS=120")), qPrintable(m_road->installed().join(',')));
    // Nothing went to the message boxes: every step has a window of its own.
    QCOMPARE(m_road->messages(), QStringList());
}

void TestOrlaRoad::pacer40GetsOneMoreLanguage()
{
    runRoad(4);
    QCOMPARE(m_road->stage().serverRequestCount(QStringLiteral("/packages/Pacer40/Total.zip")), 1);
    // The watch's languages were ticked at first; afterwards it holds them and the one added.
    QStringList before = m_road->languagesBefore();
    QCOMPARE(before, (QStringList{QStringLiteral("deu"), QStringLiteral("eng")}));
    QStringList after;
    QVERIFY(VHDaemon::instance()->deviceManager()->currentDevice()->getLanguageOnDevice(after));
    after.sort();
    before << OrlaRoad::addedLanguage();
    before.sort();
    QCOMPARE(after, before);
    QCOMPARE(m_road->messages(), QStringList());
}

// The locale LC_ALL names, built into a folder of our own when the machine
// has only its sources (the application object sets it from the environment).
void provideLocale(const QTemporaryDir &folder)
{
    const QByteArray wanted = qgetenv("LC_ALL");
    if (wanted.isEmpty() || std::setlocale(LC_ALL, wanted.constData()))
        return;
    const QString name = QString::fromLatin1(wanted);
    const QString source = name.section(QLatin1Char('.'), 0, 0);
    QProcess::execute(QStringLiteral("localedef"), {QStringLiteral("-i"), source, QStringLiteral("-f"),
                                                    QStringLiteral("UTF-8"), folder.filePath(name)});
    qputenv("LOCPATH", QFile::encodeName(folder.path()));
    if (!std::setlocale(LC_ALL, wanted.constData()))
        qWarning("locale %s is not available; only the translation changes", wanted.constData());
}

int main(int argc, char **argv)
{
    QTemporaryDir locales;
    provideLocale(locales);
    OrlaApp app(argc, argv);
    TestOrlaRoad test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_OrlaRoad.moc"
