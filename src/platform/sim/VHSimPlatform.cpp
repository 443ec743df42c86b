#include "VHSimPlatform.h"

#include "VHEnvInterface.h"
#include "VHInquiry.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHSimDeviceWatcher.h"
#include "VHSimLayout.h"
#include "VHSimSCSIService.h"
#include "VHSimVolumeMounter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The keys of a drive folder's ".simdrive".
QHash<QString, QString> driveInfo(const QString &folder)
{
    return VHSimLayout::readSmallIni(folder + QLatin1Char('/') + VHSimLayout::kDriveInfo);
}

} // namespace

VHSimPlatform::VHSimPlatform(const QString &root)
    : m_root(QDir::cleanPath(QDir(root).absolutePath())),
      m_fileFaults(VHSimFileFaults::attach(m_root, VHStandardEnv().dataFolder()))
{}

QString VHSimPlatform::driveOf(const QString &path) const
{
    const QString clean = QDir::cleanPath(path);
    if (!clean.startsWith(m_root + QLatin1Char('/')))
        return {};
    const QString name = clean.mid(m_root.size() + 1).section(QLatin1Char('/'), 0, 0);
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        return {};
    return m_root + QLatin1Char('/') + name;
}

bool VHSimPlatform::getDiskSpace(const QString &path, quint64 &total, quint64 &free)
{
    if (!VHPlatformInterface::getDiskSpace(path, total, free))
        return false;
    // A drive may claim other sizes, to simulate a full device.
    const QString drive = driveOf(path);
    if (!drive.isEmpty()) {
        const QHash<QString, QString> claimed = driveInfo(drive);
        bool ok = false;
        const quint64 claimedTotal = claimed.value(QStringLiteral("totalBytes")).toULongLong(&ok);
        if (ok)
            total = claimedTotal;
        const quint64 claimedFree = claimed.value(QStringLiteral("freeBytes")).toULongLong(&ok);
        if (ok)
            free = claimedFree;
    }
    return true;
}

void VHSimPlatform::getRemovableDrives(QStringList &drives, const QString &, int)
{
    for (const QString &drive : VHSimLayout::driveFolders(m_root)) {
        drives.append(drive);
        vhDebug() << "find removable drive  " << drive;
    }
}

QString VHSimPlatform::getDriveVendorName(const QString &drive)
{
    const QHash<QString, QString> info = driveInfo(drive);
    const QString vendor = info.value(QStringLiteral("vendor"));
    const QString product = info.value(QStringLiteral("model")).trimmed();
    vhDebug() << "vendor" << vendor;
    vhDebug() << "product" << product;
    return vendor + product;
}

QString VHSimPlatform::driveInfoValue(const QString &path, const QString &key) const
{
    const QString folder = driveOf(path);
    return folder.isEmpty() ? QString() : driveInfo(folder).value(key);
}

QString VHSimPlatform::getVolumeLabel(const QString &drive) { return driveInfoValue(drive, QStringLiteral("label")); }

QString VHSimPlatform::getPhysicalDevice(const QString &drive)
{
    return driveInfoValue(drive, QStringLiteral("device"));
}

QString VHSimPlatform::ejectTarget(const QString &drive) const
{
    const QHash<QString, QString> info = driveInfo(drive);
    const QString device = info.value(QStringLiteral("device"));
    const QString slot = info.value(QStringLiteral("slot"), QStringLiteral("volume"));
    const QString deviceFolder = VHSimLayout::deviceFolder(m_root, device);
    const bool safeNames = !device.isEmpty() && !device.contains(QLatin1Char('/'))
                           && !device.startsWith(QLatin1Char('.')) && !slot.contains(QLatin1Char('/'))
                           && !slot.startsWith(QLatin1Char('.'));
    if (safeNames && QFileInfo(deviceFolder).isDir())
        return deviceFolder + QLatin1Char('/') + slot;
    const QString ejected = m_root + QLatin1Char('/') + VHSimLayout::kEjectedFolder;
    QDir().mkpath(ejected);
    QString target = ejected + QLatin1Char('/') + QFileInfo(drive).fileName();
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = ejected + QLatin1Char('/') + QFileInfo(drive).fileName() + QStringLiteral(".%1").arg(n);
    return target;
}

bool VHSimPlatform::ejectDevice(const QString &drive) { return ejectDeviceInMode(drive, VHEjectMode::PowerOff); }

void VHSimPlatform::markEjected(const QString &target, VHEjectMode mode) const
{
    // Only a device folder's volume slot has firmware that can start again.
    const QString deviceFolder = QFileInfo(target).absolutePath();
    if (QFileInfo(deviceFolder).absolutePath() != m_root + QLatin1Char('/') + VHSimLayout::kDevicesFolder)
        return;
    QFile marker(deviceFolder + QLatin1Char('/') + VHSimLayout::kEjectMarker);
    const QByteArray text = mode == VHEjectMode::KeepPower ? "power=keep\n" : "power=off\n";
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate) || marker.write(text) != text.size())
        vhWarning() << "eject marker not written: " << marker.fileName();
}

bool VHSimPlatform::ejectDeviceInMode(const QString &drive, VHEjectMode mode)
{
    const QString folder = driveOf(drive);
    if (folder.isEmpty() || folder != QDir::cleanPath(drive) || !QFileInfo(folder).isDir()) {
        vhCritical() << "open handle for ejection failed: drive=" << drive;
        return false;
    }
    const QString target = ejectTarget(folder);
    if (QFileInfo::exists(target) || !QDir().rename(folder, target)) {
        vhCritical() << "eject failed: " << drive;
        return false;
    }
    markEjected(target, mode);
    return true;
}

VHServiceList VHSimPlatform::findSCSIDevices(const VHModelTable &models)
{
    VHServiceList found;
    for (const QString &name : VHSimLayout::scsiDeviceNames(m_root)) {
        const QString link = VHSimLayout::scsiLinkPath(m_root, name);
        vhDebug() << "find SCSI interface: " << link;
        std::unique_ptr<VHSimScsiDevice> device =
            VHSimScsiDevice::open(VHSimLayout::scsiDeviceFolder(m_root, name), link);
        if (!device)
            continue;
        const QByteArray answer =
            VHInquiry::read([&device](const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length) {
                return device->execute(cdb, cdbLength, VHSimScsiDevice::Read, buffer, length);
            });
        if (answer.isEmpty())
            continue;
        const std::optional<VHModelInfo> row = VHInquiry::matchModel(answer, models);
        if (!row)
            continue;
        auto service = std::make_unique<VHSimSCSIService>(std::move(device), *row);
        service->setInquiryTags(VHInquiry::iapTag(answer), VHInquiry::productTag(answer));
        found.push_back(std::move(service));
    }
    return found;
}

std::unique_ptr<VHDeviceWatcher> VHSimPlatform::createDeviceWatcher()
{
    return std::make_unique<VHSimDeviceWatcher>(m_root);
}

std::unique_ptr<VHVolumeMounter> VHSimPlatform::createVolumeMounter()
{
    return std::make_unique<VHSimVolumeMounter>(m_root);
}
