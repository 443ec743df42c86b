#include "VHDevSim.h"
#include "VHDevSimWatch.h"
#include "VHSimLayout.h"
#include "VHSimPlatform.h"
#include "VHSimSCSIService.h"
#include "VHTestFaultMatrix.h"
#include "VHTestFiles.h"
#include "VHTestIni.h"
#include "corvolib.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The device firmware simulator: device folders, firmware starts, SCSI rules, the tool.
class TestVHDevSim : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VHDevSim> m_sim;

    QString root() const { return m_dir->path(); }

    std::unique_ptr<VHSimScsiDevice> firmware(const QString &name)
    {
        return VHSimScsiDevice::open(m_sim->deviceFolder(name), VHSimLayout::scsiLinkPath(root(), name));
    }
    static bool send(VHSimScsiDevice &device, std::initializer_list<std::uint8_t> cdb,
                     VHSimScsiDevice::Direction direction, QByteArray &buffer)
    {
        const std::vector<std::uint8_t> bytes(cdb);
        return device.execute(bytes.data(), int(bytes.size()), direction,
                              reinterpret_cast<std::uint8_t *>(buffer.data()), int(buffer.size()));
    }

    // A GAL volume with "/IMG.bin" and, when asked, "/update.ini", plugged.
    void makeInstructedGal(int method, bool instructed)
    {
        VHSimGalIdentity identity;
        identity.updateMethod = method;
        QVERIFY(m_sim->createGal(QStringLiteral("BIKE"), identity));
        QVERIFY(m_sim->plug(QStringLiteral("BIKE")));
        const QString volume = m_sim->drivePath(QStringLiteral("BIKE"));
        QVERIFY(writeFile(volume + QStringLiteral("/IMG.bin"),
                          VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("120"))));
        if (instructed)
            QVERIFY(writeFile(volume + QStringLiteral("/UPDATE.INI"), ""));
    }

    // The IAP-mode device a GAL device became, as the updater finds it.
    std::unique_ptr<VHSimSCSIService> iapService(const QString &iapName)
    {
        const VHModelTable models{{QStringLiteral("1207"), QStringLiteral("Pacer21"), iapName, nullptr}};
        VHServiceList found = VHSimPlatform(root()).findSCSIDevices(models);
        if (found.size() != 1)
            return nullptr;
        return std::unique_ptr<VHSimSCSIService>(dynamic_cast<VHSimSCSIService *>(found.front().release()));
    }
    // The updater's word that the flash is complete.
    static bool notifyFlashComplete(VHSimSCSIService &service)
    {
        const std::uint8_t notify[10] = {0x28, 0, 0, 0, 0, 0, 0x1A, 0, 1, 0};
        std::uint8_t answer[512];
        return service.readClient(notify, 10, answer, 512);
    }

    struct Run
    {
        int code = -1; // -1: it did not end
        QByteArray out, err;
    };
    // Runs the tool to its end, on this root with `onRoot`.
    Run tool(const QStringList &arguments, bool onRoot = true)
    {
        QProcess process;
        process.start(QStringLiteral(DEVSIM_TOOL),
                      (onRoot ? QStringList{QStringLiteral("--root"), root()} : QStringList()) + arguments);
        if (!process.waitForFinished(30000))
            return {};
        return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_sim = std::make_unique<VHDevSim>(root());
    }

    void fitDeviceHasItsIdentityFile()
    {
        VHSimFitIdentity identity;
        identity.capability = QStringLiteral("GPS,HR");
        QVERIFY(m_sim->createFit(QStringLiteral("WATCH"), identity));
        QVERIFY(!m_sim->isPlugged(QStringLiteral("WATCH")));
        QVERIFY(!m_sim->createFit(QStringLiteral("WATCH"), identity)); // exists
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")));
        const QString file = m_sim->identityFile(QStringLiteral("WATCH"));
        QCOMPARE(file, root() + QStringLiteral("/WATCH/System/device.txt"));
        const QList<QPair<QString, QString>> expected{
            {QStringLiteral("UUID/UUID"), identity.uuid},
            {QStringLiteral("MODEL/Model"), identity.model},
            {QStringLiteral("OS/Version"), identity.os},
            {QStringLiteral("BootLoader/Version"), identity.bootLoader},
            {QStringLiteral("DeviceLang/Version"), identity.deviceLang},
            {QStringLiteral("NotificationLang/Version"), identity.notificationLang},
            {QStringLiteral("TimeZone/Version"), identity.timeZone},
            {QStringLiteral("Bluetooth/Version"), identity.bluetooth},
            {QStringLiteral("CAP/COM"), identity.capability},
            {QStringLiteral("Product/Type"), identity.productType}};
        for (const auto &[key, expectedValue] : expected)
            QCOMPARE(iniValue(file, key), expectedValue);
        QCOMPARE(m_sim->kind(QStringLiteral("WATCH")), QStringLiteral("fit"));
        QVERIFY(m_sim->devices().contains(QStringLiteral("WATCH")));
        QVERIFY(!QDir(root() + QStringLiteral("/.staging")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
    }

    void badNamesAreRefused()
    {
        for (const QString &name : {QStringLiteral("../x"), QStringLiteral(".hidden"), QStringLiteral("a/b"), QString(),
                                    QStringLiteral("DISK_2")})
            QVERIFY2(!m_sim->createFit(name, VHSimFitIdentity()), qPrintable(name));
        QVERIFY(!m_sim->plug(QStringLiteral("NONE")));
        QVERIFY(!m_sim->lastError().isEmpty());
    }

    void fitStartInstallsTheCopiedImages()
    {
        QVERIFY(m_sim->createFit(QStringLiteral("WATCH"), VHSimFitIdentity()));
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")));
        const QString volume = m_sim->drivePath(QStringLiteral("WATCH"));
        QVERIFY(writeFile(volume + QStringLiteral("/os.bin"),
                          VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("1.02.00"), "x")));
        QVERIFY(writeFile(volume + QStringLiteral("/bt.bin"),
                          VHDevSim::makeImage(QStringLiteral("Bluetooth"), QStringLiteral("BT12"))));
        QVERIFY(writeFile(volume + QStringLiteral("/notes.txt"), "not an image"));
        QStringList changes;
        // Without the instruction file a start changes nothing.
        QVERIFY(m_sim->restart(QStringLiteral("WATCH"), 0, &changes));
        QVERIFY(changes.isEmpty());
        QVERIFY(QFileInfo::exists(volume + QStringLiteral("/os.bin")));
        QVERIFY(writeFile(volume + QStringLiteral("/update.ini"), ""));
        QVERIFY(m_sim->unplug(QStringLiteral("WATCH")));
        QVERIFY(m_sim->boot(QStringLiteral("WATCH"), &changes));
        QCOMPARE(changes, (QStringList{QStringLiteral("Bluetooth=BT12"), QStringLiteral("OS=1.02.00")}));
        QVERIFY(m_sim->plug(QStringLiteral("WATCH")));
        const QString file = m_sim->identityFile(QStringLiteral("WATCH"));
        QCOMPARE(iniValue(file, QStringLiteral("OS/Version")), QStringLiteral("1.02.00"));
        QCOMPARE(iniValue(file, QStringLiteral("Bluetooth/Version")), QStringLiteral("BT12"));
        QCOMPARE(iniValue(file, QStringLiteral("TimeZone/Version")), VHSimFitIdentity().timeZone);
        QCOMPARE(QDir(volume).entryList(QDir::Files), QStringList{QStringLiteral("notes.txt")});
        // A start needs the device unplugged.
        QVERIFY(!m_sim->boot(QStringLiteral("WATCH")));
    }

    void imageHeaders()
    {
        QString kind, version;
        QVERIFY(VHDevSim::readImageHeader(
            VHDevSim::makeImage(QStringLiteral("DeviceLang"), QStringLiteral("DL0200"), "\x01\x02"), kind, version));
        QCOMPARE(kind, QStringLiteral("DeviceLang"));
        QCOMPARE(version, QStringLiteral("DL0200"));
        QVERIFY(!VHDevSim::readImageHeader("VELORA-SIM-IMAGE Kind=../x Version=1\n", kind, version));
        QVERIFY(!VHDevSim::readImageHeader("VELORA-SIM-IMAGE Kind=OS\n", kind, version));
        QVERIFY(!VHDevSim::readImageHeader("VELORA-SIM-IMAGE Kind=OS Version=1", kind, version));
        QVERIFY(!VHDevSim::readImageHeader(QByteArray(600, '\0'), kind, version));
    }

    void galVolumeCarriesProfileAndFonts_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QStringList>("fonts");
        QTest::newRow("default") << QStringLiteral("eng") << QStringList{QStringLiteral("Font_eng_01.bft")};
        QTest::newRow("deu") << QStringLiteral("deu")
                             << QStringList{QStringLiteral("Font_deu_01.bft"), QStringLiteral("Font_eng_01.bft")};
        QTest::newRow("none") << QString(QLatin1String("")) << QStringList{QStringLiteral("Font_eng_01.bft")};
    }
    void galVolumeCarriesProfileAndFonts()
    {
        QFETCH(QString, lang);
        QFETCH(QStringList, fonts);
        VHSimGalIdentity identity;
        identity.lang = lang;
        identity.fontVersion = 0x01020304;
        QVERIFY(m_sim->createGal(QStringLiteral("BIKE"), identity));
        QVERIFY(m_sim->plug(QStringLiteral("BIKE")));
        const QString volume = m_sim->drivePath(QStringLiteral("BIKE"));
        QVERIFY(SetPathDirect("/"));
        const QByteArray home = QFile::encodeName(volume + QLatin1Char('/'));
        const QByteArray ini = QFile::encodeName(root() + QStringLiteral("/pfread.ini"));
        QCOMPARE(GetProfile(home.constData(), ini.constData()), 1);
        QCOMPARE(iniValue(QString::fromUtf8(ini), QStringLiteral("Sys-langCode")), lang);
        QCOMPARE(iniValue(QString::fromUtf8(ini), QStringLiteral("ProjectCode")), identity.profileProject);
        QCOMPARE(iniValue(QString::fromUtf8(ini), QStringLiteral("UP-maxHR")), QStringLiteral("190"));
        QCOMPARE(QDir(volume + QStringLiteral("/Lang")).entryList(QDir::Files, QDir::Name), fonts);
        for (const QString &font : fonts) {
            const QByteArray bytes = readFile(volume + QStringLiteral("/Lang/") + font);
            QCOMPARE(bytes.left(4), QByteArray("\x04\x03\x02\x01", 4));
            QCOMPARE(bytes.mid(4, 3), font.mid(5, 3).toLatin1());
        }
    }

    void galMethodOneInstallsTheImageFile()
    {
        makeInstructedGal(1, false);
        const QString volume = m_sim->drivePath(QStringLiteral("BIKE"));
        QVERIFY(writeFile(volume + QStringLiteral("/iap.bin"),
                          VHDevSim::makeImage(QStringLiteral("BootLoader"), QStringLiteral("R003"))));
        QVERIFY(writeFile(volume + QStringLiteral("/Update.ini"), "")); // any spelling, as on FAT
        QVERIFY(writeFile(volume + QStringLiteral("/syncprofile.ini"), ""));
        QStringList changes;
        QVERIFY(m_sim->restart(QStringLiteral("BIKE"), 0, &changes));
        QCOMPARE(changes, (QStringList{QStringLiteral("OS=120"), QStringLiteral("BootLoader=R003")}));
        QCOMPARE(QDir(volume).entryList(QDir::Files, QDir::Name),
                 (QStringList{QStringLiteral("Profile.bin"), QStringLiteral("ProfileMap.txt"),
                              QStringLiteral("device.ini")}));
        QCOMPARE(iniValue(volume + QStringLiteral("/device.ini"), QStringLiteral("BootLoader/Version")),
                 QStringLiteral("R003"));
    }

    void galMethodTwoGoesThroughIapMode()
    {
        VHSimGalIdentity identity;
        identity.updateMethod = 2;
        identity.iapName = QStringLiteral("SYCAMOREBR");
        QVERIFY(m_sim->createGal(QStringLiteral("BIKE"), identity));
        QVERIFY(m_sim->plug(QStringLiteral("BIKE")));
        QVERIFY(writeFile(m_sim->drivePath(QStringLiteral("BIKE")) + QStringLiteral("/update.ini"), ""));
        QVERIFY(m_sim->restart(QStringLiteral("BIKE")));
        // No volume now; a SCSI device with the same UUID and the IAP name.
        QVERIFY(!QFileInfo::exists(m_sim->drivePath(QStringLiteral("BIKE"))));
        std::unique_ptr<VHSimSCSIService> service = iapService(identity.iapName);
        QString uuid;
        QVERIFY(service && service->getUUID(uuid));
        QCOMPARE(uuid, identity.uuid);
        const QByteArray image =
            VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("130"), QByteArray(5000, 'i'));
        QVERIFY(service->eraseFlashBlocks(image.size(), 4096, 4));
        QVERIFY(service->writeFlashBlocks(image, 15, image.size(), 4096, 4));
        // Restarted before the notification, it stays in IAP mode.
        QVERIFY(m_sim->restart(QStringLiteral("BIKE")));
        QVERIFY(!QFileInfo::exists(m_sim->drivePath(QStringLiteral("BIKE"))));
        service = iapService(identity.iapName);
        QVERIFY(service && notifyFlashComplete(*service));
        QStringList changes;
        QVERIFY(m_sim->restart(QStringLiteral("BIKE"), 0, &changes));
        QCOMPARE(changes, QStringList{QStringLiteral("OS=130")});
        QVERIFY(QFileInfo(m_sim->drivePath(QStringLiteral("BIKE"))).isDir());
        QVERIFY(VHSimLayout::scsiDeviceNames(root()).isEmpty());
        QCOMPARE(iniValue(m_sim->identityFile(QStringLiteral("BIKE")), QStringLiteral("OS/Version")),
                 QStringLiteral("130"));
    }

    void galRestartsByItselfAfterEject_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("instructed");
        QTest::addColumn<QString>("eject"); // keep, off, or unplug (by hand, no eject)
        QTest::addColumn<QString>("after"); // volume, iap, or away
        QTest::newRow("method 1") << 1 << true << "keep"
                                  << "volume";
        QTest::newRow("method 2") << 2 << true << "keep"
                                  << "iap";
        QTest::newRow("port power cut") << 2 << true << "off"
                                        << "away";
        QTest::newRow("no update.ini") << 1 << false << "keep"
                                       << "away";
        QTest::newRow("unplugged by hand") << 1 << true << "unplug"
                                           << "away";
    }
    void galRestartsByItselfAfterEject()
    {
        QFETCH(int, method);
        QFETCH(bool, instructed);
        QFETCH(QString, eject);
        QFETCH(QString, after);
        makeInstructedGal(method, instructed);
        const QString drive = m_sim->drivePath(QStringLiteral("BIKE"));
        VHSimPlatform platform(root());
        if (eject == QLatin1String("unplug"))
            QVERIFY(m_sim->unplug(QStringLiteral("BIKE")));
        else
            QVERIFY(platform.ejectDeviceInMode(drive, eject == QLatin1String("keep") ? VHEjectMode::KeepPower
                                                                                     : VHEjectMode::PowerOff));
        VHDevSimWatch watch(root(), 0);
        const QStringList lines = watch.poll();
        QCOMPARE(QFileInfo(drive).isDir(), after == QLatin1String("volume"));
        QCOMPARE(VHSimLayout::scsiDeviceNames(root()).size(), after == QLatin1String("iap") ? 1 : 0);
        if (after == QLatin1String("volume")) {
            QCOMPARE(lines, QStringList{QStringLiteral("BIKE: restarted after eject (installed OS=120)")});
            QCOMPARE(iniValue(m_sim->identityFile(QStringLiteral("BIKE")), QStringLiteral("OS/Version")),
                     QStringLiteral("120"));
        }
        // Acted on once: the next pass finds nothing to do.
        QVERIFY(watch.poll().isEmpty());
        QCOMPARE(m_sim->selfStart(QStringLiteral("BIKE")), VHDevSim::SelfStart::None);
    }

    void iapDeviceReturnsByItselfAfterTheNotification()
    {
        makeInstructedGal(2, true);
        VHSimPlatform platform(root());
        QVERIFY(platform.ejectDeviceInMode(m_sim->drivePath(QStringLiteral("BIKE")), VHEjectMode::KeepPower));
        VHDevSimWatch watch(root(), 150);
        QSignalSpy restarted(&watch, &VHDevSimWatch::restarted);
        QElapsedTimer clock;
        clock.start();
        watch.start(10);
        QTRY_COMPARE(VHSimLayout::scsiDeviceNames(root()), QStringList{QStringLiteral("BIKE")});
        QVERIFY(clock.elapsed() >= 150);
        const std::unique_ptr<VHSimSCSIService> service = iapService(VHSimGalIdentity().iapName);
        QVERIFY(service);
        const QByteArray image =
            VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("130"), QByteArray(5000, 'i'));
        QVERIFY(service->eraseFlashBlocks(image.size(), 4096, 0));
        QVERIFY(service->writeFlashBlocks(image, 15, image.size(), 4096, 0));
        // Flashing alone does not end IAP mode; the notification does.
        QTest::qWait(300);
        QVERIFY(!QFileInfo::exists(m_sim->drivePath(QStringLiteral("BIKE"))));
        QVERIFY(notifyFlashComplete(*service));
        QTRY_VERIFY(QFileInfo(m_sim->drivePath(QStringLiteral("BIKE"))).isDir());
        QVERIFY(VHSimLayout::scsiDeviceNames(root()).isEmpty());
        watch.stop();
        QCOMPARE(restarted.size(), 2);
        QCOMPARE(restarted.last().at(1).toStringList(), QStringList{QStringLiteral("OS=130")});
    }

    void fileSystemDeviceInstallsTheNamedImage()
    {
        VHSimGalIdentity identity;
        identity.model = QStringLiteral("Pacer50");
        VHSimDriveOptions options;
        options.secondary = true;
        QVERIFY(m_sim->createFileSystem(QStringLiteral("P50"), identity, options));
        QVERIFY(m_sim->plug(QStringLiteral("P50")));
        QVERIFY(QFileInfo(m_sim->secondaryDrivePath(QStringLiteral("P50"))).isDir());
        const QString volume = m_sim->drivePath(QStringLiteral("P50"));
        QVERIFY(QDir().mkpath(volume + QStringLiteral("/Vel0ra!#@1700000000")));
        QVERIFY(writeFile(volume + QStringLiteral("/Vel0ra!#@1700000000/ALDER.bin"),
                          VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("0.9.5"))));
        QVERIFY(writeFile(
            volume + QStringLiteral("/Update.ini"),
            "[Update.ini]\r\nVersion=02\r\n[Total]\r\nUpdate=true\r\nName=/My Disk/Vel0ra!#@1700000000/ALDER.bin\r\n"
            "CRC=/My Disk/Vel0ra!#@1700000000/CKS.TXT\r\n"));
        QStringList changes;
        QVERIFY(m_sim->restart(QStringLiteral("P50"), 0, &changes));
        QCOMPARE(changes, QStringList{QStringLiteral("OS=0.9.5")});
        QVERIFY(!QFileInfo::exists(volume + QStringLiteral("/Vel0ra!#@1700000000")));
        QVERIFY(!QFileInfo::exists(volume + QStringLiteral("/Update.ini")));
        QVERIFY(QFileInfo(m_sim->secondaryDrivePath(QStringLiteral("P50"))).isDir());
    }

    void scsiFirmwareRules()
    {
        VHSimScsiDevice::Identity identity;
        identity.identification = "ASPENS";
        identity.uuid = "1003000000000001";
        identity.internalSize = 0x8000;
        identity.externalSize = 0x4000;
        identity.loaderSize = 0x1000;
        identity.busyPolls = 2;
        QVERIFY(m_sim->createScsi(QStringLiteral("P35"), identity));
        QVERIFY(m_sim->plug(QStringLiteral("P35")));
        std::unique_ptr<VHSimScsiDevice> device = firmware(QStringLiteral("P35"));
        QVERIFY(device);
        QByteArray inquiry(128, '\0');
        QVERIFY(send(*device, {0x12, 0x80, 0, 0, 0x80, 0}, VHSimScsiDevice::Read, inquiry));
        QCOMPARE(inquiry.mid(8, 8), QByteArray("VELORA  "));
        QCOMPARE(inquiry.mid(36, 8), QByteArray("IAP I001"));
        QCOMPARE(inquiry.mid(44, 6), QByteArray("ASPENS"));

        QByteArray block(2048, 'L');
        QVERIFY(send(*device, {0x2A, 0, 0, 0, 0, 3, 12, 0, 4, 0}, VHSimScsiDevice::Write, block));
        QByteArray back(2048, '\0');
        QVERIFY(send(*device, {0x28, 0, 0, 0, 0, 3, 13, 0, 4, 0}, VHSimScsiDevice::Read, back));
        QCOMPARE(back, block);
        QCOMPARE(m_sim->flash(QStringLiteral("P35"), VHDevSim::Flash::Internal).mid(3 * 2048, 2048), block);
        QByteArray loader(2048, 'B');
        QVERIFY(send(*device, {0x2A, 0, 0, 0, 0, 1, 10, 0, 4, 0}, VHSimScsiDevice::Write, loader));
        QCOMPARE(m_sim->flash(QStringLiteral("P35"), VHDevSim::Flash::Loader).mid(2048, 2048), loader);
        QVERIFY(!send(*device, {0x2A, 0, 0, 0, 0, 2, 10, 0, 4, 0}, VHSimScsiDevice::Write, loader)); // past the loader

        // A full erase keeps the flash busy for the configured status reads.
        QByteArray zeros(512, '\0');
        QVERIFY(send(*device, {0x2A, 0, 0, 0, 0, 0, 14, 0, 1, 0}, VHSimScsiDevice::Write, zeros));
        QByteArray status(4096, '\x55');
        QList<int> states;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(send(*device, {0x28, 0, 0, 0, 0, 0, 21, 0, 8, 0}, VHSimScsiDevice::Read, status));
            states << status[0];
        }
        QCOMPARE(states, (QList<int>{1, 1, 0}));
        QCOMPARE(m_sim->flash(QStringLiteral("P35"), VHDevSim::Flash::External), QByteArray(0x4000, char(0xFF)));

        QVERIFY(send(*device, {0x2A, 0, 0, 0, 0, 0, 1, 0, 1, 0}, VHSimScsiDevice::Write, zeros));
        QCOMPARE(iniValue(m_sim->deviceFolder(QStringLiteral("P35")) + QStringLiteral("/state.ini"),
                          QStringLiteral("State/mode")),
                 QStringLiteral("loader"));
        QVERIFY(send(*device, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, VHSimScsiDevice::Write, zeros));
        QCOMPARE(iniValue(m_sim->deviceFolder(QStringLiteral("P35")) + QStringLiteral("/state.ini"),
                          QStringLiteral("State/mode")),
                 QStringLiteral("normal"));

        QVERIFY(
            !send(*device, {0x2A, 0, 0, 0, 0, 0, 0x33, 0, 1, 0}, VHSimScsiDevice::Write, zeros));   // unknown selector
        QVERIFY(!send(*device, {0x28, 0, 0, 0, 0, 0, 16, 0, 0, 0}, VHSimScsiDevice::Read, zeros));  // no unit
        QVERIFY(!send(*device, {0x00, 0, 0, 0, 0, 0}, VHSimScsiDevice::Read, zeros));               // other opcode
        QVERIFY(!send(*device, {0x28, 0, 0, 0, 0, 4, 16, 0, 8, 0}, VHSimScsiDevice::Read, status)); // past the end
        const QStringList log = m_sim->commandLog(QStringLiteral("P35"));
        QCOMPARE(log.first(), QStringLiteral("INQUIRY sel=0 block=0 unit=0 len=128 ok"));
        QCOMPARE(log.last(), QStringLiteral("READ sel=16 block=4 unit=4096 len=4096 failed"));
        QCOMPARE(log.filter(QStringLiteral(" failed")).size(), 5);
        m_sim->clearCommandLog(QStringLiteral("P35"));
        QVERIFY(m_sim->commandLog(QStringLiteral("P35")).isEmpty());
        QVERIFY(m_sim->unplug(QStringLiteral("P35")));
        QVERIFY(!send(*device, {0x12, 0x80, 0, 0, 0x80, 0}, VHSimScsiDevice::Read, inquiry));
        QVERIFY(m_sim->remove(QStringLiteral("P35")));
        QVERIFY(!QFileInfo::exists(m_sim->deviceFolder(QStringLiteral("P35"))));
    }

    void faultRulesShowInTheCommandLog_data()
    {
        QTest::addColumn<QString>("rules");
        // R: read external block 0, W: write it, E: erase sector 0, S: flash status.
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("succeeds");
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("fail the 2nd write") << "failCommand=2\nfailSelector=0x0F"
                                            << "WRWW"
                                            << "1101" << QStringList{{}, {}, "fail", {}};
        QTest::newRow("corrupt 2 reads") << "corruptReads=2\ncorruptSelector=16"
                                         << "RWRR"
                                         << "1111" << QStringList{"corrupt", {}, "corrupt", {}};
        QTest::newRow("never ready") << "flashNeverReady=1"
                                     << "SS"
                                     << "11" << QStringList{"busy", "busy"};
        QTest::newRow("erase keeps data") << "eraseKeepsData=1"
                                          << "ER"
                                          << "11" << QStringList{"erase-kept", {}};
        QTest::newRow("vanish after 2") << "vanishAfter=2"
                                        << "RSR"
                                        << "110" << QStringList{{}, {}, {}};
    }
    void faultRulesShowInTheCommandLog()
    {
        QFETCH(QString, rules);
        QFETCH(QString, commands);
        QFETCH(QString, succeeds);
        QFETCH(QStringList, faults);
        VHSimScsiDevice::Identity identity;
        identity.externalSize = 0x4000;
        QVERIFY(m_sim->createScsi(QStringLiteral("P40"), identity));
        QVERIFY(m_sim->plug(QStringLiteral("P40")));
        QByteArray data(4096, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 7);
        QVERIFY(m_sim->setFlash(QStringLiteral("P40"), VHDevSim::Flash::External, data));
        std::unique_ptr<VHSimScsiDevice> device = firmware(QStringLiteral("P40"));
        // Set while connected: the device reads the rules again.
        const QString record = m_sim->deviceFolder(QStringLiteral("P40")) + QStringLiteral("/sim.ini");
        QVERIFY(writeFile(record, readFile(record) + "\n[Faults]\n" + rules.toLatin1() + '\n'));
        for (int i = 0; i < commands.size(); ++i) {
            const QByteArray before = m_sim->flash(QStringLiteral("P40"), VHDevSim::Flash::External).left(4096);
            QByteArray buffer = commands[i] == QLatin1Char('W') ? before : QByteArray(4096, '\0');
            const std::uint8_t selector = commands[i] == QLatin1Char('R')   ? 0x10
                                          : commands[i] == QLatin1Char('W') ? 0x0F
                                          : commands[i] == QLatin1Char('E') ? 0x18
                                                                            : 0x15;
            const auto direction =
                QStringLiteral("RS").contains(commands[i]) ? VHSimScsiDevice::Read : VHSimScsiDevice::Write;
            const bool ok = send(*device,
                                 {direction == VHSimScsiDevice::Read ? std::uint8_t(0x28) : std::uint8_t(0x2A), 0, 0, 0,
                                  0, 0, selector, 0, 8, 0},
                                 direction, buffer);
            QCOMPARE(ok, succeeds[i] == QLatin1Char('1'));
            const QString line = m_sim->commandLog(QStringLiteral("P40")).value(i);
            QCOMPARE(line.section(QStringLiteral(" fault="), 1), faults[i]);
            const QByteArray after = m_sim->flash(QStringLiteral("P40"), VHDevSim::Flash::External).left(4096);
            if (commands[i] == QLatin1Char('R') && ok) {
                int differing = 0;
                for (int b = 0; b < buffer.size(); ++b)
                    differing += buffer[b] != after[b];
                QCOMPARE(differing, faults[i] == QLatin1String("corrupt") ? 1 : 0);
            } else if (commands[i] == QLatin1Char('E')) {
                QCOMPARE(after, faults[i] == QLatin1String("erase-kept") ? before : QByteArray(4096, char(0xFF)));
            } else if (commands[i] == QLatin1Char('S')) {
                QCOMPARE(int(buffer[0]), faults[i] == QLatin1String("busy") ? 1 : 0);
            }
        }
        if (rules.startsWith(QLatin1String("vanish"))) {
            // Pulled once: the link and the rule are gone, the next plug works.
            QVERIFY(!m_sim->isPlugged(QStringLiteral("P40")));
            QVERIFY(m_sim->commandLog(QStringLiteral("P40")).contains(QStringLiteral("VANISHED after 2 commands")));
            QVERIFY(m_sim->faults(QStringLiteral("P40")).isEmpty());
            QVERIFY(m_sim->plug(QStringLiteral("P40")));
            device = firmware(QStringLiteral("P40"));
            QByteArray status(512, '\0');
            for (int i = 0; i < 3; ++i)
                QVERIFY(send(*device, {0x28, 0, 0, 0, 0, 0, 0x15, 0, 1, 0}, VHSimScsiDevice::Read, status));
        }
    }

    // Programming clears bits only; only erased cells take the written value.
    void flashProgramsAsNorFlash_data()
    {
        QTest::addColumn<int>("selector");
        QTest::addColumn<QString>("erase"); // "", "sector", "kept" (erase with eraseKeepsData)
        QTest::addColumn<int>("old");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("stored");
        QTest::newRow("external over erased") << 0x0F << "" << 0xFF << 0x5A << 0x5A;
        QTest::newRow("external over data") << 0x0F << "" << 0xF0 << 0x3C << 0x30;
        QTest::newRow("external erased first") << 0x0F << "sector" << 0xF0 << 0x3C << 0x3C;
        QTest::newRow("external erase kept data") << 0x0F << "kept" << 0xF0 << 0x3C << 0x30;
        // The firmware erases these itself: no erase command reaches them.
        QTest::newRow("internal over data") << 0x0C << "" << 0x0F << 0xF5 << 0xF5;
        QTest::newRow("loader over data") << 0x0A << "" << 0xAA << 0x55 << 0x55;
    }
    void flashProgramsAsNorFlash()
    {
        QFETCH(int, selector);
        QFETCH(QString, erase);
        QFETCH(int, old);
        QFETCH(int, written);
        QFETCH(int, stored);
        VHSimScsiDevice::Identity identity;
        identity.internalSize = identity.externalSize = identity.loaderSize = 0x2000;
        QVERIFY(m_sim->createScsi(QStringLiteral("P40"), identity));
        QVERIFY(m_sim->plug(QStringLiteral("P40")));
        const VHDevSim::Flash flash = selector == 0x0F   ? VHDevSim::Flash::External
                                      : selector == 0x0C ? VHDevSim::Flash::Internal
                                                         : VHDevSim::Flash::Loader;
        QVERIFY(m_sim->setFlash(QStringLiteral("P40"), flash, QByteArray(0x2000, char(old))));
        if (erase == QLatin1String("kept"))
            QVERIFY(m_sim->setFaults(QStringLiteral("P40"), {.eraseKeepsData = true}));
        std::unique_ptr<VHSimScsiDevice> device = firmware(QStringLiteral("P40"));
        QByteArray none(512, '\0');
        if (!erase.isEmpty())
            QVERIFY(send(*device, {0x2A, 0, 0, 0, 0, 1, 0x18, 0, 8, 0}, VHSimScsiDevice::Write, none));
        QByteArray data(4096, char(written));
        QVERIFY(send(*device, {0x2A, 0, 0, 0, 0, 1, std::uint8_t(selector), 0, 8, 0}, VHSimScsiDevice::Write, data));
        const QByteArray after = m_sim->flash(QStringLiteral("P40"), flash);
        QCOMPARE(after.mid(4096, 4096), QByteArray(4096, char(stored)));
        QCOMPARE(after.left(4096), QByteArray(4096, char(old))); // the block before is untouched
    }

    // What the helper counts in a clean run is where the rule then fires.
    void matrixStepsAreTheRulesSteps_data()
    {
        QTest::addColumn<int>("rule");
        QTest::addColumn<int>("selector");
        QTest::addColumn<int>("steps"); // counted in the clean run of W W R W
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("failing"); // of the faulted run
        QTest::newRow("fail the last write") << int(VHFaultRule::ScsiFailCommand) << 15 << 3 << 3 << "...F";
        QTest::newRow("fail the read") << int(VHFaultRule::ScsiFailCommand) << 16 << 1 << 1 << "..F.";
        QTest::newRow("vanish after the first") << int(VHFaultRule::ScsiVanishAfter) << -1 << 4 << 1 << ".FFF";
    }
    void matrixStepsAreTheRulesSteps()
    {
        QFETCH(int, rule);
        QFETCH(int, selector);
        QFETCH(int, steps);
        QFETCH(int, step);
        QFETCH(QString, failing);
        VHSimScsiDevice::Identity identity;
        identity.externalSize = 0x4000;
        QVERIFY(m_sim->createScsi(QStringLiteral("P40"), identity));
        QVERIFY(m_sim->plug(QStringLiteral("P40")));
        std::unique_ptr<VHSimScsiDevice> device = firmware(QStringLiteral("P40"));
        VHTestFaultMatrix matrix(*m_sim, QStringLiteral("P40"));
        // The last run stays set on the volume: setting a rule drops it.
        QVERIFY(matrix.setRule({VHFaultRule::VolumeFailWrite}, 1));
        const auto run = [&] {
            QString seen;
            for (const QChar command : QStringLiteral("WWRW")) {
                QByteArray buffer(4096, char(0xFF));
                const bool read = command == QLatin1Char('R');
                const std::uint8_t opcode = read ? 0x28 : 0x2A, area = read ? 0x10 : 0x0F;
                const auto direction = read ? VHSimScsiDevice::Read : VHSimScsiDevice::Write;
                seen +=
                    QLatin1Char(send(*device, {opcode, 0, 0, 0, 0, 0, area, 0, 8, 0}, direction, buffer) ? '.' : 'F');
            }
            return seen;
        };
        matrix.clearLogs();
        QCOMPARE(run(), QStringLiteral("...."));
        const VHFaultRule faultRule{VHFaultRule::Kind(rule), selector};
        QCOMPARE(matrix.countSteps(faultRule), steps);
        QVERIFY(matrix.setRule(faultRule, step));
        QVERIFY(m_sim->faults(QStringLiteral("P40")).volume.isEmpty());
        QCOMPARE(run(), failing);
        QCOMPARE(matrix.countSteps(faultRule), rule == VHFaultRule::ScsiVanishAfter ? 4 : steps);
    }

    void toolSetsStorageFaults_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("said");
        const auto row = [](const char *name, const char *arguments, const char *said) {
            QTest::newRow(name) << QString::fromLatin1(arguments).split(QLatin1Char(' ')) << QByteArray(said);
        };
        row("volume rules", "fault WATCH --volume-fail-write 3 --volume-fail-fsync 4 --volume-fail-rename 5",
            "WATCH: volumeFailWrite=3 volumeFailFsync=4 volumeFailRename=5\n");
        row("added to the rules before",
            "fault WATCH --volume-no-space-from 2 --volume-vanish-at 0x10 --volume-corrupt-read 1",
            "WATCH: volumeFailWrite=3 volumeNoSpaceFrom=2 volumeVanishAt=16 volumeCorruptRead=1\n");
        row("cleared first", "fault WATCH --clear --volume-corrupt-read 7", "WATCH: volumeCorruptRead=7\n");
        row("no SCSI rules on a volume device", "fault WATCH --fail-command 1 --fail-selector 15", "");
        row("data folder", "datafault --fail-write 1 --fail-fsync 2 --fail-rename 3 --no-space-from 4 --corrupt-read 5",
            "data folder: dataFailWrite=1 dataFailFsync=2 dataFailRename=3 dataNoSpaceFrom=4 dataCorruptRead=5\n");
        row("data folder cleared", "datafault --clear", "data folder: no faults\n");
    }
    void toolSetsStorageFaults()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, said);
        QVERIFY(m_sim->createFit(QStringLiteral("WATCH"), VHSimFitIdentity()));
        VHSimFaults before;
        before.volume.failWrite = 3;
        QVERIFY(m_sim->setFaults(QStringLiteral("WATCH"), before));
        VHSimStorageFaults data;
        data.failRename = 9;
        QVERIFY(m_sim->setDataFolderFaults(data));
        const Run run = tool(arguments);
        QCOMPARE(run.out, said);
        QCOMPARE(run.code, said.isEmpty() ? 1 : 0);
        // What the tool printed is what the simulator reads back.
        const QStringList rules = arguments.first() == QLatin1String("fault")
                                      ? m_sim->faults(QStringLiteral("WATCH")).describe()
                                      : m_sim->dataFolderFaults().describe(QStringLiteral("data"));
        const QByteArray listed = said.mid(said.indexOf(": ") + 2).trimmed();
        if (!said.isEmpty())
            QCOMPARE(rules.join(QLatin1Char(' ')).toUtf8(), listed == "no faults" ? QByteArray() : listed);
    }

    void toolMakesAndRestartsADevice()
    {
        QCOMPARE(tool({"create", "fit", "WATCH", "--os", "1.0.0", "--model", "Pacer75"}).code, 0);
        QCOMPARE(iniValue(root() + QStringLiteral("/WATCH/System/device.txt"), QStringLiteral("MODEL/Model")),
                 QStringLiteral("Pacer75"));
        QCOMPARE(tool({"make-image", "OS", "1.1.0", root() + QStringLiteral("/WATCH/os.bin")}, false).code, 0);
        QVERIFY(writeFile(root() + QStringLiteral("/WATCH/update.ini"), ""));
        Run run = tool({"restart", "WATCH", "--pause", "0"});
        QCOMPARE(run.code, 0);
        QVERIFY(run.out.contains("installed OS=1.1.0"));
        QVERIFY(tool({"list"}).out.contains("WATCH\tfit\tplugged"));
        run = tool({"plug", "NONE"});
        QCOMPARE(run.code, 1);
        QVERIFY(run.err.contains("no such device"));
        QCOMPARE(tool({"create", "gal", "BIKE", "--lang", "deu"}).code, 0);
        QCOMPARE(readFile(root() + QStringLiteral("/BIKE/Lang/Font_deu_01.bft")).mid(4, 3), QByteArray("deu"));
        // The watcher brings an ejected, instructed GAL volume back.
        QVERIFY(writeFile(root() + QStringLiteral("/BIKE/update.ini"), ""));
        QVERIFY(VHSimPlatform(root()).ejectDeviceInMode(root() + QStringLiteral("/BIKE"), VHEjectMode::KeepPower));
        QProcess watcher;
        watcher.start(QStringLiteral(DEVSIM_TOOL), {QStringLiteral("--root"), root(), QStringLiteral("watch"),
                                                    QStringLiteral("--pause"), QStringLiteral("0")});
        QTRY_VERIFY(QFileInfo(root() + QStringLiteral("/BIKE/device.ini")).isFile());
        QByteArray said;
        QTRY_VERIFY((said += watcher.readAllStandardOutput()).contains("BIKE: restarted after eject"));
        watcher.kill();
        QVERIFY(watcher.waitForFinished(30000));
        QCOMPARE(tool({"fault", "BIKE", "--fail-command", "2", "--fail-selector", "0x0F", "--flash-never-ready"}).out,
                 QByteArray("BIKE: failCommand=2 failSelector=15 flashNeverReady=1\n"));
        QCOMPARE(tool({"fault", "BIKE", "--clear", "--vanish-after", "9"}).out, QByteArray("BIKE: vanishAfter=9\n"));
        QCOMPARE(m_sim->faults(QStringLiteral("BIKE")).vanishAfter, 9);
        QVERIFY(tool({"--help"}, false).out.contains("VELORA-SIM-IMAGE Kind=<group> Version=<v>"));
    }
};

QTEST_GUILESS_MAIN(TestVHDevSim)
#include "tst_VHDevSim.moc"
