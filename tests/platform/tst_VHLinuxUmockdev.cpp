// The Linux backend on a mocked system (umockdev): sysfs and udev of a USB
// mass-storage disk, and its /dev/sg2 answering SG_IO through an ioctl
// handler that passes every command to the simulated device firmware. Runs
// under umockdev-wrapper, which preloads the library that redirects /sys,
// /dev, uevents and ioctl() into the test bed. The program started again
// with --scan-as-user scans as a desktop user (as "nobody" when run as root);
// the preload and the test bed's path reach it through the environment.

#include "PlatformTestSupport.h"
#include "VHDeviceEvents.h"
#include "VHLinuxDeviceWatcher.h"
#include "VHLinuxPlatform.h"
#include "VHLinuxSCSIService.h"
#include "VHSimLayout.h"
#include "VHSimScsiDevice.h"

#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// GLib's headers use "signals" as a name; Qt defines it as a keyword.
#pragma push_macro("signals")
#undef signals
#include <umockdev.h>
#pragma pop_macro("signals")

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// CI=true (or any value but an empty one, 0, false, no or off) as CI services set it.
bool runningInCi()
{
    static const QRegularExpression notSet(QStringLiteral("^(|0|false|no|off)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    return !notSet.match(qEnvironmentVariable("CI")).hasMatch();
}

const char *const kUsbDevice = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
const char *const kDisk = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
const char *const kSataDisk = "/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda";

// A USB watch whose SCSI layer says "not removable", with one partition and
// its generic node; and a SATA disk beside it.
const char *const kTestbed = R"(P: /devices/pci0000:00/0000:00:14.0/usb1/1-2
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=1d6b

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface
E: DRIVER=usb-storage
A: bInterfaceClass=08
L: driver=../../../../../bus/usb/drivers/usb-storage

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0
E: SUBSYSTEM=scsi
E: DEVTYPE=scsi_device
A: vendor=VELORA  
A: model=Pacer40         

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb
N: sdb
E: SUBSYSTEM=block
E: DEVTYPE=disk
E: DEVNAME=/dev/sdb
A: dev=8:16
A: removable=0

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1
E: SUBSYSTEM=block
E: DEVTYPE=partition
E: DEVNAME=/dev/sdb1
E: ID_FS_LABEL=PACER60MAP
A: dev=8:17
A: partition=1

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/scsi_generic/sg2
N: sg2
E: SUBSYSTEM=scsi_generic
E: DEVNAME=/dev/sg2
A: dev=21:2

P: /devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0
E: SUBSYSTEM=scsi
A: vendor=ATA     
A: model=Samsung SSD

P: /devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda
E: SUBSYSTEM=block
E: DEVTYPE=disk
E: DEVNAME=/dev/sda
A: dev=8:0
A: removable=0
)";

// What the mocked device does with the next commands.
struct Firmware
{
    enum Mode { Normal, ShortInquiry };
    std::atomic<int> mode{Normal};
    std::atomic<int> calls{0};
    VHSimScsiDevice *device = nullptr;
};

template <typename T>
void updateField(UMockdevIoctlData *header, size_t offset, const T &value)
{
    T copy = value;
    umockdev_ioctl_data_update(header, offset, reinterpret_cast<guint8 *>(&copy), sizeof copy);
}

gboolean handleIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer data)
{
    auto *firmware = static_cast<Firmware *>(data);
    if (umockdev_ioctl_client_get_request(client) != SG_IO)
        return FALSE;
    ++firmware->calls;
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData *header = umockdev_ioctl_data_resolve(arg, 0, sizeof(sg_io_hdr_t), nullptr);
    if (!header)
        return FALSE;
    sg_io_hdr_t h;
    std::memcpy(&h, header->data, sizeof h);
    UMockdevIoctlData *cdb = umockdev_ioctl_data_resolve(header, offsetof(sg_io_hdr_t, cmdp), h.cmd_len, nullptr);
    UMockdevIoctlData *buffer =
        umockdev_ioctl_data_resolve(header, offsetof(sg_io_hdr_t, dxferp), h.dxfer_len, nullptr);
    if (!cdb || !buffer)
        return FALSE;
    QByteArray bytes(reinterpret_cast<const char *>(buffer->data), int(h.dxfer_len));
    const bool reading = h.dxfer_direction == SG_DXFER_FROM_DEV;
    bool ok = firmware->device->execute(cdb->data, h.cmd_len, reading ? VHSimScsiDevice::Read : VHSimScsiDevice::Write,
                                        reinterpret_cast<std::uint8_t *>(bytes.data()), int(bytes.size()));
    int resid = 0;
    if (reading && firmware->mode == Firmware::ShortInquiry && cdb->data[0] == 0x12) {
        // A device that sends only the 36 standard bytes.
        resid = int(bytes.size()) - 36;
        bytes.fill('\0', bytes.size());
        bytes.replace(8, 16, "VELORA  Pacer40 ");
    }
    if (reading)
        umockdev_ioctl_data_update(buffer, 0, reinterpret_cast<guint8 *>(bytes.data()), int(bytes.size()));
    updateField(header, offsetof(sg_io_hdr_t, resid), resid);
    // A rejected command comes back as CHECK CONDITION; the transport itself worked.
    updateField(header, offsetof(sg_io_hdr_t, status), static_cast<unsigned char>(ok ? 0 : 0x02));
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
}

