#include "VHDevSim.h"
#include "VHFSDeviceService.h"
#include "VHFitPackageBuilder.h"
#include "VHGalDevice.h"
#include "VHGalPackage.h"
#include "VHPlatform.h"
#include "VHSimPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"
#include "corvo_builder.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

using GalPtr = std::unique_ptr<VHGalDevice, VHClientDeleter>;
const QString kDevice = QStringLiteral("gal");

// What a test package holds; the defaults make a valid one for the simulated Pacer21.
struct Package
{
    QByteArray release = "[IMG]\nName=SycamoreBR\nSize=64\nExt_FlashImageStartAddr=0x10000\n"
                         "Ext_FlashLangStartAddr=0x40000\nLangVersion=L2\n[OS]\nVersion=120\n"
                         "[BootLoader]\nVersion=R002\n";
    bool withRelease = true;
    QByteArray image = VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("120"), QByteArray(3000, 'i'));
    bool withHeader = true;
    QStringList fonts = {QStringLiteral("eng"), QStringLiteral("deu")};
    int fontSize = 300;
    int profileMajor = 0; // 0: no profile in the package
};

// The package's profile: the device's values, in a map of the given major version.
corvotest::ProfileBuilder packageProfile(int major)
{
    corvotest::ProfileBuilder profile("GAL1", major, 16);
    profile.value("UP-weight", 4, 3, corvotest::ByteBuilder().u16(60).bytes())
        .value("Sys-langCode", 8, 14, corvotest::Bytes{'e', 'n', 'g', 0}, "4");
    return profile;
}

} // namespace

