#pragma once

#include "VHPlatformInterface.h"

#include <functional>
#include <optional>

class VHFSDeviceService;

// Owner of the platform backend. Forwards to it and holds the
// platform-neutral drive scan with its two identity-file readers.
class VHPlatform
{
public:
    using BackendFactory = std::function<std::unique_ptr<VHPlatformInterface>()>;

    VHPlatform();
    ~VHPlatform();

    // Replaces the backend chosen for new platform objects (tests, the simulation).
    // An empty factory restores the default choice.
    static void setBackendFactory(BackendFactory factory);
    // Device classes live above this layer; they hand their factories in at start-up.
    static void setDeviceFactories(VHDeviceFactory fit, VHDeviceFactory gal, VHDeviceFactory pacer60);

    VHPlatformInterface *backend() const { return m_backend.get(); }

    bool getDiskSpace(const QString &path, quint64 &total, quint64 &free);
    std::unique_ptr<VHEnvInterface> createEnv();
    QStringList getRemovableDrives(const QString &fileSystem = QStringLiteral("msdos"));
    QString getDriveVendorName(const QString &drive);
    bool ejectDevice(const QString &drive);
    VHServiceList findSCSIDevices(const VHModelTable &models);
    std::unique_ptr<VHDeviceDetector> createDetector(VHDeviceManagerInterface *manager);

    // Scans the removable drives for a device identity file (by bit 4 of the
    // manager's flags) and returns at most one service carrying its model row.
    VHServiceList findFSDevices(VHDeviceManagerInterface *manager, int reserved = 0);
    std::optional<VHModelInfo> findGalDeviceInfo(VHDeviceManagerInterface *manager, const QString &iniPath);
    std::optional<VHModelInfo> findFitDeviceInfo(VHDeviceManagerInterface *manager, const QString &iniPath);

private:
    std::optional<VHModelInfo> registerDeviceInfo(VHDeviceManagerInterface *manager, const QString &iniPath,
                                                  bool fit);

    std::unique_ptr<VHPlatformInterface> m_backend;
};