const VHModelTable &modelTable()
{
    static const VHModelTable models{
        {QStringLiteral("1207"), QStringLiteral("Pacer21"), QStringLiteral("ALDER"), nullptr},
        {QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("LINDEN"), nullptr}};
    return models;
}

// Started again with this argument, the program scans as a desktop user would.
const char *const kScanAsUser = "--scan-as-user";

// The account the scanning child runs as: "nobody" when the test runs as root.
bool scanAccount(uid_t &uid, gid_t &gid)
{
    if (::geteuid() != 0) {
        uid = ::getuid();
        gid = ::getgid();
        return true;
    }
    const passwd *account = ::getpwnam("nobody");
    if (!account)
        return false;
    uid = account->pw_uid;
    gid = account->pw_gid;
    return true;
}

bool dropPrivileges()
{
    uid_t uid = 0;
    gid_t gid = 0;
    if (::geteuid() != 0)
        return true;
    if (!scanAccount(uid, gid) || ::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
        return false;
    // Changing the user makes the process undumpable; the leak checker's tracer needs it dumpable.
    ::prctl(PR_SET_DUMPABLE, 1);
    return ::geteuid() != 0 && ::getuid() != 0;
}

// The child's whole run: its findings and log lines go to stdout for the parent.
int scanAsUser()
{
    if (!dropPrivileges()) {
        std::fputs("cannot drop privileges\n", stderr);
        return 2;
    }
    QStringList report{QStringLiteral("uid %1").arg(::geteuid())};
    {
        LogCapture log;
        VHLinuxPlatform platform{VHLinuxPaths()};
        for (const std::unique_ptr<VHDeviceService> &service : platform.findSCSIDevices(modelTable())) {
            const auto *scsi = dynamic_cast<const VHLinuxSCSIService *>(service.get());
            report << QStringLiteral("found %1 %2").arg(scsi->modelInfo().modelName, scsi->nodePath());
        }
        for (const QString &node : platform.deniedNodes())
            report << QStringLiteral("denied ") + node;
        for (const QString &line : log.lines())
            report << QStringLiteral("log ") + line;
    }
    std::fputs(qPrintable(report.join(QLatin1Char('\n')) + QLatin1Char('\n')), stdout);
    return 0;
}

} // namespace

class TestVHLinuxUmockdev : public QObject
{
    Q_OBJECT

    UMockdevTestbed *m_testbed = nullptr;
    UMockdevIoctlBase *m_handler = nullptr;
    Firmware m_firmware;
    QTemporaryDir m_dir;
    std::unique_ptr<VHSimScsiDevice> m_device;
    VHLinuxPaths m_paths;
    const VHModelTable &m_models = modelTable();

