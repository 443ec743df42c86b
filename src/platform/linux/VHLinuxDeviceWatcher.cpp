#include "VHLinuxDeviceWatcher.h"

#include "VHDeviceEvents.h"
#include "VHLinuxPlatform.h"
#include "VHLog.h"
#include "VHMountTable.h"
#include "VHSysfs.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

#include <libudev.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>

void VHLinuxDeviceWatcher::UdevDeleter::operator()(udev *handle) const { udev_unref(handle); }
void VHLinuxDeviceWatcher::UdevDeleter::operator()(udev_monitor *handle) const { udev_monitor_unref(handle); }

VHLinuxDeviceWatcher::VHLinuxDeviceWatcher(const VHLinuxPaths &paths, QObject *parent)
    : VHDeviceWatcher(parent), m_paths(paths)
{
    openUdevMonitor();
    watchMountTable();
    m_mounts = removableMounts();
}

VHLinuxDeviceWatcher::~VHLinuxDeviceWatcher() = default;

void VHLinuxDeviceWatcher::openUdevMonitor()
{
    m_udev.reset(udev_new());
    if (!m_udev) {
        vhWarning() << "udev not available";
        return;
    }
    m_monitorOwner.reset(udev_monitor_new_from_netlink(m_udev.get(), "udev"));
    udev_monitor *monitor = m_monitorOwner.get();
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr) < 0
        || udev_monitor_filter_add_match_subsystem_devtype(monitor, "scsi_generic", nullptr) < 0
        || udev_monitor_enable_receiving(monitor) < 0) {
        vhWarning() << "udev monitor not available";
        m_monitorOwner.reset();
        return;
    }
    const int fd = udev_monitor_get_fd(monitor);
    // Draining reads until the queue is empty; it must not block then.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_monitor = monitor;
    m_udevNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_udevNotifier, &QSocketNotifier::activated, this, &VHLinuxDeviceWatcher::onUdevReadable);
}

void VHLinuxDeviceWatcher::watchMountTable()
{
    m_mountFd.reset(::open(QFile::encodeName(m_paths.mountInfo).constData(), O_RDONLY | O_CLOEXEC));
    struct statfs info
    {};
    if (m_mountFd.isValid() && ::fstatfs(m_mountFd.get(), &info) == 0 && info.f_type == PROC_SUPER_MAGIC) {
        // The kernel marks the open table with POLLPRI when a mount comes or goes.
        m_mountNotifier = new QSocketNotifier(m_mountFd.get(), QSocketNotifier::Exception, this);
        connect(m_mountNotifier, &QSocketNotifier::activated, this, &VHLinuxDeviceWatcher::checkMounts);
        return;
    }
    // A table kept in an ordinary file (tests, a mocked /proc) is watched for
    // writes and for being replaced in its folder.
    m_mountFd.reset();
    m_fileWatcher = new QFileSystemWatcher(this);
    m_fileWatcher->addPath(m_paths.mountInfo);
    m_fileWatcher->addPath(QFileInfo(m_paths.mountInfo).absolutePath());
    connect(m_fileWatcher, &QFileSystemWatcher::fileChanged, this, &VHLinuxDeviceWatcher::onMountTableFileChanged);
    connect(m_fileWatcher, &QFileSystemWatcher::directoryChanged, this, &VHLinuxDeviceWatcher::onMountTableFileChanged);
}

void VHLinuxDeviceWatcher::onMountTableFileChanged()
{
    // A file replaced by rename drops out of the watch; watch the new one.
    if (!m_fileWatcher->files().contains(m_paths.mountInfo) && QFileInfo::exists(m_paths.mountInfo))
        m_fileWatcher->addPath(m_paths.mountInfo);
    checkMounts();
}

bool VHLinuxDeviceWatcher::isNodeChange(const QString &action, const QString &subsystem, const QString &devpath,
                                        const QString &idBus)
{
    if (action != QLatin1String("add") && action != QLatin1String("remove"))
        return false;
    if (subsystem != QLatin1String("block") && subsystem != QLatin1String("scsi_generic"))
        return false;
    return idBus == QLatin1String("usb") || VHSysfs::isUsbDevpath(devpath);
}

void VHLinuxDeviceWatcher::onUdevReadable()
{
    bool nodesChanged = false;
    while (udev_device *device = udev_monitor_receive_device(m_monitor)) {
        const auto text = [](const char *value) { return QString::fromUtf8(value ? value : ""); };
        nodesChanged |=
            isNodeChange(text(udev_device_get_action(device)), text(udev_device_get_subsystem(device)),
                         text(udev_device_get_devpath(device)), text(udev_device_get_property_value(device, "ID_BUS")));
        udev_device_unref(device);
    }
    // A disk that vanished takes its mounts along even before they are unmounted.
    checkMounts();
    if (nodesChanged)
        emit DeviceChange(VHDeviceEvent::NodesChanged);
}

QSet<QString> VHLinuxDeviceWatcher::removableMounts() const
{
    QByteArray table;
    // A failed read through the kept descriptor falls back to reading the file anew.
    if (!m_mountFd.isValid() || !VHMountTable::readFrom(m_mountFd.get(), table))
        table = VHMountTable::readFile(m_paths.mountInfo);
    QSet<QString> keys;
    for (const VHLinuxPlatform::Drive &drive :
         VHLinuxPlatform::removableDrives(VHMountTable::parse(table), m_paths.sysRoot)) {
        keys.insert(QStringLiteral("%1 %2 ").arg(drive.mount.mountId).arg(drive.mount.devNumber())
                    + drive.mount.mountPoint);
    }
    return keys;
}

QList<quint32> VHLinuxDeviceWatcher::mountChanges(const QSet<QString> &before, const QSet<QString> &after)
{
    QList<quint32> codes;
    if (!(before - after).isEmpty())
        codes.append(VHDeviceEvent::RemoveComplete);
    if (!(after - before).isEmpty())
        codes.append(VHDeviceEvent::Arrival);
    return codes;
}

void VHLinuxDeviceWatcher::checkMounts()
{
    const QSet<QString> now = removableMounts();
    const QList<quint32> codes = mountChanges(m_mounts, now);
    m_mounts = now;
    for (const quint32 code : codes)
        emit DeviceChange(code);
}
