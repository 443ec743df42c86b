#pragma once

#include "VHPlatformInterface.h"
#include "VHSimFileFaults.h"

// The platform backend of a simulation root (VHSimLayout.h): its folders are
// the removable drives, its plugged SCSI devices answer through their firmware
// simulation, and ejecting a drive moves its folder out of the root. An eject
// of a simulated device's drive leaves a marker in the device folder saying
// whether the port kept its power, so the firmware simulation can restart it.
// While it lives, the storage faults of the root (VHSimFileFaults.h) act on
// the file operations of the process.
class VHSimPlatform : public VHPlatformInterface
{
public:
    explicit VHSimPlatform(const QString &root);

    [[nodiscard]] bool getDiskSpace(const QString &path, quint64 &total, quint64 &free) override;
    void getRemovableDrives(QStringList &drives, const QString &fileSystem, int reserved) override;
    QString getDriveVendorName(const QString &drive) override;
    // The `label` key of the drive's ".simdrive".
    QString getVolumeLabel(const QString &drive) override;
    // The simulated device the drive belongs to (the `device` key of its ".simdrive").
    QString getPhysicalDevice(const QString &drive) override;
    [[nodiscard]] bool ejectDevice(const QString &drive) override;
    [[nodiscard]] bool ejectDeviceInMode(const QString &drive, VHEjectMode mode) override;
    VHServiceList findSCSIDevices(const VHModelTable &models) override;
    std::unique_ptr<VHDeviceWatcher> createDeviceWatcher() override;
    std::unique_ptr<VHVolumeMounter> createVolumeMounter() override;

    QString root() const { return m_root; }

private:
    // The drive folder (directly below the root) holding path, or empty.
    QString driveOf(const QString &path) const;
    // A key of the ".simdrive" of the drive holding path, or empty.
    QString driveInfoValue(const QString &path, const QString &key) const;
    QString ejectTarget(const QString &drive) const;
    void markEjected(const QString &target, VHEjectMode mode) const;

    QString m_root;
    VHSimFileFaults::Attachment m_fileFaults;
};
