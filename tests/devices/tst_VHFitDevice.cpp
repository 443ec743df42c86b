#include "VHDaemon.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceRegistry.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHFitDevice.h"
#include "VHFitPackageBuilder.h"
#include "VHPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"
#include "VHVolumeSync.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <sys/stat.h>

namespace {

using FitPtr = std::unique_ptr<VHFitDevice, VHClientDeleter>;

struct Image
{
    QString kind, name, version;
    int size;
};

} // namespace

class TestVHFitDevice : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    FakePlatform::Script m_script;
    QString m_volume;
    int m_packages = 0;

    void makeVolume(const QString &model = QStringLiteral("Pacer60F"), const QByteArray &extra = {})
    {
        m_volume = m_root.path() + QStringLiteral("/vol%1").arg(++m_packages);
        writeFile(m_volume + QStringLiteral("/System/device.txt"),
                  "[UUID]\nUUID=0F01AAAABBBBCCCC\n[MODEL]\nModel=" + model.toUtf8()
                      + "\n[OS]\nVersion=9\n[BootLoader]\nVersion=B123\n[DeviceLang]\nVersion=DL20230101\n"
                        "[NotificationLang]\nVersion=NL0042\n[TimeZone]\nVersion=TZ2024\n[Bluetooth]\nVersion=BT77\n"
                        "[CAP]\nCOM=0,1,2\n"
                      + extra);
    }

    // `scanText`: the identity text as the drive scan read it, when it read other bytes than the file holds.
    FitPtr makeDevice(const QString &model = QStringLiteral("Pacer60F"), const QByteArray &scanText = {})
    {
        FitPtr device(new VHFitDevice);
        VHModelInfo row{QStringLiteral("0F01"), model, QStringLiteral("VELORA"), nullptr};
        device->setDeviceService(
            new VHFSDeviceService(m_volume, row, m_volume + QStringLiteral("/System/device.txt"), scanText));
        return device;
    }

    // An archive of the entries, in their order.
    QString archive(const QList<VHFitPackageBuilder::Entry> &entries)
    {
        const QString zip = m_root.path() + QStringLiteral("/pkg%1.zip").arg(++m_packages);
        if (!VHFitPackageBuilder::writeArchive(zip, entries, true))
            qWarning("can not pack %s", qPrintable(zip));
        return zip;
    }

    static QByteArray workouts()
    {
        VHFitPackageBuilder::Options options;
        options.workouts = {{"Velorawrk", "Tempo.wkt", 0, "tempo"}, {"Test", "Ramp.wkt", 0, "ramp"}};
        return VHFitPackageBuilder::workoutZip(options);
    }

    QString makePackage(const QList<Image> &images, bool withRelease = true, bool withWorkouts = false)
    {
        QList<VHFitPackageBuilder::Entry> entries;
        QByteArray release = "[MODEL]\nName=Pacer60F\n";
        for (qsizetype i = 0; i < images.size(); ++i) {
            const Image &image = images.at(i);
            release += "[" + image.kind.toUtf8() + "]\nName=" + image.name.toUtf8()
                       + "\nVersion=" + image.version.toUtf8() + "\n";
            entries.append({image.name, QByteArray(image.size, char('A' + i % 26))});
        }
        if (withRelease)
            entries.append({QStringLiteral("release.ini"), release});
        if (withWorkouts)
            entries.append({QStringLiteral("workout.zip"), workouts()});
        return archive(entries);
    }

    QStringList volumeRootFiles() const { return QDir(m_volume).entryList(QDir::Files, QDir::Name); }

    // Runs the action: "ok" or "failed", then the device's code.
    static QString outcome(VHFitDevice &device, const std::function<bool()> &start)
    {
        int code = -1;
        const bool ok = runAction(device, start, &code);
        return QStringLiteral("%1 %2").arg(ok ? "ok" : "failed").arg(code);
    }
    static QString update(VHFitDevice &device, const QString &package)
    {
        return outcome(device, [&] { return device.updateTotal(package, QString()); });
    }
    // The starter's first text is the package, its last the mode ("0" checks, "1" installs).
    static QString workouts(VHFitDevice &device, const QString &package, const char *mode)
    {
        return outcome(device, [&] { return device.updateComponent(package, "", "", mode); });
    }

