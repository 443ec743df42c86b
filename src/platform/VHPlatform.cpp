#include "VHPlatform.h"

#include "VHDeviceDetector.h"
#include "VHDeviceManagerInterface.h"
#include "VHDeviceRegistry.h"
#include "VHEnvInterface.h"
#include "VHFSDeviceService.h"
#include "VHIniDocument.h"
#include "VHLinuxPlatform.h"
#include "VHLog.h"
#include "VHPlatformDeviceDetector.h"
#include "VHSimPlatform.h"
#include "VHUtility.h"

#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

namespace {

const QString kDynamicIdentification = QStringLiteral("VELORA:pacer:Pacer:ALDER Device:ALDER MS:ALDER");

struct IdentityFile
{
    QString path;     // empty: none
    bool fit = false; // "/System/device.txt": an unknown model is a FIT device
};

// The identity file of a drive by the manager's flags: a regular file below
// the volume, reached without links.
IdentityFile findIdentityFile(const QString &drive, int flags)
{
    if (flags & VHDeviceManagerInterface::kIdentifyByEitherFile) {
        const QString deviceTxt = VHUtility::findDeviceTxt(drive);
        if (!deviceTxt.isEmpty())
            return {deviceTxt, true};
        return {VHUtility::findDeviceIni(drive), false};
    }
    const bool fit = flags & VHDeviceManagerInterface::kIdentifyByDeviceTxt;
    return {fit ? VHUtility::findDeviceTxt(drive) : VHUtility::findDeviceIni(drive), fit};
}

// The identity file's text, read once. A file far larger than any identity
// file is skipped instead of being parsed (and rewritten).
bool readIdentityText(const QString &drive, const QString &path, QByteArray &bytes)
{
    if (VHFSDeviceService::readIdentity(drive, path, bytes))
        return true;
    const qint64 size = QFileInfo(path).size();
    if (size > VHPlatform::kMaxIdentityFileSize)
        vhWarning() << "identity file too large, skipped: " << path << " size=" << size;
    return false;
}

// A row's code is compared with the first 4 characters of the UUID. A row
// without a code (registered from a UUID of another length) names no device by
// UUID: matching it would give an unrelated device that row's model.
bool uuidMatchesRow(const QString &uuid, const VHModelInfo &row)
{
    return !row.code.isEmpty() && uuid.left(4) == row.code;
}

} // namespace

VHPlatform::VHPlatform() : m_backend(VHDeviceRegistry::instance().createBackend()) {}

VHPlatform::VHPlatform(std::unique_ptr<VHPlatformInterface> backend) : m_backend(std::move(backend)) {}

std::unique_ptr<VHPlatformInterface> VHPlatform::createDefaultBackend()
{
    const QString simRoot = qEnvironmentVariable("VELORA_SIM_ROOT");
    if (!simRoot.isEmpty())
        return std::make_unique<VHSimPlatform>(simRoot);
    return std::make_unique<VHLinuxPlatform>();
}

VHPlatform::~VHPlatform() = default;

