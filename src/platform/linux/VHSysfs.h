#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A whole disk as sysfs describes it.
struct VHBlockDisk
{
    QString sysPath;   // the disk's folder below <sysRoot>/devices, e.g. .../block/sdb
    QString name;      // "sdb"
    QString devName;   // device node name below /dev ("sdb")
    QString sgName;    // "sg2" when the disk has a SCSI generic node
    QString usbDriver; // "usb-storage" or "uas" when the disk sits under such a USB interface
    bool removableFlag = false;
    QString vendor;
    QString model;

    bool isUsbMassStorage() const { return !usbDriver.isEmpty(); }
    // Many USB devices report removable 0; the USB interface decides then.
    bool isRemovableDrive() const { return isUsbMassStorage() || removableFlag; }
};

// Reading sysfs without trusting it: every file read is bounded and may fail,
// links are resolved textually so paths stay below the given sysfs root.
namespace VHSysfs {

// The start of a file (at most `limit` bytes); empty with ok = false when it
// cannot be read (missing, a folder, no permission).
QByteArray readAttribute(const QString &path, qsizetype limit = 4096, bool *ok = nullptr);
// An attribute as text without its trailing newline.
QString readText(const QString &path);
// `path` with its last component followed while it is a symbolic link.
QString resolveLink(const QString &path);
// The value of KEY=value in a uevent file, or empty.
QString ueventValue(const QString &deviceFolder, const QString &key);

// The disk holding the block device major:minor (the disk itself or the disk of a partition).
std::optional<VHBlockDisk> diskOfDevNumber(const QString &sysRoot, quint32 major, quint32 minor);
// The sysfs folder of the block device major:minor itself (a disk or a partition).
QString blockDeviceFolder(const QString &sysRoot, quint32 major, quint32 minor);
std::optional<VHBlockDisk> diskAt(const QString &sysRoot, const QString &diskFolder);
// Every disk listed in <sysRoot>/block, by name.
QList<VHBlockDisk> listDisks(const QString &sysRoot);
// The driver of the nearest USB interface above `deviceFolder` when it is
// "usb-storage" or "uas", else empty.
QString usbStorageDriver(const QString &sysRoot, const QString &deviceFolder);
// Whether a kernel device path runs through a USB bus ("/devices/.../usb1/1-2/...").
bool isUsbDevpath(const QString &devpath);

} // namespace VHSysfs
