#include "OrlaApp.h"

#include "OrlaController.h"
#include "OrlaSingleInstance.h"
#include "VHDaemon.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHDeviceWatcher.h"
#include "VHEnv.h"
#include "VHLog.h"
#include "VHPlatform.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QLocale>
#include <QTranslator>

OrlaApp::OrlaApp(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("VeloraUpdate"));
    setApplicationVersion(QLatin1String(appVersion));
    setQuitOnLastWindowClosed(true);
    setFont(windowFont());
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
    // The translator first, then the controller (it leaves the device
    // manager's listeners and deletes its windows and clients).
    if (m_translator)
        removeTranslator(m_translator.get());
    m_translator.reset();
    m_controller.reset();
    if (VHPlatform::deviceEventSource() == this)
        VHPlatform::setDeviceEventSource(nullptr);
    m_watcher.reset();
    m_instanceGuard.reset();
}

OrlaApp *OrlaApp::instance() { return qobject_cast<OrlaApp *>(QCoreApplication::instance()); }

int OrlaApp::init()
{
    VHEnv *env = VHEnv::instance();
    env->init(QStringLiteral("both"), QStringLiteral("orlaupdate.log"));
    if (!holdsSingleInstance())
        return kHandedToRunningInstance;
    QString translation = env->resourcePath(translationFileName(QLocale::system().name()));
    vhDebug() << translation;
    if (!QFileInfo::exists(translation)) {
        vhCritical() << translation << "can not found";
        translation = env->resourcePath(QStringLiteral("vu_en_us.qm"));
    }
    installTranslation(translation);
    startDeviceRuntime();
    m_controller = std::make_unique<OrlaController>();
    if (m_instanceGuard)
        connect(m_instanceGuard.get(), &OrlaSingleInstance::raiseRequested, m_controller.get(),
                &OrlaController::raiseVisibleWindow);
    return 0;
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
    // The watcher exists before the first scan, so no change between the scan
    // and the detector's start is missed.
    m_watcher = VHPlatform().createDeviceWatcher();
    if (m_watcher) {
        connect(m_watcher.get(), &VHDeviceWatcher::DeviceChange, this, &OrlaApp::DeviceChange);
        VHPlatform::setDeviceEventSource(this);
    }
    VHDaemon *daemon = VHDaemon::instance();
    daemon->deviceManager()->setDeviceClassFlags(4);
    if (!daemon->start(false))
        vhWarning() << "device detection did not start; devices already present are still served";
}
