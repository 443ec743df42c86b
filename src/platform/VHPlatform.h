#pragma once

#include "VHPlatformInterface.h"

#include <QPointer>

#include <optional>

class VHFSDeviceService;
class VHIniDocument;

// Owner of the platform backend. Forwards to it and holds the
// platform-neutral drive scan with its two identity-file readers. The daemon
// owns the process's one platform; everything else borrows it.
class VHPlatform
{
public:
    // A platform over the backend the device registry hands out.
    VHPlatform();
    explicit VHPlatform(std::unique_ptr<VHPlatformInterface> backend);
    ~VHPlatform();
    VHPlatform(const VHPlatform &) = delete;
    VHPlatform &operator=(const VHPlatform &) = delete;

    // The simulated backend when the environment variable VELORA_SIM_ROOT
    // names a folder, else the Linux one.
    static std::unique_ptr<VHPlatformInterface> createDefaultBackend();

    // An object with the signal DeviceChange(quint32) that this platform's
    // detectors connect to instead of creating their own watcher (the
    // application, once it owns the watcher and re-emits its codes). Not owned;
    // cleared when it is destroyed.
    void setDeviceEventSource(QObject *source) { m_eventSource = source; }
    QObject *deviceEventSource() const { return m_eventSource.data(); }

    VHPlatformInterface *backend() const { return m_backend.get(); }
    // Swaps the backend of a living platform (tests); detectors made before keep working on the new one.
    void setBackend(std::unique_ptr<VHPlatformInterface> backend) { m_backend = std::move(backend); }

    [[nodiscard]] bool getDiskSpace(const QString &path, quint64 &total, quint64 &free);
    std::unique_ptr<VHEnvInterface> createEnv();
    QStringList getRemovableDrives(const QString &fileSystem = QStringLiteral("msdos"));
    QString getDriveVendorName(const QString &drive);
    [[nodiscard]] bool ejectDevice(const QString &drive, VHEjectMode mode = VHEjectMode::PowerOff);
    QString getVolumeLabel(const QString &drive);
    QString getPhysicalDevice(const QString &drive);
    VHServiceList findSCSIDevices(const VHModelTable &models);
    std::unique_ptr<VHDeviceDetector> createDetector(VHDeviceManagerInterface *manager);
    std::unique_ptr<VHDeviceWatcher> createDeviceWatcher();
    std::unique_ptr<VHVolumeMounter> createVolumeMounter();

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
    QPointer<QObject> m_eventSource;
};
