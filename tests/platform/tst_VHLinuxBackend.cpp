#include "PlatformTestSupport.h"
#include "SysfsTree.h"
#include "VHDeviceEvents.h"
#include "VHLinuxDeviceWatcher.h"
#include "VHLinuxPlatform.h"
#include "VHLinuxVolumeMounter.h"
#include "VHMountTable.h"
#include "VHSysfs.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <sys/mount.h>
#include <sys/stat.h>

namespace {
const QString kUsbPort = QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-2");
} // namespace

// The Linux backend against a sysfs tree and mount tables in files.
class TestVHLinuxBackend : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SysfsTree> m_sys;
    VHLinuxPaths m_paths;
    QString m_usbDisk;
    const VHModelTable m_models{{QStringLiteral("2101"), QStringLiteral("Pacer70"), QStringLiteral("VELORA"), nullptr}};

    QString mountPoint(const QString &name)
    {
        const QString path = m_dir->path() + QStringLiteral("/media/") + name;
        QDir().mkpath(path);
        return path;
    }
    void writeTable(const QByteArray &table) { QVERIFY(writeFile(m_paths.mountInfo, table)); }
    // The kernel's escaping of a path in the mount table.
    static QByteArray escaped(const QString &path)
    {
        QByteArray out;
        for (const char c : path.toUtf8()) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\\')
                out += '\\' + QByteArray::number(uchar(c), 8).rightJustified(3, '0');
            else
                out += c;
        }
        return out;
    }
    static QByteArray line(int id, const char *dev, const QString &point, const char *root = "/")
    {
        return QByteArray::number(id) + " 22 " + dev + ' ' + root + ' ' + escaped(point)
               + " rw,nosuid shared:7 - vfat /dev/x rw,fmask=0022\n";
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_sys = std::make_unique<SysfsTree>(m_dir->path() + QStringLiteral("/sys"));
        m_paths.sysRoot = m_sys->root();
        m_paths.devRoot = m_dir->path() + QStringLiteral("/dev");
        m_paths.mountInfo = m_dir->path() + QStringLiteral("/mountinfo");
        // A USB mass-storage watch that reports itself as not removable, with one partition.
        const QString usb = m_sys->usbInterface(kUsbPort + QStringLiteral("/1-2:1.0"), QStringLiteral("usb-storage"));
        m_usbDisk = m_sys->disk(usb, QStringLiteral("sdb"), 8, 16, "0\n", "VELORA  \n", "Pacer70         \n",
                                QStringLiteral("sg2"));
        m_sys->partition(m_usbDisk, QStringLiteral("sdb1"), 8, 17);
        // A SATA disk, and a card reader on another bus that says removable.
        m_sys->disk(m_sys->root() + QStringLiteral("/devices/pci0000:00/0000:00:17.0/ata1"), QStringLiteral("sda"), 8,
                    0, "0\n", "ATA     \n", "Samsung SSD\n");
        m_sys->disk(m_sys->root() + QStringLiteral("/devices/platform/sdhci"), QStringLiteral("mmcblk0"), 179, 0, "1\n",
                    "\n", "SD32G\n");
    }

    void unescapesMountFields()
    {
        QCOMPARE(VHMountTable::unescape("/media/u/My\\040Watch"), QByteArray("/media/u/My Watch"));
        QCOMPARE(VHMountTable::unescape("a\\011b\\012c\\134d"), QByteArray("a\tb\nc\\d"));
        QCOMPARE(VHMountTable::unescape("end\\04"), QByteArray("end\\04"));
        QCOMPARE(VHMountTable::unescape("\\777x\\08"), QByteArray("\\777x\\08"));
        QCOMPARE(VHMountTable::unescape("caf\xc3\xa9"), QByteArray("caf\xc3\xa9"));
    }

    void parsesMountLines()
    {
        const auto entry = VHMountTable::parseLine("36 35 98:0 /mnt1 /mnt/parent\\040dir rw,noatime master:1 "
                                                   "propagate_from:2 - ext3 /dev/root rw,errors=continue");
        QVERIFY(entry);
        QCOMPARE(entry->mountId, 36);
        QCOMPARE(entry->parentId, 35);
        QCOMPARE(entry->devNumber(), QStringLiteral("98:0"));
        QCOMPARE(entry->root, QStringLiteral("/mnt1"));
        QCOMPARE(entry->mountPoint, QStringLiteral("/mnt/parent dir"));
        QCOMPARE(entry->fsType, QStringLiteral("ext3"));
        QCOMPARE(entry->source, QStringLiteral("/dev/root"));
        for (const QByteArray &bad :
             {QByteArray(), QByteArray("garbage"), QByteArray("1 2 3:4 / /x rw - vfat"),
              QByteArray("x 2 8:1 / /m rw - vfat /dev/a rw"), QByteArray("1 2 8:x / /m rw - vfat /dev/a rw"),
              QByteArray("1 2 8:1 / /m rw shared:1 vfat /dev/a rw")})
            QVERIFY2(!VHMountTable::parseLine(bad), bad.constData());
        QCOMPARE(VHMountTable::parse("garbage\n" + line(40, "8:17", QStringLiteral("/m")) + "\n\n").size(), 1);
    }

    void usbMassStorageIsRemovableWhateverTheFlag()
    {
        const std::optional<VHBlockDisk> disk = VHSysfs::diskOfDevNumber(m_paths.sysRoot, 8, 17);
        QVERIFY(disk);
        QCOMPARE(disk->name, QStringLiteral("sdb"));
        QCOMPARE(disk->usbDriver, QStringLiteral("usb-storage"));
        QVERIFY(!disk->removableFlag);
        QVERIFY(disk->isRemovableDrive());
        QCOMPARE(disk->sgName, QStringLiteral("sg2"));
        QCOMPARE(disk->vendor, QStringLiteral("VELORA  "));
        QVERIFY(!VHSysfs::diskOfDevNumber(m_paths.sysRoot, 8, 0)->isRemovableDrive());
        const std::optional<VHBlockDisk> card = VHSysfs::diskOfDevNumber(m_paths.sysRoot, 179, 0);
        QVERIFY(card && card->isRemovableDrive() && !card->isUsbMassStorage());
        QVERIFY(!VHSysfs::diskOfDevNumber(m_paths.sysRoot, 8, 99));
    }

    void otherUsbDriversAreNotMassStorage()
    {
        const QString uas = m_sys->usbInterface(QStringLiteral("pci0000:00/usb2/2-1/2-1:1.0"), QStringLiteral("uas"));
        m_sys->disk(uas, QStringLiteral("sdc"), 8, 32, "0\n", "V\n", "M\n");
        QCOMPARE(VHSysfs::diskOfDevNumber(m_paths.sysRoot, 8, 32)->usbDriver, QStringLiteral("uas"));
        const QString other =
            m_sys->usbInterface(QStringLiteral("pci0000:00/usb3/3-1/3-1:1.0"), QStringLiteral("btusb"));
        m_sys->disk(other, QStringLiteral("sdd"), 8, 48, "0\n", "V\n", "M\n");
        QVERIFY(!VHSysfs::diskOfDevNumber(m_paths.sysRoot, 8, 48)->isRemovableDrive());
        QVERIFY(VHSysfs::isUsbDevpath(QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6")));
        QVERIFY(!VHSysfs::isUsbDevpath(QStringLiteral("/devices/pci0000:00/0000:00:17.0/ata1/host0/block/sda")));
        QVERIFY(!VHSysfs::isUsbDevpath(QStringLiteral("/devices/virtual/usbmon/x")));
    }

    void unreadableAttributesAreEmpty()
    {
        const QString device = m_usbDisk + QStringLiteral("/device");
        QFile::remove(device + QStringLiteral("/vendor"));
        QVERIFY(QDir().mkpath(device + QStringLiteral("/vendor")));
        QFile::remove(device + QStringLiteral("/model"));
        QCOMPARE(::mkfifo(QFile::encodeName(device + QStringLiteral("/model")).constData(), 0600), 0);
        QFile::remove(m_usbDisk + QStringLiteral("/removable"));
        QFile::remove(m_usbDisk + QStringLiteral("/uevent"));
        QVERIFY(QDir().mkpath(m_usbDisk + QStringLiteral("/uevent")));
        bool ok = true;
        QVERIFY(VHSysfs::readAttribute(device + QStringLiteral("/vendor"), 4096, &ok).isEmpty());
        QVERIFY(!ok);
        const std::optional<VHBlockDisk> disk = VHSysfs::diskOfDevNumber(m_paths.sysRoot, 8, 16);
        QVERIFY(disk);
        QVERIFY(disk->vendor.isEmpty() && disk->model.isEmpty());
        QCOMPARE(disk->devName, QStringLiteral("sdb"));
        QVERIFY(disk->isRemovableDrive());
        // Large files are read only up to the limit.
        writeFile(m_dir->path() + QStringLiteral("/big"), QByteArray(100000, 'x'));
        QCOMPARE(VHSysfs::readAttribute(m_dir->path() + QStringLiteral("/big"), 4096).size(), 4096);
    }

    void removableDrivesFromTheMountTable()
    {
        LogCapture log;
        const QString watch = mountPoint(QStringLiteral("My Watch"));
        const QString card = mountPoint(QStringLiteral("Ünïcode\tcard"));
        writeTable("22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n" + line(40, "8:17", watch)
                   + line(41, "8:17", QStringLiteral("/mnt/again"))
                   + line(42, "8:17", QStringLiteral("/mnt/sub"), "/sub") + line(43, "179:0", card + QLatin1Char('/'))
                   + line(44, "0:39", QStringLiteral("/tmp/x")) + "junk line\n"
                   + line(45, "8:0", QStringLiteral("/data")));
        VHLinuxPlatform platform(m_paths);
        QStringList drives;
        platform.getRemovableDrives(drives, QStringLiteral("msdos"), 0);
        QCOMPARE(drives, (QStringList{watch, card}));
        QVERIFY(log.contains(QStringLiteral("find removable drive  ")));
        QCOMPARE(platform.getDriveVendorName(watch), QStringLiteral("VELORA  Pacer70"));
        QCOMPARE(platform.getDriveVendorName(watch + QLatin1Char('/')), QStringLiteral("VELORA  Pacer70"));
        QVERIFY(platform.getDriveVendorName(QStringLiteral("/data")).isEmpty());
        quint64 total = 0, free = 0;
        QVERIFY(platform.getDiskSpace(watch, total, free));
        QVERIFY(total > 0 && free <= total);
        QVERIFY(!platform.getDiskSpace(m_dir->path() + QStringLiteral("/missing"), total, free));
    }

    void missingOrEmptyMountTable()
    {
        VHLinuxPlatform platform(m_paths);
        QStringList drives;
        platform.getRemovableDrives(drives, QString(), 0);
        QVERIFY(drives.isEmpty());
        writeTable(QByteArray(3000, '\n') + QByteArray(5000, ' '));
        platform.getRemovableDrives(drives, QString(), 0);
        QVERIFY(drives.isEmpty());
    }

    void ejectingAnUnknownDriveFails()
    {
        LogCapture log;
        writeTable(line(40, "8:0", QStringLiteral("/data")));
        VHLinuxPlatform platform(m_paths);
        QVERIFY(!platform.ejectDevice(QStringLiteral("/media/nothing")));
        QVERIFY(!platform.ejectDevice(QStringLiteral("/data")));
        QVERIFY(log.contains(QStringLiteral("open handle for ejection failed: drive=")));
    }

    void scsiScanSkipsDisksItCannotOpen()
    {
        // The node of the USB disk does not exist below the test's /dev.
        VHLinuxPlatform platform(m_paths);
        LogCapture log;
        QVERIFY(platform.findSCSIDevices(m_models).empty());
        QVERIFY(log.contains(QStringLiteral("find usbstor")));
    }

    void permissionDeniedNodesLogOneHintPerDevice()
    {
        // Root ignores file modes, so the open itself is made to fail.
        VHLinuxPlatform platform(m_paths);
        QList<QByteArray> tried;
        platform.setNodeOpener([&](const QByteArray &path, int) {
            tried.append(path);
            errno = EACCES;
            return -1;
        });
        LogCapture log;
        QVERIFY(platform.findSCSIDevices(m_models).empty());
        QVERIFY(platform.findSCSIDevices(m_models).empty());
        const QString sg = m_paths.devRoot + QStringLiteral("/sg2");
        QCOMPARE(tried.size(), 4); // the generic node, then the disk node, on each scan
        QCOMPARE(platform.deniedNodes(), QStringList{sg});
        QCOMPARE(log.count(VHLinuxPlatform::accessHint(sg)), 1);
        QVERIFY(VHLinuxPlatform::accessHint(sg).contains(QStringLiteral("\"70-veloraupdate.rules\"")));

        // Any other failure is no permission problem.
        platform.setNodeOpener([](const QByteArray &, int) {
            errno = ENOENT;
            return -1;
        });
        QVERIFY(platform.findSCSIDevices(m_models).empty());
        QVERIFY(platform.deniedNodes().isEmpty());
    }

    void unmountedVolumesOfUsbDisks()
    {
        m_paths.udevData = m_dir->path() + QStringLiteral("/udev");
        // udev found a file system on the watch's partition and on the SATA disk.
        QVERIFY(writeFile(m_paths.udevData + QStringLiteral("/b8:17"),
                          "S:disk/by-label/WATCH\nE:ID_FS_USAGE=filesystem\nE:ID_FS_LABEL=WATCH\n"));
        QVERIFY(writeFile(m_paths.udevData + QStringLiteral("/b8:0"), "E:ID_FS_USAGE=filesystem\n"));
        writeTable(QByteArray());
        VHLinuxVolumeMounter mounter(m_paths);
        const QList<VHUnmountedVolume> volumes = mounter.unmountedVolumes();
        QCOMPARE(volumes.size(), 1);
        QCOMPARE(volumes.first().node, QStringLiteral("/dev/sdb1"));
        QCOMPARE(volumes.first().label, QStringLiteral("WATCH"));
        // Mounted now, by anyone: nothing to offer.
        writeTable(line(40, "8:17", QStringLiteral("/media/user/WATCH")));
        QVERIFY(mounter.unmountedVolumes().isEmpty());
        // Without a label the disk names it; without a file system it is no volume.
        writeTable(QByteArray());
        QVERIFY(writeFile(m_paths.udevData + QStringLiteral("/b8:17"), "E:ID_FS_USAGE=filesystem\n"));
        QCOMPARE(mounter.unmountedVolumes().value(0).label, QStringLiteral("VELORA Pacer70"));
        QVERIFY(writeFile(m_paths.udevData + QStringLiteral("/b8:17"), "E:ID_PART_TABLE_TYPE=dos\n"));
        QVERIFY(mounter.unmountedVolumes().isEmpty());
    }

    void udevEventsThatAreNodeChanges()
    {
        const QString usb =
            QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0");
        QVERIFY(VHLinuxDeviceWatcher::isNodeChange(QStringLiteral("add"), QStringLiteral("block"),
                                                   usb + QStringLiteral("/block/sdb"), {}));
        QVERIFY(VHLinuxDeviceWatcher::isNodeChange(QStringLiteral("remove"), QStringLiteral("scsi_generic"),
                                                   usb + QStringLiteral("/scsi_generic/sg2"), {}));
        QVERIFY(VHLinuxDeviceWatcher::isNodeChange(QStringLiteral("add"), QStringLiteral("block"),
                                                   QStringLiteral("/devices/x/sdz"), QStringLiteral("usb")));
        QVERIFY(!VHLinuxDeviceWatcher::isNodeChange(QStringLiteral("change"), QStringLiteral("block"), usb, {}));
        QVERIFY(!VHLinuxDeviceWatcher::isNodeChange(QStringLiteral("add"), QStringLiteral("usb"), usb, {}));
        QVERIFY(!VHLinuxDeviceWatcher::isNodeChange(QStringLiteral("add"), QStringLiteral("block"),
                                                    QStringLiteral("/devices/virtual/block/loop0"),
                                                    QStringLiteral("")));
        using S = QSet<QString>;
        QCOMPARE(VHLinuxDeviceWatcher::mountChanges(S{}, S{QStringLiteral("a")}),
                 QList<quint32>{VHDeviceEvent::Arrival});
        QCOMPARE(VHLinuxDeviceWatcher::mountChanges(S{QStringLiteral("a")}, S{}),
                 QList<quint32>{VHDeviceEvent::RemoveComplete});
        QCOMPARE(VHLinuxDeviceWatcher::mountChanges(S{QStringLiteral("a")}, S{QStringLiteral("b")}),
                 (QList<quint32>{VHDeviceEvent::RemoveComplete, VHDeviceEvent::Arrival}));
        QVERIFY(VHLinuxDeviceWatcher::mountChanges(S{QStringLiteral("a")}, S{QStringLiteral("a")}).isEmpty());
    }

    void watcherReportsMountChangesOfAFile()
    {
        const QString watch = mountPoint(QStringLiteral("WATCH"));
        writeTable(line(30, "8:2", QStringLiteral("/")));
        VHLinuxDeviceWatcher watcher(m_paths);
        QVERIFY(watcher.isWatchingMounts());
        QSignalSpy spy(&watcher, &VHDeviceWatcher::DeviceChange);
        QElapsedTimer timer;
        timer.start();
        writeTable(line(30, "8:2", QStringLiteral("/")) + line(40, "8:17", watch));
        QTRY_COMPARE_WITH_TIMEOUT(codes(spy), QList<quint32>{VHDeviceEvent::Arrival}, 2000);
        qInfo("mount table written to 0x8000: %lld ms", timer.elapsed());
        // A mount of something that is no removable drive is no event.
        writeTable(line(30, "8:2", QStringLiteral("/")) + line(40, "8:17", watch)
                   + line(50, "8:0", QStringLiteral("/d")));
        QTest::qWait(200);
        QCOMPARE(spy.size(), 1);
        // Replaced by rename with the drive mounted anew: gone and back.
        const QString next = m_paths.mountInfo + QStringLiteral(".new");
        writeFile(next, line(30, "8:2", QStringLiteral("/")) + line(41, "8:17", watch));
        QVERIFY(::rename(QFile::encodeName(next).constData(), QFile::encodeName(m_paths.mountInfo).constData()) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(
            codes(spy), (QList<quint32>{VHDeviceEvent::Arrival, VHDeviceEvent::RemoveComplete, VHDeviceEvent::Arrival}),
            2000);
        writeTable(line(30, "8:2", QStringLiteral("/")));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 4, 2000);
        QCOMPARE(codes(spy).last(), VHDeviceEvent::RemoveComplete);
    }

    void watcherFollowsTheKernelMountTable()
    {
        if (::geteuid() != 0)
            QSKIP("mounting needs root");
        const QString first = mountPoint(QStringLiteral("first"));
        const QString second = mountPoint(QStringLiteral("second"));
        if (::mount("none", QFile::encodeName(first).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("mounting is not permitted here");
        const auto unmount = qScopeGuard([&] {
            ::umount2(QFile::encodeName(second).constData(), MNT_DETACH);
            ::umount2(QFile::encodeName(first).constData(), MNT_DETACH);
        });
        m_paths.mountInfo = QStringLiteral("/proc/self/mountinfo");
        VHLinuxDeviceWatcher watcher(m_paths);
        QVERIFY(watcher.isWatchingMounts());
        QSignalSpy spy(&watcher, &VHDeviceWatcher::DeviceChange);
        // Make the tmpfs look like a USB disk, then let the kernel report another mount.
        const QList<VHMountEntry> mounts = VHMountTable::parse(VHMountTable::readFile(m_paths.mountInfo));
        const auto found =
            std::find_if(mounts.begin(), mounts.end(), [&](const VHMountEntry &m) { return m.mountPoint == first; });
        QVERIFY(found != mounts.end());
        const QString usb =
            m_sys->usbInterface(QStringLiteral("pci0000:00/usb4/4-1/4-1:1.0"), QStringLiteral("usb-storage"));
        m_sys->disk(usb, QStringLiteral("sdk"), int(found->major), int(found->minor), "0\n", "V\n", "M\n");
        QElapsedTimer timer;
        timer.start();
        QVERIFY(::mount("none", QFile::encodeName(second).constData(), "tmpfs", 0, "size=64k") == 0);
        QTRY_COMPARE_WITH_TIMEOUT(codes(spy), QList<quint32>{VHDeviceEvent::Arrival}, 2000);
        qInfo("kernel mount to 0x8000: %lld ms", timer.elapsed());
        QVERIFY(::umount2(QFile::encodeName(first).constData(), 0) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(codes(spy), (QList<quint32>{VHDeviceEvent::Arrival, VHDeviceEvent::RemoveComplete}),
                                  2000);
    }
};

QTEST_GUILESS_MAIN(TestVHLinuxBackend)
#include "tst_VHLinuxBackend.moc"
