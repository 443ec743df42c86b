#include "VHLinuxPlatform.h"

#include "VHDeviceWatcher.h"
#include "VHFileOps.h"
#include "VHInquiry.h"
#include "VHLinuxDeviceWatcher.h"
#include "VHLinuxSCSIService.h"
#include "VHLinuxVolumeMounter.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHSysCalls.h"
#include "VHUDisks2.h"

#include <QDir>
#include <QFile>

#include <libudev.h>

#include <cerrno>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

VHFileOps::UniqueFd openNode(const QString &path, int flags)
{
    return VHFileOps::UniqueFd(::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC));
}

void syncVolume(const QString &mountPoint)
{
    const VHFileOps::UniqueFd folder = openNode(mountPoint, O_RDONLY | O_DIRECTORY);
    if (folder.isValid())
        VHSys::syncfs(folder.get());
}

} // namespace

VHLinuxPlatform::VHLinuxPlatform(const VHLinuxPaths &paths) : m_paths(paths) {}

QList<VHLinuxPlatform::Drive> VHLinuxPlatform::removableDrives(const QList<VHMountEntry> &entries,
                                                               const QString &sysRoot)
{
    QList<Drive> drives;
    for (const VHMountEntry &mount : VHMountTable::wholeDeviceMounts(entries)) {
        std::optional<VHBlockDisk> disk = VHSysfs::diskOfDevNumber(sysRoot, mount.major, mount.minor);
        if (disk && disk->isRemovableDrive())
            drives.append({mount, *disk});
    }
    return drives;
}

QList<VHLinuxPlatform::Drive> VHLinuxPlatform::removableDrives() const
{
    return removableDrives(VHMountTable::parse(VHMountTable::readFile(m_paths.mountInfo)), m_paths.sysRoot);
}

void VHLinuxPlatform::getRemovableDrives(QStringList &drives, const QString &, int)
{
    for (const Drive &drive : removableDrives()) {
        const QString path = withoutTrailingSlash(drive.mount.mountPoint);
        drives.append(path);
        vhDebug() << "find removable drive  " << path;
    }
}

std::optional<VHLinuxPlatform::Drive> VHLinuxPlatform::driveAt(const QString &mountPoint) const
{
    const QString wanted = withoutTrailingSlash(mountPoint);
    for (const Drive &drive : removableDrives()) {
        if (withoutTrailingSlash(drive.mount.mountPoint) == wanted)
            return drive;
    }
    return std::nullopt;
}

QString VHLinuxPlatform::getDriveVendorName(const QString &drive)
{
    const std::optional<Drive> found = driveAt(drive);
    if (!found)
        return {};
    const QString vendor = found->disk.vendor;
    const QString product = found->disk.model.trimmed();
    vhDebug() << "vendor" << vendor;
    vhDebug() << "product" << product;
    return vendor + product;
}

QString VHLinuxPlatform::getVolumeLabel(const QString &drive)
{
    const std::optional<Drive> found = driveAt(drive);
    if (!found)
        return {};
    const dev_t number = makedev(found->mount.major, found->mount.minor);
    QString label;
    if (udev *context = udev_new()) {
        const QString folder = VHSysfs::blockDeviceFolder(m_paths.sysRoot, found->mount.major, found->mount.minor);
        udev_device *device = folder.isEmpty()
                                  ? udev_device_new_from_devnum(context, 'b', number)
                                  : udev_device_new_from_syspath(context, QFile::encodeName(folder).constData());
        if (device) {
            if (const char *value = udev_device_get_property_value(device, "ID_FS_LABEL"))
                label = QString::fromUtf8(value);
            udev_device_unref(device);
        }
        udev_unref(context);
    }
    if (!label.isEmpty())
        return label;
    // Without a udev database: the link in /dev/disk/by-label that leads to the node.
    const QDir byLabel(m_paths.devRoot + QStringLiteral("/disk/by-label"));
    for (const QFileInfo &entry : byLabel.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        struct stat st;
        if (::stat(QFile::encodeName(entry.absoluteFilePath()).constData(), &st) == 0 && S_ISBLK(st.st_mode)
            && st.st_rdev == number)
            return entry.fileName();
    }
    return {};
}

