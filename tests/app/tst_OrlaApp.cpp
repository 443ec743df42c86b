#include "OrlaApp.h"
#include "OrlaController.h"
#include "OrlaForm.h"
#include "OrlaSingleInstance.h"
#include "VHDaemon.h"
#include "VHDeviceManager.h"
#include "VHDeviceRegistry.h"
#include "VHDeviceWatcher.h"
#include "VHEnv.h"
#include "VHPlatform.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <csignal>

namespace {

// A fake platform whose device watcher the test can make speak.
class WatchedPlatform : public FakePlatform
{
public:
    explicit WatchedPlatform(Script *script, VHDeviceWatcher **made) : FakePlatform(script), m_made(made) {}
    std::unique_ptr<VHDeviceWatcher> createDeviceWatcher() override
    {
        auto watcher = std::make_unique<VHDeviceWatcher>();
        *m_made = watcher.get();
        return watcher;
    }

private:
    VHDeviceWatcher **m_made;
};

struct Message
{
    const char *context;
    const char *source;
};

// Every text the windows and the controller translate.
const Message kMessages[] = {
    {"orlacontroller", "Checking new version now"},
    {"orlacontroller", "Your software is up-to-date."},
    {"orlacontroller", "GPS data on device is up-to-date"},
    {"orlacontroller", "Busy. Please try again later."},
    {"orlacontroller", "Download GPS data failed."},
    {"orlacontroller", "Check the netwrok and try again."},
    {"orlacontroller", "Could not reach the update server. Check your network connection and try again."},
    {"orlacontroller", "The update server's answer could not be used."},
    {"orlacontroller",
     "The device is being updated. Please wait until the update has finished before closing VeloraUpdate."},
    {"orlacontroller", "The device is no longer connected."},
    {"orlacontroller", "The device's model name can not name a folder, so it has no package."},
    {"orlacontroller", "The software package has not been downloaded."},
    {"orlacontroller", "The device is busy and did not start the update."},
    {"orlacontroller", "The device is busy and did not start the installation."},
    {"orlacontroller", "The device was disconnected before the action ended."},
    {"orlacontroller", "The device gave no reason."},
    {"orlacontroller", "The update server %1 could not be reached."},
    {"orlacontroller", "Another update server can be set with the key \"updateurl\" in the group \"VeloraHub\" of %1."},
    {"orlaform", "Update Software"},
    {"orlaform", "Update GPS Data"},
    {"orlaform", "Install Velora Workout"},
    {"orlaform", "Please connect your device to the computer"},
    {"orlaform", "Software Version"},
    {"orlaform", "Updating GPS data"},
    {"orlaform", "Install Velora Workout & Velora Test"},
    {"orlaform", "Mount"},
    {"orlaform", "Mounting %1 ..."},
    {"orlaform", "The device volume %1 is connected but not mounted."},
    {"orlaform", "Mounting failed: %1"},
    {"softupdateform", "Software Update"},
    {"softupdateform", "Backup_Data_Warn_Msg"},
    {"softupdateform", "Force_Update_Device_Msg"},
    {"softupdateform", "Update"},
    {"softupdateform", "Cancel"},
    {"softupdateform", "Device software"},
    {"softupdateform", "Current"},
    {"softupdateform", "Device_Updating_Warn_Msg"},
    {"recover_complete_form", "Last_Remind_Msg"},
    {"recover_complete_form", "Completion"},
    {"recover_complete_form", "Fail. Please try again later."},
    {"recover_fail_form", "OK"},
    {"recover_fail_form", "Not_Enough_Space_Msg"},
    {"recover_fail_form", "Fail. Please try again later."},
    {"recover_fail_form", "Details are in the log: %1"},
    {"recover_fail_form", "Sorry"},
};

QString logText()
{
    VHEnv::instance()->flushLog();
    return QString::fromUtf8(readFile(VHEnv::instance()->dataFolder() + QStringLiteral("/orlaupdate.log")));
}

QString key(const char *source) { return QCoreApplication::translate("softupdateform", source); }

QString resource(const char *name) { return VHEnv::instance()->resourcePath(QString::fromLatin1(name)); }

// This program runs three times: with a system locale that has its file
// (en_US), with one that has none (fr_FR), and with the interface languages
// French then German in an English locale.
bool localeHasNoFile() { return qgetenv("LC_ALL").startsWith("fr"); }
bool messagesInGerman() { return qgetenv("LANGUAGE") == "fr:de"; }

// Starts the real program on the data folder below `xdg` with the Qt platform
// `qpa`; `leaksChecked` off for a program ended from outside or left by a second start.
void startProgram(QProcess &program, const QString &xdg, const QString &qpa, bool leaksChecked,
                  const QStringList &arguments = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), xdg);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), qpa);
    if (!leaksChecked)
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VU_PROGRAM), arguments);
}

} // namespace

