#pragma once

#include "VHDeviceWatcher.h"
#include "VHFileOps.h"
#include "VHLinuxPaths.h"

#include <QList>
#include <QSet>
#include <QString>

#include <memory>

class QFileSystemWatcher;
class QSocketNotifier;
struct udev;
struct udev_monitor;

// Device notifications of a Linux desktop as DeviceChange codes: a udev
// monitor (block and scsi_generic devices, drained on each wake-up) and a watch
// of the mount table, re-read and compared with the last copy on each wake-up.
// A new mount of a removable drive gives 0x8000, a vanished one (unmounted, or
// its disk gone) 0x8004, a udev add or remove of a USB disk or its SCSI
// generic node 0x0007.
class VHLinuxDeviceWatcher : public VHDeviceWatcher
{
    Q_OBJECT

public:
    explicit VHLinuxDeviceWatcher(const VHLinuxPaths &paths = VHLinuxPaths(), QObject *parent = nullptr);
    ~VHLinuxDeviceWatcher() override;

    bool isMonitoringUdev() const { return m_monitor != nullptr; }
    bool isWatchingMounts() const { return m_mountNotifier || m_fileWatcher; }

    // Whether one udev event is a node change the detector cares about.
    static bool isNodeChange(const QString &action, const QString &subsystem, const QString &devpath,
                             const QString &idBus);
    // The codes for going from one set of removable mounts to the next:
    // removals first, so a remount reads as gone and back.
    static QList<quint32> mountChanges(const QSet<QString> &before, const QSet<QString> &after);
    // The keys of the mounted removable drives now (mount id, device number, mount point).
    QSet<QString> removableMounts() const;

public slots:
    // Re-reads the mount table and reports what changed since the last look.
    void checkMounts();

private slots:
    void onUdevReadable();
    void onMountTableFileChanged();

private:
    void openUdevMonitor();
    void watchMountTable();

    struct UdevDeleter
    {
        void operator()(udev *handle) const;
        void operator()(udev_monitor *handle) const;
    };

    VHLinuxPaths m_paths;
    std::unique_ptr<udev, UdevDeleter> m_udev;
    std::unique_ptr<udev_monitor, UdevDeleter> m_monitorOwner;
    udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_udevNotifier = nullptr;
    VHFileOps::UniqueFd m_mountFd;
    QSocketNotifier *m_mountNotifier = nullptr;
    QFileSystemWatcher *m_fileWatcher = nullptr;
    QSet<QString> m_mounts;
};