private slots:
    void builtInRowsOfRegisteredFamiliesOnly()
    {
        VHDeviceRegistry registry;
        QVERIFY(VHDeviceFamilies::builtInModels(registry).isEmpty());
        registry.setFactory(QStringLiteral("pacer50cr"), &vhCreateDevice<VHFitDevice>);
        registry.setFactory(QStringLiteral("gal"), &vhCreateDevice<VHFitDevice>);
        QStringList rows;
        for (const VHModelInfo &row : VHDeviceFamilies::builtInModels(registry))
            rows << row.code + QLatin1Char(' ') + row.modelName;
        // Table order, whatever the order of registration.
        QCOMPARE(rows, (QStringList{"1207 Pacer21", "1206 Pacer20plus", "1104 Pacer50CR", "0901 Pacer50"}));
        QCOMPARE(VHDeviceFamilies::builtInModels(registry).at(2).identification,
                 QStringLiteral("Velora:pacer:Pacer:ALDER Device:ALDER MS:ALDER"));

        // This build: every family has its class; FIT serves only the drive scan's rows.
        VHDeviceFamilies::registerAll();
        QVERIFY(VHDeviceRegistry::instance().factory(VHDeviceRegistry::kFitRole));
        QVERIFY(VHDeviceRegistry::instance().factory(VHDeviceRegistry::kGalRole));
        QVERIFY(VHDeviceRegistry::instance().factory(VHDeviceRegistry::kPacer60Role));
        rows.clear();
        for (const VHModelInfo &row : VHDeviceRegistry::instance().builtInModels())
            rows << row.code + QLatin1Char(' ') + row.modelName;
        QCOMPARE(rows,
                 (QStringList{"1207 Pacer21", "1206 Pacer20plus", "1102 Pacer20", "1105 Pacer40", "1104 Pacer50CR",
                              "0901 Pacer50", "1103 Pulsar35", "1004 Pulsar30", "1003 Pacer35", "1101 Pacer35"}));
    }

    void initTestCase()
    {
        initTestEnv(m_root.path());
        VHDaemon::instance()->platform()->setBackend(std::make_unique<FakePlatform>(&m_script));
    }
    void init()
    {
        m_script = FakePlatform::Script();
        m_script.spaceKnown = true;
        m_script.totalSpace = 1 << 30;
        m_script.freeSpace = 1 << 30;
        makeVolume();
    }

    void readsTheDeviceInformation()
    {
        FitPtr device = makeDevice();
        QString text;
        QVERIFY(device->getUUID(text));
        QCOMPARE(text, QStringLiteral("0F01AAAABBBBCCCC"));
        QVERIFY(device->getImageVersion(text));
        QCOMPARE(text, QStringLiteral("9"));
        QVERIFY(device->getIAPVersion(text));
        QCOMPARE(text, QStringLiteral("B123"));
        QVERIFY(device->getVersion(text));
        QCOMPARE(text, QStringLiteral("9.123.0101.77.024.042"));
        QCOMPARE(device->getCapability(), QStringLiteral("0,1,2"));
        QCOMPARE(device->deviceKind(), 0);
        QVERIFY(device->getModelName(text));
        QCOMPARE(text, QStringLiteral("Pacer60F"));
    }

    void productTypeAndMissingVersions()
    {
        makeVolume(QStringLiteral("Pacer60F"), "[Product]\nType=Bike\n");
        QCOMPARE(makeDevice()->deviceKind(), 1);
        makeVolume(QStringLiteral("Pacer60F"), "[Product]\nType=Watch\n");
        QCOMPARE(makeDevice()->deviceKind(), 0);
        writeFile(m_volume + QStringLiteral("/System/device.txt"), "[UUID]\nUUID=1\n[CAP]\nCOM=\n");
        FitPtr bare = makeDevice(QStringLiteral("Pacer50"));
        QString text;
        QVERIFY(!bare->getVersion(text));
        QVERIFY(!bare->getIAPVersion(text));
        QCOMPARE(bare->getCapability(), QStringLiteral("0,101,102,1001,1002,1003,1004")); // the library's row
    }

    void copiesOnlyNewerImagesInNaturalOrder()
    {
        FitPtr device = makeDevice();
        const QString package = makePackage({{"OS", "os.bin", "10", 3000},            // 9 -> 10 is newer
                                             {"BootLoader", "boot.bin", "B123", 100}, // equal: kept
                                             {"DeviceLang", "lang.bin", "DL20221231", 50},
                                             {"GPS", "gps.bin", "1", 70}}); // unknown kind: always new
        QCOMPARE(update(*device, package), QStringLiteral("ok 0"));
        QCOMPARE(volumeRootFiles(), (QStringList{"gps.bin", "os.bin", "update.ini"}));
        QCOMPARE(readFile(m_volume + QStringLiteral("/os.bin")).size(), 3000);
        QCOMPARE(readFile(m_volume + QStringLiteral("/update.ini")), QByteArray());
    }

    void equalVersionsCopyNothing()
    {
        FitPtr device = makeDevice();
        const QString package = makePackage({{"OS", "os.bin", "9", 10}, {"BootLoader", "boot.bin", "B123", 10}});
        QVERIFY(update(*device, package).startsWith("ok"));
        QVERIFY(volumeRootFiles().isEmpty());
        // Nothing newer is an unchanged success that says so.
        QVERIFY(!device->actionChanged());
        QVERIFY2(device->errorText().startsWith(QLatin1String("already up to date")), qPrintable(device->errorText()));
    }

    void notEnoughSpaceGivesCodeThreeAndWritesNothing()
    {
        FitPtr device = makeDevice();
        m_script.freeSpace = 1000;
        const QString package = makePackage({{"OS", "os.bin", "10", 600}, {"Bluetooth", "bt.bin", "BT78", 600}});
        QCOMPARE(update(*device, package), QStringLiteral("failed 3"));
        QVERIFY(volumeRootFiles().isEmpty());
        m_script.freeSpace = 1200; // exactly enough is enough
        QVERIFY(update(*device, package).startsWith("ok"));
    }

    void anUnknownFreeSpaceIsNoShortage()
    {
        FitPtr device = makeDevice();
        m_script.spaceKnown = false;
        m_script.freeSpace = 0;
        const QString package = makePackage({{"OS", "os.bin", "10", 10}});
        const qsizetype logged = readTestLog().size();
        QCOMPARE(update(*device, package),
                 QStringLiteral("failed 4")); // the general failure text, not "the device is full"
        QVERIFY(volumeRootFiles().isEmpty());
        // The action logs its reason once, at its end.
        const QString log = readTestLog().mid(logged);
        QCOMPARE(log.count(QStringLiteral("[Critical]")), 1);
        QVERIFY(log.contains(QStringLiteral("can not get the free space of ") + m_volume));
        // Nothing to copy needs no free space.
        QVERIFY(update(*device, makePackage({{"OS", "os.bin", "9", 10}})).startsWith("ok"));
    }

    // Each fails and writes nothing.
    void badPackagesAndModelNames()
    {
        FitPtr device = makeDevice();
        // A truncated package: its central directory is gone.
        const QString good = makePackage({{"OS", "os.bin", "10", 20000}});
        writeFile(good + QStringLiteral(".cut.zip"), readFile(good).left(readFile(good).size() / 2));
        QVERIFY(update(*device, good + QStringLiteral(".cut.zip")).startsWith("failed"));
        // An image name that would leave the volume root.
        const QString escaping = archive(
            {{"release.ini", "[OS]\nName=../outside.bin\nVersion=10\n"}, {"os.bin", "os"}, {"outside.bin", "x"}});
        QCOMPARE(update(*device, escaping), QStringLiteral("failed 4"));
        QVERIFY(!QFileInfo::exists(m_root.path() + QStringLiteral("/outside.bin")));
        // A model name that is a path names no folder.
        const QString victim = VHEnv::instance()->dataFolder() + QStringLiteral("/keep.txt");
        writeFile(victim, "keep");
        for (const QString &model : {QStringLiteral("../../x"), QStringLiteral("..")})
            QVERIFY2(update(*makeDevice(model), makePackage({{"OS", "os.bin", "10", 10}})).startsWith("failed"),
                     qPrintable(model));
        QVERIFY(QFileInfo::exists(victim));
        QVERIFY(volumeRootFiles().isEmpty());
    }

    void aFailedCopyGivesCodeFour()
    {
        FitPtr device = makeDevice();
        // Something in the way of the image, as when the volume goes away mid-copy.
        writeFile(m_volume + QStringLiteral("/os.bin/inside/f"), "x");
        QCOMPARE(update(*device, makePackage({{"OS", "os.bin", "10", 10}})), QStringLiteral("failed 4"));
        QVERIFY(!QFileInfo::exists(m_volume + QStringLiteral("/update.ini")));
    }

    // The device runs OS 9 and Bluetooth BT77; the package brings an older OS
    // and a newer Bluetooth. A version that could not be read never lets the
    // older OS in.
    void unreadableVersionsNeverLetAnOlderImageIn_data()
    {
        QTest::addColumn<QByteArray>("scanText"); // empty: the scan read the file as it is
        QTest::addColumn<QByteArray>("osLine");   // the file's [OS] Version line
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QStringList>("files");
        const QByteArray clean = "[UUID]\nUUID=0F01AAAABBBBCCCC\n[OS]\nVersion=9\n[Bluetooth]\nVersion=BT77\n";
        QByteArray groupHit = clean; // one byte of "[OS]" inverted on its way
        groupHit[groupHit.indexOf("[OS]") + 1] = char(~'O');
        QByteArray valueHit = clean;
        valueHit[valueHit.indexOf("=9") + 1] = char(~'9');
        const QStringList bluetoothOnly{"bt.bin", "update.ini"};
        QTest::newRow("scan read lost the OS group") << groupHit << QByteArray("9") << "ok 0" << bluetoothOnly;
        QTest::newRow("scan read damaged the OS value") << valueHit << QByteArray("9") << "ok 0" << bluetoothOnly;
        QTest::newRow("file holds a replacement char")
            << QByteArray() << QByteArray("\xef\xbf\xbd") << "failed 4" << bluetoothOnly;
        QTest::newRow("file holds a broken byte") << QByteArray() << QByteArray("\xc6") << "failed 4" << bluetoothOnly;
        QTest::newRow("file holds a control char") << QByteArray()
                                                   << QByteArray("\x01"
                                                                 "9")
                                                   << "failed 4" << bluetoothOnly;
    }
    void unreadableVersionsNeverLetAnOlderImageIn()
    {
        QFETCH(QByteArray, scanText);
        QFETCH(QByteArray, osLine);
        QFETCH(QString, outcome);
        QFETCH(QStringList, files);
        writeFile(m_volume + QStringLiteral("/System/device.txt"),
                  "[UUID]\nUUID=0F01AAAABBBBCCCC\n[OS]\nVersion=" + osLine + "\n[Bluetooth]\nVersion=BT77\n");
        FitPtr device = makeDevice(QStringLiteral("Pacer60F"), scanText);
        const QString package = makePackage({{"OS", "os.bin", "8", 10}, {"Bluetooth", "bt.bin", "BT78", 10}});
        QCOMPARE(update(*device, package), outcome);
        QCOMPARE(volumeRootFiles(), files);
    }

    void workoutsAreCheckedThenInstalled()
    {
        FitPtr device = makeDevice();
        const QString with = makePackage({{"OS", "os.bin", "9", 10}}, true, true);
        const QString without = makePackage({{"OS", "os.bin", "9", 10}});
        QVERIFY(workouts(*device, with, "0").startsWith("ok"));
        QVERIFY(!QFileInfo::exists(m_volume + QStringLiteral("/System/Velorawrk")));
        QCOMPARE(workouts(*device, without, "0"), QStringLiteral("failed 5"));

        // The device already has the folder in another spelling: it is used, as on FAT.
        QDir().mkpath(m_volume + QStringLiteral("/System/VeloraWrk"));
        QVERIFY(workouts(*device, with, "1").startsWith("ok"));
        QCOMPARE(readFile(m_volume + QStringLiteral("/System/VeloraWrk/Tempo.wkt")), QByteArray("tempo"));
        QCOMPARE(readFile(m_volume + QStringLiteral("/System/Test/Ramp.wkt")), QByteArray("ramp"));
        QVERIFY(!QFileInfo::exists(m_volume + QStringLiteral("/System/Velorawrk")));
        QCOMPARE(workouts(*device, without, "1"), QStringLiteral("failed 5"));
    }

    void assistDataWithItsStamp()
    {
        FitPtr device = makeDevice();
        const QString updates = VHEnv::instance()->dataFolder() + QStringLiteral("/updates/Pacer60F");
        writeFile(updates + QStringLiteral("/AssitOff.alp"), QByteArray(5000, 'g'));
        QCOMPARE(device->getAlpDate(), 0);
        const int stamp = 1773878400;
        QVERIFY(runAction(*device, [&] { return device->updateAlp(QStringLiteral("AssitOff.alp"), stamp); }));
        QCOMPARE(readFile(m_volume + QStringLiteral("/System/AssitOff.alp")).size(), 5000);
        QCOMPARE(readFile(m_volume + QStringLiteral("/System/date.txt")), QByteArray::fromHex("69bb3c80"));
        QCOMPARE(device->getAlpDate(), stamp);
        // A fresh object reads the stamp back from the device.
        QCOMPARE(makeDevice()->getAlpDate(), stamp);
        // A missing source fails and leaves no stamp behind.
        QVERIFY(!runAction(*device, [&] { return device->updateAlp(QStringLiteral("Other.alp"), stamp); }));
        QVERIFY(!QFileInfo::exists(m_volume + QStringLiteral("/System/date.txt")));
    }

    void stampFilesOfOtherSizesAreIgnored()
    {
        writeFile(m_volume + QStringLiteral("/System/AssitOff.alp"), "alp");
        for (const QByteArray &bytes : {QByteArray("abc"), QByteArray("abcde")}) {
            writeFile(m_volume + QStringLiteral("/System/date.txt"), bytes);
            QCOMPARE(makeDevice()->getAlpDate(), 0);
        }
        writeFile(m_volume + QStringLiteral("/System/date.txt"), QByteArray::fromHex("00000010"));
        QCOMPARE(makeDevice()->getAlpDate(), 16);
        QFile::remove(m_volume + QStringLiteral("/System/AssitOff.alp"));
        QCOMPARE(makeDevice()->getAlpDate(), 0);
    }

    void volumeLinksAreReplacedNeverFollowed_data()
    {
        QTest::addColumn<QString>("linkAt");
        QTest::addColumn<bool>("toFolder");
        QTest::newRow("update.ini") << "update.ini" << false;
        QTest::newRow("Update.INI") << "Update.INI" << false;
        QTest::newRow("image") << "os.bin" << false;
        QTest::newRow("assist file") << "System/AssitOff.alp" << false;
        QTest::newRow("stamp") << "System/date.txt" << false;
        QTest::newRow("workout folder") << "System/Velorawrk" << true;
        QTest::newRow("System") << "System" << true;
    }
    void volumeLinksAreReplacedNeverFollowed()
    {
        QFETCH(QString, linkAt);
        QFETCH(bool, toFolder);
        const QString home = m_root.path() + QStringLiteral("/home%1").arg(++m_packages);
        writeFile(home + QStringLiteral("/notes.txt"), "the user's notes");
        writeFile(home + QStringLiteral("/Velorawrk/Tempo.wkt"), "mine");
        writeFile(home + QStringLiteral("/device.txt"), readFile(m_volume + QStringLiteral("/System/device.txt")));
        FitPtr device = makeDevice();
        QString uuid;
        QVERIFY(device->getUUID(uuid)); // the device information is read before the link appears
        const QString at = m_volume + QLatin1Char('/') + linkAt;
        if (linkAt == QLatin1String("System"))
            QDir(at).removeRecursively();
        QVERIFY(QFile::link(toFolder ? home : home + QStringLiteral("/notes.txt"), at));
        const QStringList before = snapshot(home);

        const QString package = makePackage({{"OS", "os.bin", "10", 3000}}, true, true);
        const QString updates = VHEnv::instance()->dataFolder() + QStringLiteral("/updates/Pacer60F");
        writeFile(updates + QStringLiteral("/AssitOff.alp"), QByteArray(500, 'g'));
        update(*device, package);
        runAction(*device, [&] { return device->updateAlp(QStringLiteral("AssitOff.alp"), 77); });
        workouts(*device, package, "1");
        makeDevice()->getAlpDate();

        QCOMPARE(snapshot(home), before);
        QCOMPARE(readFile(home + QStringLiteral("/notes.txt")), QByteArray("the user's notes"));
        QCOMPARE(readFile(home + QStringLiteral("/Velorawrk/Tempo.wkt")), QByteArray("mine"));
        QVERIFY(!QFileInfo::exists(home + QStringLiteral("/Test")));
        if (!toFolder) // a file's link is replaced by the file
            QVERIFY(!QFileInfo(at).isSymLink());
    }

    void aStaleUpdateIniGoesBeforeTheFirstImage()
    {
        // An earlier update copied images and its instruction file, and was never installed.
        writeFile(m_volume + QStringLiteral("/Update.INI"), QByteArray());
        writeFile(m_volume + QStringLiteral("/old.bin"), "old image");
        FitPtr device = makeDevice();
        // This one stops half way: something is in the way of its second image.
        writeFile(m_volume + QStringLiteral("/bt.bin/inside/f"), "x");
        const QString package = makePackage({{"OS", "os.bin", "10", 100}, {"Bluetooth", "bt.bin", "BT78", 100}});
        QCOMPARE(update(*device, package), QStringLiteral("failed 4"));
        QCOMPARE(volumeRootFiles(), QStringList({"old.bin", "os.bin"}));
    }

    void leftoversOfAnInterruptedCopyGoAtTheNextWrite()
    {
        writeFile(m_volume + QStringLiteral("/.vhtmp-123-4"), QByteArray(1000, 'h'));
        writeFile(m_volume + QStringLiteral("/System/.vhtmp-123-5"), QByteArray(1000, 'h'));
        writeFile(m_volume + QStringLiteral("/.vhtmp-user"), "not ours");
        FitPtr device = makeDevice();
        const QString updates = VHEnv::instance()->dataFolder() + QStringLiteral("/updates/Pacer60F");
        writeFile(updates + QStringLiteral("/AssitOff.alp"), QByteArray(50, 'g'));
        QVERIFY(runAction(*device, [&] { return device->updateAlp(QStringLiteral("AssitOff.alp"), 5); }));
        QCOMPARE(QDir(m_volume).entryList(QDir::Files | QDir::Hidden), QStringList({".vhtmp-user"}));
        QCOMPARE(QDir(m_volume + QStringLiteral("/System")).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"AssitOff.alp", "date.txt", "device.txt"}));
    }

    void packageNamesInAnySpelling()
    {
        FitPtr device = makeDevice();
        const QString package =
            archive({{"Release.ini", "[TimeZone]\nName=tz.bin\nVersion=TZ2025\n[MODEL]\nName=x\n[OS]\nName=os.bin\n"
                                     "Version=10\n[Bluetooth]\nName=bt.bin\nVersion=BT78\n"},
                     {"TZ.BIN", "tz"},
                     {"os.bin", "os"},
                     {"Bt.Bin", "bt"},
                     {"Workout.zip", workouts()}});
        QVERIFY(update(*device, package).startsWith("ok"));
        QCOMPARE(volumeRootFiles(), QStringList({"bt.bin", "os.bin", "tz.bin", "update.ini"}));
        QVERIFY(workouts(*device, package, "0").startsWith("ok"));
        QVERIFY(workouts(*device, package, "1").startsWith("ok"));
        QCOMPARE(readFile(m_volume + QStringLiteral("/System/Velorawrk/Tempo.wkt")), QByteArray("tempo"));

        // "./workout.zip" is the workouts for the check as for the install.
        const QString dotted = archive({{"./workout.zip", workouts()}});
        QVERIFY(workouts(*device, dotted, "0").startsWith("ok"));
    }

    void everyFailedUpdateLeavesACode()
    {
        FitPtr device = makeDevice();
        // release.ini a folder: nothing to copy is no success.
        const QString folderIni = archive({{"release.ini/inside.txt", "x"}, {"os.bin", "os"}});
        const QString noRelease = makePackage({{"OS", "os.bin", "10", 10}}, false);
        for (const QString &package : {folderIni, noRelease, m_root.path() + "/missing.zip"})
            QVERIFY2(update(*device, package) == QStringLiteral("failed 4"), qPrintable(package));
        // A work folder that cannot be emptied (a file stands where it goes).
        const QString work = VHEnv::instance()->tempFolder() + QStringLiteral("/Pacer60F");
        QDir(work).removeRecursively();
        writeFile(work, "in the way");
        QCOMPARE(update(*device, noRelease), QStringLiteral("failed 4"));
        QVERIFY(readTestLog().contains(QStringLiteral("can not empty the work folder")));
        QFile::remove(work);
        QVERIFY(volumeRootFiles().isEmpty());
    }

    void flushingOpensNoLink()
    {
        const QString fifo = m_root.path() + QStringLiteral("/pipe%1").arg(++m_packages);
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        writeFile(m_volume + QStringLiteral("/os.bin"), "os");
        QVERIFY(QFile::link(fifo, m_volume + QStringLiteral("/bt.bin")));
        // Opening the link would wait for a writer on the user's pipe for ever.
        QVERIFY(!VHVolumeSync::flush({m_volume + QStringLiteral("/os.bin"), m_volume + QStringLiteral("/bt.bin")},
                                     m_volume));
        QVERIFY(VHVolumeSync::flush({m_volume + QStringLiteral("/os.bin")}, m_volume));
    }

    void ejectNeedsACurrentDevice()
    {
        FitPtr device = makeDevice();
        QVERIFY(!device->eject()); // the daemon has no current device
        QVERIFY(m_script.ejected.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVHFitDevice)
#include "tst_VHFitDevice.moc"
