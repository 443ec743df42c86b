#pragma once

// Builds a small sysfs tree in a folder: disks below USB interfaces or other
// buses, their partitions and the /sys/dev/block and /sys/block links.

#include "VHTestFiles.h"

#include <QDir>
#include <QFile>
#include <QString>

class SysfsTree
{
public:
    explicit SysfsTree(const QString &root) : m_root(root) { QDir().mkpath(root + QStringLiteral("/devices")); }

    QString root() const { return m_root; }

    // A USB interface folder with its driver link.
    QString usbInterface(const QString &path, const QString &driver)
    {
        const QString folder = m_root + QStringLiteral("/devices/") + path;
        writeFile(folder + QStringLiteral("/uevent"), "DEVTYPE=usb_interface\nDRIVER=" + driver.toUtf8() + "\n");
        writeFile(folder + QStringLiteral("/bInterfaceClass"), "08\n");
        QDir().mkpath(m_root + QStringLiteral("/bus/usb/drivers/") + driver);
        QFile::link(m_root + QStringLiteral("/bus/usb/drivers/") + driver, folder + QStringLiteral("/driver"));
        return folder;
    }

    // A disk below parentFolder (a full path below devices/) with its SCSI device folder.
    QString disk(const QString &parentFolder, const QString &name, int major, int minor, const QByteArray &removable,
                 const QByteArray &vendor, const QByteArray &model, const QString &sgName = QString())
    {
        const QString device = parentFolder + QStringLiteral("/host0/target0:0:0/0:0:0:0");
        writeFile(device + QStringLiteral("/vendor"), vendor);
        writeFile(device + QStringLiteral("/model"), model);
        if (!sgName.isEmpty())
            QDir().mkpath(device + QStringLiteral("/scsi_generic/") + sgName);
        const QString disk = device + QStringLiteral("/block/") + name;
        writeFile(disk + QStringLiteral("/uevent"), "DEVTYPE=disk\nDEVNAME=" + name.toUtf8() + "\n");
        if (!removable.isNull())
            writeFile(disk + QStringLiteral("/removable"), removable);
        QFile::link(device, disk + QStringLiteral("/device"));
        devLink(disk, major, minor);
        QDir().mkpath(m_root + QStringLiteral("/block"));
        QFile::link(disk, m_root + QStringLiteral("/block/") + name);
        return disk;
    }

    QString partition(const QString &disk, const QString &name, int major, int minor)
    {
        const QString folder = disk + QLatin1Char('/') + name;
        writeFile(folder + QStringLiteral("/partition"), "1\n");
        writeFile(folder + QStringLiteral("/uevent"), "DEVTYPE=partition\nDEVNAME=" + name.toUtf8() + "\n");
        devLink(folder, major, minor);
        return folder;
    }

private:
    // The device's "dev" file and its link below /sys/dev/block.
    void devLink(const QString &folder, int major, int minor)
    {
        writeFile(folder + QStringLiteral("/dev"), QByteArray::number(major) + ':' + QByteArray::number(minor) + '\n');
        QDir().mkpath(m_root + QStringLiteral("/dev/block"));
        // Relative, as the kernel makes them.
        const QString link = m_root + QStringLiteral("/dev/block/%1:%2").arg(major).arg(minor);
        QFile::link(QStringLiteral("../..") + folder.mid(m_root.size()), link);
    }

    QString m_root;
};
