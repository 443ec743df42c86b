#include "PlatformTestSupport.h"
#include "VHDeviceRegistry.h"
#include "VHFSDeviceService.h"
#include "VHPlatform.h"
#include "VHSimPlatform.h"
#include "VHTestIni.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {
// Distinct factories, to see which family a registered row belongs to. Never called here.
VHClient *fitFactory(VHDeviceService *) { return nullptr; }
VHClient *galFactory(VHDeviceService *) { return nullptr; }
VHClient *pacer60Factory(VHDeviceService *) { return nullptr; }

const QString kFitFile = QStringLiteral("System/device.txt");
} // namespace

// The drive scan over the simulated backend, whose drives are plain folders.
class TestVHPlatformScan : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    FakeManager m_manager;

    VHPlatform platform() { return VHPlatform(std::make_unique<VHSimPlatform>(m_root->path())); }
    VHServiceList scan() { return platform().findFSDevices(&m_manager); }

    QString drive(const QString &name, const QByteArray &vendor = QByteArray())
    {
        const QString path = m_root->path() + QLatin1Char('/') + name;
        QDir().mkpath(path);
        if (!vendor.isEmpty())
            writeFile(path + QStringLiteral("/.simdrive"), "vendor=" + vendor + "\nmodel=Watch  \n");
        return path;
    }
    static VHFSDeviceService *fs(const VHServiceList &list)
    {
        return list.empty() ? nullptr : dynamic_cast<VHFSDeviceService *>(list.front().get());
    }

    static void registerFactories(VHDeviceFactory fit, VHDeviceFactory gal, VHDeviceFactory pacer60)
    {
        VHDeviceRegistry &registry = VHDeviceRegistry::instance();
        registry.setFactory(VHDeviceRegistry::kFitRole, fit);
        registry.setFactory(VHDeviceRegistry::kGalRole, gal);
        registry.setFactory(VHDeviceRegistry::kPacer60Role, pacer60);
    }

