#include "VHEnv.h"

#include "VHClient.h"
#include "VHDaemon.h"
#include "VHEnvInterface.h"
#include "VHIniText.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHTrustedKeys.h"
#include "VHUtility.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<VHEnv *> g_logTarget{nullptr};
QtMessageHandler g_previousHandler = nullptr;
thread_local bool t_inHandler = false;

int logTypeOf(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg:
        return VHEnv::LogWarning;
    case QtCriticalMsg:
    case QtFatalMsg:
        return VHEnv::LogCritical;
    default:
        return VHEnv::LogDebug;
    }
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    VHEnv *env = g_logTarget.load();
    // A message raised while a line is being written (settings parsing, say)
    // must not recurse into the log.
    if (env && !t_inHandler) {
        t_inHandler = true;
        env->handleMessage(logTypeOf(type), message);
        t_inHandler = false;
    }
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

VHEnv *VHEnv::instance()
{
    static VHEnv env;
    return &env;
}

VHEnv::VHEnv() = default;

VHEnv::~VHEnv()
{
    if (g_logTarget.load() == this) {
        vhDebug() << "VHEnv destructor";
        VHEnv *self = this;
        g_logTarget.compare_exchange_strong(self, nullptr);
        qInstallMessageHandler(g_previousHandler);
    }
    closeLog();
}

void VHEnv::init(const QString &mode, const QString &logFileName)
{
    QtMessageHandler previous = qInstallMessageHandler(messageHandler);
    if (previous != messageHandler)
        g_previousHandler = previous;
    g_logTarget.store(this);
    m_mode = mode;
    m_guiThread = QThread::currentThreadId();
    // The daemon, whose kind the mode picks, owns the platform that knows the folders.
    m_platformPart = VHDaemon::instance()->platform()->createEnv();
    m_initialised = true;
    m_restorePending = false;
    m_debugLevel = -1000;
    m_startDirectory = QDir::currentPath();
    setDataFolder(m_platformPart->dataFolder());
    if (!openLog(logFileName))
        std::fprintf(stderr, "can not open the log %s\n", qPrintable(m_log.fileName()));
    // Read now: the destructor's line may come after the application object,
    // which reading the settings file needs, is gone.
    (void)cachedDebugLevel();
}

QString VHEnv::dataFolder() const { return m_dataFolder; }

void VHEnv::setDataFolder(const QString &path)
{
    m_dataFolder = path;
    QDir().mkpath(path);
}

bool VHEnv::enterDataFolder() const { return QDir::setCurrent(m_dataFolder); }

QString VHEnv::tempFolder() const
{
    const QString path =
        m_dataFolder + QLatin1Char('/') + settingValue(QStringLiteral("tmpdir"), QStringLiteral("tmpdir"));
    QDir().mkpath(path);
    return path;
}

bool VHEnv::enterTempFolder() const { return QDir::setCurrent(tempFolder()); }

void VHEnv::clearTempFolder() const
{
    // Done by path, without changing the process's current directory, which
    // other threads may rely on.
    QDir folder(tempFolder());
    const QStringList files = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : files)
        (void)VHUtility::removeFile(folder.filePath(name)); // logged; the next clearing tries again
}

QString VHEnv::resourcesPath() const
{
    return m_platformPart ? m_platformPart->resourcesPath() : QDir::currentPath() + QStringLiteral("/Resources");
}

QString VHEnv::nativeSeparator() const
{
    return m_platformPart ? m_platformPart->nativeSeparator() : QStringLiteral("/");
}

QString VHEnv::settingsFileName() const
{
    return m_mode == QLatin1String("user") ? QStringLiteral("vhuser.ini") : QStringLiteral("vh.ini");
}

QString VHEnv::settingsPath() const { return m_dataFolder + QLatin1Char('/') + settingsFileName(); }

QString VHEnv::settingValue(const QString &key, const QString &defaultValue) const
{
    if (const auto overridden = m_overrides.constFind(key); overridden != m_overrides.cend())
        return *overridden;
    QSettings settings(settingsPath(), QSettings::IniFormat);
    return vhIniText(settings, QStringLiteral("VeloraHub/") + key, defaultValue);
}

QString VHEnv::logFileName() const
{
    if (m_mode == QLatin1String("user"))
        return QStringLiteral("vhuser.log");
    return settingValue(QStringLiteral("logfilename"), QStringLiteral("vh.log"));
}

QString VHEnv::logFilePath() const { return m_dataFolder + QLatin1Char('/') + logFileName(); }

QString VHEnv::oldLogFilePath() const
{
    return m_dataFolder + QLatin1Char('/') + settingValue(QStringLiteral("oldlogfilename"), QStringLiteral("vh.old"));
}

qint64 VHEnv::maxLogSize() const
{
    return settingValue(QStringLiteral("maxlogsize"), QStringLiteral("5242880")).toLongLong();
}

int VHEnv::debugLevel() const { return settingValue(QStringLiteral("debug"), QStringLiteral("2")).toInt(); }

QString VHEnv::uploadFileName() const { return settingValue(QStringLiteral("uploadfile"), QStringLiteral("up.zip")); }

QString VHEnv::updateServiceUrl(bool beta) const
{
    if (beta)
        return serviceAddress(QStringLiteral("betaupdateurl"),
                              QStringLiteral("https://beta.update.velora.example/versions/index"));
    return serviceAddress(QStringLiteral("updateurl"), QStringLiteral("https://update.velora.example/versions/index"));
}