class TestVHGalDevice : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    std::unique_ptr<VHDevSim> m_sim;
    int m_count = 0;

    QString volume() const { return m_sim->drivePath(kDevice); }
    bool onVolume(const QString &name) const { return QFileInfo::exists(volume() + QLatin1Char('/') + name); }

    void makeSim(VHDevSim::GalIdentity identity = VHDevSim::GalIdentity())
    {
        m_sim = std::make_unique<VHDevSim>(m_root.path() + QStringLiteral("/sim%1").arg(++m_count));
        QVERIFY2(m_sim->createGal(kDevice, identity), qPrintable(m_sim->lastError()));
        QVERIFY(m_sim->plug(kDevice));
    }

    GalPtr makeDevice(const QString &model = QStringLiteral("Pacer21"))
    {
        GalPtr device(new VHGalDevice);
        const VHModelInfo row{QStringLiteral("1207"), model, QStringLiteral("ALDER"), nullptr};
        device->setDeviceService(new VHFSDeviceService(volume(), row, volume() + QStringLiteral("/device.ini")));
        return device;
    }

    QString makePackage(const Package &package)
    {
        QList<VHFitPackageBuilder::Entry> entries{
            {QStringLiteral("iap.bin"), VHDevSim::makeImage(QStringLiteral("BootLoader"), "R002")},
            {QStringLiteral("SycamoreBR_120.bin"), package.image}};
        if (package.withRelease)
            entries.append({QStringLiteral("release.ini"), package.release});
        if (package.withHeader)
            entries.append({QStringLiteral("header.bin"), QByteArray(100, 'h')});
        for (const QString &code : package.fonts)
            entries.append({VHDevSim::fontFileName(code), VHDevSim::makeFont(code, 2, package.fontSize)});
        if (package.profileMajor > 0) {
            const corvotest::ProfileBuilder profile = packageProfile(package.profileMajor);
            entries.append({QStringLiteral("ProfileMap.txt"), QByteArray::fromStdString(profile.map())});
            entries.append(
                {QStringLiteral("Profile.bin"), QByteArray(reinterpret_cast<const char *>(profile.image().data()),
                                                           qsizetype(profile.image().size()))});
        }
        const QString zip = m_root.path() + QStringLiteral("/pkg%1.zip").arg(++m_count);
        if (!VHFitPackageBuilder::writeArchive(zip, entries, true))
            qWarning("can not pack %s", qPrintable(zip));
        return zip;
    }

    static bool update(VHGalDevice &device, const QString &zip)
    {
        return runAction(device, [&] { return device.updateTotal(zip, QString()); });
    }

    // The device as it comes back in IAP mode, attached to `device`.
    bool attachInIapMode(VHGalDevice &device)
    {
        if (!m_sim->restart(kDevice))
            return false;
        VHSimPlatform platform(m_sim->root());
        const VHModelTable rows{
            {QStringLiteral("1207"), QStringLiteral("Pacer21"), QStringLiteral("ALDERIAP"), nullptr}};
        VHServiceList found = platform.findSCSIDevices(rows);
        if (found.empty())
            return false;
        device.setDeviceService(found.front().release());
        return device.inIapMode();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        initTestEnv(m_root.path() + QStringLiteral("/xdg"));
        VHGalWait::setSleeper([](int) {});
    }

    void deviceInformation()
    {
        VHDevSim::GalIdentity identity;
        identity.launchSec.clear();
        identity.iapName = QStringLiteral("  ALDERIAP ");
        makeSim(identity);
        GalPtr device = makeDevice();
        QString text;
        QVERIFY(device->getUUID(text));
        QCOMPARE(text, identity.uuid);
        QVERIFY(device->getLaunchSecVersion(text));
        QCOMPARE(text, QStringLiteral("0.0.0.0"));
        QCOMPARE(device->info().iapName, QStringLiteral("ALDERIAP"));
        QVERIFY(device->getRootPath(text));
        QStringList languages;
        QVERIFY(device->getLanguageOnDevice(languages));
        QCOMPARE(languages, QStringList{QStringLiteral("eng")});
    }

    void hostileDeviceIni_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("huge") << 0;
        QTest::newRow("a folder") << 1;
        QTest::newRow("a link") << 2;
    }
    void hostileDeviceIni()
    {
        QFETCH(int, kind);
        makeSim();
        const QString ini = volume() + QStringLiteral("/device.ini");
        QFile::remove(ini);
        if (kind == 0)
            writeFile(ini, "[UUID]\nUUID=1207AAAABBBBCCCC\n" + QByteArray(VHPlatform::kMaxIdentityFileSize, ' '));
        else if (kind == 1)
            QVERIFY(QDir().mkpath(ini));
        else
            QVERIFY(QFile::link(m_root.path() + QStringLiteral("/elsewhere.ini"), ini));
        GalPtr device = makeDevice();
        QString uuid;
        QVERIFY(!device->getUUID(uuid));
        QVERIFY(!update(*device, makePackage(Package())));
        QVERIFY(!onVolume(QStringLiteral("update.ini")));
    }

    // Method 1 (also with no UpdateMethod): the image file with the device's font, the fonts, the instruction last.
    void methodOneImage_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("font");
        QTest::addColumn<bool>("noMethod");
        QTest::newRow("device language") << QStringLiteral("deu") << QStringLiteral("deu") << false;
        QTest::newRow("no font of it: English") << QStringLiteral("fra") << QStringLiteral("eng") << false;
        QTest::newRow("no language: English") << QString() << QStringLiteral("eng") << false;
        QTest::newRow("no UpdateMethod") << QStringLiteral("deu") << QStringLiteral("deu") << true;
    }
    void methodOneImage()
    {
        QFETCH(QString, lang);
        QFETCH(QString, font);
        QFETCH(bool, noMethod);
        VHDevSim::GalIdentity identity;
        identity.lang = lang;
        makeSim(identity);
        const QString ini = volume() + QStringLiteral("/device.ini");
        if (noMethod)
            writeFile(ini, readFile(ini).replace("UpdateMethod=1", ""));
        writeFile(volume() + QStringLiteral("/Update.INI"), "stale");
        GalPtr device = makeDevice();
        const Package package;
        QVERIFY(update(*device, makePackage(package)));
        QVERIFY(onVolume(QStringLiteral("update.ini")));
        QVERIFY(!onVolume(QStringLiteral("Update.INI")));
        QVERIFY(!onVolume(QStringLiteral("iap.bin"))); // same boot loader
        const QByteArray image = readFile(volume() + QStringLiteral("/IMG.bin"));
        QCOMPARE(image.size(), 64 * 1024);
        QCOMPARE(image.left(package.image.size()), package.image);
        QCOMPARE(image.mid(package.image.size(), 4096 - package.image.size()),
                 QByteArray(4096 - package.image.size(), '\0'));
        QCOMPARE(image.mid(4096, 100), QByteArray(100, 'h'));
        const QByteArray fontBytes = VHDevSim::makeFont(font, 2, package.fontSize);
        QCOMPARE(image.mid(4196, fontBytes.size()), fontBytes);
        QCOMPARE(image.right(4), image.mid(148, 4));
        // The package's fonts replace the device's older ones.
        QCOMPARE(readFile(volume() + QStringLiteral("/Lang/") + VHDevSim::fontFileName(font)), fontBytes);
        QStringList installed;
        QVERIFY(m_sim->restart(kDevice, 0, &installed));
        QVERIFY2(installed.contains(QStringLiteral("OS=120")), qPrintable(installed.join(',')));
    }

    void bootLoaderOnly_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("iap");
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("sameVersions");
        QTest::newRow("versions equal") << QStringLiteral("Pacer21") << QStringLiteral("R001") << 2 << true;
        QTest::newRow("R001 Pacer20plus") << QStringLiteral("Pacer20plus") << QStringLiteral("R001") << 2 << false;
        QTest::newRow("no UpdateMethod, versions equal")
            << QStringLiteral("Pacer21") << QStringLiteral("R001") << 0 << true;
    }
    void bootLoaderOnly()
    {
        QFETCH(QString, model);
        QFETCH(QString, iap);
        QFETCH(int, method);
        QFETCH(bool, sameVersions);
        VHDevSim::GalIdentity identity;
        identity.model = model;
        identity.bootLoader = iap;
        identity.updateMethod = method;
        identity.os = sameVersions ? QStringLiteral("120") : QStringLiteral("110");
        identity.langVersion = QStringLiteral("L2");
        makeSim(identity);
        if (method == 0) {
            const QString ini = volume() + QStringLiteral("/device.ini");
            writeFile(ini, readFile(ini).replace("UpdateMethod=0", ""));
        }
        GalPtr device = makeDevice(model);
        QVERIFY(update(*device, makePackage(Package())));
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        QVERIFY(onVolume(QStringLiteral("update.ini")));
        QVERIFY(onVolume(QStringLiteral("iap.bin")));
        QVERIFY(!onVolume(QStringLiteral("IMG.bin")));
    }

    // A write that fails leaves no instruction and no partial image. Without release.ini nothing says what to
    // install (the defaults by model are the package reader's): nothing is.
    void methodOneWriteFailure_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<bool>("withRelease");
        QTest::newRow("IMG.bin a folder") << QStringLiteral("IMG.bin/x") << true;
        QTest::newRow("Lang a file") << QStringLiteral("Lang") << true;
        QTest::newRow("no release.ini") << QString() << false;
    }
    void methodOneWriteFailure()
    {
        QFETCH(QString, blocker);
        QFETCH(bool, withRelease);
        makeSim();
        if (!blocker.isEmpty()) {
            QDir(volume() + QStringLiteral("/Lang")).removeRecursively();
            writeFile(volume() + QLatin1Char('/') + blocker, "x");
        }
        GalPtr device = makeDevice();
        Package package;
        package.withRelease = withRelease;
        QVERIFY(!update(*device, makePackage(package)));
        QVERIFY(!onVolume(QStringLiteral("update.ini")));
        QVERIFY(!QFileInfo(volume() + QStringLiteral("/IMG.bin")).isFile());
    }

    // Links planted where the update writes never let it write outside the volume.
    void linksOnTheVolumeLeaveTheUserAlone_data()
    {
        QTest::addColumn<QString>("linkAt");
        QTest::addColumn<QString>("target");
        const QString notes = QStringLiteral("notes.txt"); // the user's file the link points at
        QTest::newRow("IMG.bin") << "IMG.bin" << notes;
        QTest::newRow("update.ini") << "update.ini" << notes;
        QTest::newRow("iap.bin") << "iap.bin" << notes;
        QTest::newRow("a font") << "Lang/Font_eng_01.bft" << notes;
        QTest::newRow("Lang") << "Lang" << QString();
    }
    void linksOnTheVolumeLeaveTheUserAlone()
    {
        QFETCH(QString, linkAt);
        QFETCH(QString, target);
        VHDevSim::GalIdentity identity;
        identity.bootLoader = QStringLiteral("R001"); // iap.bin is written too
        makeSim(identity);
        QTemporaryDir home;
        QVERIFY(writeFile(home.filePath(QStringLiteral("notes.txt")), "the user's notes"));
        QVERIFY(writeFile(home.filePath(QStringLiteral("Font_eng_01.bft")), "the user's font"));
        const QString at = volume() + QLatin1Char('/') + linkAt;
        QDir(at).removeRecursively();
        QFile::remove(at);
        QVERIFY(QFile::link(target.isEmpty() ? home.path() : home.filePath(target), at));
        GalPtr device = makeDevice();
        update(*device, makePackage(Package()));
        QCOMPARE(readFile(home.filePath(QStringLiteral("notes.txt"))), QByteArray("the user's notes"));
        QCOMPARE(readFile(home.filePath(QStringLiteral("Font_eng_01.bft"))), QByteArray("the user's font"));
        QCOMPARE(QDir(home.path()).entryList(QDir::Files).size(), 2);
    }

    // Method 2: a package that cannot be flashed never sends the device away.
    void refusedBeforeTheDeviceIsTouched_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<int>("change");
        QTest::newRow("overlapping areas") << QByteArray("0x40000") << QByteArray("0x1F000") << 0;
        QTest::newRow("unaligned address") << QByteArray("0x40000") << QByteArray("0x40010") << 0;
        QTest::newRow("bad hex") << QByteArray("0x40000") << QByteArray("0xZZ") << 0;
        QTest::newRow("past the last block") << QByteArray("0x40000") << QByteArray("0x10000000") << 0;
        QTest::newRow("image larger than Size") << QByteArray("Size=64") << QByteArray("Size=2") << 0;
        QTest::newRow("no header.bin") << QByteArray() << QByteArray() << 1;
        QTest::newRow("no fonts") << QByteArray() << QByteArray() << 2;
        QTest::newRow("no IAP name") << QByteArray() << QByteArray() << 3;
    }
    void refusedBeforeTheDeviceIsTouched()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(int, change);
        VHDevSim::GalIdentity identity;
        identity.updateMethod = 2;
        if (change == 3)
            identity.iapName.clear();
        makeSim(identity);
        Package package;
        package.release.replace(from, to);
        package.withHeader = change != 1;
        if (change == 2)
            package.fonts.clear();
        GalPtr device = makeDevice();
        QVERIFY(!update(*device, makePackage(package)));
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        QVERIFY(!onVolume(QStringLiteral("update.ini")));
        QVERIFY(!onVolume(QStringLiteral("syncprofile.ini")));
        QVERIFY(m_sim->isPlugged(kDevice));
    }

    // Method 2 with the profile step: 2 asks for a sync and appends Profile.bin to the flashed image.
    void profileStep_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<bool>("appended");
        QTest::newRow("newer major: carried") << 2 << true;
        QTest::newRow("same major: nothing carried") << 1 << false;
        QTest::newRow("no profile in the package") << 0 << false;
    }
    void profileStep()
    {
        QFETCH(int, major);
        QFETCH(bool, appended);
        VHDevSim::GalIdentity identity;
        identity.updateMethod = 2;
        identity.lang = QStringLiteral("deu");
        makeSim(identity);
        Package package;
        package.profileMajor = major;
        GalPtr device = makeDevice();
        QVERIFY(update(*device, makePackage(package)));
        QCOMPARE(device->state(), int(VHClient::STATE_UPDATING));
        QVERIFY(onVolume(QStringLiteral("update.ini")));
        QCOMPARE(onVolume(QStringLiteral("syncprofile.ini")), appended);
        QVERIFY(attachInIapMode(*device));
        m_sim->clearCommandLog(kDevice);
        QVERIFY(update(*device, QString()));
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        // 64 KiB image from 0x10000: blocks 16-31, one more with the profile; language from block 64.
        const QStringList log = m_sim->commandLog(kDevice);
        QCOMPARE(log.filter(QStringLiteral("sel=15 block=32 ")).size(), appended ? 1 : 0);
        QCOMPARE(log.filter(QStringLiteral("sel=15 block=16 ")).size(), 1);
        QCOMPARE(log.filter(QStringLiteral("sel=15 block=64 ")).size(), 1);
        QStringList installed;
        QVERIFY(m_sim->restart(kDevice, 0, &installed));
        QVERIFY2(installed.contains(QStringLiteral("OS=120")), qPrintable(installed.join(',')));
    }
};

QTEST_GUILESS_MAIN(TestVHGalDevice)
#include "tst_VHGalDevice.moc"
