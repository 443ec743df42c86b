#include "VHDaemon.h"
#include "VHDeviceDbBuilder.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHPacer50CR.h"
#include "VHPacer50PackageBuilder.h"
#include "VHPacer50RestoreRequest.h"
#include "VHPacer60.h"
#include "VHPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"
#include "VHTestIni.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <sys/stat.h>

namespace {

namespace Builder = VHPacer50PackageBuilder;

// Drives with a vendor, a label and the physical device they belong to.
class DrivePlatform : public FakePlatform
{
public:
    using FakePlatform::FakePlatform;
    struct Drive
    {
        QString vendor, label, device;
    };
    QHash<QString, Drive> drives;

    QString getDriveVendorName(const QString &drive) override { return drives.value(drive).vendor; }
    QString getVolumeLabel(const QString &drive) override { return drives.value(drive).label; }
    QString getPhysicalDevice(const QString &drive) override { return drives.value(drive).device; }
};

void setTime(const QString &path, qint64 seconds)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(seconds), QFileDevice::FileModificationTime));
}

} // namespace

class TestVHPacer50 : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    FakePlatform::Script m_script;
    DrivePlatform *m_platform = nullptr;
    QString m_volume;
    int m_count = 0;

    QString newFolder(const QString &name) { return m_root.path() + QStringLiteral("/%1%2").arg(name).arg(++m_count); }

    QString makeVolume(const QString &uuid = QStringLiteral("1104AAAABBBBCCCC"), const QString &model = "Pacer50CR")
    {
        const QString volume = newFolder(QStringLiteral("vol"));
        writeFile(volume + QStringLiteral("/device.ini"),
                  "[UUID]\r\nUUID=" + uuid.toUtf8() + "\r\n[MODEL]\r\nModel=" + model.toUtf8()
                      + "\r\n[OS]\r\nVersion=1.0.0\r\n[LaunchSec]\r\nVersion=1.0.0.0\r\n[IMG]\r\nUpdateMethod=1\r\n");
        writeFile(volume + QStringLiteral("/nimbra/version.ini"), "version=GH1.3.0.7\r\n");
        for (const char *app : {"protrainingapp", "training"})
            writeFile(volume + QStringLiteral("/nimbra/applications/%1/user_settings.xml").arg(app), "<settings/>");
        m_platform->drives.insert(volume, {QStringLiteral("VELORA"), QString(), uuid});
        m_script.drives << volume;
        return volume;
    }

    template <typename Device = VHPacer50CR>
    std::unique_ptr<Device, VHClientDeleter> makeDevice(const QString &volume, const QString &model = "Pacer50CR")
    {
        std::unique_ptr<Device, VHClientDeleter> device(new Device);
        const VHModelInfo row{model.left(4), model, QStringLiteral("Velora"), nullptr};
        device->setDeviceService(new VHFSDeviceService(volume, row, volume + QStringLiteral("/device.ini")));
        return device;
    }

    // A drive of the physical device `device` that the platform lists.
    QString addDrive(const QString &name, const QString &device, const QString &label = QString())
    {
        const QString drive = newFolder(name);
        m_platform->drives.insert(drive, {QStringLiteral("VELORA"), label, device});
        m_script.drives << drive;
        return drive;
    }

    // A map volume of this device: a new map list waiting, the old one current, one country.
    QString addMapVolume(const QString &label)
    {
        const QString map = addDrive(QStringLiteral("map"), QStringLiteral("1104AAAABBBBCCCC"), label);
        writeFile(map + "/data/mapsinfo/temp.xml", "<new/>");
        writeFile(map + "/data/mapsinfo/currentMap.xml", "<old/>");
        writeFile(map + "/data/mapengine/map/Countries/France^20230101.map", "france");
        return map;
    }

    // A package folder by the builder; one that cannot be written fails the test.
    QString writePackage(const Builder::Options &options = {})
    {
        const QString folder = newFolder(QStringLiteral("pkg"));
        if (!Builder::writePackageFolder(folder, options))
            QTest::qFail("cannot write the package", __FILE__, __LINE__);
        return folder;
    }

    // An engine component archive of version 2.0.0.0, the same way.
    QString writeEngineArchive()
    {
        const QString archive = newFolder(QStringLiteral("engine")) + ".zip";
        if (!Builder::writeEngineArchive(archive, "2.0.0.0"))
            QTest::qFail("cannot write the engine archive", __FILE__, __LINE__);
        return archive;
    }

    // The image folders on a volume.
    QStringList imageFolders(const QString &volume)
    {
        return QDir(volume).entryList({QStringLiteral("Vel0ra!#@*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    }

private slots:
    void initTestCase()
    {
        initTestEnv(m_root.path());
        auto platform = std::make_unique<DrivePlatform>(&m_script);
        m_platform = platform.get();
        VHDaemon::instance()->platform()->setBackend(std::move(platform));
        QSettings settings(VHEnv::instance()->settingsPath(), QSettings::IniFormat);
        for (const char *model : {"Pacer50CR", "Pacer60"}) {
            settings.setValue(QStringLiteral("%1/deviceinipath").arg(model), QStringLiteral("/device.ini"));
            settings.setValue(QStringLiteral("%1/apversionpath").arg(model), QStringLiteral("/nimbra/version.ini"));
        }
    }

    void init()
    {
        m_script = FakePlatform::Script();
        m_script.spaceKnown = true;
        m_script.totalSpace = m_script.freeSpace = 1 << 30;
        m_platform->drives.clear();
        QDir(VHPacer50RestoreRequest::folder()).removeRecursively();
        VHEnv::instance()->setRestorePending(false);
        m_volume = makeVolume();
    }

    void queriesAndSettings()
    {
        auto device = makeDevice(m_volume);
        QString text;
        QVERIFY(device->getLaunchSecVersion(text));
        QCOMPARE(text, QStringLiteral("1.0.0.0"));
        QVERIFY(device->getAPVersion(text));
        QCOMPARE(text, QStringLiteral("GH1.3.0.7"));
        QVERIFY(device->getSharePath(text));
        QCOMPARE(text, m_volume + QStringLiteral("/nimbra/applications/cycling"));
        quint64 total = 0, free = 0;
        QVERIFY(device->getInternalStorage(total, free));
        QCOMPARE(free, quint64(1) << 30);
        // A model without path settings reads the default versions.
        auto plain = makeDevice(m_volume, QStringLiteral("Pacer50"));
        QVERIFY(plain->getLaunchSecVersion(text));
        QCOMPARE(text, QStringLiteral("0.0.0.0"));
        QVERIFY(plain->getAPVersion(text));
        QCOMPARE(text, QStringLiteral("GH0.0.0.0"));
    }

    void imageUpdate()
    {
        auto device = makeDevice(m_volume);
        writeFile(m_volume + QStringLiteral("/UPDATE.INI"), "stale");
        writeFile(m_volume + QStringLiteral("/Vel0ra!#@1/ALDER.bin"), "old");
        const QString package = writePackage();
        int code = -1;
        QVERIFY(runAction(
            *device, [&] { return device->updateTotal(package + "/Total.zip", QString()); }, &code));
        QCOMPARE(code, 0);
        const QStringList folders = imageFolders(m_volume);
        QCOMPARE(folders.size(), 1);
        const qint64 seconds = folders.first().mid(9).toLongLong();
        QVERIFY(qAbs(seconds - QDateTime::currentSecsSinceEpoch()) < 60);
        QCOMPARE(readFile(m_volume + "/Update.ini"), VHPacer50Package::updateIni(seconds, "ALDER.bin"));
        QVERIFY(
            readFile(m_volume + "/Update.ini").endsWith("CRC=/My Disk/" + folders.first().toUtf8() + "/CKS.TXT\r\n"));
        QCOMPARE(treeOf(m_volume + '/' + folders.first()),
                 (QStringList{"ALDER.bin", "CKS.TXT", "res", "res/strings.dat"}));
        QVERIFY(!QFileInfo::exists(m_volume + "/UPDATE.INI"));
        QVERIFY(!QFileInfo::exists(m_volume + "/updating@@!.ini"));
        QVERIFY(!QFileInfo::exists(VHEnv::instance()->tempFolder() + "/pacer50image"));
    }

    void badPackageLeavesTheVolume_data()
    {
        QTest::addColumn<int>("broken");
        QTest::addColumn<bool>("full");
        QTest::addColumn<int>("code");
        for (Builder::Broken kind : Builder::allBroken())
            QTest::newRow(qPrintable(Builder::brokenName(kind))) << int(kind) << false << int(VHPacer50::Failed);
        QTest::newRow("full volume") << int(Builder::Broken::None) << true << int(VHPacer50::NoSpace);
    }
    void badPackageLeavesTheVolume()
    {
        QFETCH(int, broken);
        QFETCH(bool, full);
        QFETCH(int, code);
        if (full)
            m_script.freeSpace = 1000;
        auto device = makeDevice(m_volume);
        Builder::Options options;
        options.broken = Builder::Broken(broken);
        const QString package = writePackage(options);
        // The manager reads the UUID at attach, which leaves the companion's marker in the identity file.
        QString uuid;
        QVERIFY(device->getUUID(uuid));
        const QStringList before = snapshot(m_volume);
        int error = -1;
        QVERIFY(!runAction(
            *device, [&] { return device->updateTotal(package + "/Total.zip", QString()); }, &error));
        QCOMPARE(error, code);
        QCOMPARE(snapshot(m_volume), before);
        QVERIFY(!QFileInfo::exists(m_root.path() + "/escaped.bin"));
    }

    // Folders of earlier updates go before the space is counted, and a failed update leaves no instruction.
    void oldUpdateGoesFirst_data()
    {
        QTest::addColumn<bool>("full");
        QTest::addColumn<bool>("flagStuck"); // the updating flag can not be removed at the end
        QTest::addColumn<int>("code");
        QTest::newRow("not enough space") << true << false << int(VHPacer50::NoSpace);
        QTest::newRow("flag stuck after Update.ini") << false << true << int(VHPacer50::Failed);
    }
    void oldUpdateGoesFirst()
    {
        QFETCH(bool, full);
        QFETCH(bool, flagStuck);
        QFETCH(int, code);
        if (full)
            m_script.freeSpace = 1000;
        writeFile(m_volume + "/Vel0ra!#@1/ALDER.bin", QByteArray(100000, 'o'));
        writeFile(m_volume + "/Update.ini", VHPacer50Package::updateIni(1, "ALDER.bin"));
        auto device = makeDevice(m_volume);
        if (flagStuck) {
            device->setCopyObserver([&](const QString &) {
                QFile::remove(m_volume + "/updating@@!.ini");
                QDir().mkpath(m_volume + "/updating@@!.ini/held");
            });
        }
        const QString package = writePackage();
        int error = -1;
        QVERIFY(!runAction(
            *device, [&] { return device->updateTotal(package + "/Total.zip", QString()); }, &error));
        QCOMPARE(error, code);
        QCOMPARE(imageFolders(m_volume), QStringList());
        QCOMPARE(QDir(m_volume).entryList({"Update.ini"}, QDir::Files), QStringList());
    }

    // Folders missing on the second and map volumes are made below their own root.
    void componentFoldersMadeOnOtherVolumes_data()
    {
        QTest::addColumn<QString>("component");
        QTest::addColumn<QString>("installed"); // below the second volume
        QTest::newRow("engine archive with sub-folders") << "GPST_ENGINE"
                                                         << "data/fonts/small/font.dat";
        QTest::newRow("map component without data/mapengine") << "MapData"
                                                              << "data/mapengine/rivizevu.dat";
    }
    void componentFoldersMadeOnOtherVolumes()
    {
        QFETCH(QString, component);
        QFETCH(QString, installed);
        const QString second = addDrive(QStringLiteral("second"), QStringLiteral("1104AAAABBBBCCCC"));
        writeFile(second + "/data/version.ini", "version=1.0.0.0\r\ndat=1.0.0.0\r\n");
        const QString archive = newFolder(QStringLiteral("component")) + ".zip";
        if (component == QLatin1String("MapData"))
            QVERIFY(Builder::writeMapArchive(archive, "5.0.0.0", "2024.1.0.0"));
        else
            QVERIFY(Builder::writeZip(archive, {{"gpsengine.bin", "engine"}, {"fonts/small/font.dat", "font"}}));
        const QString version = component == QLatin1String("MapData") ? "5.0.0.0^2024.1.0.0" : "2.0.0.0";
        auto device = makeDevice<VHPacer60>(m_volume, "Pacer60");
        QVERIFY(device->initial());
        QVERIFY(runAction(*device, [&] { return device->updateComponent(archive, "Pacer60", component, version); }));
        QVERIFY2(QFileInfo(second + '/' + installed).isFile(), qPrintable(installed));
    }

    void mapDataWithoutIndexFails()
    {
        auto device = makeDevice<VHPacer60>(m_volume, "Pacer60");
        QVERIFY(device->initial());
        const QString map = addMapVolume(QStringLiteral("pacer60map"));
        QVERIFY(QFile::remove(map + "/data/mapsinfo/temp.xml"));
        const QString resources = newFolder(QStringLiteral("resources"));
        QVERIFY(Builder::writeMapResources(resources, {"Spain.map"}));
        QVERIFY(!runAction(*device, [&] { return device->updateMapData(resources + "^Pacer60"); }));
        QVERIFY(readTestLog().contains("map index not switched"));
        QCOMPARE(readFile(map + "/data/mapsinfo/currentMap.xml"), QByteArray("<old/>"));
    }

    void applicationUpdateKeepsUnknownSettings_data()
    {
        QTest::addColumn<QByteArray>("versionIni");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("GH1.3.0.7 older") << QByteArray("version=GH1.3.0.7\r\n") << true;
        QTest::newRow("GH1.3.0.8 equal") << QByteArray("version=GH1.3.0.8\r\n") << false;
        QTest::newRow("GH1.3 shared parts equal") << QByteArray("version=GH1.3\r\n") << false;
        QTest::newRow("garbage") << QByteArray("version=GH1.x.\xff\r\n") << false;
        QTest::newRow("no version") << QByteArray("\x01\x02\x03") << false;
    }
    void applicationUpdateKeepsUnknownSettings()
    {
        QFETCH(QByteArray, versionIni);
        QFETCH(bool, dropped);
        writeFile(m_volume + "/nimbra/version.ini", versionIni);
        auto device = makeDevice(m_volume);
        const QString package = writePackage();
        QVERIFY(runAction(*device, [&] { return device->updateAP(package + "/DeviceAp.zip"); }));
        for (const char *app : {"protrainingapp", "training"})
            QCOMPARE(QFileInfo::exists(m_volume + QStringLiteral("/nimbra/applications/%1/user_settings.xml").arg(app)),
                     !dropped);
        QString version;
        QVERIFY(device->getAPVersion(version));
        QCOMPARE(version, QStringLiteral("GH1.4.0.56"));
        QVERIFY(QFileInfo::exists(m_volume + "/nimbra/applications/cycling/cycling.app"));
        QVERIFY(!QFileInfo::exists(m_volume + "/updating@@!.ini"));
        QCOMPARE(iniValue(VHEnv::instance()->settingsPath(), "Pacer50CR/MinVHVer"), QStringLiteral("2.8.0.0"));
    }

    void sameFileRule_data()
    {
        QTest::addColumn<qint64>("shift");
        QTest::addColumn<int>("extraBytes");
        QTest::addColumn<bool>("copied");
        QTest::newRow("59 s later") << qint64(59) << 0 << false;
        QTest::newRow("59 s earlier") << qint64(-59) << 0 << false;
        QTest::newRow("60 s later") << qint64(60) << 0 << true;
        QTest::newRow("same time, other size") << qint64(0) << 1 << true;
    }
    void sameFileRule()
    {
        QFETCH(qint64, shift);
        QFETCH(int, extraBytes);
        QFETCH(bool, copied);
        const QString source = newFolder(QStringLiteral("src"));
        writeFile(source + "/a.bin", "new content");
        setTime(source + "/a.bin", 1700000000);
        writeFile(m_volume + "/dst/a.bin", QByteArray("old content") + QByteArray(extraBytes, 'x'));
        setTime(m_volume + "/dst/a.bin", 1700000000 + shift);
        auto device = makeDevice(m_volume);
        QStringList list;
        QVERIFY(device->copyDir(source, m_volume + "/dst", &list));
        QCOMPARE(list.size(), copied ? 1 : 0);
        QCOMPARE(readFile(m_volume + "/dst/a.bin").startsWith("new"), copied);
    }

    void readBack_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("length");
        QTest::newRow("empty") << qint64(0) << qint64(0) << qint64(0);
        QTest::newRow("1024 whole") << qint64(1024) << qint64(0) << qint64(1024);
        QTest::newRow("1025 from 1") << qint64(1025) << qint64(1) << qint64(1024);
        QTest::newRow("5000") << qint64(5000) << qint64(3976) << qint64(1024);
    }
    void readBack()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, offset);
        QFETCH(qint64, length);
        QCOMPARE(VHPacer50::readBackWindow(size), qMakePair(offset, length));
        writeFile(m_volume + "/file.bin", QByteArray(size, 'a'));
        auto device = makeDevice(m_volume);
        QCOMPARE(device->checkFiles({m_volume + "/file.bin"}), 0);
        QCOMPARE(device->checkFiles({m_volume + "/missing.bin", m_volume + "/nimbra"}), 2);
    }

    // The device is unplugged in the middle of the image copy, after the flag
    // was set (the road does the same with the application update).
    void unpluggedMidCopy()
    {
        for (const char *name : {"Version.ini", "VERSION.ini", "VERSION.INI"})
            writeFile(m_volume + "/nimbra/" + name, "version=GH1.3.0.7\r\n");
        const QString package = writePackage();
        auto device = makeDevice(m_volume);
        const QString away = m_volume + QStringLiteral("-unplugged");
        int copies = 0;
        device->setCopyObserver([&](const QString &) {
            if (++copies == 2 && !QDir().rename(m_volume, away))
                qWarning() << "can not unplug" << m_volume;
        });
        QVERIFY(!runAction(*device, [&] { return device->updateTotal(package + "/Total.zip", QString()); }));
        QVERIFY(copies >= 2);
        QVERIFY(QDir().rename(away, m_volume));
        QVERIFY(QFileInfo::exists(m_volume + "/updating@@!.ini"));

        auto again = makeDevice(m_volume);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(again->initial());
        // The log handler keeps qDebug out of the test output: the time goes to stdout.
        std::printf("attach (initial) after an interrupted update: %lld us\n", timer.nsecsElapsed() / 1000);
        QCOMPARE(QDir(m_volume + "/nimbra").entryList({"*.ini", "*.INI"}, QDir::Files), QStringList());
        QString version;
        QVERIFY(again->getAPVersion(version));
        QCOMPARE(version, QStringLiteral("GH0.0.0.0"));
        // No instruction names the half-copied image.
        QCOMPARE(QDir(m_volume).entryList({"update.ini", "Update.ini", "UPDATE.INI"}, QDir::Files), QStringList());
    }

    void secondVolumeVanishesMidCopy()
    {
        const QString second = addDrive(QStringLiteral("second"), QStringLiteral("1104AAAABBBBCCCC"));
        writeFile(second + "/data/version.ini", "version=1.0.0.0\r\n");
        const QString archive = writeEngineArchive();
        auto device = makeDevice(m_volume);
        const QString away = second + QStringLiteral("-gone");
        device->setCopyObserver([&](const QString &dst) {
            if (dst.startsWith(second + '/') && !QDir().rename(second, away))
                qWarning() << "can not remove" << second;
        });
        QVERIFY(!runAction(*device,
                           [&] { return device->updateComponent(archive, "Pacer50CR", "GPST_ENGINE", "2.0.0.0"); }));
        QVERIFY(QDir().rename(away, second));
        QCOMPARE(device->GetGPSENGINEVersion(second, "version"), QStringLiteral("1.0.0.0"));
        QVERIFY(!QFileInfo::exists(second + "/data/gpsengine.bin"));

        // The map volume goes while map files are copied: the old map stays current.
        auto pacer60 = makeDevice<VHPacer60>(m_volume, "Pacer60");
        QVERIFY(pacer60->initial());
        const QString map = addMapVolume(QStringLiteral("pacer60map"));
        const QString resources = newFolder(QStringLiteral("resources"));
        QVERIFY(Builder::writeMapResources(resources, {"Germany^20240101.map", "Spain.map"}));
        const QString mapAway = map + QStringLiteral("-gone");
        pacer60->setCopyObserver([&](const QString &dst) {
            if (dst.startsWith(map + '/') && QFileInfo::exists(map) && !QDir().rename(map, mapAway))
                qWarning() << "can not remove" << map;
        });
        QVERIFY(!runAction(*pacer60, [&] { return pacer60->updateMapData(resources + "^Pacer60"); }));
        QVERIFY(QDir().rename(mapAway, map));
        QCOMPARE(readFile(map + "/data/mapsinfo/currentMap.xml"), QByteArray("<old/>"));
        QVERIFY(QFileInfo::exists(map + "/data/mapsinfo/temp.xml"));
    }

    // A model name is a settings key and a comparison, never a file name.
    void unsafeModelNameStaysInPlace_data()
    {
        QTest::addColumn<QString>("model");
        QTest::newRow("parent") << "../../escaped";
        QTest::newRow("slashes") << "Pacer50CR/../../../escaped";
        QTest::newRow("absolute") << "/tmp/escaped";
    }
    void unsafeModelNameStaysInPlace()
    {
        QFETCH(QString, model);
        const QString volume = makeVolume(QStringLiteral("1104AAAABBBBCCCC"), model);
        const QString package = writePackage();
        const QString archive = writeEngineArchive();
        auto device = makeDevice(volume, model);
        QVERIFY(device->initial());
        (void)runAction(*device, [&] { return device->updateAP(package + "/DeviceAp.zip"); });
        (void)runAction(*device, [&] { return device->updateComponent(archive, model, "GPST_ENGINE", "2.0.0.0"); });
        (void)runAction(*device, [&] { return device->updateMapData(package + "^" + model); });
        QVERIFY(device->eject());
        for (const QString &base : {volume, volume + "/nimbra", m_root.path(), QDir::tempPath()})
            QVERIFY2(!QFileInfo::exists(base + "/escaped"), qPrintable(base));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/escaped")));
    }

    // The road restores through the runtime (states, the pending flag); here: the files, the stored request and
    // the other device. Every object is new, as in a later process: only the data folder remembers.
    void twoPassRestore()
    {
        const QString package = writePackage();
        auto first = makeDevice(m_volume);
        QVERIFY(runAction(*first, [&] { return first->restoreFactory(package); }));
        QCOMPARE(readFile(m_volume + "/format.ini"), QByteArray("1"));
        QVERIFY(imageFolders(m_volume).isEmpty());
        VHPacer50RestoreRequest request;
        QVERIFY(VHPacer50RestoreRequest::find("1104AAAABBBBCCCC", request));
        QCOMPARE(request.packageFolder, package);

        // Another device is asked to format, never installed.
        const QString other = makeVolume(QStringLiteral("0901DDDDEEEEFFFF"));
        auto stranger = makeDevice(other);
        QVERIFY(stranger->initial());
        QVERIFY(!VHEnv::instance()->restorePending());
        QVERIFY(runAction(*stranger, [&] { return stranger->restoreFactory(package); }));
        QVERIFY(QFileInfo::exists(other + "/format.ini"));
        QVERIFY(imageFolders(other).isEmpty());

        // Back before it restarted, the device is asked again, not installed.
        auto early = makeDevice(m_volume);
        QVERIFY(runAction(*early, [&] { return early->restoreFactory(package); }));
        QVERIFY(imageFolders(m_volume).isEmpty());

        // The device formats at its start and comes back; the request tells the second pass where the package is.
        QFile::remove(m_volume + "/format.ini");
        auto second = makeDevice(m_volume);
        QVERIFY(second->initial());
        QVERIFY(VHEnv::instance()->restorePending());
        QVERIFY(runAction(*second, [&] { return second->restoreFactory(QString()); }));
        QCOMPARE(imageFolders(m_volume).size(), 1);
        QVERIFY(QFileInfo::exists(m_volume + "/Update.ini"));
        QVERIFY(QFileInfo::exists(m_volume + "/launchsec.ini"));
        QVERIFY(QFileInfo::exists(m_volume + "/nimbra/applications/cycling/cycling.app"));
        QVERIFY(!VHPacer50RestoreRequest::find("1104AAAABBBBCCCC", request));
        QVERIFY(!VHEnv::instance()->restorePending());
        QVERIFY(VHPacer50RestoreRequest::find("0901DDDDEEEEFFFF", request));
    }

    // What the second pass needs is checked before the device is asked to format.
    void restoreFolderLackingPartsIsRefused_data()
    {
        QTest::addColumn<QString>("part");
        QTest::addColumn<QByteArray>("content"); // "-" removes the part
        QTest::addColumn<int>("broken");         // of Total.zip
        QTest::newRow("no Total.zip") << "Total.zip" << QByteArray("-") << int(Builder::Broken::None);
        QTest::newRow("no LaunchSec.zip") << "LaunchSec.zip" << QByteArray("-") << int(Builder::Broken::None);
        QTest::newRow("no DeviceAp.zip") << "DeviceAp.zip" << QByteArray("-") << int(Builder::Broken::None);
        QTest::newRow("empty LaunchSec.zip") << "LaunchSec.zip" << QByteArray() << int(Builder::Broken::None);
        QTest::newRow("short DeviceAp.zip")
            << "DeviceAp.zip" << QByteArray("PK\x03\x04short") << int(Builder::Broken::None);
        QTest::newRow("DeviceAp.zip without nimbra")
            << "DeviceAp.zip" << QByteArray("other") << int(Builder::Broken::None);
        QTest::newRow("Total.zip without image") << QString() << QByteArray() << int(Builder::Broken::NoImage);
        QTest::newRow("Total.zip without checksums") << QString() << QByteArray() << int(Builder::Broken::NoChecksums);
        QTest::newRow("Total.zip cut short") << QString() << QByteArray() << int(Builder::Broken::Truncated);
    }
    void restoreFolderLackingPartsIsRefused()
    {
        QFETCH(QString, part);
        QFETCH(QByteArray, content);
        QFETCH(int, broken);
        Builder::Options options;
        options.broken = Builder::Broken(broken);
        const QString package = writePackage(options);
        if (content == "-")
            QVERIFY(QFile::remove(package + '/' + part));
        else if (content == "other")
            QVERIFY(Builder::writeZip(package + '/' + part, {{"apps/readme.txt", "no tree"}}));
        else if (!part.isEmpty())
            QVERIFY(writeFile(package + '/' + part, content));
        auto device = makeDevice(m_volume);
        QString uuid;
        QVERIFY(device->getUUID(uuid));
        const QStringList before = snapshot(m_volume);
        int code = -1;
        QVERIFY(!runAction(
            *device, [&] { return device->restoreFactory(package); }, &code));
        QCOMPARE(code, int(VHPacer50::Failed));
        QCOMPARE(snapshot(m_volume), before);
        VHPacer50RestoreRequest request;
        QVERIFY(!VHPacer50RestoreRequest::find(uuid, request));
    }

    // The request is kept under the device's UUID: one that can not name a file can not be restored.
    void restoreNeedsAUsableUuid_data()
    {
        QTest::addColumn<QString>("uuid");
        QTest::newRow("path-like") << "../../1104AAAA";
        QTest::newRow("empty") << "";
        QTest::newRow("65 characters") << QString(65, QLatin1Char('A'));
    }
    void restoreNeedsAUsableUuid()
    {
        QFETCH(QString, uuid);
        const QString volume = makeVolume(uuid);
        const QString package = writePackage();
        auto device = makeDevice(volume);
        QVERIFY(!runAction(*device, [&] { return device->restoreFactory(package); }));
        QVERIFY(!QFileInfo::exists(volume + "/format.ini"));
        QCOMPARE(QDir(VHPacer50RestoreRequest::folder()).entryList(QDir::Files), QStringList());
    }

    // A request file that was damaged or names another device is no request: the format is asked again.
    void damagedRequestCountsAsNone_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray good = VHPacer50RestoreRequest{"1104AAAABBBBCCCC", "/pkg", 5}.toBytes();
        QByteArray flipped = good;
        flipped[flipped.size() / 2] = char(~flipped.at(flipped.size() / 2));
        QTest::newRow("middle byte inverted") << flipped;
        QTest::newRow("cut short") << good.left(good.size() - 3);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("another device's") << VHPacer50RestoreRequest{"0901DDDDEEEEFFFF", "/pkg", 5}.toBytes();
    }
    void damagedRequestCountsAsNone()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(writeFile(VHPacer50RestoreRequest::folder() + "/1104AAAABBBBCCCC.json", bytes));
        VHPacer50RestoreRequest request;
        QVERIFY(!VHPacer50RestoreRequest::find("1104AAAABBBBCCCC", request));
        const QString package = writePackage();
        auto device = makeDevice(m_volume);
        QVERIFY(device->initial());
        QVERIFY(!VHEnv::instance()->restorePending());
        QVERIFY(runAction(*device, [&] { return device->restoreFactory(package); }));
        QVERIFY(QFileInfo::exists(m_volume + "/format.ini"));
        QVERIFY(imageFolders(m_volume).isEmpty());
        QVERIFY(VHPacer50RestoreRequest::find("1104AAAABBBBCCCC", request));
    }

    void engineComponent_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("secondVersion");
        QTest::addColumn<bool>("rootTarget");
        QTest::addColumn<bool>("secondTarget");
        QTest::newRow("Pacer60: root and second volume") << "Pacer60"
                                                         << "1.0.0.0" << true << true;
        QTest::newRow("Pacer50CR: the root is skipped") << "Pacer50CR"
                                                        << "1.0.0.0" << false << true;
        QTest::newRow("newer second volume stays") << "Pacer60"
                                                   << "3.0.0.0" << true << false;
        QTest::newRow("other version format stays") << "Pacer60"
                                                    << "1.0" << true << false;
        QTest::newRow("every volume at the version: nothing to do") << "Pacer50CR"
                                                                    << "2.0.0.0" << false << false;
    }
    void engineComponent()
    {
        QFETCH(QString, model);
        QFETCH(QString, secondVersion);
        QFETCH(bool, rootTarget);
        QFETCH(bool, secondTarget);
        const QString second = addDrive(QStringLiteral("second"), QStringLiteral("1104AAAABBBBCCCC"));
        writeFile(second + "/data/version.ini", "version=" + secondVersion.toUtf8() + "\r\n");
        const QString stranger = addDrive(QStringLiteral("stranger"), QStringLiteral("0901FFFF00001111"));
        writeFile(stranger + "/data/version.ini", "version=1.0.0.0\r\n");
        const QString archive = writeEngineArchive();
        auto device = makeDevice(m_volume, model);
        QVERIFY(runAction(*device, [&] { return device->updateComponent(archive, model, "GPST_ENGINE", "2.0.0.0"); }));
        QCOMPARE(device->actionChanged(), rootTarget || secondTarget);
        QCOMPARE(device->errorText().startsWith(QLatin1String("already up to date")), !rootTarget && !secondTarget);
        const QString rootData = m_volume + "/nimbra/applications/cycling/data";
        QCOMPARE(QFileInfo::exists(rootData + "/gpsengine.bin"), rootTarget);
        QCOMPARE(QFileInfo::exists(second + "/data/gpsengine.bin"), secondTarget);
        QCOMPARE(device->GetGPSENGINEVersion(second, "version"), secondTarget ? "2.0.0.0" : secondVersion);
        QVERIFY(!QFileInfo::exists(stranger + "/data/gpsengine.bin"));
        QVERIFY(!runAction(*device, [&] { return device->updateComponent(archive, model, "Other", "2.0.0.0"); }));
    }

    void mapComponentAndMapData()
    {
        auto device = makeDevice<VHPacer60>(m_volume, "Pacer60");
        QVERIFY(device->initial());
        const QString map = addMapVolume(QStringLiteral(" Pacer60MAP "));
        writeFile(map + "/data/mapengine/map/Countries/Germany^20230101.map", "old germany");
        // A labelled map volume of another device, listed first.
        const QString foreign = addDrive(QStringLiteral("foreign"), QStringLiteral("other"), "pacer60map");
        writeFile(foreign + "/data/mapsinfo/temp.xml", "<foreign/>");
        m_script.drives = QStringList{foreign, m_volume, map};
        const QStringList foreignBefore = snapshot(foreign);

        const QString archive = newFolder(QStringLiteral("mapdata")) + ".zip";
        QVERIFY(Builder::writeMapArchive(archive, "5.0.0.0", "2024.1.0.0"));
        QVERIFY(!runAction(*device, [&] { return device->updateComponent(archive, "Pacer60", "MapData", "5.0.0.0"); }));
        QVERIFY(runAction(
            *device, [&] { return device->updateComponent(archive, "Pacer60", "MapData", "5.0.0.0^2024.1.0.0"); }));
        QVERIFY(QFileInfo::exists(map + "/data/mapengine.dll"));
        QVERIFY(!QFileInfo::exists(map + "/data/rivizevu.dat"));
        QVERIFY(QFileInfo::exists(map + "/data/mapengine/rivizevu.dat"));
        QVERIFY(!QFileInfo::exists(map + "/data/mapengine/mapengine.dll"));
        QCOMPARE(device->GetGPSENGINEVersion(map, "dat"), QStringLiteral("2024.1.0.0"));
        QCOMPARE(device->GetGPSENGINEVersion(map, "version"), QStringLiteral("5.0.0.0"));

        const QString resources = newFolder(QStringLiteral("resources"));
        QVERIFY(Builder::writeMapResources(resources, {"Germany^20240101.map", "Spain.map"}));
        QVERIFY(runAction(*device, [&] { return device->updateMapData(resources + "^Pacer60"); }));
        QCOMPARE(QDir(map + "/data/mapengine/map/Countries").entryList(QDir::Files),
                 (QStringList{"France^20230101.map", "Germany^20240101.map", "Spain.map"}));
        QCOMPARE(readFile(map + "/data/mapsinfo/currentMap.xml"), QByteArray("<new/>"));
        QVERIFY(!QFileInfo::exists(map + "/data/mapsinfo/temp.xml"));
        QCOMPARE(snapshot(foreign), foreignBefore);
        QVERIFY(!runAction(*device, [&] { return device->updateMapData(resources); }));
    }

    void dataStoreOpensOnAWorker()
    {
        const QString share = m_volume + "/nimbra/applications/cycling";
        QVERIFY(VHDeviceDbBuilder::writeDatabases(share));
        auto device = makeDevice(m_volume);
        QVERIFY(device->initial());
        // Attaching does not touch the databases.
        QVERIFY(!QFileInfo::exists(share + "/data/route/route.dat"));
        bool opened = false;
        std::unique_ptr<QThread> worker(QThread::create([&] { opened = device->openDataStore(); }));
        worker->start();
        QVERIFY(worker->wait(20000));
        QVERIFY(opened);
        QVERIFY(QFileInfo::exists(share + "/data/route/route.dat"));
        QVERIFY(!makeDevice(QString())->openDataStore());
        QVERIFY(!makeDevice(QString())->initial());
    }

    void ejectTakesOnlyItsOwnSecondVolume_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("secondDevice");
        QTest::addColumn<int>("ejected");
        for (const char *model : {"Pacer50CR", "Pacer60"}) {
            QTest::addRow("%s own", model) << model << "1104AAAABBBBCCCC" << 2;
            QTest::addRow("%s another device's", model) << model << "0901FFFF00001111" << 1;
        }
    }
    void ejectTakesOnlyItsOwnSecondVolume()
    {
        QFETCH(QString, model);
        QFETCH(QString, secondDevice);
        QFETCH(int, ejected);
        const QString second = newFolder(QStringLiteral("second"));
        m_platform->drives.insert(second, {QStringLiteral("VELORA"), QString(), secondDevice});
        std::unique_ptr<VHPacer50, VHClientDeleter> device;
        if (model == QLatin1String("Pacer60"))
            device = makeDevice<VHPacer60>(m_volume, model);
        else
            device = makeDevice(m_volume, model);
        QVERIFY(device->initial());
        static_cast<VHFSDeviceService *>(device->deviceService())->setSecondaryDrive(second);
        QVERIFY(device->eject());
        QCOMPARE(m_script.ejected.size(), ejected);
        QCOMPARE(m_script.ejected.first(), m_volume);
    }

    void pacer60AsksItsDelegate()
    {
        const QString volume = makeVolume(QStringLiteral("3001AAAABBBBCCCC"), "Pacer60");
        auto device = makeDevice<VHPacer60>(volume, "Pacer60");
        QVERIFY(device->initial());
        QString text;
        QVERIFY(device->getUUID(text));
        QCOMPARE(text, QStringLiteral("3001AAAABBBBCCCC"));
        QVERIFY(device->getRootPath(text));
        QCOMPARE(text, volume);
        // The delegate has a service of its own: replacing the device's leaves both whole.
        device->setDeviceService(
            new VHFSDeviceService(volume, {"3001", "Pacer60", "Velora", nullptr}, volume + "/device.ini"));
        QVERIFY(device->getModelName(text));
        QCOMPARE(text, QStringLiteral("Pacer60"));
    }
};

QTEST_GUILESS_MAIN(TestVHPacer50)
#include "tst_VHPacer50.moc"
