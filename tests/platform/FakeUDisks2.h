#pragma once

// A private message bus and a fake disk service on it. The fake answers from a
// thread and connection of its own, so a caller that waits on its own thread
// (with a local event loop, or blocked) still gets its answers.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <memory>

// A dbus-daemon of its own with a socket in a temporary folder; stopped on destruction.
class PrivateBus
{
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !m_dir.isValid())
            return;
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        // No service folders: nothing can be started on demand, so a missing service stays missing.
        file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                  "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                  "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                                  "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n")
                       .arg(m_dir.path())
                       .toUtf8());
        file.close();
        m_daemon.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                                QStringLiteral("--nofork")});
        if (!m_daemon.waitForStarted(5000))
            return;
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {}
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }

    static bool daemonInstalled() { return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty(); }
    QString address() const { return m_address; }

    // A new connection of the calling side, named uniquely.
    QDBusConnection connect(const QString &name) { return QDBusConnection::connectToBus(m_address, name); }

private:
    QTemporaryDir m_dir{QStringLiteral("/tmp/vhbus-XXXXXX")};
    QProcess m_daemon;
    QString m_address;
};

inline QVariantMap mapArgument(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

// The object tree of the service below /org/freedesktop/UDisks2: the manager,
// block devices with file systems, and one drive. Records every call.
class FakeUDisks2 : public QDBusVirtualObject
{
public:
    struct Call
    {
        QString path;
        QString method;
        QVariantMap options;
    };

    static inline const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
    static inline const QString kDrivePath = QStringLiteral("/org/freedesktop/UDisks2/drives/Watch");
    static inline const QString kNotAuthorized = QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized");

    // Set before the service starts.
    QHash<QString, QString> blocks{{QStringLiteral("/dev/sdb"), kRoot + QStringLiteral("/block_devices/sdb")},
                                   {QStringLiteral("/dev/sdb1"), kRoot + QStringLiteral("/block_devices/sdb1")},
                                   {QStringLiteral("/dev/sdb2"), kRoot + QStringLiteral("/block_devices/sdb2")}};
    bool mediaRemovable = false;
    bool canPowerOff = true;
    QSet<QString> refusedMethods;
    QString slowMethod;
    int slowDelayMs = 0;
    QString mountPoint = QStringLiteral("/media/user/WATCH");
    bool alreadyMounted = false;

    QList<Call> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    QStringList methodsCalled() const
    {
        QStringList methods;
        for (const Call &call : calls())
            methods.append(call.method + QLatin1Char(' ') + call.path.section(QLatin1Char('/'), -1));
        return methods;
    }

    FakeUDisks2() { qDBusRegisterMetaType<QList<QByteArray>>(); }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString method = message.member();
        QVariantMap options;
        for (const QVariant &argument : message.arguments()) {
            if (argument.metaType() == QMetaType::fromType<QDBusArgument>() || argument.canConvert<QVariantMap>())
                options = mapArgument(argument);
        }
        {
            QMutexLocker lock(&m_mutex);
            m_calls.append({message.path(), method, options});
        }
        const QDBusMessage reply = answer(message);
        if (method == slowMethod) {
            QTimer::singleShot(slowDelayMs, this, [connection, reply] { QDBusConnection(connection).send(reply); });
            return true;
        }
        QDBusConnection(connection).send(reply);
        return true;
    }

private:
    QDBusMessage answer(const QDBusMessage &message) const
    {
        const QString method = message.member();
        const QList<QVariant> arguments = message.arguments();
        if (refusedMethods.contains(method))
            return message.createErrorReply(kNotAuthorized, QStringLiteral("Not authorized to perform operation"));
        if (method == QLatin1String("ResolveDevice")) {
            QList<QDBusObjectPath> found;
            const QString node = arguments.isEmpty()
                                     ? QString()
                                     : mapArgument(arguments.first()).value(QStringLiteral("path")).toString();
            if (blocks.contains(node))
                found.append(QDBusObjectPath(blocks.value(node)));
            return message.createReply(QVariant::fromValue(found));
        }
        const bool isBlock = blocks.values().contains(message.path());
        const QString property = arguments.size() == 2 ? arguments.at(1).toString() : QString();
        if (method == QLatin1String("Get") && isBlock && property == QLatin1String("MountPoints"))
            return message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(
                QList<QByteArray>{mountPoint.toUtf8() + '\0', QByteArrayLiteral("/elsewhere\0")}))));
        if (method == QLatin1String("Get") && isBlock && property == QLatin1String("Drive"))
            return message.createReply(
                QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(kDrivePath)))));
        if (method == QLatin1String("GetAll") && message.path() == kDrivePath)
            return message.createReply(QVariantMap{{QStringLiteral("MediaRemovable"), mediaRemovable},
                                                   {QStringLiteral("CanPowerOff"), canPowerOff}});
        const bool isDrive = message.path() == kDrivePath;
        if ((method == QLatin1String("Unmount") && isBlock)
            || ((method == QLatin1String("Eject") || method == QLatin1String("PowerOff")) && isDrive))
            return message.createReply();
        if (method == QLatin1String("Mount") && isBlock && alreadyMounted)
            return message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.AlreadyMounted"),
                                            QStringLiteral("Device is already mounted"));
        if (method == QLatin1String("Mount") && isBlock)
            return message.createReply(mountPoint);
        return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                        QStringLiteral("no ") + method + QStringLiteral(" on ") + message.path());
    }

    mutable QMutex m_mutex;
    QList<Call> m_calls;
};

// Runs a FakeUDisks2 on a thread and connection of its own under the service's name.
class FakeUDisks2Service
{
public:
    explicit FakeUDisks2Service(std::unique_ptr<FakeUDisks2> fake) : m_fake(std::move(fake)) {}
    ~FakeUDisks2Service() { stop(); }

    FakeUDisks2 &fake() { return *m_fake; }

    bool start(const QString &address)
    {
        m_fake->moveToThread(&m_thread);
        m_thread.start();
        bool registered = false;
        QMetaObject::invokeMethod(
            m_fake.get(),
            [&] {
                QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("fake-udisks2"));
                registered = bus.isConnected() && bus.registerService(QStringLiteral("org.freedesktop.UDisks2"))
                             && bus.registerVirtualObject(FakeUDisks2::kRoot, m_fake.get(), QDBusConnection::SubPath);
            },
            Qt::BlockingQueuedConnection);
        return registered;
    }

    void stop()
    {
        if (!m_thread.isRunning())
            return;
        QMetaObject::invokeMethod(
            m_fake.get(),
            [] {
                QDBusConnection bus(QStringLiteral("fake-udisks2"));
                bus.unregisterObject(FakeUDisks2::kRoot, QDBusConnection::UnregisterTree);
                bus.unregisterService(QStringLiteral("org.freedesktop.UDisks2"));
                QDBusConnection::disconnectFromBus(QStringLiteral("fake-udisks2"));
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

private:
    QThread m_thread;
    std::unique_ptr<FakeUDisks2> m_fake;
};
