#include "OrlaApp.h"

#include "OrlaController.h"
#include "OrlaForm.h"
#include "OrlaMountOffer.h"
#include "OrlaSingleInstance.h"
#include "OrlaStallMeter.h"
#include "OrlaStopSignals.h"
#include "OrlaStrandedWatch.h"
#include "VHDaemon.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHDeviceWatcher.h"
#include "VHEnv.h"
#include "VHLog.h"
#include "VHPSFDevice.h"
#include "VHPlatform.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLocale>
#include <QThread>
#include <QTranslator>

OrlaApp::OrlaApp(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("VeloraUpdate"));
    setApplicationVersion(QLatin1String(appVersion));
    setQuitOnLastWindowClosed(true);
    setFont(windowFont());
    // From here on, so a blocking start-up counts too.
    m_stallMeter = OrlaStallMeter::fromEnvironment();
    m_metered = m_stallMeter != nullptr;
}

bool OrlaApp::notify(QObject *receiver, QEvent *event)
{
    if (!m_metered || QThread::currentThread() != thread())
        return QApplication::notify(receiver, event);
    m_stallMeter->eventBegins(receiver, event);
    const bool handled = QApplication::notify(receiver, event);
    m_stallMeter->eventEnds();
    return handled;
}

QFont OrlaApp::windowFont()
{
    // The windows' fixed geometry was laid out for a narrow sans face; the
    // condensed face keeps every text inside its box.
    QFont font = QApplication::font();
    for (const char *family : {"Liberation Sans", "DejaVu Sans Condensed"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
            font.setFamily(QString::fromLatin1(family));
            break;
        }
    }
    return font;
}

OrlaApp::~OrlaApp()
{
    reportStalls();
    // The translator first, then the controller (it leaves the device
    // manager's listeners and deletes its windows and clients).
    m_stopSignals.reset();
    if (m_translator)
        removeTranslator(m_translator.get());
    m_translator.reset();
    m_mountOffer.reset(); // it shows in the controller's main window
    m_controller.reset();
    m_strandedWatch.reset(); // waits for its scan, which reads through the daemon's platform
    m_watcher.reset();
    m_instanceGuard.reset();
}

void OrlaApp::reportStalls()
{
    if (!m_stallMeter)
        return;
    m_stallMeter->stop();
    vhDebug() << m_stallMeter->summary();
    if (!m_stallMeter->appendSummaryTo(m_stallMeter->logPath()))
        vhWarning() << "can not write the stall log " << m_stallMeter->logPath();
}

OrlaApp *OrlaApp::instance() { return qobject_cast<OrlaApp *>(QCoreApplication::instance()); }

int OrlaApp::init()
{
    const OrlaStallMeter::Section section(m_stallMeter.get(), "start-up");
    // First, so that a termination signal during start-up is kept until the
    // event loop runs, not obeyed halfway through.
    m_stopSignals = std::make_unique<OrlaStopSignals>();
    VHEnv *env = VHEnv::instance();
    env->init(QStringLiteral("both"), QStringLiteral("orlaupdate.log"));
    if (!holdsSingleInstance())
        return kHandedToRunningInstance;
    // The interface language, not the number format's region: someone reading
    // German with English number formats gets German.
    const QStringList candidates = translationCandidates(QLocale::system().uiLanguages());
    QString translation;
    for (const QString &name : candidates) {
        const QString path = env->resourcePath(name);
        if (QFileInfo::exists(path)) {
            translation = path;
            break;
        }
    }
    if (translation.isEmpty()) {
        const QString wanted = env->resourcePath(candidates.isEmpty() ? translationFileName(QLocale::system().name())
                                                                      : candidates.first());
        vhDebug() << wanted;
        vhCritical() << wanted << "can not found";
        translation = env->resourcePath(QStringLiteral("vu_en_us.qm"));
    } else {
        vhDebug() << translation;
    }
    installTranslation(translation);
    startDeviceRuntime();
    m_controller = std::make_unique<OrlaController>();
    if (m_instanceGuard)
        connect(m_instanceGuard.get(), &OrlaSingleInstance::raiseRequested, m_controller.get(),
                &OrlaController::raiseVisibleWindow);
    endOnTerminationSignals();
    offerMounting();
    return 0;
}

void OrlaApp::offerMounting()
{
    std::unique_ptr<VHVolumeMounter> mounter = VHDaemon::instance()->platform()->createVolumeMounter();
    if (!mounter)
        return;
    m_mountOffer = std::make_unique<OrlaMountOffer>(std::move(mounter), m_controller->mainWindow(), [] {
        return VHDaemon::instance()->deviceManager()->currentDevice() != nullptr;
    });
    connect(this, &OrlaApp::DeviceChange, m_mountOffer.get(), &OrlaMountOffer::onDeviceChange);
}

