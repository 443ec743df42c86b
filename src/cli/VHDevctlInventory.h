#pragma once

#include "VHDeviceDetector.h"
#include "VHEnvInterface.h"
#include "VHPlatformInterface.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>

class VHClient;

// One device as every command shows it: what the platform shows (a volume
// with an identity file, or a SCSI device of a flash-written family or
// waiting in IAP mode), or what the runtime's device object says. Empty
// texts are unknown and come out as null.
struct VHDevctlDevice
{
    QString uuid;
    QString model;
    QString family;                  // "fit", "gal", "pacer50", "psf", "pacer30"; empty: unknown
    QString transport;               // "volume" or "scsi"
    QString node;                    // the volume's root, or the SCSI device's node
    QString version;                 // the version compared for updates
    QMap<QString, QString> versions; // "software", "bootloader", ... ; empty ones left out
    QString state = QStringLiteral("ready");
    bool iapMode = false;
    bool identifiedByDeviceTxt = false; // "/System/device.txt", which only the updater's flag finds
    QString identification;             // what the INQUIRY answer of a device in IAP mode carries

    // What the runtime's device object says of itself.
    static VHDevctlDevice ofClient(VHClient &client);
    // The word of the runtime's state value.
    static QString stateWord(int state);

    QJsonObject toJson() const;
    QString describe() const;
};

// What is connected, read without starting the device runtime.
namespace VHDevctlInventory {

// Known rows are tried first; a SCSI device they do not name but whose
// answer carries the IAP marker is a device waiting in IAP mode. Every
// plugged device is listed.
QList<VHDevctlDevice> scan(VHPlatformInterface &backend, const VHModelTable &knownRows);

// The identification of a device in IAP mode: the printable text after the
// IAP tag of its INQUIRY answer, else its product field.
QString iapIdentification(const QByteArray &inquiry);

} // namespace VHDevctlInventory

// A backend that shows only one device (by UUID), so the runtime, which
// serves one device at a time, takes the one asked for even when others are
// plugged, and keeps to it when it restarts in another form. SCSI devices
// are kept by their UUID even when it is empty; volumes with an empty UUID
// asked for are all shown (a device in IAP mode has none).
class VHDevctlBackend : public VHPlatformInterface
{
public:
    VHDevctlBackend(std::unique_ptr<VHPlatformInterface> inner, const QString &uuid);

    [[nodiscard]] bool getDiskSpace(const QString &path, quint64 &total, quint64 &free) override;
    std::unique_ptr<VHEnvInterface> createEnv() override { return m_inner->createEnv(); }
    void getRemovableDrives(QStringList &drives, const QString &fileSystem, int reserved) override;
    QString getDriveVendorName(const QString &drive) override { return m_inner->getDriveVendorName(drive); }
    [[nodiscard]] bool ejectDevice(const QString &drive) override { return m_inner->ejectDevice(drive); }
    [[nodiscard]] bool ejectDeviceInMode(const QString &drive, VHEjectMode mode) override
    {
        return m_inner->ejectDeviceInMode(drive, mode);
    }
    VHServiceList findSCSIDevices(const VHModelTable &models) override;
    std::unique_ptr<VHDeviceDetector> createDetector(VHDeviceManagerInterface *manager, VHPlatform *platform) override
    {
        return m_inner->createDetector(manager, platform);
    }
    std::unique_ptr<VHDeviceWatcher> createDeviceWatcher() override { return m_inner->createDeviceWatcher(); }

private:
    std::unique_ptr<VHPlatformInterface> m_inner;
    QString m_uuid;
};
