#pragma once

#include "VHPlatformInterface.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include <functional>

class QDBusMessage;

// Talks to the UDisks2 service without waiting on the calling thread: every
// call is asynchronous and the chain of calls goes on from the event loop.
// One operation runs at a time; a request while one is running fails at once.
class VHUDisks2Client : public QObject
{
    Q_OBJECT

public:
    enum class Result { Ejected, Mounted, Failed, Unavailable };
    Q_ENUM(Result)

    // A client of the service on the system bus; tests hand in a private bus.
    explicit VHUDisks2Client(QObject *parent = nullptr);
    explicit VHUDisks2Client(const QDBusConnection &bus, QObject *parent = nullptr);
    ~VHUDisks2Client() override;

    // Unmounts every listed file system (device nodes such as "/dev/sdb1"), then
    // ejects the disk ("/dev/sdb"), never asking the user for authorisation.
    // PowerOff mode powers a drive without removable media off when it can be;
    // KeepPower always uses Drive.Eject, so the port stays powered for a device
    // that restarts. Ends with finished().
    void eject(const QStringList &mountedNodes, const QString &diskNode, VHEjectMode mode = VHEjectMode::PowerOff);
    // Mounts the file system on node ("/dev/sdb1"); the service may ask the
    // user for authorisation. A file system mounted already answers with its
    // first mount point. Ends with mountFinished().
    void mount(const QString &node);

    bool isBusy() const { return m_busy; }

    // Unmounting flushes the volume, which takes a while on slow flash.
    static constexpr int kCallTimeoutMs = 60000;
    // Long enough for the user to answer an authorisation dialog.
    static constexpr int kInteractiveTimeoutMs = 5 * 60000;

signals:
    // Ejected, or Failed / Unavailable (no service on the bus) with the reason:
    // the refusing call's error name and message. Always emitted from the event
    // loop, never from within eject().
    void finished(VHUDisks2Client::Result result, const QString &reason);
    // Mounted with the mount point, or Failed / Unavailable with the reason.
    void mountFinished(VHUDisks2Client::Result result, const QString &mountPointOrReason);

private:
    using ReplyHandler = std::function<void(const QDBusMessage &reply)>;
    using FailureHandler = std::function<void(Result result, const QString &reason)>;

    bool start(const FailureHandler &end);
    void send(const QString &path, const QString &interface, const QString &method, const QVariantList &arguments,
              int timeoutMs, const ReplyHandler &onReply);
    void resolve(const QString &node, const std::function<void(const QString &object)> &onObject);
    void findMountPoint(const QString &object, const QDBusMessage &alreadyMounted);
    void unmountNext();
    void findDrive();
    void ejectDrive(const QString &drive);
    void callDrive(const QString &drive, const QString &method);
    void fail(const QString &step, const QDBusMessage &reply);
    void endEject(Result result, const QString &reason);
    void endMount(Result result, const QString &text);

    QDBusConnection m_bus;
    bool m_busy = false;
    bool m_serviceAnswered = false;
    FailureHandler m_end;
    QStringList m_pendingNodes;
    QString m_diskNode;
    VHEjectMode m_mode = VHEjectMode::PowerOff;
};

namespace VHUDisks2 {

// The whole eject runs this long at most before the caller gets its answer.
constexpr int kEjectTimeoutMs = 150000;

// Ejects through the client and waits for its answer on the calling thread
// with a local event loop. Meant for worker threads; called from the GUI
// thread it logs a warning and runs on a short-lived thread of its own, so no
// nested event loop re-enters the window's slots in the middle of an eject.
// reason, when given, receives the failure reason.
VHUDisks2Client::Result ejectAndWait(const QDBusConnection &bus, const QStringList &mountedNodes,
                                     const QString &diskNode, VHEjectMode mode, QString *reason = nullptr,
                                     int timeoutMs = kEjectTimeoutMs);

} // namespace VHUDisks2
