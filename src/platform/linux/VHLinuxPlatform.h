#pragma once

#include "VHLinuxPaths.h"
#include "VHMountTable.h"
#include "VHPlatformInterface.h"
#include "VHSysfs.h"

#include <QMutex>
#include <QSet>

#include <functional>
#include <optional>

// The platform backend of a Linux desktop: drives are mounted file systems of
// USB mass-storage (or removable) disks, devices without a volume are reached
// with SG_IO, and ejecting goes through UDisks2.
class VHLinuxPlatform : public VHPlatformInterface
{
public:
    explicit VHLinuxPlatform(const VHLinuxPaths &paths = VHLinuxPaths());

    void getRemovableDrives(QStringList &drives, const QString &fileSystem, int reserved) override;
    QString getDriveVendorName(const QString &drive) override;
    // The udev property ID_FS_LABEL of the mount's block device, else its name in /dev/disk/by-label.
    QString getVolumeLabel(const QString &drive) override;
    // The sysfs folder of the USB device above the drive's disk (the disk's own folder without one).
    QString getPhysicalDevice(const QString &drive) override;
    [[nodiscard]] bool ejectDevice(const QString &drive) override;
    [[nodiscard]] bool ejectDeviceInMode(const QString &drive, VHEjectMode mode) override;
    VHServiceList findSCSIDevices(const VHModelTable &models) override;
    std::unique_ptr<VHDeviceWatcher> createDeviceWatcher() override;
    std::unique_ptr<VHVolumeMounter> createVolumeMounter() override;

    // One removable drive: its mount and its disk.
    struct Drive
    {
        VHMountEntry mount;
        VHBlockDisk disk;
    };
    // The mounted removable drives, in mount-table order.
    QList<Drive> removableDrives() const;
    static QList<Drive> removableDrives(const QList<VHMountEntry> &entries, const QString &sysRoot);

    const VHLinuxPaths &paths() const { return m_paths; }

    // The file name of the udev rule that grants the seat's user the nodes.
    static inline const QString kUdevRuleName = QStringLiteral("70-veloraupdate.rules");
    // What a user does when a device node cannot be opened for lack of permission.
    static QString accessHint(const QString &node);
    // The nodes of USB disks that the last SCSI scan could not open for lack of
    // permission (EACCES), so front ends can print accessHint for each.
    QStringList deniedNodes() const;

    // Opens a device node like open(2) (tests force failures through it).
    using NodeOpener = std::function<int(const QByteArray &path, int flags)>;
    void setNodeOpener(NodeOpener opener) { m_openNode = std::move(opener); }

private:
    std::optional<Drive> driveAt(const QString &mountPoint) const;
    bool ejectWithoutService(const Drive &drive, const QList<VHMountEntry> &diskMounts);
    std::unique_ptr<VHDeviceService> probeDisk(const VHBlockDisk &disk, const VHModelTable &models);
    int openDeviceNode(const QString &path, int flags) const;
    void noteDenied(const VHBlockDisk &disk, const QString &node);

    VHLinuxPaths m_paths;
    NodeOpener m_openNode;
    // The window scans for devices in IAP mode on a worker while the detector scans on its own thread.
    mutable QMutex m_deniedMutex;
    QStringList m_deniedNodes;
    // Disks whose permission problem is already in the log: one line per device.
    QSet<QString> m_hintLogged;
};