class TestOrlaApp : public QObject
{
    Q_OBJECT

    QTemporaryDir m_xdg;
    QTemporaryDir m_cwd;
    FakePlatform::Script m_script;
    VHDeviceWatcher *m_watcher = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(m_xdg.isValid() && m_cwd.isValid());
        // The translations where the environment looks first: <cwd>/Resources.
        QDir().mkpath(m_cwd.path() + QStringLiteral("/Resources"));
        for (const char *name : {"vu_en_us.qm", "vu_de_de.qm", "vu_zh_tw.qm"}) {
            QVERIFY2(QFile::copy(QStringLiteral(VU_QM_DIR "/") + QLatin1String(name),
                                 m_cwd.path() + QStringLiteral("/Resources/") + QLatin1String(name)),
                     name);
        }
        QDir::setCurrent(m_cwd.path());
        qputenv("XDG_DATA_HOME", m_xdg.path().toUtf8());
        QVERIFY(writeFile(
            m_xdg.path() + QStringLiteral("/VeloraHub/vh.ini"),
            "[VeloraHub]\ndebug=1\nupdateurl=http://127.0.0.1:9/versions/index\nalpurl=http://127.0.0.1:9\n"));
        VHDeviceRegistry::instance().setBackendFactory(
            [this] { return std::make_unique<WatchedPlatform>(&m_script, &m_watcher); });
    }

    void initStartsTheRuntime()
    {
        OrlaApp *app = OrlaApp::instance();
        QVERIFY(app);
        QCOMPARE(app->init(), 0);
        QVERIFY(app->controller());
        VHDeviceManager *manager = VHDaemon::instance()->deviceManager();
        // No "devicefamilies" in vh.ini: every family, with the built-in rows.
        QCOMPARE(manager->deviceClassFlags(), VHDeviceManagerInterface::kIdentifyByEitherFile);
        QVERIFY(!manager->models().isEmpty());
        QVERIFY(manager->listeners().contains(app->controller()));
        QVERIFY(m_script.lastDetector && m_script.lastDetector->started);
        QCOMPARE(VHDaemon::instance()->platform()->deviceEventSource(), static_cast<QObject *>(app));
        const QString log = logText();
        if (localeHasNoFile()) {
            // Logged once, and English is used.
            QCOMPARE(log.count(QStringLiteral("can not found")), 1);
            QVERIFY(log.contains(QStringLiteral("[ OrlaApp::init ]")));
            QVERIFY(log.contains(QStringLiteral("Resources/vu_fr_fr.qm can not found")));
        } else if (messagesInGerman()) {
            // The first interface language with a file wins; the locale's own
            // name (fr_FR) has none.
            QCOMPARE(QLocale::system().name(), QStringLiteral("fr_FR"));
            QVERIFY(log.contains(QStringLiteral("Resources/vu_de_de.qm")));
            QVERIFY(!log.contains(QStringLiteral("can not found")));
        } else {
            // en_US: its file is found at once.
            QVERIFY(log.contains(QStringLiteral("Resources/vu_en_us.qm")));
            QVERIFY(!log.contains(QStringLiteral("can not found")));
        }
        QVERIFY(
            key("Backup_Data_Warn_Msg")
                .startsWith(messagesInGerman() ? QStringLiteral("Sichern Sie") : QStringLiteral("Back up the data")));
        // The entry routine's first connection call shows the empty main window.
        app->controller()->onDeviceConnected(nullptr);
        QVERIFY(app->controller()->mainWindow()->isVisible());
    }

    void deviceChangeIsPassedOn()
    {
        QVERIFY(m_watcher);
        QSignalSpy spy(OrlaApp::instance(), &OrlaApp::DeviceChange);
        for (quint32 code : {0x8000u, 0x8004u, 0x0007u}) {
            spy.clear();
            emit m_watcher->DeviceChange(code);
            QCOMPARE(spy.size(), 1);
            QCOMPARE(spy.first().first().value<quint32>(), code);
        }
    }

    void installedTranslations()
    {
        OrlaApp *app = OrlaApp::instance();
        QCOMPARE(OrlaApp::translationFileName(QStringLiteral("zh_TW")), QStringLiteral("vu_zh_tw.qm"));
        QVERIFY(app->installTranslation(resource("vu_de_de.qm")));
        QVERIFY(key("Backup_Data_Warn_Msg").startsWith(QStringLiteral("Sichern Sie")));
        QVERIFY(app->installTranslation(resource("vu_zh_tw.qm")));
        QCOMPARE(QCoreApplication::translate("orlaform", "Update Software"), QStringLiteral("更新軟體"));
        QVERIFY(app->installTranslation(resource("vu_en_us.qm")));
        QVERIFY(key("Device_Updating_Warn_Msg").startsWith(QStringLiteral("Your device is being updated")));
        // A corrupt file: the source texts, and the log says so.
        QVERIFY(writeFile(m_cwd.path() + QStringLiteral("/Resources/vu_xx_yy.qm"), QByteArray(300, '\x3C')));
        QVERIFY(!app->installTranslation(resource("vu_xx_yy.qm")));
        QCOMPARE(key("Backup_Data_Warn_Msg"), QStringLiteral("Backup_Data_Warn_Msg"));
        QVERIFY(logText().contains(QStringLiteral("can not load translation")));
        // A missing file: the source texts, and the windows still work.
        QVERIFY(!app->installTranslation(resource("vu_none.qm")));
        QCOMPARE(key("Force_Update_Device_Msg"), QStringLiteral("Force_Update_Device_Msg"));
        app->controller()->refreshMainWindow(true);
        QVERIFY(app->controller()->mainWindow()->isVisible());
        QVERIFY(app->installTranslation(resource("vu_en_us.qm")));
    }

    void translationCandidates_data()
    {
        QTest::addColumn<QStringList>("uiLanguages");
        QTest::addColumn<QString>("chosen"); // empty: English by fallback
        QTest::newRow("German") << QStringList{QStringLiteral("de")} << QStringLiteral("vu_de_de.qm");
        QTest::newRow("Austrian German") << QStringList{QStringLiteral("de-AT"), QStringLiteral("de")}
                                         << QStringLiteral("vu_de_de.qm");
        QTest::newRow("Swiss German alone") << QStringList{QStringLiteral("de-CH")} << QStringLiteral("vu_de_de.qm");
        QTest::newRow("first match wins")
            << QStringList{QStringLiteral("fr-FR"), QStringLiteral("zh-TW"), QStringLiteral("de-DE")}
            << QStringLiteral("vu_zh_tw.qm");
        QTest::newRow("Hong Kong reads Traditional")
            << QStringList{QStringLiteral("zh-HK")} << QStringLiteral("vu_zh_tw.qm");
        QTest::newRow("Simplified never Traditional")
            << QStringList{QStringLiteral("zh-CN"), QStringLiteral("zh")} << QString();
        QTest::newRow("Simplified, then German")
            << QStringList{QStringLiteral("zh-Hans-SG"), QStringLiteral("de")} << QStringLiteral("vu_de_de.qm");
        QTest::newRow("British English") << QStringList{QStringLiteral("en-GB")} << QStringLiteral("vu_en_us.qm");
        QTest::newRow("C locale") << QStringList{QStringLiteral("C")} << QString();
        QTest::newRow("nothing") << QStringList{} << QString();
    }

    void translationCandidates()
    {
        QFETCH(QStringList, uiLanguages);
        QFETCH(QString, chosen);
        const QStringList shipped{QStringLiteral("vu_en_us.qm"), QStringLiteral("vu_de_de.qm"),
                                  QStringLiteral("vu_zh_tw.qm")};
        QString first;
        for (const QString &name : OrlaApp::translationCandidates(uiLanguages)) {
            QVERIFY2(name.startsWith(QLatin1String("vu_")) && name == name.toLower(), qPrintable(name));
            if (first.isEmpty() && shipped.contains(name))
                first = name;
        }
        QCOMPARE(first, chosen);
    }

    void everyTextTranslated_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("en_us") << QStringLiteral("vu_en_us.qm");
        QTest::newRow("de_de") << QStringLiteral("vu_de_de.qm");
        QTest::newRow("zh_tw") << QStringLiteral("vu_zh_tw.qm");
    }

    void everyTextTranslated()
    {
        QFETCH(QString, file);
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(VU_QM_DIR "/") + file));
        for (const Message &m : kMessages) {
            const QString text = translator.translate(m.context, m.source);
            QVERIFY2(!text.isEmpty(), qPrintable(QStringLiteral("%1 %2").arg(m.context, m.source)));
            // The keys are never shown as they are.
            if (QByteArray(m.source).contains('_'))
                QVERIFY2(text != QLatin1String(m.source), m.source);
        }
    }

    void secondStartRaisesTheFirst()
    {
        OrlaApp *app = OrlaApp::instance();
        OrlaForm *main = app->controller()->mainWindow();
        main->hide();
        const QString folder = VHEnv::instance()->dataFolder();
        OrlaSingleInstance other(folder);
        QVERIFY(!other.acquire());
        // The real program, started a second time on the same data folder.
        QProcess second;
        startProgram(second, m_xdg.path(), QStringLiteral("offscreen"), false);
        QVERIFY(second.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 30000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(main->isVisible(), 5000);
        QVERIFY(logText().contains(QStringLiteral("another updater runs on")));
    }

    void staleLockIsTakenOver()
    {
        QTemporaryDir folder;
        // A lock left by a process that no longer exists.
        QVERIFY(writeFile(folder.path() + QStringLiteral("/veloraupdate.lock"),
                          "4194000\nveloraupdate\n" + QSysInfo::machineHostName().toUtf8() + "\n"));
        OrlaSingleInstance guard(folder.path());
        QVERIFY(guard.acquire());
        OrlaSingleInstance second(folder.path());
        QVERIFY(!second.acquire());
    }

    void terminationSignalQuitsWhenIdle()
    {
        OrlaController *controller = OrlaApp::instance()->controller();
        QSignalSpy ready(controller, &OrlaController::readyToQuit);
        // Handled on the event loop, not inside the signal handler.
        QCOMPARE(::raise(SIGTERM), 0);
        QCOMPARE(ready.size(), 0);
        QTRY_COMPARE(ready.size(), 1);
        QVERIFY(logText().contains(QStringLiteral("termination signal 15")));
    }

    void terminatedProgramEndsCleanly()
    {
        // The real program on a data folder of its own, ended as a session ends it.
        QTemporaryDir xdg;
        QProcess program;
        startProgram(program, xdg.path(), QStringLiteral("offscreen"), false);
        QVERIFY(program.waitForStarted());
        // Its log is started after the signals are watched; the signal may come
        // while it is still starting.
        const QString log = xdg.path() + QStringLiteral("/VeloraHub/orlaupdate.log");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 30000);
        program.terminate();
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    void commandLineOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << 0
                                 << QStringLiteral("veloraupdate ") + QLatin1String(OrlaApp::appVersion) + '\n';
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0 << QStringLiteral("Usage: veloraupdate");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--flash")} << 2 << QString();
        QTest::newRow("a file") << QStringList{QStringLiteral("Total.zip")} << 2 << QString();
        QTest::newRow("version and more")
            << QStringList{QStringLiteral("--version"), QStringLiteral("x")} << 2 << QString();
    }

    void commandLineOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        // No window system and no data folder: the answer comes before either is needed.
        QProcess program;
        startProgram(program, QStringLiteral("/nonexistent"), QStringLiteral("none"), true, arguments);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), exitCode);
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        QVERIFY2(out.startsWith(output), qPrintable(out));
        if (exitCode != 0)
            QVERIFY(program.readAllStandardError().contains("Usage: veloraupdate"));
    }
};

int main(int argc, char **argv)
{
    OrlaApp app(argc, argv);
    TestOrlaApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_OrlaApp.moc"