QString VHLinuxPlatform::getPhysicalDevice(const QString &drive)
{
    const std::optional<Drive> found = driveAt(drive);
    if (!found)
        return {};
    // Two volumes of one device are two LUNs (or partitions) below the same USB device.
    const QString folder = found->disk.sysPath;
    const QString top = m_paths.sysRoot + QStringLiteral("/devices");
    for (QString up = folder; up.startsWith(top + QLatin1Char('/')); up = QFileInfo(up).path()) {
        if (::access(QFile::encodeName(up + QStringLiteral("/idVendor")).constData(), F_OK) == 0)
            return up;
    }
    return folder;
}

bool VHLinuxPlatform::ejectDevice(const QString &drive) { return ejectDeviceInMode(drive, VHEjectMode::PowerOff); }

bool VHLinuxPlatform::ejectDeviceInMode(const QString &drive, VHEjectMode mode)
{
    const std::optional<Drive> found = driveAt(drive);
    if (!found) {
        vhCritical() << "open handle for ejection failed: drive=" << drive;
        return false;
    }
    QList<VHMountEntry> diskMounts;
    QStringList mountedNodes;
    for (const VHMountEntry &mount : VHMountTable::parse(VHMountTable::readFile(m_paths.mountInfo))) {
        const std::optional<VHBlockDisk> disk = VHSysfs::diskOfDevNumber(m_paths.sysRoot, mount.major, mount.minor);
        if (!disk || disk->sysPath != found->disk.sysPath)
            continue;
        diskMounts.append(mount);
        const QString folder = VHSysfs::blockDeviceFolder(m_paths.sysRoot, mount.major, mount.minor);
        const QString name = VHSysfs::ueventValue(folder, QStringLiteral("DEVNAME"));
        const QString node = QStringLiteral("/dev/") + (name.isEmpty() ? folder.section(QLatin1Char('/'), -1) : name);
        if (!mountedNodes.contains(node))
            mountedNodes.append(node);
    }
    QString reason;
    const VHUDisks2Client::Result result = VHUDisks2::ejectAndWait(
        QDBusConnection::systemBus(), mountedNodes, QStringLiteral("/dev/") + found->disk.devName, mode, &reason);
    if (result == VHUDisks2Client::Result::Ejected)
        return true;
    if (result != VHUDisks2Client::Result::Unavailable) {
        vhCritical() << "eject failed: " << reason;
        return false;
    }
    // Without the service both modes stop the unit with LoEj: the port keeps its power.
    return ejectWithoutService(*found, diskMounts);
}

bool VHLinuxPlatform::ejectWithoutService(const Drive &drive, const QList<VHMountEntry> &diskMounts)
{
    // Nothing may still sit in the page cache when the user pulls the cable.
    for (const VHMountEntry &mount : diskMounts)
        syncVolume(mount.mountPoint);
    if (::geteuid() != 0) {
        vhCritical() << "eject failed: no UDisks2 service and no permission to unmount " << drive.mount.mountPoint;
        return false;
    }
    for (const VHMountEntry &mount : diskMounts) {
        if (::umount2(QFile::encodeName(mount.mountPoint).constData(), 0) != 0) {
            vhCritical() << "unmount failed: " << mount.mountPoint << " errno=" << errno;
            return false;
        }
    }
    const QString node =
        m_paths.devRoot + QLatin1Char('/') + (drive.disk.sgName.isEmpty() ? drive.disk.devName : drive.disk.sgName);
    const VHFileOps::UniqueFd fd = openNode(node, O_RDWR | O_NONBLOCK);
    // START STOP UNIT with LoEj: stop the medium and eject it.
    const std::uint8_t stopUnit[6] = {0x1B, 0x00, 0x00, 0x00, 0x02, 0x00};
    if (!VHSgIo::sendWithoutData(fd.get(), stopUnit, int(sizeof stopUnit))) {
        vhCritical() << "eject command failed: " << node;
        return false;
    }
    return true;
}