bool VHPlatformInterface::getDiskSpace(const QString &path, quint64 &total, quint64 &free)
{
    struct statvfs info
    {};
    if (::statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    total = quint64(info.f_blocks) * info.f_frsize;
    free = quint64(info.f_bavail) * info.f_frsize;
    return true;
}

std::unique_ptr<VHEnvInterface> VHPlatformInterface::createEnv() { return std::make_unique<VHStandardEnv>(); }

std::unique_ptr<VHDeviceDetector> VHPlatformInterface::createDetector(VHDeviceManagerInterface *manager,
                                                                      VHPlatform *platform)
{
    return std::make_unique<VHPlatformDeviceDetector>(manager, platform);
}

bool VHPlatform::getDiskSpace(const QString &path, quint64 &total, quint64 &free)
{
    return m_backend && m_backend->getDiskSpace(path, total, free);
}

std::unique_ptr<VHEnvInterface> VHPlatform::createEnv()
{
    if (m_backend) {
        if (auto env = m_backend->createEnv())
            return env;
    }
    return std::make_unique<VHStandardEnv>();
}

QStringList VHPlatform::getRemovableDrives(const QString &fileSystem)
{
    QStringList drives;
    if (m_backend)
        m_backend->getRemovableDrives(drives, fileSystem, 0);
    return drives;
}

QString VHPlatform::getDriveVendorName(const QString &drive)
{
    return m_backend ? m_backend->getDriveVendorName(drive) : QString();
}

bool VHPlatform::ejectDevice(const QString &drive, VHEjectMode mode)
{
    return m_backend && m_backend->ejectDeviceInMode(drive, mode);
}

QString VHPlatform::getVolumeLabel(const QString &drive)
{
    return m_backend ? m_backend->getVolumeLabel(drive) : QString();
}

QString VHPlatform::getPhysicalDevice(const QString &drive)
{
    return m_backend ? m_backend->getPhysicalDevice(drive) : QString();
}

VHServiceList VHPlatform::findSCSIDevices(const VHModelTable &models)
{
    return m_backend ? m_backend->findSCSIDevices(models) : VHServiceList();
}

std::unique_ptr<VHDeviceDetector> VHPlatform::createDetector(VHDeviceManagerInterface *manager)
{
    return m_backend ? m_backend->createDetector(manager, this) : nullptr;
}

std::unique_ptr<VHDeviceWatcher> VHPlatform::createDeviceWatcher()
{
    return m_backend ? m_backend->createDeviceWatcher() : nullptr;
}

std::unique_ptr<VHVolumeMounter> VHPlatform::createVolumeMounter()
{
    return m_backend ? m_backend->createVolumeMounter() : nullptr;
}

VHServiceList VHPlatform::findFSDevices(VHDeviceManagerInterface *manager, int)
{
    VHServiceList found;
    if (!manager)
        return found;
    const QStringList drives = getRemovableDrives(QStringLiteral("msdos"));
    vhDebug() << QStringLiteral("get drives=%1").arg(drives.size());
    const int flags = manager->deviceClassFlags();
    QString secondaryDrive;
    for (const QString &drive : drives) {
        const QString vendor = getDriveVendorName(drive);
        vhDebug() << QStringLiteral("vendorname=%1").arg(vendor);
        vhDebug() << "to find device.ini on " << drive;
        const IdentityFile identityFile = findIdentityFile(drive, flags);
        const QString &iniPath = identityFile.path;
        QByteArray text;
        if (!iniPath.isEmpty() && readIdentityText(drive, iniPath, text)) {
            const VHIniDocument identity(text);
            const QString uuid = identity.value(QStringLiteral("UUID"), QStringLiteral("UUID"));
            if (found.empty()) {
                std::optional<VHModelInfo> row;
                // A copy: registering a row below may grow the table.
                const VHModelTable models = manager->models();
                for (const VHModelInfo &candidate : models) {
                    if (uuidMatchesRow(uuid, candidate)) {
                        vhDebug() << "device id matched";
                        row = candidate;
                        break;
                    }
                }
                if (!row)
                    row = registerDeviceInfo(manager, identity, identityFile.fit);
                // Only a file taken for a device's gets the marker; the service
                // carries the text on, so the device object does not read it again.
                if (row) {
                    (void)VHFSDeviceService::writeMarker(drive, iniPath, text); // logs its failure; the device stands
                    found.push_back(std::make_unique<VHFSDeviceService>(drive, *row, iniPath, text));
                }
            }
        } else if (!VHUtility::findModelsByVendor(manager->models(), vendor).isEmpty()) {
            secondaryDrive = drive;
        }
        if (!found.empty() && !secondaryDrive.isEmpty()) {
            static_cast<VHFSDeviceService *>(found.front().get())->setSecondaryDrive(secondaryDrive);
            break;
        }
    }
    return found;
}

std::optional<VHModelInfo> VHPlatform::findGalDeviceInfo(VHDeviceManagerInterface *manager, const QString &iniPath)
{
    QByteArray text;
    if (!VHFSDeviceService::readIdentity(QString(), iniPath, text))
        return std::nullopt;
    return registerDeviceInfo(manager, VHIniDocument(text), false);
}

std::optional<VHModelInfo> VHPlatform::findFitDeviceInfo(VHDeviceManagerInterface *manager, const QString &iniPath)
{
    QByteArray text;
    if (!VHFSDeviceService::readIdentity(QString(), iniPath, text))
        return std::nullopt;
    return registerDeviceInfo(manager, VHIniDocument(text), true);
}

std::optional<VHModelInfo> VHPlatform::registerDeviceInfo(VHDeviceManagerInterface *manager,
                                                          const VHIniDocument &identity, bool fit)
{
    if (!manager || !identity.contains(QStringLiteral("MODEL"), QStringLiteral("Model")))
        return std::nullopt;
    VHModelInfo row;
    row.modelName = identity.value(QStringLiteral("MODEL"), QStringLiteral("Model")).trimmed();
    const QString uuid = identity.value(QStringLiteral("UUID"), QStringLiteral("UUID"));
    vhDebug() << (fit ? "register fit deviceInfo for " : "register GAL deviceInfo for ") << row.modelName;
    if (uuid.size() == 16)
        row.code = uuid.left(4);
    row.identification = kDynamicIdentification;
    const QString &role = fit                                         ? VHDeviceRegistry::kFitRole
                          : row.modelName == QLatin1String("Pacer60") ? VHDeviceRegistry::kPacer60Role
                                                                      : VHDeviceRegistry::kGalRole;
    row.factory = VHDeviceRegistry::instance().factory(role);
    // A family whose class is not part of this build registers nothing.
    if (!row.factory)
        return std::nullopt;
    manager->registerModel(row, false);
    return row;
}
