#include "VHSysfs.h"

#include "VHFileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace VHSysfs {

namespace {

QString parentFolder(const QString &path) { return path.left(qMax<qsizetype>(path.lastIndexOf(QLatin1Char('/')), 0)); }

QString baseName(const QString &path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString linkTarget(const QString &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return QFile::decodeName(QByteArray(buffer, int(n)));
}

bool exists(const QString &path) { return ::access(QFile::encodeName(path).constData(), F_OK) == 0; }

QString firstEntry(const QString &folder)
{
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    return entries.value(0);
}

// The SCSI device of a disk: its "device" link, or the folder holding its "block" folder.
QString scsiDeviceOf(const QString &diskFolder)
{
    const QString link = diskFolder + QStringLiteral("/device");
    if (exists(link))
        return link;
    const QString block = parentFolder(diskFolder);
    return baseName(block) == QLatin1String("block") ? parentFolder(block) : link;
}

QString sgNameOf(const QString &scsiDevice)
{
    const QString generic = firstEntry(scsiDevice + QStringLiteral("/scsi_generic"));
    if (!generic.isEmpty())
        return generic;
    return baseName(linkTarget(scsiDevice + QStringLiteral("/generic")));
}

bool isUsbInterface(const QString &folder)
{
    return ueventValue(folder, QStringLiteral("DEVTYPE")) == QLatin1String("usb_interface")
           || exists(folder + QStringLiteral("/bInterfaceClass"));
}

QString driverOf(const QString &folder)
{
    const QString linked = baseName(linkTarget(folder + QStringLiteral("/driver")));
    return linked.isEmpty() ? ueventValue(folder, QStringLiteral("DRIVER")) : linked;
}

} // namespace

QByteArray readAttribute(const QString &path, qsizetype limit, bool *ok)
{
    if (ok)
        *ok = false;
    // Non-blocking: a FIFO or a device where an attribute should be must not hang the scan.
    const VHFileOps::UniqueFd fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.isValid())
        return {};
    QByteArray data(limit, Qt::Uninitialized);
    qsizetype filled = 0;
    bool failed = false;
    while (filled < limit) {
        const ssize_t n = ::read(fd.get(), data.data() + filled, size_t(limit - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failed = true;
        if (n <= 0)
            break;
        filled += n;
    }
    if (failed)
        return {};
    data.truncate(filled);
    if (ok)
        *ok = true;
    return data;
}

QString readText(const QString &path)
{
    QByteArray text = readAttribute(path);
    while (text.endsWith('\n'))
        text.chop(1);
    return QString::fromUtf8(text);
}

QString resolveLink(const QString &path)
{
    QString current = path;
    for (int hop = 0; hop < 8; ++hop) {
        const QString target = linkTarget(current);
        if (target.isEmpty())
            break;
        current = QDir::cleanPath(
            target.startsWith(QLatin1Char('/')) ? target : parentFolder(current) + QLatin1Char('/') + target);
    }
    return current;
}

QString ueventValue(const QString &deviceFolder, const QString &key)
{
    const QByteArray prefix = key.toLatin1() + '=';
    const QByteArray uevent = readAttribute(deviceFolder + QStringLiteral("/uevent"), 16384);
    for (const QByteArray &line : uevent.split('\n')) {
        if (line.startsWith(prefix))
            return QString::fromUtf8(line.mid(prefix.size()));
    }
    return {};
}

QString blockDeviceFolder(const QString &sysRoot, quint32 major, quint32 minor)
{
    const QString link = sysRoot + QStringLiteral("/dev/block/%1:%2").arg(major).arg(minor);
    return exists(link) ? resolveLink(link) : QString();
}

std::optional<VHBlockDisk> diskOfDevNumber(const QString &sysRoot, quint32 major, quint32 minor)
{
    QString folder = blockDeviceFolder(sysRoot, major, minor);
    if (folder.isEmpty() || !exists(folder))
        return std::nullopt;
    if (exists(folder + QStringLiteral("/partition")))
        folder = parentFolder(folder);
    return diskAt(sysRoot, folder);
}

std::optional<VHBlockDisk> diskAt(const QString &sysRoot, const QString &diskFolder)
{
    if (diskFolder.isEmpty() || !QFileInfo(diskFolder).isDir())
        return std::nullopt;
    VHBlockDisk disk;
    disk.sysPath = diskFolder;
    disk.name = baseName(diskFolder);
    disk.devName = ueventValue(diskFolder, QStringLiteral("DEVNAME"));
    if (disk.devName.isEmpty() || disk.devName.contains(QLatin1String("..")))
        disk.devName = disk.name;
    const QString scsiDevice = scsiDeviceOf(diskFolder);
    disk.sgName = sgNameOf(scsiDevice);
    disk.removableFlag = readText(diskFolder + QStringLiteral("/removable")).trimmed() == QLatin1String("1");
    disk.vendor = readText(scsiDevice + QStringLiteral("/vendor"));
    disk.model = readText(scsiDevice + QStringLiteral("/model"));
    disk.usbDriver = usbStorageDriver(sysRoot, diskFolder);
    return disk;
}

QList<VHBlockDisk> listDisks(const QString &sysRoot)
{
    QList<VHBlockDisk> disks;
    const QString blockFolder = sysRoot + QStringLiteral("/block");
    const QStringList names =
        QDir(blockFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString &name : names) {
        if (std::optional<VHBlockDisk> disk = diskAt(sysRoot, resolveLink(blockFolder + QLatin1Char('/') + name)))
            disks.append(*disk);
    }
    return disks;
}

QString usbStorageDriver(const QString &sysRoot, const QString &deviceFolder)
{
    const QString top = QDir::cleanPath(sysRoot + QStringLiteral("/devices"));
    for (QString folder = QDir::cleanPath(deviceFolder); folder.startsWith(top + QLatin1Char('/'));
         folder = parentFolder(folder)) {
        if (!isUsbInterface(folder))
            continue;
        const QString driver = driverOf(folder);
        return driver == QLatin1String("usb-storage") || driver == QLatin1String("uas") ? driver : QString();
    }
    return {};
}

bool isUsbDevpath(const QString &devpath)
{
    static const QRegularExpression usbBus(QStringLiteral("(^|/)usb\\d+(/|$)"));
    return usbBus.match(devpath).hasMatch();
}

} // namespace VHSysfs
