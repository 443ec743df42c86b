#include "VHUDisks2.h"

#include "VHLog.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariantMap>

namespace VHUDisks2 {

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString kManager = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kCallTimeoutMs = 60000;

QVariantMap noInteraction() { return {{QStringLiteral("auth.no_user_interaction"), true}}; }

QDBusMessage call(const QString &path, const QString &interface, const QString &method, const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(args);
    return QDBusConnection::systemBus().call(message, QDBus::Block, kCallTimeoutMs);
}

bool failed(const QDBusMessage &reply) { return reply.type() != QDBusMessage::ReplyMessage; }

QList<QDBusObjectPath> objectPaths(const QVariant &value)
{
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

// The UDisks2 object of a block device node; the name-based path when the
// service cannot resolve it.
QString blockObject(const QString &node)
{
    const QDBusMessage reply = call(kManagerPath, kManager, QStringLiteral("ResolveDevice"),
                                    {QVariantMap{{QStringLiteral("path"), node}}, QVariantMap()});
    if (!failed(reply) && !reply.arguments().isEmpty()) {
        const QList<QDBusObjectPath> paths = objectPaths(reply.arguments().constFirst());
        if (!paths.isEmpty())
            return paths.first().path();
    }
    QString name = node.mid(node.lastIndexOf(QLatin1Char('/')) + 1);
    for (QChar &c : name) {
        if (!c.isLetterOrNumber())
            c = QLatin1Char('_');
    }
    return QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + name;
}

QVariant property(const QString &path, const QString &interface, const QString &name)
{
    const QDBusMessage reply = call(path, kProperties, QStringLiteral("Get"), {interface, name});
    if (failed(reply) || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

bool unmount(const QString &node)
{
    const QDBusMessage reply =
        call(blockObject(node), kFilesystem, QStringLiteral("Unmount"), {QVariant(noInteraction())});
    if (!failed(reply) || reply.errorName() == QLatin1String("org.freedesktop.UDisks2.Error.NotMounted"))
        return true;
    vhCritical() << "unmount failed: " << node << " " << reply.errorName() << " " << reply.errorMessage();
    return false;
}

bool available()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (bus.interface()->isServiceRegistered(kService).value())
        return true;
    return bus.interface()->activatableServiceNames().value().contains(kService);
}

} // namespace

Result eject(const QStringList &mountedNodes, const QString &diskNode)
{
    if (!available())
        return Result::Unavailable;
    for (const QString &node : mountedNodes) {
        if (!unmount(node))
            return Result::Failed;
    }
    const QString drive =
        property(blockObject(diskNode), kBlock, QStringLiteral("Drive")).value<QDBusObjectPath>().path();
    if (drive.isEmpty() || drive == QLatin1String("/")) {
        vhCritical() << "no drive for " << diskNode;
        return Result::Failed;
    }
    const bool mediaRemovable = property(drive, kDrive, QStringLiteral("MediaRemovable")).toBool();
    const bool canPowerOff = property(drive, kDrive, QStringLiteral("CanPowerOff")).toBool();
    const QString method = !mediaRemovable && canPowerOff ? QStringLiteral("PowerOff") : QStringLiteral("Eject");
    const QDBusMessage reply = call(drive, kDrive, method, {QVariant(noInteraction())});
    if (failed(reply)) {
        vhCritical() << method << " failed: " << reply.errorName() << " " << reply.errorMessage();
        return Result::Failed;
    }
    return Result::Ejected;
}

} // namespace VHUDisks2
