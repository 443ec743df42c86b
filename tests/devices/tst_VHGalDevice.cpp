#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHFSDeviceService.h"
#include "VHFitPackageBuilder.h"
#include "VHGalDevice.h"
#include "VHGalPackage.h"
#include "VHGalPending.h"
#include "VHPlatform.h"
#include "VHSimPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFaultMatrix.h"
#include "VHTestFiles.h"
#include "VHTestGalPackages.h"
#include "corvo_builder.h"

#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

using GalPtr = std::unique_ptr<VHGalDevice, VHClientDeleter>;
const QString kDevice = QStringLiteral("gal");

// What a test package holds; the defaults make a valid one for the simulated Pacer21.
struct Package
{
    QByteArray release = VHTestGalPackages::kRelease;
    bool withRelease = true;
    bool withImage = true; // false: another family's package, a language pack say
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
            {QStringLiteral("iap.bin"), VHDevSim::makeImage(QStringLiteral("BootLoader"), "R002")}};
        if (package.withImage)
            entries.append({QStringLiteral("SycamoreBR_120.bin"), package.image});
        if (package.withRelease)
            entries.append({QStringLiteral("release.ini"), package.release});
        if (package.withHeader)
            entries.append({QStringLiteral("header.bin"), QByteArray(100, 'h')});
        for (const QString &code : package.fonts)
            entries.append(
                {VHDevSim::fontFileName(code), VHDevSim::makeFont(code, 2, package.fontSize).left(package.fontSize)});
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

    static bool update(VHGalDevice &device, const QString &zip, int *code = nullptr,
                       const QString &language = QString())
    {
        return runAction(
            device, [&] { return device.updateTotal(zip, language); }, code);
    }

    // None of the files an update leaves for the firmware.
    void verifyNothingOfOursLeft(const QByteArray &row = QByteArray())
    {
        for (const char *name : {"update.ini", "IMG.bin", "iap.bin", "syncprofile.ini"})
            QVERIFY2(!onVolume(QString::fromLatin1(name)), row + " " + name);
    }

    static VHDevSim::GalIdentity galIdentity(int method, const QString &bootLoader = QString(),
                                             const QString &lang = QString())
    {
        VHDevSim::GalIdentity identity;
        identity.updateMethod = method;
        identity.bootLoader = bootLoader.isEmpty() ? identity.bootLoader : bootLoader;
        identity.lang = lang.isEmpty() ? identity.lang : lang;
        return identity;
    }

    void newSim() { m_sim = std::make_unique<VHDevSim>(m_root.path() + QStringLiteral("/sim%1").arg(++m_count)); }

    // The device as it comes back in IAP mode, attached to `device`.
    bool attachInIapMode(VHGalDevice &device) { return m_sim->restart(kDevice) && attachScsi(device); }

    bool attachScsi(VHGalDevice &device)
    {
        VHSimPlatform platform(m_sim->root());
        const VHModelTable rows{
            {QStringLiteral("1207"), QStringLiteral("Pacer21"), QStringLiteral("ALDERIAP"), nullptr}};
        VHServiceList found = platform.findSCSIDevices(rows);
        if (found.empty())
            return false;
        device.setDeviceService(found.front().release());
        return device.inIapMode();
    }

    // ---- the fault table of the second passes ----------------------------------------------

    enum class Road { Update, Restore };
    static int pendingState(Road road)
    {
        return road == Road::Update ? VHClient::STATE_UPDATING : VHClient::STATE_RESTORING;
    }

    // An object made in IAP mode, as the next run makes it, waiting for `road`'s second pass; the log empty.
    GalPtr strandedDevice(Road road, bool restart = true)
    {
        GalPtr device(new VHGalDevice);
        if ((restart && !m_sim->restart(kDevice)) || !attachScsi(*device)
            || !device->setStateWithMatch(VHClient::STATE_READY, pendingState(road)))
            device.reset();
        m_sim->clearCommandLog(kDevice);
        return device;
    }
    QString m_roadPackage;

    QString roadPackage()
    {
        if (m_roadPackage.isEmpty())
            m_roadPackage = VHTestGalPackages::writeUpdate(m_root.filePath(QStringLiteral("road.zip")));
        return m_roadPackage;
    }

    QString restoreFolder()
    {
        const QString folder = m_root.filePath(QStringLiteral("restore"));
        return QFileInfo::exists(folder) ? folder : VHTestGalPackages::writeRestoreFolder(folder);
    }

    bool runRoad(Road road, VHGalDevice &device)
    {
        if (road == Road::Update)
            return update(device, roadPackage());
        return runAction(device, [&] { return device.restoreFactory(restoreFolder()); });
    }

    // A new method-2 device as its first pass (the volume table's) leaves it.
    GalPtr deviceInIapMode(Road road)
    {
        newSim();
        if (!m_sim->createGal(kDevice, galIdentity(2)) || !writeFile(m_sim->volumePath(kDevice) + "/update.ini", {}))
            return {};
        return strandedDevice(road);
    }

    // The next run brings a device left in IAP mode back.
    void recover(Road road)
    {
        QVERIFY(m_sim->setFaults(kDevice, VHSimFaults()));
        if (!m_sim->isPlugged(kDevice))
            QVERIFY(m_sim->plug(kDevice));
        GalPtr again = strandedDevice(road, false);
        QVERIFY(again && runRoad(road, *again));
    }

    // Flash flags the rows set beside the shared table's command rules, in its rule column.
    static constexpr int kNeverReady = -1;
    static constexpr int kEraseKeepsData = -2;

    void addScsiRow(Road road, int rule, int selector, int step, const QString &target, bool succeeds)
    {
        const QString name = rule == kNeverReady       ? QStringLiteral("never ready")
                             : rule == kEraseKeepsData ? QStringLiteral("erase keeps data")
                                                       : VHFaultRule{VHFaultRule::Kind(rule), selector}.name();
        QTest::addRow("%s | %s | step %d", road == Road::Update ? "method 2" : "restore", qPrintable(name), step)
            << int(road) << rule << selector << step << target << succeeds;
    }

    // Rows of the shared fault table at the steps `stepsOf` picks from the rule's count in the clean pass just
    // run; `target` is the command the clean pass had there (the first of those garbled for corrupted reads).
    void addScsiRows(Road road, const VHFaultRule &rule, const std::function<QList<int>(int)> &stepsOf,
                     const std::function<bool(int, int)> &succeeds)
    {
        const QStringList counted = VHTestFaultMatrix(*m_sim, kDevice).steps(rule);
        for (int step : stepsOf(int(counted.size())))
            addScsiRow(road, rule.kind, rule.selector, step,
                       counted.value(rule.kind == VHFaultRule::ScsiCorruptReads ? 0 : step - 1),
                       succeeds(step, int(counted.size())));
    }

    // ---- the fault table of the first passes on the volume -------------------------------

    std::unique_ptr<VHSimPlatform> m_hookedPlatform; // keeps the storage-fault hook of the root
    QHash<QString, int> m_cleanSteps;                // "<method> <rule>": steps of a clean run
    QHash<int, QByteArray> m_cleanImages;            // "/IMG.bin" of a clean method-1 run

    // A device whose volume operations are counted; its older boot loader makes "/iap.bin" written too.
    GalPtr hookedDevice(int method)
    {
        m_hookedPlatform.reset();
        newSim();
        if (!m_sim->createGal(kDevice, galIdentity(method, "R001", "deu")) || !m_sim->plug(kDevice))
            return {};
        m_hookedPlatform = std::make_unique<VHSimPlatform>(m_sim->root());
        return makeDevice();
    }

    int cleanSteps(int method, const VHFaultRule &rule)
    {
        const QString key = QStringLiteral("%1 %2").arg(method).arg(rule.name());
        if (!m_cleanSteps.contains(key)) {
            GalPtr device = hookedDevice(method);
            VHTestFaultMatrix matrix(*m_sim, kDevice);
            matrix.clearLogs();
            if (!device || !update(*device, roadPackage()))
                return 0;
            for (const VHFaultRule &each : VHFaultRule::volumeRules() + VHFaultRule::dataFolderRules())
                m_cleanSteps.insert(QStringLiteral("%1 %2").arg(method).arg(each.name()), matrix.countSteps(each));
            if (method == 1)
                m_cleanImages.insert(method, readFile(volume() + QStringLiteral("/IMG.bin")));
        }
        return m_cleanSteps.value(key);
    }

    // The firmware's next start installs the package; for method 2 after the flash in IAP mode.
    void verifyInstalls(int method, VHGalDevice &device)
    {
        if (method == 2) {
            QCOMPARE(device.state(), int(VHClient::STATE_UPDATING));
            QVERIFY(attachInIapMode(device));
            QVERIFY(update(device, roadPackage()));
        }
        QStringList installed;
        QVERIFY(m_sim->restart(kDevice, 0, &installed));
        QVERIFY2(installed.contains(QStringLiteral("OS=120")), qPrintable(installed.join(',')));
        QVERIFY2(installed.contains(QStringLiteral("BootLoader=R002")) || method == 2, qPrintable(installed.join(',')));
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
    // Nothing newer (an unchanged success), or a package refused: nothing is written, the device is not sent away.
    void refusedUpdateLeavesNothing_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("bootLoader");
        QTest::addColumn<int>("broken"); // -1: a sound package the device already runs, else the part broken
        QTest::addColumn<int>("code");
        const int nothing = VHGalDevice::NothingToDo;
        QTest::newRow("nothing to do: method 2, newer boot loader only") << 2 << "R001" << -1 << nothing;
        QTest::newRow("nothing to do: method 2, same boot loader") << 2 << "R002" << -1 << nothing;
        QTest::newRow("nothing to do: method 1, same boot loader") << 1 << "R002" << -1 << nothing;
        // Method 1 checks the whole package before "/iap.bin" (newer) goes first; no GAL image: refused by both.
        const int failed = VHGalDevice::Failed;
        QTest::newRow("parts exceed Size") << 1 << "R001" << 0 << failed;
        QTest::newRow("short fonts") << 1 << "R001" << 1 << failed;
        QTest::newRow("no header.bin") << 1 << "R001" << 2 << failed;
        QTest::newRow("no fonts") << 1 << "R001" << 3 << failed;
        QTest::newRow("no image: a language pack") << 1 << "R001" << 4 << failed;
        QTest::newRow("method 2, no image: a language pack") << 2 << "R001" << 4 << failed;
        // Method 2: a package that cannot be flashed never sends the device away.
        QTest::newRow("method 2, image larger than Size") << 2 << "" << 0 << failed;
        QTest::newRow("method 2, no header.bin") << 2 << "" << 2 << failed;
        QTest::newRow("method 2, no fonts") << 2 << "" << 3 << failed;
        QTest::newRow("method 2, overlapping areas") << 2 << "" << 5 << failed;
        QTest::newRow("method 2, unaligned address") << 2 << "" << 6 << failed;
        QTest::newRow("method 2, bad hex") << 2 << "" << 7 << failed;
        QTest::newRow("method 2, past the last block") << 2 << "" << 8 << failed;
        QTest::newRow("method 2, no IAP name") << 2 << "" << 9 << failed;
    }
    void refusedUpdateLeavesNothing()
    {
        QFETCH(int, method);
        QFETCH(QString, bootLoader);
        QFETCH(int, broken);
        QFETCH(int, code);
        VHDevSim::GalIdentity identity = galIdentity(method, bootLoader, broken < 0 ? QString() : "deu");
        if (broken == 9)
            identity.iapName.clear();
        if (broken < 0) {
            identity.os = QStringLiteral("120");
            identity.langVersion = QStringLiteral("L2");
        }
        makeSim(identity);
        const QString font = volume() + QStringLiteral("/Lang/") + VHDevSim::fontFileName(QStringLiteral("deu"));
        const QByteArray fontBefore = readFile(font);
        Package package;
        if (broken == 0)
            package.release.replace("Size=64", "Size=2");
        const QByteArray address[] = {"0x1F000", "0x40010", "0xZZ", "0x10000000"}; // for "0x40000"
        if (broken >= 5 && broken <= 8)
            package.release.replace("0x40000", address[broken - 5]);
        package.fontSize = broken == 1 ? 3 : package.fontSize;
        package.withHeader = broken != 2;
        if (broken == 3)
            package.fonts.clear();
        package.withImage = broken != 4;
        GalPtr device = makeDevice();
        int got = 0;
        // Nothing newer is a success that wrote nothing, with the reason in words.
        QCOMPARE(update(*device, makePackage(package), &got), code == VHGalDevice::NothingToDo);
        QCOMPARE(got, code == VHGalDevice::NothingToDo ? 0 : code);
        QCOMPARE(device->actionChanged(), code != VHGalDevice::NothingToDo);
        QVERIFY(!device->errorText().isEmpty());
        QCOMPARE(device->errorText().startsWith(QLatin1String("already up to date")), code == VHGalDevice::NothingToDo);
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        verifyNothingOfOursLeft();
        QCOMPARE(readFile(font), fontBefore);
        QVERIFY(m_sim->isPlugged(kDevice));
    }

    // Files an earlier, refused update left are not installed with the next one.
    void leftoversOfAnEarlierUpdateAreRemoved_data()
    {
        QTest::addColumn<bool>("nextRefused");
        QTest::newRow("next update refused") << true;
        QTest::newRow("next update installed") << false;
    }
    void leftoversOfAnEarlierUpdateAreRemoved()
    {
        QFETCH(bool, nextRefused);
        makeSim(); // boot loader R002, the package's
        QVERIFY(writeFile(volume() + QStringLiteral("/iap.bin"),
                          VHDevSim::makeImage(QStringLiteral("BootLoader"), "R009")));
        QVERIFY(writeFile(volume() + QStringLiteral("/IMG.bin"), VHDevSim::makeImage(QStringLiteral("OS"), "999")));
        GalPtr device = makeDevice();
        Package package;
        package.fontSize = nextRefused ? 3 : package.fontSize;
        QCOMPARE(update(*device, makePackage(package)), !nextRefused);
        QVERIFY(!onVolume(QStringLiteral("iap.bin")));
        QStringList installed;
        QVERIFY(m_sim->restart(kDevice, 0, &installed));
        QVERIFY2(!installed.contains(QStringLiteral("BootLoader=R009")), qPrintable(installed.join(',')));
        QVERIFY2(!installed.contains(QStringLiteral("OS=999")), qPrintable(installed.join(',')));
    }

    // A later run flashes with the first pass's choice (language, carried profile); LANG given wins; else English.
    // A path-like LANG (font empty) is refused before any write.
    void secondPassCarriesTheFirstPassChoice_data()
    {
        QTest::addColumn<bool>("remembered");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("font");
        QTest::newRow("remembered") << true << QString() << QStringLiteral("deu");
        QTest::newRow("remembered, LANG given") << true << QStringLiteral("fra") << QStringLiteral("fra");
        QTest::newRow("nothing remembered, LANG given") << false << QStringLiteral("fra") << QStringLiteral("fra");
        QTest::newRow("nothing remembered") << false << QString() << QStringLiteral("eng");
        QTest::newRow("bad LANG") << true << QStringLiteral("../../etc") << QString();
    }
    void secondPassCarriesTheFirstPassChoice()
    {
        QFETCH(bool, remembered);
        QFETCH(QString, given);
        QFETCH(QString, font);
        const VHDevSim::GalIdentity identity = galIdentity(2, QString(), "deu");
        makeSim(identity);
        Package package;
        package.profileMajor = 2;
        package.fonts = {QStringLiteral("eng"), QStringLiteral("deu"), QStringLiteral("fra")};
        const QString zip = makePackage(package);
        GalPtr first = makeDevice();
        QVERIFY(update(*first, zip));
        QVERIFY(onVolume(QStringLiteral("syncprofile.ini")));
        const QString record = testDataFolder(m_root.path() + QStringLiteral("/xdg")) + QStringLiteral("/pending/gal-")
                               + identity.uuid + QStringLiteral(".ini");
        QVERIFY(QFileInfo::exists(record));
        if (!remembered)
            QVERIFY(QFile::remove(record));
        first.reset();
        GalPtr stranded = strandedDevice(Road::Update);
        QVERIFY(stranded);
        QCOMPARE(update(*stranded, zip, nullptr, given), !font.isEmpty());
        if (font.isEmpty()) { // refused: the choice stays for the next run, which later tests must not see
            QVERIFY(m_sim->commandLog(kDevice).filter(QStringLiteral("WRITE")).isEmpty());
            QVERIFY(QFile::remove(record));
            return;
        }
        QVERIFY(!QFileInfo::exists(record)); // flashed: nothing left to carry
        // The image from 0x10000: 4096 bytes of padded image, 100 of header, then the device's font.
        const QByteArray fontBytes = VHDevSim::makeFont(font, 2, package.fontSize);
        QCOMPARE(m_sim->flash(kDevice, VHDevSim::Flash::External).mid(0x10000 + 4196, fontBytes.size()), fontBytes);
        // The profile goes after the 64 KiB image only when carried.
        QCOMPARE(m_sim->commandLog(kDevice).filter(QStringLiteral("sel=15 block=32 ")).size(), remembered ? 1 : 0);
    }

    // SCSI faults in the second passes (update, factory restore) at the ends, middles and points of no return:
    // a success starts with the package's software; a failure leaves a device the next run brings back.
    void scsiFaults_data()
    {
        QTest::addColumn<int>("road");
        QTest::addColumn<int>("rule"); // a VHFaultRule::Kind, or kNeverReady, kEraseKeepsData
        QTest::addColumn<int>("selector");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("target"); // the command the step hits in a clean pass
        QTest::addColumn<bool>("succeeds");
        const auto never = [](int, int) { return false; };
        const auto ends = [](int count) { return QList<int>{1, count}; };
        for (Road road : {Road::Update, Road::Restore}) {
            const bool restore = road == Road::Restore;
            GalPtr clean = deviceInIapMode(road);
            QVERIFY(clean && runRoad(road, *clean));
            const VHFaultRule vanish{VHFaultRule::ScsiVanishAfter};
            const QStringList commands = VHTestFaultMatrix(*m_sim, kDevice).steps(vanish);
            const int erase = int(commands.indexOf(QRegularExpression(QStringLiteral(".* sel=24 .*")))) + 1;
            // Pulled after the notification, its last command: the device has all it needs.
            addScsiRows(
                road, vanish, [erase](int count) { return VHTestFaultMatrix::pickSteps(count, {erase}); },
                [](int step, int count) { return step == count; });
            // Every step of the first area written, the ends of the others.
            addScsiRows(
                road, {VHFaultRule::ScsiFailCommand, restore ? 12 : 15},
                [](int count) { return VHTestFaultMatrix::pickSteps(count); }, never);
            for (int selector : restore ? QList<int>{13, 24, 15, 16} : QList<int>{24, 16})
                addScsiRows(road, {VHFaultRule::ScsiFailCommand, selector}, ends, never);
            addScsiRows(
                road, {VHFaultRule::ScsiFailCommand, 26}, [](int count) { return QList<int>{count}; }, never);
            // A garbled read is read again; garbled every time, the update's flash counts as wrong.
            addScsiRows(road, {VHFaultRule::ScsiCorruptReads, 16}, ends,
                        [restore](int step, int) { return step == 1 || restore; });
            addScsiRow(road, kNeverReady, -1, 0, QString(), true);
            // NOR flash: a write over bytes the erase kept gives wrong bytes, which the read-back finds.
            addScsiRow(road, kEraseKeepsData, -1, 0, QString(), false);
        }
    }
    void scsiFaults()
    {
        QFETCH(int, road);
        QFETCH(int, rule);
        QFETCH(int, selector);
        QFETCH(int, step);
        QFETCH(QString, target);
        QFETCH(bool, succeeds);
        const Road which = Road(road);
        GalPtr device = deviceInIapMode(which);
        QVERIFY(device);
        if (rule == kEraseKeepsData) { // old data where the erase should have left 0xFF
            const qsizetype size = m_sim->flash(kDevice, VHDevSim::Flash::External).size();
            QVERIFY(m_sim->setFlash(kDevice, VHDevSim::Flash::External, QByteArray(size, char(0x5A))));
        }
        if (rule >= 0)
            QVERIFY(VHTestFaultMatrix(*m_sim, kDevice).setRule({VHFaultRule::Kind(rule), selector}, step));
        else
            QVERIFY(m_sim->setFaults(
                kDevice, {.flashNeverReady = rule == kNeverReady, .eraseKeepsData = rule == kEraseKeepsData}));
        const bool ok = runRoad(which, *device);
        const QStringList log = m_sim->commandLog(kDevice);
        if (!target.isEmpty()) {
            // The rule hit the command the row names.
            const qsizetype hit = log.indexOf(QRegularExpression(QStringLiteral(".*(fault=|VANISHED).*")));
            const qsizetype at = rule == VHFaultRule::ScsiVanishAfter ? hit - 1 : hit;
            QVERIFY2(at >= 0 && log.at(at).section(QLatin1Char(' '), 0, 2) == target.section(QLatin1Char(' '), 0, 2),
                     qPrintable(target + QStringLiteral(" | ") + log.value(at)));
        }
        QCOMPARE(ok, succeeds);
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        device.reset();
        if (!ok)
            recover(which);
        if (which == Road::Restore)
            QCOMPARE(m_sim->flash(kDevice, VHDevSim::Flash::Internal).left(5000), QByteArray(5000, 'f'));
        QStringList installed;
        QVERIFY(m_sim->restart(kDevice, 0, &installed));
        const QString version = which == Road::Update ? QStringLiteral("OS=120") : QStringLiteral("OS=100");
        QVERIFY2(installed.contains(version), qPrintable(installed.join(',')));
    }

    // Volume faults in the first passes: done installs; failed leaves no instruction beside incomplete files,
    // nothing of ours where the volume is still there, and the next run installs.
    void volumeFaults_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("rule");
        QTest::addColumn<int>("step");
        for (int method : {1, 2}) {
            // Method 2 also keeps its choice in the data folder before the instruction.
            const QList<VHFaultRule> rules =
                VHFaultRule::volumeRules() + (method == 2 ? VHFaultRule::dataFolderRules() : QList<VHFaultRule>());
            for (const VHFaultRule &rule : rules) {
                const int count = cleanSteps(method, rule);
                if (count <= 0)
                    qWarning("a clean run of method %d counts no step of %s", method, qPrintable(rule.name()));
                for (int at : VHTestFaultMatrix::pickSteps(count)) {
                    QTest::newRow(qPrintable(
                        QStringLiteral("method %1 | %2 | %3 of %4").arg(method).arg(rule.name()).arg(at).arg(count)))
                        << method << int(rule.kind) << at;
                }
            }
        }
    }
    void volumeFaults()
    {
        QFETCH(int, method);
        QFETCH(int, rule);
        QFETCH(int, step);
        const VHFaultRule fault{VHFaultRule::Kind(rule)};
        const QByteArray row = VHTestFaultMatrix::describe(QStringLiteral("GAL method %1").arg(method), fault, step);
        GalPtr device = hookedDevice(method);
        QVERIFY(device);
        VHTestFaultMatrix matrix(*m_sim, kDevice);
        QVERIFY(matrix.setRule(fault, step));
        int code = 0;
        const bool ok = update(*device, roadPackage(), &code);
        QVERIFY(matrix.clearRules());
        qInfo("%s | %s", row.constData(), ok ? "done" : qPrintable(QStringLiteral("failed %1").arg(code)));
        if (ok) {
            verifyInstalls(method, *device);
            return;
        }
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        if (!m_sim->isPlugged(kDevice))
            QVERIFY(m_sim->plug(kDevice));
        // An instruction only beside complete files; nothing of ours when the cleanup could run.
        const QString record = VHGalPending::ofDataFolder().filePathFor(VHDevSim::GalIdentity().uuid);
        if (onVolume(QStringLiteral("update.ini")) && method == 1)
            QVERIFY2(readFile(volume() + QStringLiteral("/IMG.bin")) == m_cleanImages.value(1), row);
        else if (onVolume(QStringLiteral("update.ini"))) // pulled after it: recover has what it needs
            QVERIFY2(fault.kind == VHFaultRule::VolumeVanishAt && QFileInfo::exists(record), row);
        else if (fault.kind != VHFaultRule::VolumeVanishAt) {
            verifyNothingOfOursLeft(row);
            QVERIFY2(!QFileInfo::exists(record), row);
        }
        device.reset();
        GalPtr next = makeDevice();
        QVERIFY2(update(*next, roadPackage()), row);
        verifyInstalls(method, *next);
    }

    // The model and a restore's folder come back whole from the record, whatever they hold; a record
    // without them (an older run's) still reads.
    void pendingRecordKeepsNamesWhole_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("folder");
        QTest::newRow("update") << "Pacer21"
                                << "";
        QTest::newRow("restore") << "Pacer20plus"
                                 << "/home/u/restore folder";
        QTest::newRow("line breaks and keys") << "Pacer21\nlanguage=xxx"
                                              << "/tmp/a\n[GalPending]\nprofile=AA";
        QTest::newRow("not Latin") << "Pacer21" << QStringLiteral("/home/j\u00fcrgen/\u9084\u539f");
        QTest::newRow("older record") << ""
                                      << "";
    }
    void pendingRecordKeepsNamesWhole()
    {
        QFETCH(QString, model);
        QFETCH(QString, folder);
        const VHGalPending pending(m_root.path() + QStringLiteral("/records"));
        const QString uuid = QStringLiteral("1207A1B2C3D4E5F6");
        VHGalPending::Record record;
        record.language = QStringLiteral("deu");
        record.model = model;
        record.restoreFolder = folder;
        QVERIFY(pending.store(uuid, record));
        VHGalPending::Record back;
        QVERIFY(pending.load(uuid, back));
        QCOMPARE(back.language, QStringLiteral("deu"));
        QCOMPARE(back.model, model);
        QCOMPARE(back.restoreFolder, folder);
        QVERIFY(!back.profile);
    }

    // Method 1 needs room for everything it writes; short of it nothing is written (code 3).
    void methodOneChecksFreeSpace_data()
    {
        QTest::addColumn<qint64>("free");
        QTest::addColumn<bool>("fits");
        QTest::newRow("short") << qint64(60 * 1024) << false;
        QTest::newRow("enough") << qint64(1024 * 1024) << true;
    }
    void methodOneChecksFreeSpace()
    {
        QFETCH(qint64, free);
        QFETCH(bool, fits);
        VHDevSim::DriveOptions drive;
        drive.freeBytes = free;
        newSim();
        QVERIFY(m_sim->createGal(kDevice, galIdentity(1, "R001"), drive));
        QVERIFY(m_sim->plug(kDevice));
        VHDaemon::instance()->platform()->setBackend(std::make_unique<VHSimPlatform>(m_sim->root()));
        GalPtr device = makeDevice();
        int code = 0;
        QCOMPARE(update(*device, makePackage(Package()), &code), fits);
        QCOMPARE(code, fits ? int(VHGalDevice::NoError) : int(VHGalDevice::NoSpace));
        if (!fits)
            verifyNothingOfOursLeft();
    }
};

QTEST_GUILESS_MAIN(TestVHGalDevice)
#include "tst_VHGalDevice.moc"