QString VHLinuxPlatform::accessHint(const QString &node)
{
    return QStringLiteral("no permission to open %1: install the udev rule \"%2\" into /usr/lib/udev/rules.d "
                          "(the package does), load the sg module (\"modprobe sg\") and plug the device in again")
        .arg(node, kUdevRuleName);
}

int VHLinuxPlatform::openDeviceNode(const QString &path, int flags) const
{
    const QByteArray name = QFile::encodeName(path);
    return m_openNode ? m_openNode(name, flags | O_CLOEXEC) : ::open(name.constData(), flags | O_CLOEXEC);
}

QStringList VHLinuxPlatform::deniedNodes() const
{
    const QMutexLocker lock(&m_deniedMutex);
    return m_deniedNodes;
}

void VHLinuxPlatform::noteDenied(const VHBlockDisk &disk, const QString &node)
{
    const QMutexLocker lock(&m_deniedMutex);
    m_deniedNodes.append(node);
    if (m_hintLogged.contains(disk.sysPath))
        return;
    m_hintLogged.insert(disk.sysPath);
    vhCritical() << accessHint(node);
}

std::unique_ptr<VHDeviceService> VHLinuxPlatform::probeDisk(const VHBlockDisk &disk, const VHModelTable &models)
{
    const QString sgNode = disk.sgName.isEmpty() ? QString() : m_paths.devRoot + QLatin1Char('/') + disk.sgName;
    const QString diskNode = m_paths.devRoot + QLatin1Char('/') + disk.devName;
    QString node = sgNode;
    VHFileOps::UniqueFd fd =
        sgNode.isEmpty() ? VHFileOps::UniqueFd() : VHFileOps::UniqueFd(openDeviceNode(sgNode, O_RDWR));
    const bool sgDenied = !fd.isValid() && !sgNode.isEmpty() && errno == EACCES;
    if (!fd.isValid()) {
        // Without a generic node the disk node carries SG_IO too; a missing medium must not stop the open.
        node = diskNode;
        fd = VHFileOps::UniqueFd(openDeviceNode(diskNode, O_RDWR | O_NONBLOCK));
    }
    if (!fd.isValid()) {
        if (sgDenied || errno == EACCES)
            noteDenied(disk, sgDenied ? sgNode : diskNode);
        return nullptr;
    }
    const QByteArray answer =
        VHInquiry::read([&fd](const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length) {
            return VHSgIo::SendSCSICommandToDevice(fd.get(), 0, 1, 0, VHSgIo::Read, cdb, cdbLength, buffer, length,
                                                   nullptr, 0);
        });
    if (answer.isEmpty())
        return nullptr;
    const std::optional<VHModelInfo> row = VHInquiry::matchModel(answer, models);
    if (!row)
        return nullptr;
    auto service = std::make_unique<VHLinuxSCSIService>(std::move(fd), *row, node);
    service->setInquiryTags(VHInquiry::iapTag(answer), VHInquiry::productTag(answer));
    return service;
}

VHServiceList VHLinuxPlatform::findSCSIDevices(const VHModelTable &models)
{
    VHServiceList found;
    {
        const QMutexLocker lock(&m_deniedMutex);
        m_deniedNodes.clear();
    }
    for (const VHBlockDisk &disk : VHSysfs::listDisks(m_paths.sysRoot)) {
        vhDebug() << "find SCSI interface: " << disk.sysPath;
        if (!disk.isUsbMassStorage())
            continue;
        vhDebug() << "find usbstor";
        // Every device: the caller picks one, by UUID when several are plugged.
        if (std::unique_ptr<VHDeviceService> service = probeDisk(disk, models))
            found.push_back(std::move(service));
    }
    return found;
}

std::unique_ptr<VHDeviceWatcher> VHLinuxPlatform::createDeviceWatcher()
{
    return std::make_unique<VHLinuxDeviceWatcher>(m_paths);
}

std::unique_ptr<VHVolumeMounter> VHLinuxPlatform::createVolumeMounter()
{
    return std::make_unique<VHLinuxVolumeMounter>(m_paths);
}