private slots:
    void initTestCase() { registerFactories(fitFactory, galFactory, pacer60Factory); }
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_manager.table.clear();
        m_manager.flags = 4;
    }

    void lowerCaseIdentityFileWinsAndGetsTheMarker()
    {
        m_manager.flags = 3; // "/device.ini"
        m_manager.table = {{QStringLiteral("1207"), QStringLiteral("Pacer21"), QStringLiteral("X"), galFactory}};
        const QString root = drive(QStringLiteral("GAL"));
        QVERIFY(writeFile(root + QStringLiteral("/device.ini"), "[UUID]\nUUID=1207000000000001\n"));
        QVERIFY(writeFile(root + QStringLiteral("/Device.ini"), "[UUID]\nUUID=9999000000000002\n"));
        const VHServiceList found = scan();
        QVERIFY(fs(found));
        QCOMPARE(fs(found)->identityFile(), root + QStringLiteral("/device.ini"));
        QCOMPARE(fs(found)->modelInfo().modelName, QStringLiteral("Pacer21"));
        QCOMPARE(fs(found)->rootPath(), root);
        QCOMPARE(iniValue(root + QStringLiteral("/device.ini"), QStringLiteral("UUID/VH")), QStringLiteral("1"));
        QVERIFY(iniValue(root + QStringLiteral("/Device.ini"), QStringLiteral("UUID/VH")).isEmpty());
        // The device object gets the file's text as the scan read and marked it, not by reading the file again.
        QVERIFY(QFile::remove(root + QStringLiteral("/device.ini")));
        QByteArray text;
        QVERIFY(fs(found)->identityText(text));
        QVERIFY(text.contains("UUID=1207000000000001") && text.contains("VH=1"));
        QString uuid;
        QVERIFY(fs(found)->getUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("1207000000000001"));
        QVERIFY(!QFile::exists(root + QStringLiteral("/device.ini")));
    }

    void fitFlagReadsTheSystemFile()
    {
        const QString root = drive(QStringLiteral("WATCH"));
        QVERIFY(
            writeFile(root + QStringLiteral("/device.ini"), "[UUID]\nUUID=1207000000000001\n[MODEL]\nModel=Pacer21\n"));
        QVERIFY(writeFile(root + QStringLiteral("/System/Device.txt"),
                          "[UUID]\nUUID=2101000000000001\n[MODEL]\nModel= Pacer70 \n"));
        const VHServiceList found = scan();
        QVERIFY(fs(found));
        QCOMPARE(fs(found)->identityFile(), root + QStringLiteral("/System/Device.txt"));
        // No row matched: a FIT row is registered from the file.
        QCOMPARE(m_manager.table.size(), 1);
        const VHModelInfo row = m_manager.table.first();
        QCOMPARE(row.code, QStringLiteral("2101"));
        QCOMPARE(row.modelName, QStringLiteral("Pacer70"));
        QCOMPARE(row.identification, QStringLiteral("VELORA:pacer:Pacer:ALDER Device:ALDER MS:ALDER"));
        QVERIFY(row.factory == fitFactory);
        // The next scan matches the registered row instead of adding another.
        QVERIFY(fs(scan()));
        QCOMPARE(m_manager.table.size(), 1);
    }

    // Which identity file each flag reads on a drive with "/device.ini", "/System/device.txt" or both,
    // and the family an unknown model is registered as.
    void identityFileByFlags_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("withIni");
        QTest::addColumn<bool>("withTxt");
        QTest::addColumn<QString>("file"); // empty: no device
        QTest::addColumn<bool>("fit");
        const QString ini = QStringLiteral("device.ini");
        QTest::newRow("4, both files") << 4 << true << true << kFitFile << true;
        QTest::newRow("4, ini only") << 4 << true << false << QString() << false;
        QTest::newRow("3, both files") << 3 << true << true << ini << false;
        QTest::newRow("3, txt only") << 3 << false << true << QString() << false;
        QTest::newRow("either, both files") << 8 << true << true << kFitFile << true;
        QTest::newRow("either, ini only") << 8 << true << false << ini << false;
        QTest::newRow("either, txt only") << 8 << false << true << kFitFile << true;
        QTest::newRow("either with 4, ini only") << 12 << true << false << ini << false;
    }
    void identityFileByFlags()
    {
        QFETCH(int, flags);
        QFETCH(bool, withIni);
        QFETCH(bool, withTxt);
        QFETCH(QString, file);
        QFETCH(bool, fit);
        m_manager.flags = flags;
        const QString root = drive(QStringLiteral("DEV"));
        if (withIni)
            QVERIFY(writeFile(root + QStringLiteral("/device.ini"),
                              "[UUID]\nUUID=6100000000000001\n[MODEL]\nModel=Pacer61\n"));
        if (withTxt)
            QVERIFY(writeFile(root + QLatin1Char('/') + kFitFile,
                              "[UUID]\nUUID=2101000000000001\n[MODEL]\nModel=Pacer70\n"));
        const VHServiceList found = scan();
        QCOMPARE(fs(found) ? fs(found)->identityFile() : QString(), file.isEmpty() ? file : root + '/' + file);
        if (file.isEmpty())
            return;
        QCOMPARE(m_manager.table.size(), 1);
        QVERIFY(m_manager.table.first().factory == (fit ? fitFactory : galFactory));
    }

    void uuidOfOtherLengthRegistersARowWithoutCode()
    {
        const QString root = drive(QStringLiteral("WATCH"));
        QVERIFY(
            writeFile(root + QLatin1Char('/') + kFitFile, "[UUID]\nUUID=210100000000001\n[MODEL]\nModel=Pacer70\n"));
        const VHServiceList found = scan();
        QVERIFY(fs(found));
        QCOMPARE(m_manager.table.size(), 1);
        QVERIFY(m_manager.table.first().code.isEmpty());
        // A row without code matches no device by UUID, not even one without UUID.
        QVERIFY(writeFile(root + QLatin1Char('/') + kFitFile, "[MODEL]\nModel=Pacer90\n"));
        const VHServiceList second = scan();
        QVERIFY(fs(second));
        QCOMPARE(fs(second)->modelInfo().modelName, QStringLiteral("Pacer90"));
        QCOMPARE(m_manager.table.size(), 2);
    }

    void fileWithoutModelGivesNoService()
    {
        m_manager.table = {{QStringLiteral("2101"), QStringLiteral("Pacer70"), QStringLiteral("X"), fitFactory}};
        const QString root = drive(QStringLiteral("WATCH"));
        QVERIFY(writeFile(root + QLatin1Char('/') + kFitFile, "[UUID]\nUUID=3300000000000001\n[MODEL]\nName=x\n"));
        QVERIFY(scan().empty());
        QCOMPARE(m_manager.table.size(), 1);
        // The code decides even without "Model".
        QVERIFY(writeFile(root + QLatin1Char('/') + kFitFile, "[UUID]\nUUID=2101000000000009\n"));
        QCOMPARE(fs(scan())->modelInfo().modelName, QStringLiteral("Pacer70"));
    }

    void galRegistrationChoosesTheFamily()
    {
        m_manager.flags = 0;
        const QString root = drive(QStringLiteral("BIKE"));
        QVERIFY(
            writeFile(root + QStringLiteral("/device.ini"), "[UUID]\nUUID=6000000000000001\n[MODEL]\nModel=Pacer60\n"));
        QVERIFY(fs(scan()));
        QVERIFY(m_manager.table.last().factory == pacer60Factory);
        QVERIFY(
            writeFile(root + QStringLiteral("/device.ini"), "[UUID]\nUUID=6100000000000001\n[MODEL]\nModel=Pacer61\n"));
        QVERIFY(fs(scan()));
        QVERIFY(m_manager.table.last().factory == galFactory);
        // A family without a class in this build registers nothing.
        registerFactories(fitFactory, nullptr, pacer60Factory);
        QVERIFY(
            writeFile(root + QStringLiteral("/device.ini"), "[UUID]\nUUID=6200000000000001\n[MODEL]\nModel=Pacer62\n"));
        QVERIFY(scan().empty());
        QCOMPARE(m_manager.table.size(), 2);
        registerFactories(fitFactory, galFactory, pacer60Factory);
    }

    void secondaryDriveIsHandedOver_data()
    {
        QTest::addColumn<QString>("primary");
        QTest::addColumn<QString>("secondary");
        QTest::newRow("primary first") << QStringLiteral("A-MAIN") << QStringLiteral("B-MAPS");
        QTest::newRow("secondary first") << QStringLiteral("B-MAIN") << QStringLiteral("A-MAPS");
    }
    void secondaryDriveIsHandedOver()
    {
        QFETCH(QString, primary);
        QFETCH(QString, secondary);
        m_manager.flags = 3;
        m_manager.table = {{QStringLiteral("0901"), QStringLiteral("Pacer50"),
                            QStringLiteral("Velora:pacer:Pacer:ALDER Device:ALDER MS:ALDER"), galFactory}};
        const QString main = drive(primary, "VELORA");
        QVERIFY(writeFile(main + QStringLiteral("/device.ini"), "[UUID]\nUUID=0901000000000001\n"));
        const QString maps = drive(secondary, "VELORA");
        drive(QStringLiteral("C-OTHER"), "Kingston");
        const VHServiceList found = scan();
        QCOMPARE(found.size(), size_t(1));
        QCOMPARE(fs(found)->rootPath(), main);
        QCOMPARE(fs(found)->secondaryDrive(), maps);
    }

    void driveOfAnotherVendorIsNoSecondary()
    {
        m_manager.flags = 3;
        m_manager.table = {
            {QStringLiteral("0901"), QStringLiteral("Pacer50"), QStringLiteral("Velora:ALDER"), galFactory}};
        const QString main = drive(QStringLiteral("MAIN"), "VELORA");
        QVERIFY(writeFile(main + QStringLiteral("/device.ini"), "[UUID]\nUUID=0901000000000001\n"));
        drive(QStringLiteral("STICK"), "SanDisk");
        const VHServiceList found = scan();
        QVERIFY(fs(found));
        QVERIFY(fs(found)->secondaryDrive().isEmpty());
    }

    void unusableIdentityFilesAreSkipped()
    {
        LogCapture log;
        const QString folderFile = drive(QStringLiteral("A-FOLDER"));
        QVERIFY(QDir().mkpath(folderFile + QLatin1Char('/') + kFitFile));
        const QString huge = drive(QStringLiteral("B-HUGE"));
        QVERIFY(writeFile(huge + QLatin1Char('/') + kFitFile, "[UUID]\nUUID=2101000000000001\n[MODEL]\nModel=Big\n"));
        QVERIFY(::truncate(QFile::encodeName(huge + QLatin1Char('/') + kFitFile).constData(), 100ll * 1024 * 1024)
                == 0);
        const QString binary = drive(QStringLiteral("C-BINARY"));
        QVERIFY(writeFile(binary + QLatin1Char('/') + kFitFile, QByteArray("\0\xff[MODEL\n\0=\n\xfe", 12)));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(scan().empty());
        QVERIFY2(timer.elapsed() < 2000, "the large file must not be read");
        QVERIFY(m_manager.table.isEmpty());
        QVERIFY(log.contains(QStringLiteral("identity file too large, skipped")));
        QCOMPARE(QFileInfo(huge + QLatin1Char('/') + kFitFile).size(), 100ll * 1024 * 1024);
    }

    void linkedIdentityFilesAreNotTheDevices_data()
    {
        QTest::addColumn<QString>("linkAt");
        QTest::addColumn<QString>("target");
        QTest::newRow("device.txt") << kFitFile << QStringLiteral("user.ini");
        QTest::newRow("Device.txt") << QStringLiteral("System/Device.txt") << QStringLiteral("user.ini");
        QTest::newRow("System folder") << QStringLiteral("System") << QString();
    }
    void linkedIdentityFilesAreNotTheDevices()
    {
        QFETCH(QString, linkAt);
        QFETCH(QString, target);
        // The user's own file, which reads like an identity file.
        const QString home = m_root->path() + QStringLiteral("/../home-") + QFileInfo(m_root->path()).fileName();
        const QByteArray mine = "; my notes\n[UUID]\nUUID=2101000000000001\n[MODEL]\nModel=Pacer70\n";
        QVERIFY(writeFile(home + QStringLiteral("/device.txt"), mine));
        QVERIFY(writeFile(home + QStringLiteral("/user.ini"), mine));
        const QString root = drive(QStringLiteral("WATCH"));
        QDir().mkpath(root + QStringLiteral("/System"));
        if (linkAt == QLatin1String("System"))
            QDir(root + QStringLiteral("/System")).removeRecursively();
        QVERIFY(
            QFile::link(target.isEmpty() ? home : home + QLatin1Char('/') + target, root + QLatin1Char('/') + linkAt));
        QVERIFY(scan().empty());
        QVERIFY(m_manager.table.isEmpty());
        for (const QString &name : {QStringLiteral("device.txt"), QStringLiteral("user.ini")}) {
            QFile file(home + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), mine);
        }
        QDir(home).removeRecursively();
    }

    void theMarkerChangesOneLineOfARecognisedFileOnly()
    {
        m_manager.table = {{QStringLiteral("2101"), QStringLiteral("Pacer70"), QStringLiteral("X"), fitFactory}};
        const QString root = drive(QStringLiteral("WATCH"));
        const QString file = root + QLatin1Char('/') + kFitFile;
        auto bytesOf = [&file] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        // Not recognised (no matching code, no model): not one byte changes.
        const QByteArray unknown = QByteArray("\xff\xfe; binary\r\n[UUID]\r\nUUID=9900000000000001\r\n\0tail", 48);
        QVERIFY(writeFile(file, unknown));
        QVERIFY(scan().empty());
        QCOMPARE(bytesOf(), unknown);
        // Recognised: the marker line goes in, comments and line endings stay.
        QVERIFY(writeFile(file, "; keep me\r\n[UUID]\r\nUUID=2101000000000001\r\n[OS]\r\nVersion=1\r\n"));
        QVERIFY(fs(scan()));
        QCOMPARE(bytesOf(),
                 QByteArray("; keep me\r\n[UUID]\r\nVH=1\r\nUUID=2101000000000001\r\n[OS]\r\nVersion=1\r\n"));
        QCOMPARE(QFileInfo(file).permissions() & QFileDevice::ReadOwner, QFileDevice::ReadOwner);

        // A file of exactly the size cap keeps its size and is still detected next time.
        QByteArray full = "[UUID]\nUUID=2101000000000001\n;";
        full += QByteArray(VHPlatform::kMaxIdentityFileSize - full.size() - 1, 'x') + '\n';
        QVERIFY(writeFile(file, full));
        LogCapture log;
        QVERIFY(fs(scan()));
        QCOMPARE(QFileInfo(file).size(), VHPlatform::kMaxIdentityFileSize);
        QVERIFY(log.contains(QStringLiteral("no marker written")));
        QVERIFY(fs(scan()));
    }

    void drivesWithSpacesAndNonAsciiNames()
    {
        const QString root = drive(QStringLiteral("Ünïcode WATCH 1"));
        QVERIFY(
            writeFile(root + QLatin1Char('/') + kFitFile, "[UUID]\nUUID=2101000000000001\n[MODEL]\nModel=Pacer70\n"));
        const VHServiceList found = scan();
        QVERIFY(fs(found));
        QCOMPARE(fs(found)->rootPath(), root);
        QString uuid;
        QVERIFY(found.front()->getUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("2101000000000001"));
    }

    void noManagerOrNoBackendFindsNothing()
    {
        QVERIFY(platform().findFSDevices(nullptr).empty());
        VHPlatform empty{std::unique_ptr<VHPlatformInterface>()};
        QVERIFY(empty.findFSDevices(&m_manager).empty());
        QVERIFY(empty.getRemovableDrives().isEmpty());
        QVERIFY(empty.createEnv()); // the standard environment
        quint64 total = 0, free = 0;
        QVERIFY(!empty.getDiskSpace(m_root->path(), total, free));
    }
};

QTEST_GUILESS_MAIN(TestVHPlatformScan)
#include "tst_VHPlatformScan.moc"
