#include "VHFitRoad.h"

#include "VHPackageServer.h"
#include "VHTestTls.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <limits>

VHFitRoad::VHFitRoad(const Options &options) : m_options(options), m_sim(simRoot())
{
    m_options.package.model = model();
    // The restarted simulated device reports what the package installed.
    m_options.package.simulatorHeaders = true;
}

VHFitRoad::~VHFitRoad()
{
    if (m_server) {
        VHPackageServer *server = m_server;
        QMetaObject::invokeMethod(
            server, [server] { delete server; }, Qt::BlockingQueuedConnection);
    }
    if (m_serverThread) {
        m_serverThread->quit();
        m_serverThread->wait();
    }
}

bool VHFitRoad::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool VHFitRoad::prepare()
{
    for (const QString &folder : {dataFolder(), simRoot(), serverRoot()})
        if (!QDir().mkpath(folder))
            return fail(QStringLiteral("can not make ") + folder);
    qputenv("XDG_DATA_HOME", xdgRoot().toUtf8());
    qputenv("VELORA_SIM_ROOT", simRoot().toUtf8());
    if (m_options.signedPackages) {
        m_signing = std::make_unique<VHTestSigning>(m_options.work + QStringLiteral("/signing"));
        if (!m_signing->isValid())
            return fail(QStringLiteral("can not make the signing key"));
        m_signing->trustInThisProcess();
    }
    if (!m_sim.createFit(m_options.device, m_options.before))
        return fail(QStringLiteral("simulated device: ") + m_sim.lastError());
    QString error;
    if (!VHFitPackageBuilder::writePackage(packagePath(), m_options.package, &error))
        return fail(QStringLiteral("package: ") + error);
    return (!m_options.serve || publish()) && writeSettings();
}

bool VHFitRoad::publish()
{
    QString error;
    const QString version = m_options.version.isEmpty() ? reportedVersion(installedIdentity()) : m_options.version;
    const VHMinisign::SecretKey *key = m_signing ? &m_signing->key() : nullptr;
    if (!VHPackageServer::publish(serverRoot(), model(), packagePath(), version, m_options.note, &error, key))
        return fail(QStringLiteral("publish: ") + error);
    QFile assist(serverRoot() + QStringLiteral("/current_14d.alp"));
    if (!assist.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || assist.write(m_options.assistData) != m_options.assistData.size())
        return fail(QStringLiteral("can not write the assist data"));
    m_serverThread = std::make_unique<QThread>();
    m_serverThread->start();
    m_server = new VHPackageServer(serverRoot());
    m_server->setRateLimit(m_options.serverBytesPerSecond);
    if (m_signing)
        m_server->setSigningKey(m_signing->key());
    m_server->moveToThread(m_serverThread.get());
    return true;
}

bool VHFitRoad::publishPackage(const QString &serverRoot, const VHFitPackageBuilder::Options &package,
                               const QString &version, const QString &note, QString *error)
{
    const QString zip = serverRoot + QStringLiteral("/staging-") + package.model + QStringLiteral(".zip");
    return VHFitPackageBuilder::writePackage(zip, package, error)
           && VHPackageServer::publish(serverRoot, package.model, zip, version, note, error);
}

bool VHFitRoad::startServer()
{
    if (!m_server)
        return fail(QStringLiteral("nothing to serve"));
    QString error;
    if (m_options.https && !m_tls) {
        m_tls = std::make_unique<VHTestTls>();
        if (!m_tls->make(&error))
            return fail(QStringLiteral("test certificates: ") + error);
    }
    return listenOnServerThread() && writeSettings();
}