    std::unique_ptr<VHLinuxSCSIService> findDevice()
    {
        VHLinuxPlatform platform(m_paths);
        VHServiceList found = platform.findSCSIDevices(m_models);
        if (found.empty())
            return nullptr;
        return std::unique_ptr<VHLinuxSCSIService>(dynamic_cast<VHLinuxSCSIService *>(found.front().release()));
    }

private slots:
    void initTestCase()
    {
        if (!qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("umockdev-preload"))) {
            // CI installs umockdev, so there a run outside the wrapper is a broken set-up, not a skip.
            if (runningInCi())
                QFAIL("not running under umockdev-wrapper, and CI is set");
            QSKIP("needs umockdev-wrapper");
        }
        m_testbed = umockdev_testbed_new();
        GError *error = nullptr;
        QVERIFY2(umockdev_testbed_add_from_string(m_testbed, kTestbed, &error), error ? error->message : "");
        // The firmware simulation keeps the flash of the mocked device in files.
        VHSimScsiDevice::Identity identity;
        identity.product = "Pacer40";
        identity.productTag = "0105";
        identity.iapTag = "I002";
        identity.identification = "LINDEN";
        identity.uuid = "1105A1B2C3D4E5F6";
        identity.externalSize = 0x40000;
        VHSimScsiDevice::writeIdentity(m_dir.path(), identity);
        for (const QString &name :
             {VHSimLayout::kInternalFlash, VHSimLayout::kExternalFlash, VHSimLayout::kLoaderFlash}) {
            QVERIFY(writeFile(m_dir.path() + QLatin1Char('/') + name,
                              QByteArray(name == VHSimLayout::kExternalFlash ? 0x40000 : 0x10000, char(0xFF))));
        }
        m_device = VHSimScsiDevice::open(m_dir.path());
        QVERIFY(m_device);
        m_firmware.device = m_device.get();
        m_handler = umockdev_ioctl_base_new();
        g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(handleIoctl), &m_firmware);
        QVERIFY2(umockdev_testbed_attach_ioctl(m_testbed, "/dev/sg2", m_handler, &error), error ? error->message : "");
        m_paths.mountInfo = m_dir.path() + QStringLiteral("/mountinfo");
    }
    void cleanupTestCase()
    {
        if (m_testbed) {
            umockdev_testbed_detach_ioctl(m_testbed, "/dev/sg2", nullptr);
            g_object_unref(m_handler);
            g_object_unref(m_testbed);
        }
    }
    void init()
    {
        m_firmware.mode = Firmware::Normal;
        m_firmware.calls = 0;
    }

    void usbDiskReportingNotRemovableIsADrive()
    {
        QVERIFY(
            writeFile(m_paths.mountInfo,
                      "22 1 8:2 / / rw - ext4 /dev/sda2 rw\n40 22 8:17 / /media/u/PACER\\04040 rw - vfat /dev/sdb1 rw\n"
                      "41 22 8:0 / /data rw - ext4 /dev/sda rw\n"));
        VHLinuxPlatform platform(m_paths);
        QStringList drives;
        platform.getRemovableDrives(drives, QStringLiteral("msdos"), 0);
        QCOMPARE(drives, QStringList{QStringLiteral("/media/u/PACER 40")});
        QCOMPARE(platform.getDriveVendorName(drives.first()), QStringLiteral("VELORA  Pacer40"));
        // The label from udev, and the USB device above the disk as the physical device.
        QCOMPARE(platform.getVolumeLabel(drives.first()), QStringLiteral("PACER60MAP"));
        QCOMPARE(platform.getPhysicalDevice(drives.first()), QString::fromLatin1(kUsbDevice));
        QVERIFY(platform.getVolumeLabel(QStringLiteral("/data")).isEmpty());
    }

    void inquiryAndFlashThroughTheRealIoctlPath()
    {
        std::unique_ptr<VHLinuxSCSIService> service = findDevice();
        QVERIFY(service);
        QCOMPARE(service->modelInfo().modelName, QStringLiteral("Pacer40"));
        QCOMPARE(service->nodePath(), QStringLiteral("/dev/sg2"));
        QCOMPARE(service->iapTag(), QByteArray("I002"));
        QCOMPARE(service->productTag(), QByteArray("0105"));
        QString uuid;
        QVERIFY(service->getUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("1105A1B2C3D4E5F6"));

        QByteArray image(3 * 4096 + 100, Qt::Uninitialized);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7);
        QVERIFY(service->eraseFlashBlocks(image.size(), 4096, 2));
        QVERIFY(service->writeFlashBlocks(image, 15, image.size(), 4096, 2));
        QByteArray back(4 * 4096, '\0');
        // Block 2 of 4096 bytes, with a data phase of four blocks.
        const std::uint8_t read[10] = {0x28, 0, 0, 0, 0, 2, 0x10, 0, 8, 0};
        QVERIFY(service->readClient(read, 10, reinterpret_cast<std::uint8_t *>(back.data()), int(back.size())));
        QCOMPARE(back.left(image.size()), image);
        QCOMPARE(back.mid(image.size()), QByteArray(4096 - 100, char(0xFF)));
    }

    void shortInquiryAnswerSkipsTheDevice()
    {
        m_firmware.mode = Firmware::ShortInquiry;
        QVERIFY(!findDevice());
        QCOMPARE(m_firmware.calls.load(), 1);
    }

    // A desktop user's scan: the child drops root first; the node is opened with the user's rights.
    void nonRootScanFindsTheNodeItMayOpen_data()
    {
        QTest::addColumn<bool>("granted");
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<QStringList>("denied");
        QTest::newRow("node granted to the user")
            << true << QStringList{QStringLiteral("Pacer40 /dev/sg2")} << QStringList();
        QTest::newRow("node closed to the user") << false << QStringList() << QStringList{QStringLiteral("/dev/sg2")};
    }
    void nonRootScanFindsTheNodeItMayOpen()
    {
        QFETCH(bool, granted);
        QFETCH(QStringList, found);
        QFETCH(QStringList, denied);
        uid_t uid = 0;
        gid_t gid = 0;
        QVERIFY(scanAccount(uid, gid));
        gchar *rootDir = umockdev_testbed_get_root_dir(m_testbed);
        const QByteArray root(rootDir);
        g_free(rootDir);
        // The test bed's sg node links to a pseudo terminal, whose rights the open checks; its ioctls
        // and those of every other node go through sockets the user must be able to connect to.
        const QByteArray pty = QFile::encodeName(QFile::symLinkTarget(QString::fromLocal8Bit(root + "/dev/sg2")));
        QVERIFY(pty.startsWith("/dev/pts/"));
        struct stat before
        {};
        QCOMPARE(::stat(pty.constData(), &before), 0);
        const auto restore = qScopeGuard([&] {
            QCOMPARE(::chown(pty.constData(), before.st_uid, before.st_gid), 0);
            QCOMPARE(::chmod(pty.constData(), before.st_mode & 07777), 0);
        });
        for (const char *path : {"", "/ioctl/dev/sg2", "/ioctl/_default"})
            QCOMPARE(::chmod(root + path, *path ? 0777 : 0755), 0);
        // The disk node stays closed to the user, as root:disk keeps it.
        QCOMPARE(::chmod(root + "/dev/sdb", 0), 0);
        QCOMPARE(::chown(pty.constData(), granted ? uid : before.st_uid, granted ? gid : before.st_gid), 0);
        QCOMPARE(::chmod(pty.constData(), granted ? 0600 : 0), 0);

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kScanAsUser)});
        QVERIFY(child.waitForFinished(30000));
        const QString error = QString::fromLocal8Bit(child.readAllStandardError());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(error));
        QHash<QString, QStringList> report;
        for (const QString &line : QString::fromLocal8Bit(child.readAllStandardOutput()).split(QLatin1Char('\n')))
            report[line.section(QLatin1Char(' '), 0, 0)] << line.section(QLatin1Char(' '), 1);
        QCOMPARE(report.value(QStringLiteral("uid")).size(), 1);
        QVERIFY(report.value(QStringLiteral("uid")).first() != QLatin1String("0"));
        QCOMPARE(report.value(QStringLiteral("found")), found);
        QCOMPARE(report.value(QStringLiteral("denied")), denied);
        const QStringList hints =
            report.value(QStringLiteral("log")).filter(VHLinuxPlatform::accessHint(QStringLiteral("/dev/sg2")));
        QCOMPARE(hints.size(), denied.size());
    }

    void udevEventsBecomeNodeChanges()
    {
        QVERIFY(writeFile(m_paths.mountInfo, "40 22 8:17 / /media/u/PACER rw - vfat /dev/sdb1 rw\n"));
        VHLinuxDeviceWatcher watcher(m_paths);
        QVERIFY(watcher.isMonitoringUdev());
        QSignalSpy spy(&watcher, &VHDeviceWatcher::DeviceChange);
        umockdev_testbed_uevent(m_testbed, kSataDisk, "add");
        umockdev_testbed_uevent(m_testbed, kDisk, "change");
        QTest::qWait(300);
        QVERIFY(spy.isEmpty());
        umockdev_testbed_uevent(m_testbed, kDisk, "add");
        QTRY_COMPARE_WITH_TIMEOUT(codes(spy), QList<quint32>{VHDeviceEvent::NodesChanged}, 2000);
        // The disk is pulled while mounted: its mount is gone for us before it is unmounted.
        const QString generic =
            QString::fromLatin1(kDisk).section(QLatin1Char('/'), 0, -3) + QStringLiteral("/scsi_generic/sg2");
        umockdev_testbed_uevent(m_testbed, generic.toLatin1().constData(), "remove");
        umockdev_testbed_uevent(m_testbed, kDisk, "remove");
        umockdev_testbed_uevent(m_testbed, kUsbDevice, "remove");
        umockdev_testbed_remove_device(m_testbed, generic.toLatin1().constData());
        umockdev_testbed_remove_device(m_testbed, kDisk);
        QTRY_VERIFY_WITH_TIMEOUT(codes(spy).contains(VHDeviceEvent::RemoveComplete), 2000);
        QVERIFY(codes(spy).count(VHDeviceEvent::NodesChanged) >= 2);
    }
};

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], kScanAsUser) == 0)
        return scanAsUser();
    QCoreApplication app(argc, argv);
    TestVHLinuxUmockdev test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_VHLinuxUmockdev.moc"
