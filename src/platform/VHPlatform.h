#pragma once

#include "VHPlatformInterface.h"

#include <functional>
#include <optional>

class QObject;
class VHFSDeviceService;
class VHIniDocument;

// Owner of the platform backend. Forwards to it and holds the
// platform-neutral drive scan with its two identity-file readers.
class VHPlatform
{
public:
    using BackendFactory = std::function<std::unique_ptr<VHPlatformInterface>()>;

    VHPlatform();
    // A platform over the given backend (a backend handing its own kind to its detector).
    explicit VHPlatform(std::unique_ptr<VHPlatformInterface> backend);
    ~VHPlatform();

    // Replaces the backend chosen for new platform objects (tests). An empty
    // factory restores the default choice: the simulated backend when the
    // environment variable VELORA_SIM_ROOT names a folder, else the Linux one.
    static void setBackendFactory(BackendFactory factory);
    static std::unique_ptr<VHPlatformInterface> createDefaultBackend();

    // An object with the signal DeviceChange(quint32) that detectors connect to
    // instead of creating their own watcher (the application, once it owns the
    // watcher and re-emits its codes). Not owned; cleared when it is destroyed.
    static void setDeviceEventSource(QObject *source);
    static QObject *deviceEventSource();
    // Device classes live above this layer; they hand their factories in at start-up.
    static void setDeviceFactories(VHDeviceFactory fit, VHDeviceFactory gal, VHDeviceFactory pacer60);

    VHPlatformInterface *backend() const { return m_backend.get(); }

    bool getDiskSpace(const QString &path, quint64 &total, quint64 &free);
    std::unique_ptr<VHEnvInterface> createEnv();
    QStringList getRemovableDrives(const QString &fileSystem = QStringLiteral("msdos"));
    QString getDriveVendorName(const QString &drive);
    bool ejectDevice(const QString &drive, VHEjectMode mode = VHEjectMode::PowerOff);
    VHServiceList findSCSIDevices(const VHModelTable &models);
    std::unique_ptr<VHDeviceDetector> createDetector(VHDeviceManagerInterface *manager);
    std::unique_ptr<VHDeviceWatcher> createDeviceWatcher();

    // Scans the removable drives for a device identity file (by bit 4 of the
    // manager's flags) and returns at most one service carrying its model row.
    VHServiceList findFSDevices(VHDeviceManagerInterface *manager, int reserved = 0);
    std::optional<VHModelInfo> findGalDeviceInfo(VHDeviceManagerInterface *manager, const QString &iniPath);
    std::optional<VHModelInfo> findFitDeviceInfo(VHDeviceManagerInterface *manager, const QString &iniPath);

    // Identity files are a few hundred bytes; anything far larger is not one.
    static constexpr qint64 kMaxIdentityFileSize = 1024 * 1024;

private:
    std::optional<VHModelInfo> registerDeviceInfo(VHDeviceManagerInterface *manager, const VHIniDocument &identity,
                                                  bool fit);

    std::unique_ptr<VHPlatformInterface> m_backend;
};
