#include "VHUDisks2.h"

#include "VHLog.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString kManager = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kNotMounted = QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted");
const QString kAlreadyMounted = QStringLiteral("org.freedesktop.UDisks2.Error.AlreadyMounted");

QVariantMap noInteraction() { return {{QStringLiteral("auth.no_user_interaction"), true}}; }

bool failed(const QDBusMessage &reply) { return reply.type() != QDBusMessage::ReplyMessage; }

QString reasonOf(const QDBusMessage &reply) { return reply.errorName() + QStringLiteral(": ") + reply.errorMessage(); }

// Errors of the bus itself saying nobody serves (or can start) the service.
bool serviceMissing(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
           || name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
           || name == QLatin1String("org.freedesktop.DBus.Error.Disconnected")
           || name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
}

QVariant firstArgument(const QDBusMessage &reply)
{
    return reply.arguments().isEmpty() ? QVariant() : reply.arguments().constFirst();
}

QList<QDBusObjectPath> objectPaths(const QVariant &value)
{
    if (value.canConvert<QList<QDBusObjectPath>>() && value.metaType() != QMetaType::fromType<QDBusArgument>())
        return value.value<QList<QDBusObjectPath>>();
    QList<QDBusObjectPath> paths;
    if (!value.canConvert<QDBusArgument>())
        return paths;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("ao"))
        return paths;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusObjectPath path;
        argument >> path;
        paths.append(path);
    }
    argument.endArray();
    return paths;
}

QVariant unwrapped(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<QDBusVariant>() ? value.value<QDBusVariant>().variant() : value;
}

QVariantMap propertyMap(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String("a{sv}"))
            return {};
        return qdbus_cast<QVariantMap>(argument);
    }
    return value.toMap();
}

// The service's name-based object of a node, for a service without ResolveDevice.
QString objectByName(const QString &node)
{
    QString name = node.mid(node.lastIndexOf(QLatin1Char('/')) + 1);
    for (QChar &c : name) {
        if (!c.isLetterOrNumber())
            c = QLatin1Char('_');
    }
    return QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + name;
}

// The first of the file system's mount points: byte strings ending in a NUL.
QString firstMountPoint(const QVariant &value)
{
    QList<QByteArray> points;
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String("aay"))
            return {};
        argument >> points;
    } else {
        points = value.value<QList<QByteArray>>();
    }
    if (points.isEmpty())
        return {};
    QByteArray point = points.constFirst();
    const qsizetype end = point.indexOf('\0');
    if (end >= 0)
        point.truncate(end);
    return QFile::decodeName(point);
}

bool validObject(const QString &path) { return !path.isEmpty() && path != QLatin1String("/"); }

} // namespace

VHUDisks2Client::VHUDisks2Client(QObject *parent) : VHUDisks2Client(QDBusConnection::systemBus(), parent) {}

VHUDisks2Client::VHUDisks2Client(const QDBusConnection &bus, QObject *parent) : QObject(parent), m_bus(bus) {}

VHUDisks2Client::~VHUDisks2Client() = default;

void VHUDisks2Client::eject(const QStringList &mountedNodes, const QString &diskNode, VHEjectMode mode)
{
    if (!start([this](Result result, const QString &reason) { endEject(result, reason); }))
        return;
    m_pendingNodes = mountedNodes;
    m_diskNode = diskNode;
    m_mode = mode;
    unmountNext();
}

void VHUDisks2Client::mount(const QString &node)
{
    if (!start([this](Result result, const QString &text) { endMount(result, text); }))
        return;
    resolve(node, [this](const QString &object) {
        // An empty option map: the service may ask the user through polkit.
        send(object, kFilesystem, QStringLiteral("Mount"), {QVariant(QVariantMap())}, kInteractiveTimeoutMs,
             [this, object](const QDBusMessage &reply) {
                 // Mounted meanwhile by the desktop: the volume is where the caller wants it.
                 if (failed(reply) && reply.errorName() == kAlreadyMounted)
                     return findMountPoint(object, reply);
                 if (failed(reply))
                     return fail(QStringLiteral("mount"), reply);
                 const QString mountPoint = firstArgument(reply).toString();
                 vhDebug() << "mounted at " << mountPoint;
                 endMount(Result::Mounted, mountPoint);
             });
    });
}