void OrlaApp::endOnTerminationSignals()
{
    // Closing a window is refused while the device is written; a termination
    // signal waits for the write the same way instead of cutting it off.
    connect(m_controller.get(), &OrlaController::readyToQuit, this, &QCoreApplication::quit, Qt::QueuedConnection);
    connect(m_stopSignals.get(), &OrlaStopSignals::stopRequested, m_controller.get(), &OrlaController::quitWhenIdle);
}

bool OrlaApp::holdsSingleInstance()
{
    m_instanceGuard = std::make_unique<OrlaSingleInstance>(VHEnv::instance()->dataFolder());
    if (m_instanceGuard->acquire())
        return true;
    vhDebug() << "another updater runs on " << VHEnv::instance()->dataFolder() << ", raising it";
    if (!m_instanceGuard->askRunningToRaise())
        vhWarning() << "the running updater did not answer";
    m_instanceGuard.reset();
    return false;
}

QString OrlaApp::translationFileName(const QString &localeName)
{
    return QStringLiteral("vu_%1.qm").arg(localeName.toLower());
}

QStringList OrlaApp::translationCandidates(const QStringList &uiLanguages)
{
    // "de-AT" finds the German file and "zh-HK" the Traditional Chinese one;
    // "zh-CN" never gets Traditional Chinese.
    QStringList names;
    for (const QString &entry : uiLanguages) {
        const QLocale locale(entry);
        if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
            continue;
        for (const QLocale &form :
             {locale, QLocale(locale.language(), locale.script(), QLocale::AnyTerritory), QLocale(locale.language())}) {
            const QString name = translationFileName(form.name());
            if (!names.contains(name))
                names << name;
        }
    }
    return names;
}

bool OrlaApp::installTranslation(const QString &path)
{
    if (m_translator)
        removeTranslator(m_translator.get());
    m_translator = std::make_unique<QTranslator>();
    const bool loaded = m_translator->load(path, QString(), QString(), QString());
    if (!loaded)
        vhWarning() << "can not load translation " << path << ", texts stay untranslated";
    installTranslator(m_translator.get());
    return loaded;
}

void OrlaApp::startDeviceRuntime()
{
    VHDeviceFamilies::registerAll();
    // A file dialog must run on the GUI thread; the device asks from its worker.
    VHPSFDevice::setImagePathHook([this] {
        QString path;
        const auto ask = [&path] {
            path = QFileDialog::getSaveFileName(nullptr, QStringLiteral("Save Aspens file..."),
                                                QStringLiteral("Aspens.bin"), QStringLiteral("*.bin"));
        };
        if (QThread::currentThread() == thread())
            ask();
        else
            QMetaObject::invokeMethod(this, ask, Qt::BlockingQueuedConnection);
        return path;
    });
    VHDaemon *daemon = VHDaemon::instance();
    // The watcher exists before the first scan, so no change between the scan
    // and the detector's start is missed.
    m_watcher = daemon->platform()->createDeviceWatcher();
    if (m_watcher) {
        connect(m_watcher.get(), &VHDeviceWatcher::DeviceChange, this, &OrlaApp::DeviceChange);
        daemon->platform()->setDeviceEventSource(this);
    }
    // "fit": only devices named by "/System/device.txt", no built-in rows. "all":
    // the built-in rows and both identity files, so every family reaches the window.
    const bool fitOnly = VHEnv::instance()->deviceFamilies() == VHEnv::DeviceFamilies::Fit;
    daemon->deviceManager()->setDeviceClassFlags(fitOnly ? VHDeviceManagerInterface::kIdentifyByDeviceTxt
                                                         : VHDeviceManagerInterface::kIdentifyByEitherFile);
    // A plugged volume is read off the GUI thread: a slow drive must not freeze the window.
    daemon->deviceManager()->setScanOnWorker(true);
    // A watch left waiting in its loader by an earlier run, or plugged so
    // later, is known by nothing else. Its scan starts before the daemon's own.
    if (!fitOnly) {
        m_strandedWatch = std::make_unique<OrlaStrandedWatch>(*daemon->platform(), *daemon->deviceManager());
        m_strandedWatch->start(m_watcher ? this : nullptr);
    }
    if (!daemon->start(!fitOnly))
        vhWarning() << "device detection did not start; devices already present are still served";
}