VHEnv::SignaturePolicy VHEnv::signaturePolicy() const
{
    const QString setting = settingValue(QStringLiteral("signature"), QString()).trimmed().toLower();
    if (setting == QLatin1String("off")) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            vhWarning() << "signature=off: package signatures are not checked";
        return SignaturePolicy::Off;
    }
    // A value we do not know is a setting someone meant: it fails closed.
    if (!setting.isEmpty()) {
        if (setting != QLatin1String("required"))
            vhWarning() << "unknown signature setting" << setting << "- signatures are required";
        return SignaturePolicy::Required;
    }
    // Looked at each time: a key installed while the program runs counts at once.
    if (!VHTrustedKeys::load().isEmpty())
        return SignaturePolicy::Required;
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        vhWarning() << "no trusted key installed: package signatures are not checked";
    return SignaturePolicy::NotChecked;
}

QString VHEnv::alpServiceUrl() const
{
    return serviceAddress(QStringLiteral("alpurl"), QStringLiteral("https://alp.u-blox.com"));
}

QString VHEnv::serviceAddress(const QString &key, const QString &defaultValue) const
{
    const QString address = settingValue(key, defaultValue);
    if (QUrl(address.trimmed()).scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
        && takeFirstPlainHttpNotice(key))
        vhWarning() << QStringLiteral("vh.ini %1 is a plain http address (%2): what comes from it is not protected "
                                      "on the way")
                           .arg(key, address);
    return address;
}

bool VHEnv::takeFirstPlainHttpNotice(const QString &key) const
{
    // Asked on every query: the warning would otherwise repeat for each one.
    QMutexLocker lock(&m_noticeMutex);
    if (m_plainHttpNoticed.contains(key))
        return false;
    m_plainHttpNoticed.insert(key);
    return true;
}

QString VHEnv::caFile() const { return settingValue(QStringLiteral("cafile"), QString()).trimmed(); }

VHEnv::DeviceFamilies VHEnv::deviceFamilies() const
{
    const QString value = settingValue(QStringLiteral("devicefamilies"), QStringLiteral("all")).trimmed();
    if (value.compare(QLatin1String("fit"), Qt::CaseInsensitive) == 0)
        return DeviceFamilies::Fit;
    if (value.compare(QLatin1String("all"), Qt::CaseInsensitive) != 0)
        vhWarning() << "devicefamilies=" << value << " is neither \"all\" nor \"fit\"; every family is served";
    return DeviceFamilies::All;
}

bool VHEnv::isGuiThread() const { return QThread::currentThreadId() == m_guiThread; }

void VHEnv::updateMinVersion(const QString &model, const QString &iniFile)
{
    if (model.isEmpty() || !QFileInfo::exists(iniFile))
        return;
    const QString minVersion = vhIniText(QSettings(iniFile, QSettings::IniFormat), QStringLiteral("Update/MinVHVer"));
    if (minVersion.isEmpty())
        return;
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue(model + QStringLiteral("/MinVHVer"), minVersion);
    }
    if (VHClient *device = VHDaemon::instance()->currentDevice())
        device->loadSettings(this);
}

bool VHEnv::openLog(const QString &name)
{
    const QString path = name.isEmpty() ? logFilePath() : m_dataFolder + QLatin1Char('/') + name;
    QMutexLocker lock(&m_logMutex);
    if (m_log.isOpen())
        m_log.close();
    const QFileInfo info(path);
    if (info.exists() && info.size() >= maxLogSize()) {
        if (name.isEmpty()) {
            // Keep the full log as the old one; a rename is the copy and the
            // delete in one step, and cannot leave a half copy behind.
            const QString oldPath = oldLogFilePath();
            // The log is closed here, so nothing can be logged: a failed step
            // leaves at worst an old log behind or the full one growing.
            (void)VHUtility::removeFile(oldPath);
            if (!QFile::rename(path, oldPath))
                (void)VHUtility::copyFile(path, oldPath, true, 3, 100);
        }
        (void)VHUtility::removeFile(path);
    }
    m_log.setFileName(path);
    return m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void VHEnv::closeLog()
{
    QMutexLocker lock(&m_logMutex);
    if (m_log.isOpen())
        m_log.close();
}

void VHEnv::flushLog()
{
    QMutexLocker lock(&m_logMutex);
    if (m_log.isOpen())
        m_log.flush();
}

void VHEnv::writeLog(int type, const QByteArray &line)
{
    // One mutex for every thread, so lines never interleave.
    QMutexLocker lock(&m_logMutex);
    if (!m_log.isOpen())
        return;
    m_log.write(line);
    if (type > LogDebug)
        m_log.flush();
}

int VHEnv::cachedDebugLevel()
{
    int level = m_debugLevel.load();
    if (level == -1000) {
        level = debugLevel();
        m_debugLevel = level;
    }
    return level;
}

void VHEnv::handleMessage(int type, const QString &message)
{
    if (type < cachedDebugLevel() - 1)
        return;
    static const char *const labels[] = {" [Debug]\t", " [Warning]\t", " [Critical]\t"};
    QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss,zzz")).toUtf8();
    line += labels[qBound(0, type, 2)];
    line += message.toUtf8();
    line += '\n';
    writeLog(type, line);
}