void VHUDisks2Client::findMountPoint(const QString &object, const QDBusMessage &alreadyMounted)
{
    send(object, kProperties, QStringLiteral("Get"), {kFilesystem, QStringLiteral("MountPoints")}, kCallTimeoutMs,
         [this, alreadyMounted](const QDBusMessage &reply) {
             const QString mountPoint = failed(reply) ? QString() : firstMountPoint(unwrapped(firstArgument(reply)));
             if (mountPoint.isEmpty())
                 return fail(QStringLiteral("mount"), alreadyMounted);
             vhDebug() << "already mounted at " << mountPoint;
             endMount(Result::Mounted, mountPoint);
         });
}

bool VHUDisks2Client::start(const FailureHandler &end)
{
    if (m_busy) {
        vhWarning() << "UDisks2 request refused: another one is running";
        QTimer::singleShot(0, this, [end] { end(Result::Failed, QStringLiteral("another request is running")); });
        return false;
    }
    m_busy = true;
    m_serviceAnswered = false;
    m_end = end;
    if (!m_bus.isConnected()) {
        const QString reason = QStringLiteral("no bus: ") + m_bus.lastError().message();
        QTimer::singleShot(0, this, [end, reason] { end(Result::Unavailable, reason); });
        return false;
    }
    return true;
}

void VHUDisks2Client::send(const QString &path, const QString &interface, const QString &method,
                           const QVariantList &arguments, int timeoutMs, const ReplyHandler &onReply)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    // Only calls that may wait for the user let polkit ask them.
    message.setInteractiveAuthorizationAllowed(timeoutMs == kInteractiveTimeoutMs);
    // A child of this client: destroying the client drops the answer unseen.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, onReply] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (failed(reply) && !m_serviceAnswered && serviceMissing(reply)) {
            vhWarning() << "no UDisks2 service: " << reasonOf(reply);
            return m_end(Result::Unavailable, reasonOf(reply));
        }
        m_serviceAnswered = true;
        onReply(reply);
    });
}

void VHUDisks2Client::resolve(const QString &node, const std::function<void(const QString &object)> &onObject)
{
    send(kManagerPath, kManager, QStringLiteral("ResolveDevice"),
         {QVariantMap{{QStringLiteral("path"), node}}, QVariantMap()}, kCallTimeoutMs,
         [node, onObject](const QDBusMessage &reply) {
             const QList<QDBusObjectPath> paths =
                 failed(reply) ? QList<QDBusObjectPath>() : objectPaths(firstArgument(reply));
             // An older service without ResolveDevice still knows the node by its name.
             onObject(paths.isEmpty() ? objectByName(node) : paths.constFirst().path());
         });
}

void VHUDisks2Client::unmountNext()
{
    if (m_pendingNodes.isEmpty())
        return findDrive();
    const QString node = m_pendingNodes.takeFirst();
    resolve(node, [this, node](const QString &object) {
        send(object, kFilesystem, QStringLiteral("Unmount"), {QVariant(noInteraction())}, kCallTimeoutMs,
             [this, node](const QDBusMessage &reply) {
                 // Unmounted meanwhile by someone else is as good as unmounted by us.
                 if (failed(reply) && reply.errorName() != kNotMounted)
                     return fail(QStringLiteral("unmount ") + node, reply);
                 unmountNext();
             });
    });
}

