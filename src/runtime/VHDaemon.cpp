#include "VHDaemon.h"

#include "VHClient.h"
#include "VHCorvoLock.h"
#include "VHDeviceManager.h"
#include "VHDeviceRegistry.h"
#include "VHEnv.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHUtility.h"
#include "VHZipUtil.h"
#include "corvolib.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

VHDaemon *VHDaemon::instance()
{
    static std::unique_ptr<VHDaemon> daemon;
    if (!daemon) {
        if (VHEnv::instance()->mode() == QLatin1String("user"))
            daemon = std::make_unique<VHDaemonProxy>();
        else
            daemon = std::make_unique<VHDaemon>();
    }
    return daemon.get();
}

VHDaemon::VHDaemon()
    : m_platform(std::make_unique<VHPlatform>()), m_manager(std::make_unique<VHDeviceManager>(m_platform.get()))
{}

VHDaemon::~VHDaemon()
{
    if (m_manager)
        m_manager->removeListener(this);
}

bool VHDaemon::start(bool registerBuiltInModels)
{
    if (registerBuiltInModels) {
        for (const VHModelInfo &row : VHDeviceRegistry::instance().builtInModels())
            m_manager->registerModel(row, false);
    }
    m_manager->addListener(this);
    const bool started = m_manager->start();
    if (VHClient *device = currentDevice())
        device->loadSettings(VHEnv::instance());
    return started;
}

VHClient *VHDaemon::currentDevice() { return m_manager->currentDevice(); }

void VHDaemon::onDeviceConnected(VHClient *device)
{
    if (!device)
        return;
    device->loadSettings(VHEnv::instance());
    QString model;
    device->getModelName(model);
    QString image, iap;
    device->getImageVersion(image);
    device->getIAPVersion(iap);
    vhCorvoRun("SetModelName", [&] {
        if (model.size() < 10)
            SetModelName(model.toLatin1().constData());
        if (!image.isEmpty() && image.size() < 4)
            SetModelIMG(image.toLatin1().constData());
        if (!iap.isEmpty() && iap.size() < 4)
            SetModelIAP(iap.toLatin1().constData());
    });
}

void VHDaemon::onDeviceDisconnected(VHClient *device)
{
    VHEnv *env = VHEnv::instance();
    env->setAppTooOld(false);
    env->setRestorePending(false);
    if (!device || device->state() != VHClient::STATE_MODEL)
        env->setFirmwareTooOld(false);
}

VHDaemonProxy::VHDaemonProxy() : m_network(new QNetworkAccessManager(this)) {}

VHDaemonProxy::~VHDaemonProxy() = default;

bool VHDaemonProxy::makeLogZip(const QString &zipPath)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(kCompanionPort);
    url.setPath(QStringLiteral("/export_log"));
    // Encoded by hand so "&", "=", "+" and spaces in the path reach the service intact.
    url.setQuery(QStringLiteral("dest=") + QString::fromLatin1(QUrl::toPercentEncoding(zipPath)));
    QNetworkReply *reply = m_network->get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, this, &VHDaemonProxy::replyFinished);
    return true;
}

void VHDaemonProxy::replyFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    if (reply->error() != QNetworkReply::NoError)
        vhWarning() << "export_log request failed: " << reply->errorString();
    reply->deleteLater();
}

bool VHDaemon::makeLogZip(const QString &zipPath)
{
    // Every name is taken from the data folder by path: changing the process's
    // current folder would race every other thread's relative names.
    VHEnv *env = VHEnv::instance();
    const QString folder = env->dataFolder();
    const QString archive = QDir(folder).absoluteFilePath(zipPath);
    if (!VHUtility::removeFile(archive))
        return false;
    // Logs are copied first: the live log keeps growing while it is packed.
    QStringList listed;
    const QList<QPair<QString, QString>> logs = {{QStringLiteral("vh.log"), QStringLiteral("vhlog.txt")},
                                                 {QStringLiteral("vhuser.log"), QStringLiteral("vhuserlog.txt")}};
    env->flushLog();
    for (const auto &log : logs) {
        const QString source = folder + QLatin1Char('/') + log.first;
        if (QFileInfo::exists(source)
            && VHUtility::copyFile(source, folder + QLatin1Char('/') + log.second, true, 3, 100))
            listed << log.second;
    }
    if (VHClient *device = currentDevice())
        device->addLogFiles(folder, listed);
    const bool packed = VHZipUtil().compress(archive, folder, listed);
    for (const QString &name : std::as_const(listed))
        (void)VHUtility::removeFile(folder + QLatin1Char('/') + name); // a copy left behind is logged and harmless
    return packed;
}
