#pragma once

#include "VHDeviceWatcher.h"
#include "VHModelInfo.h"
#include "VHVolumeMounter.h"

#include <QStringList>

#include <memory>
#include <vector>

class VHDeviceDetector;
class VHDeviceManagerInterface;
class VHDeviceService;
class VHEnvInterface;
class VHPlatform;

using VHServiceList = std::vector<std::unique_ptr<VHDeviceService>>;

// What ejecting does to the drive's power: PowerOff may cut the power of its
// port; KeepPower never does, for a device that restarts and must come back.
enum class VHEjectMode { PowerOff, KeepPower };

// The operating-system services of the device runtime. The real and the
// simulated backends implement it; nothing above the platform layer knows which runs.
class VHPlatformInterface
{
public:
    virtual ~VHPlatformInterface() = default;
    // The sizes the file system holding path reports.
    [[nodiscard]] virtual bool getDiskSpace(const QString &path, quint64 &total, quint64 &free);
    // The standard environment by default.
    virtual std::unique_ptr<VHEnvInterface> createEnv();
    virtual void getRemovableDrives(QStringList &drives, const QString &fileSystem, int reserved) = 0;
    virtual QString getDriveVendorName(const QString &drive) = 0;
    [[nodiscard]] virtual bool ejectDevice(const QString &drive) = 0;
    virtual VHServiceList findSCSIDevices(const VHModelTable &models) = 0;
    // The detector scans through the given platform, the backend's owner; the
    // platform-neutral detector by default.
    virtual std::unique_ptr<VHDeviceDetector> createDetector(VHDeviceManagerInterface *manager, VHPlatform *platform);
    // The source of DeviceChange(quint32) codes for the detector; none by default.
    virtual std::unique_ptr<VHDeviceWatcher> createDeviceWatcher() { return nullptr; }
    // Finds and mounts device volumes nobody mounted; none by default.
    virtual std::unique_ptr<VHVolumeMounter> createVolumeMounter() { return nullptr; }
    // Ejecting in a given mode; a backend whose eject never cuts power ejects as usual.
    [[nodiscard]] virtual bool ejectDeviceInMode(const QString &drive, VHEjectMode mode) { return ejectDevice(drive); }
    // The file system's label of a drive; empty when it has none or cannot be read.
    virtual QString getVolumeLabel(const QString &) { return QString(); }
    // Names the physical device a drive belongs to: two volumes of one device
    // give the same text. Empty when unknown; an unknown device matches nothing.
    virtual QString getPhysicalDevice(const QString &) { return QString(); }
};