void VHUDisks2Client::findDrive()
{
    resolve(m_diskNode, [this](const QString &object) {
        send(object, kProperties, QStringLiteral("Get"), {kBlock, QStringLiteral("Drive")}, kCallTimeoutMs,
             [this](const QDBusMessage &reply) {
                 if (failed(reply))
                     return fail(QStringLiteral("drive of ") + m_diskNode, reply);
                 const QString drive = unwrapped(firstArgument(reply)).value<QDBusObjectPath>().path();
                 if (!validObject(drive)) {
                     vhCritical() << "no drive for " << m_diskNode;
                     return endEject(Result::Failed, QStringLiteral("no drive for ") + m_diskNode);
                 }
                 ejectDrive(drive);
             });
    });
}

void VHUDisks2Client::ejectDrive(const QString &drive)
{
    send(drive, kProperties, QStringLiteral("GetAll"), {kDrive}, kCallTimeoutMs,
         [this, drive](const QDBusMessage &reply) {
             if (failed(reply))
                 return fail(QStringLiteral("properties of ") + drive, reply);
             const QVariantMap properties = propertyMap(firstArgument(reply));
             const bool mediaRemovable = unwrapped(properties.value(QStringLiteral("MediaRemovable"))).toBool();
             const bool canPowerOff = unwrapped(properties.value(QStringLiteral("CanPowerOff"))).toBool();
             const bool powerOff = m_mode == VHEjectMode::PowerOff && !mediaRemovable && canPowerOff;
             callDrive(drive, powerOff ? QStringLiteral("PowerOff") : QStringLiteral("Eject"));
         });
}

void VHUDisks2Client::callDrive(const QString &drive, const QString &method)
{
    send(drive, kDrive, method, {QVariant(noInteraction())}, kCallTimeoutMs, [this, method](const QDBusMessage &reply) {
        if (failed(reply))
            return fail(method, reply);
        endEject(Result::Ejected, {});
    });
}

void VHUDisks2Client::fail(const QString &step, const QDBusMessage &reply)
{
    vhCritical() << step << " failed: " << reply.errorName() << " " << reply.errorMessage();
    m_end(Result::Failed, reasonOf(reply));
}

void VHUDisks2Client::endEject(Result result, const QString &reason)
{
    m_busy = false;
    m_pendingNodes.clear();
    emit finished(result, reason);
}

void VHUDisks2Client::endMount(Result result, const QString &text)
{
    m_busy = false;
    emit mountFinished(result, text);
}

namespace VHUDisks2 {

namespace {

VHUDisks2Client::Result ejectOnThisThread(const QDBusConnection &bus, const QStringList &mountedNodes,
                                          const QString &diskNode, VHEjectMode mode, QString *reason, int timeoutMs)
{
    QEventLoop loop;
    VHUDisks2Client client(bus);
    VHUDisks2Client::Result result = VHUDisks2Client::Result::Failed;
    QString text = QStringLiteral("timed out");
    bool done = false;
    QObject::connect(&client, &VHUDisks2Client::finished, &loop,
                     [&](VHUDisks2Client::Result answer, const QString &answerText) {
                         result = answer;
                         text = answerText;
                         done = true;
                         loop.quit();
                     });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    client.eject(mountedNodes, diskNode, mode);
    if (!done)
        loop.exec();
    if (!done)
        vhCritical() << "eject timed out: " << diskNode;
    if (reason)
        *reason = text;
    return result;
}

} // namespace

VHUDisks2Client::Result ejectAndWait(const QDBusConnection &bus, const QStringList &mountedNodes,
                                     const QString &diskNode, VHEjectMode mode, QString *reason, int timeoutMs)
{
    // The bus's replies are delivered through the application's event machinery.
    if (!QCoreApplication::instance())
        return VHUDisks2Client::Result::Unavailable;
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        return ejectOnThisThread(bus, mountedNodes, diskNode, mode, reason, timeoutMs);
    vhWarning() << "eject called on the GUI thread: it waits for a thread of its own";
    VHUDisks2Client::Result result = VHUDisks2Client::Result::Failed;
    const std::unique_ptr<QThread> worker(
        QThread::create([&] { result = ejectOnThisThread(bus, mountedNodes, diskNode, mode, reason, timeoutMs); }));
    worker->start();
    worker->wait();
    return result;
}

} // namespace VHUDisks2