bool VHFitRoad::listenOnServerThread()
{
    bool listening = false;
    VHPackageServer *server = m_server;
    QMetaObject::invokeMethod(
        server,
        [&] {
            // The TLS server is made on the thread it serves on.
            const VHTestTls::Server files = m_tls ? m_tls->localhost() : VHTestTls::Server{};
            QString why;
            listening = (!m_tls || server->setTls(files.certificate, files.key, &why)) && server->listen(0);
            m_serverBase = listening ? server->baseUrl() : why + server->errorString();
        },
        Qt::BlockingQueuedConnection);
    if (listening)
        return true;
    const QString why = m_serverBase;
    m_serverBase.clear();
    return fail(QStringLiteral("package server: ") + why);
}

// Until the server listens, the addresses lead nowhere.
bool VHFitRoad::writeSettings()
{
    QSettings ini(dataFolder() + QStringLiteral("/vh.ini"), QSettings::IniFormat);
    const QString base = m_serverBase.isEmpty() ? QStringLiteral("http://127.0.0.1:9") : m_serverBase;
    ini.setValue(QStringLiteral("VeloraHub/updateurl"), base + QStringLiteral("/versions/index"));
    ini.setValue(QStringLiteral("VeloraHub/betaupdateurl"), base + QStringLiteral("/beta/versions/index"));
    ini.setValue(QStringLiteral("VeloraHub/alpurl"), base);
    if (m_tls)
        ini.setValue(QStringLiteral("VeloraHub/cafile"), m_tls->caFile());
    if (m_options.debugLog)
        ini.setValue(QStringLiteral("VeloraHub/debug"), QStringLiteral("1"));
    ini.sync();
    return ini.status() == QSettings::NoError || fail(QStringLiteral("can not write vh.ini"));
}

bool VHFitRoad::plug() { return m_sim.plug(m_options.device) || fail(m_sim.lastError()); }

bool VHFitRoad::unplug() { return m_sim.unplug(m_options.device) || fail(m_sim.lastError()); }

bool VHFitRoad::recreateDevice()
{
    m_sim.remove(m_options.device);
    return m_sim.createFit(m_options.device, m_options.before) || fail(m_sim.lastError());
}

bool VHFitRoad::boot(QStringList *changes)
{
    bool booted = false;
    std::unique_ptr<QThread> firmware(QThread::create([&] { booted = m_sim.boot(m_options.device, changes); }));
    firmware->start();
    waitFor([&firmware] { return firmware->isFinished(); }, std::numeric_limits<int>::max());
    firmware->wait();
    return booted || fail(m_sim.lastError());
}

VHSimFitIdentity VHFitRoad::installedIdentity() const
{
    VHSimFitIdentity identity = m_options.before;
    const QList<VHFitPackageBuilder::Image> images =
        m_options.package.images.isEmpty() ? VHFitPackageBuilder::defaultImages() : m_options.package.images;
    const QHash<QString, QString *> versions{{QStringLiteral("OS"), &identity.os},
                                             {QStringLiteral("BootLoader"), &identity.bootLoader},
                                             {QStringLiteral("DeviceLang"), &identity.deviceLang},
                                             {QStringLiteral("NotificationLang"), &identity.notificationLang},
                                             {QStringLiteral("TimeZone"), &identity.timeZone},
                                             {QStringLiteral("Bluetooth"), &identity.bluetooth}};
    for (const VHFitPackageBuilder::Image &image : images)
        if (QString *version = versions.value(image.kind))
            *version = image.version;
    return identity;
}

QString VHFitRoad::reportedVersion(const VHSimFitIdentity &id)
{
    return QStringList{id.os,
                       id.bootLoader.mid(1),
                       id.deviceLang.right(4),
                       id.bluetooth.right(2),
                       id.timeZone.right(3),
                       id.notificationLang.right(3)}
        .join(QLatin1Char('.'));
}

int VHFitRoad::serverRequestCount(const QString &path) const
{
    int count = 0;
    VHPackageServer *server = m_server;
    if (server)
        QMetaObject::invokeMethod(
            server, [&] { count = server->requestCount(path); }, Qt::BlockingQueuedConnection);
    return count;
}

bool VHFitRoad::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
