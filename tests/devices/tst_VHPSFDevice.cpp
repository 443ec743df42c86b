// The PSF watch class against the simulated device, called directly: flash
// reads, the language image, the update, restore and finalize steps.

#include "VHByteReader.h"
#include "VHDevSim.h"
#include "VHEnv.h"
#include "VHLanguageUpdate.h"
#include "VHPSFDevice.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePack.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPSFStoreBuilder.h"
#include "VHTestBackups.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"
#include "VHTestLog.h"
#include "VHTestSimDevice.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using PSFPtr = std::unique_ptr<VHPSFDevice, VHClientDeleter>;
using Broken = VHPSFLanguagePackBuilder::Broken;
Q_DECLARE_METATYPE(VHPSFLanguagePackBuilder::Broken)

namespace {
const QString kName = QStringLiteral("W");
constexpr int kAreaReads = int(VHPSFLanguageImage::kAreaSize / 2048);
} // namespace

class TestVHPSFDevice : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    VHTestSimDevice m_bench;
    VHDevSim *m_sim = nullptr;
    std::unique_ptr<QTemporaryDir> &m_root = m_bench.root;
    PSFPtr m_device;
    VHSimSCSIService *m_service = nullptr;

    VHPSFDevice &device() { return *m_device; }
    QByteArray flash(VHDevSim::Flash which) const { return m_bench.flash(which); }

    void setFaults(const VHSimFaults &faults) { QVERIFY(m_sim->setFaults(kName, faults)); }

    QString package(const VHPSFLanguagePackBuilder::Options &options)
    {
        const QString path = m_root->filePath(QStringLiteral("Total.zip"));
        QFile::remove(path);
        return VHPSFLanguagePackBuilder::writePackage(path, options) ? path : QString();
    }

    bool makeDevice()
    {
        m_device.reset(new VHPSFDevice);
        m_service = m_bench.attach(*m_device, vhTestSimRow("Pacer40", "LINDEN"), "I012", "V012");
        return m_service && m_device->initial();
    }

private slots:
    void initTestCase() { initTestEnv(m_data.path()); }

    void init()
    {
        m_sim = &m_bench.fresh();
        QVERIFY(m_sim->createPacer40(kName));
        QVERIFY(m_sim->plug(kName));
        QVERIFY(makeDevice());
    }

    void cleanup()
    {
        m_device.reset();
        removeFlashBackups();
    }

    void attachRefusesBrokenStores_data()
    {
        using Fault = VHPSFStoreBuilder::Fault;
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("initialised");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("saved");
        QTest::newRow("layout B") << int(Fault::None) << true << true << true;
        QTest::newRow("not initialised") << int(Fault::None) << false << false << false;
        // Attached (its bytes are read as they are), but never erased without a current record.
        QTest::newRow("all erased") << int(Fault::AllErased) << true << true << false;
        QTest::newRow("bad marker") << int(Fault::BadMarker) << true << true << false;
        QTest::newRow("end outside the flash") << int(Fault::EndOutside) << true << true << false;
        QTest::newRow("garbage dist header") << int(Fault::GarbageDistHeader) << true << true << true;
    }

    void attachRefusesBrokenStores()
    {
        QFETCH(int, fault);
        QFETCH(bool, initialised);
        QFETCH(bool, ok);
        QFETCH(bool, saved);
        VHPSFStoreBuilder::Options options;
        options.layout = VHPSFStoreBuilder::Layout::B;
        options.fault = VHPSFStoreBuilder::Fault(fault);
        options.profileInitialised = initialised;
        QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::External, VHPSFStoreBuilder::image(options)));
        QCOMPARE(makeDevice(), ok);
        const QByteArray before = flash(VHDevSim::Flash::External);
        QCOMPARE(ok && device()._finalize(), saved);
        if (!saved)
            QCOMPARE(flash(VHDevSim::Flash::External), before);
    }

    void languageImageToAFile()
    {
        QSettings(VHEnv::instance()->settingsPath(), QSettings::IniFormat)
            .setValue(QStringLiteral("Pacer40/savelangeageimage"), QStringLiteral("1"));
        const QByteArray before = flash(VHDevSim::Flash::Internal);
        QFile::remove(VHLanguageUpdate::listingPath(QStringLiteral("1105A1B2C3D4E5F6")));
        const bool ok = device()._updateTotal(package({}), QStringLiteral("eng"));
        QSettings(VHEnv::instance()->settingsPath(), QSettings::IniFormat)
            .remove(QStringLiteral("Pacer40/savelangeageimage"));
        QVERIFY(ok);
        QCOMPARE(flash(VHDevSim::Flash::Internal), before);
        // The device kept its languages, and so does its listing.
        QCOMPARE(VHLanguageUpdate::storedListing(QStringLiteral("1105A1B2C3D4E5F6")), (QStringList{"eng", "deu"}));
        QCOMPARE(readFile(VHEnv::instance()->dataFolder() + QStringLiteral("/Aspens.bin")),
                 VHPSFLanguagePackBuilder::expectedArea({}, {QStringLiteral("eng")}));
    }

    void partialLastBlockReadsIntoScratch()
    {
        QByteArray buffer;
        QVERIFY(m_service->readFlashBlocks(buffer, 13, 5000, 2048, 0));
        QCOMPARE(buffer, flash(VHDevSim::Flash::Internal).left(5000));
        QVERIFY(!m_service->readFlashBlocks(buffer, 13, 2048, 2048, 0x10000));
    }

    void queries()
    {
        QString text;
        QVERIFY(device().getImageVersion(text));
        QCOMPARE(text, QStringLiteral("V012"));
        QVERIFY(device().getUUID(text));
        QCOMPARE(text, QStringLiteral("1105A1B2C3D4E5F6"));
        quint64 total = 0, free = 0;
        QVERIFY(device().getInternalStorage(total, free));
        QVERIFY(total > 0 && free <= total);
        QVERIFY(!device()._updateComponent({}, QStringLiteral("0"), {}, {}));
        QVERIFY(!device()._updateAlp({}, 0));
    }

    void languagesOnDevice_data()
    {
        QTest::addColumn<QByteArray>("area");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("codes");
        const QByteArray preset = VHDevSim::pacer40LanguageArea("V012", {QStringLiteral("eng"), QStringLiteral("deu")});
        QTest::newRow("preset") << QByteArray() << true << QStringList{QStringLiteral("eng"), QStringLiteral("deu")};
        QByteArray twice = preset;
        const QByteArray later = VHDevSim::pacer40LanguageArea("V012", {QStringLiteral("fra")});
        twice.replace(0x80000, 0x10000, later.left(0x10000));
        QTest::newRow("last directory wins") << twice << true << QStringList{QStringLiteral("fra")};
        QByteArray nearEnd(VHPSFLanguageImage::kAreaSize, char(0));
        nearEnd.replace(nearEnd.size() - 232, 4, QByteArray::fromHex("c3b2a077"));
        QTest::newRow("directory too near the end") << nearEnd << false << QStringList();
    }

    void languagesOnDevice()
    {
        QFETCH(QByteArray, area);
        QFETCH(bool, ok);
        QFETCH(QStringList, codes);
        if (!area.isEmpty())
            QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::Internal,
                                    area + QByteArray(0x100000 - area.size(), char(0xFF))));
        QStringList found;
        QCOMPARE(device().getLanguageOnDevice(found), ok);
        QCOMPARE(found, codes);
    }

    void badLanguagePacks_data()
    {
        QTest::addColumn<Broken>("broken");
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("placed");
        QTest::newRow("no base image") << Broken::NoBase << QStringList() << false << 0;
        QTest::newRow("zip-slip") << Broken::ZipSlip << QStringList() << false << 0;
        QTest::newRow("truncated") << Broken::Truncated << QStringList() << false << 0;
        // An image without languages would leave the device without any.
        QTest::newRow("3-byte files") << Broken::ShortFiles << QStringList{QStringLiteral("eng")} << false << 0;
        QTest::newRow("25 languages") << Broken::TwentyFive << QStringList() << true << 20;
    }

    void badLanguagePacks()
    {
        QFETCH(Broken, broken);
        QFETCH(QStringList, codes);
        QFETCH(bool, ok);
        QFETCH(int, placed);
        VHPSFLanguagePackBuilder::Options options;
        options.broken = broken;
        const QByteArray before = flash(VHDevSim::Flash::Internal);
        const QString zip = package(options);
        QVERIFY(!zip.isEmpty());
        QVERIFY(!QFileInfo::exists(VHEnv::instance()->tempFolder() + QStringLiteral("/Font_ita_01.bft")));
        if (codes.isEmpty() && ok) {
            QStringList names;
            QVERIFY(VHPSFDevice::unpackLanguagePack(zip, names));
            QCOMPARE(names.size(), 25);
            VHPSFLanguagePack pack;
            QVERIFY(VHPSFDevice::readLanguagePack(VHPSFLanguageImage::kAreaSize, pack));
            const QStringList all = QDir(VHPSFDevice::languageFolder()).entryList({QStringLiteral("Font_*")});
            for (const QString &file : all)
                codes.append(file.mid(5, 3));
            QVERIFY(device().setDefLanguage(codes));
        } else {
            QCOMPARE(device()._updateTotal(zip, codes.value(0)), ok);
        }
        const QByteArray after = flash(VHDevSim::Flash::Internal);
        QCOMPARE(after != before, ok);
        if (ok)
            QCOMPARE(
                int(quint8(after[VHPSFLanguageImage::findDirectory(after.left(VHPSFLanguageImage::kAreaSize)) + 8])),
                placed);
        QVERIFY(
            !QFileInfo::exists(QFileInfo(VHPSFDevice::languageFolder()).path() + QStringLiteral("/Font_ita_01.bft")));
    }

    // The languages written, from the area, the kept listing and LANG; a refusal leaves the area as it was.
    void languageUpdate_data()
    {
        QTest::addColumn<QByteArray>("area");    // empty: the simulator's
        QTest::addColumn<QByteArray>("listing"); // null: none kept
        QTest::addColumn<Broken>("broken");
        QTest::addColumn<QStringList>("packCodes");
        QTest::addColumn<QString>("named");
        QTest::addColumn<bool>("areaReadFails");
        QTest::addColumn<QStringList>("written"); // empty: refused
        const QByteArray preset = VHDevSim::pacer40LanguageArea("V012", {"eng", "deu"});
        const qsizetype directory = VHPSFLanguageImage::findDirectory(preset);
        QByteArray pulled = preset; // a write cut before the new directory
        pulled.replace(directory, 4, QByteArray(4, 'x'));
        QByteArray reversed = preset; // another writer's order: the second file first
        VHByteWriter(reversed, directory + 69).u32(229 + 256).u32(229);
        const QByteArray blank(VHPSFLanguageImage::kAreaSize, char(0xFF));
        const QByteArray none;
        const auto row = [&](const char *name, const QByteArray &area, const QByteArray &listing, const char *named,
                             bool fails, const QStringList &written, Broken broken = Broken::None,
                             const QStringList &codes = {"eng", "deu", "fra"}) {
            QTest::newRow(name) << area << listing << broken << codes << QString::fromLatin1(named) << fails << written;
        };
        row("the device's languages", none, none, "", false, QStringList{"eng", "deu"});
        row("a language named", none, none, "fra", false, QStringList{"fra"});
        row("area read fails", none, none, "", true, QStringList{});
        row("area read fails, language named", none, none, "fra", true, QStringList{});
        row("another writer's directory", reversed, none, "", false, QStringList{"eng", "deu"});
        row("pulled, listing kept", pulled, QByteArray("fra\neng\n"), "", false, QStringList{"fra", "eng"});
        row("pulled, no listing", pulled, none, "", false, QStringList{});
        row("pulled, language named", pulled, none, "deu", false, QStringList{"deu"});
        row("pulled, listing with a path", pulled, QByteArray("eng\n../x\n"), "", false, QStringList{});
        row("pulled, listing with an unknown code", pulled, QByteArray("xyz\n"), "", false, QStringList{});
        row("pulled, listing of blank lines", pulled, QByteArray("\n\n"), "", false, QStringList{});
        row("blank area", blank, none, "", false, QStringList{"eng"});
        row("empty base image", none, none, "", false, QStringList{}, Broken::EmptyBase);
        row("short language files", none, none, "", false, QStringList{}, Broken::ShortFiles);
        row("no language files", none, none, "", false, QStringList{}, Broken::None, QStringList{});
        row("unknown language", none, none, "xyz", false, QStringList{});
        row("path as language", none, none, "../../x", false, QStringList{});
    }

    void languageUpdate()
    {
        QFETCH(QByteArray, area);
        QFETCH(QByteArray, listing);
        QFETCH(Broken, broken);
        QFETCH(QStringList, packCodes);
        QFETCH(QString, named);
        QFETCH(bool, areaReadFails);
        QFETCH(QStringList, written);
        const QString uuid = QStringLiteral("1105A1B2C3D4E5F6");
        QFile::remove(VHLanguageUpdate::listingPath(uuid));
        if (!listing.isNull())
            QVERIFY(writeFile(VHLanguageUpdate::listingPath(uuid), listing));
        if (!area.isEmpty())
            QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::Internal,
                                    area + QByteArray(0x100000 - area.size(), char(0xFF))));
        VHPSFLanguagePackBuilder::Options options;
        options.broken = broken;
        options.codes = packCodes;
        const QString zip = package(options);
        setFaults({.failCommand = areaReadFails ? 1 : 0, .failSelector = areaReadFails ? 13 : -1});
        const QByteArray before = flash(VHDevSim::Flash::Internal);
        QCOMPARE(device()._updateTotal(zip, named), !written.isEmpty());
        if (written.isEmpty()) {
            QCOMPARE(flash(VHDevSim::Flash::Internal), before);
            QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("sel=12")).isEmpty());
            return;
        }
        QCOMPARE(flash(VHDevSim::Flash::Internal).left(VHPSFLanguageImage::kAreaSize),
                 VHPSFLanguagePackBuilder::expectedArea(options, written));
        QCOMPARE(VHLanguageUpdate::storedListing(uuid), written);
        QStringList codes; // and the device reads back what was written
        QVERIFY(device().getLanguageOnDevice(codes));
        QCOMPARE(codes, written);
    }

    void languageWriteAttempts_data()
    {
        QTest::addColumn<int>("corruptedReadBacks");
        QTest::addColumn<bool>("ok");
        QTest::newRow("50 corrupted read-backs, the 51st attempt") << 50 << true;
        QTest::newRow("51 corrupted read-backs") << 51 << false;
    }

    void languageWriteAttempts()
    {
        QFETCH(int, corruptedReadBacks);
        QFETCH(bool, ok);
        QStringList names;
        QVERIFY(VHPSFDevice::unpackLanguagePack(package({}), names));
        setFaults({.corruptReads = corruptedReadBacks * kAreaReads, .corruptSelector = 13});
        m_sim->clearCommandLog(kName);
        QCOMPARE(device().setDefLanguage({QStringLiteral("eng")}), ok);
        const int attempts = int(m_sim->commandLog(kName).filter(QStringLiteral("sel=12")).size()) / kAreaReads;
        QCOMPARE(attempts, qMin(corruptedReadBacks + 1, VHPSFDevice::kWriteAttempts));
    }

    // Figures for the report, not bounds: the simulated device's speed varies.
    void measurements()
    {
        QElapsedTimer timer;
        timer.start();
        QVERIFY(makeDevice());
        const qint64 attach = timer.elapsed();
        QVERIFY(device().loadAll());
        timer.restart();
        QVERIFY(device().save());
        const qint64 save = timer.elapsed();
        QStringList names;
        QVERIFY(VHPSFDevice::unpackLanguagePack(package({}), names));
        timer.restart();
        QVERIFY(device().setDefLanguage({QStringLiteral("eng")}));
        std::printf("MEASURED attach %lld ms, save of the store %lld ms, language image write and read-back %lld ms\n",
                    attach, save, timer.elapsed());
    }

    void finalizeKeepsThreeGenerations()
    {
        const QString folder = VHEnv::instance()->dataFolder() + QLatin1Char('/');
        const QString oversized = folder + QStringLiteral("pacer40flash.vh2.8.0.99-1105A1B2C3D4E5F6.dat");
        const QString older = folder + QStringLiteral("pacer40flash.vh1.0-1105A1B2C3D4E5F6.dat");
        QVERIFY(writeFile(oversized, QByteArray(VHPSFDevice::kMaxBackupSize + 1, 'x')));
        QVERIFY(writeFile(older, flash(VHDevSim::Flash::External)));
        QVERIFY(ageByADay(older));
        QCOMPARE(device().ownBackups(), QStringList({older, oversized}));
        const QByteArray before = flash(VHDevSim::Flash::External);
        m_sim->clearCommandLog(kName);
        QVERIFY(device()._finalize());
        // The copy before the erase; the oversized file went, the older one stays.
        QStringList kept = device().ownBackups();
        QCOMPARE(kept.size(), 2);
        QCOMPARE(kept.first(), older);
        QCOMPARE(readFile(kept[1]), before);
        QVERIFY(QFileInfo(kept[1]).fileName().startsWith(QLatin1String("pacer40flash.vh2.8.0.99-")));
        const QStringList log = m_sim->commandLog(kName);
        const auto erase = std::find_if(log.begin(), log.end(),
                                        [](const QString &line) { return line.contains(QLatin1String("sel=14")); });
        QVERIFY(erase != log.end());
        QVERIFY(std::none_of(log.begin(), erase, [](const QString &line) { return line.contains("sel=15"); }));
        QVERIFY(std::next(erase) != log.end());
        // The next attach finds the committed store; two more finalizes push the oldest out.
        QVERIFY(device().initial());
        const QByteArray committed = flash(VHDevSim::Flash::External);
        QVERIFY(device()._finalize());
        QVERIFY(device()._finalize());
        kept = device().ownBackups();
        QCOMPARE(kept.size(), 3);
        QVERIFY(!kept.contains(older));
        QCOMPARE(readFile(kept[0]), before);
        QCOMPARE(readFile(kept[1]), committed);
    }

    // A rerun after a write-back cut behind its erase never backs the erased flash up; a new object writes nothing.
    void rerunAfterFailedWriteBack_data()
    {
        QTest::addColumn<bool>("sameObject");
        QTest::newRow("the same object writes its store back") << true;
        QTest::newRow("a new object refuses and names the backup") << false;
    }

    void rerunAfterFailedWriteBack()
    {
        QFETCH(bool, sameObject);
        const QByteArray before = flash(VHDevSim::Flash::External);
        setFaults({.failCommand = 3, .failSelector = 15});
        QVERIFY(!device()._finalize());
        QVERIFY(flash(VHDevSim::Flash::External) != before);
        setFaults({});
        const QString good = device().latestBackup();
        QCOMPARE(readFile(good), before);
        if (!sameObject)
            makeDevice();
        LogCapture log;
        QCOMPARE(device()._finalize(), sameObject);
        QCOMPARE(readFile(device().ownBackups().first()), before);
        if (!sameObject) {
            QCOMPARE(device().latestBackup(), good);
            QVERIFY(log.contains(QStringLiteral("backup --restore ") + good));
            QVERIFY(device()._restoreBackup(good));
            QCOMPARE(flash(VHDevSim::Flash::External), before);
        }
        QVERIFY(makeDevice());
    }

    // Reads that feed the write-back are read twice: one bad answer stops it before the erase.
    void corruptReadStopsBeforeErase()
    {
        const QByteArray before = flash(VHDevSim::Flash::External);
        setFaults({.corruptReads = 1, .corruptSelector = 16, .corruptAfter = 3});
        QVERIFY(!device()._finalize());
        QCOMPARE(flash(VHDevSim::Flash::External), before);
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("sel=14")).isEmpty());
        QVERIFY(device().ownBackups().isEmpty());
    }

    // Formatting and restoring drop the store read before: finalize writes nothing old back.
    void formatForgetsTheStore()
    {
        QVariantList routes;
        QVERIFY(device().getPSFRoute(routes));
        device().formatDevice();
        QCOMPARE(flash(VHDevSim::Flash::External), QByteArray(VHPSFLayout::kFlashSize, char(0xFF)));
        QVERIFY(!device().container());
        QVERIFY(!device()._finalize());
        QCOMPARE(flash(VHDevSim::Flash::External), QByteArray(VHPSFLayout::kFlashSize, char(0xFF)));
    }

    void failedFinalize_data()
    {
        QTest::addColumn<int>("failSelector");
        QTest::addColumn<int>("failCommand");
        // A failed save keeps the first backup; without a backup nothing is erased.
        QTest::newRow("save fails") << 15 << 3;
        QTest::newRow("no backup, no erase") << 16 << 1;
    }

    void failedFinalize()
    {
        QFETCH(int, failSelector);
        QFETCH(int, failCommand);
        const QByteArray before = flash(VHDevSim::Flash::External);
        setFaults({.failCommand = failCommand, .failSelector = failSelector});
        QVERIFY(!device()._finalize());
        if (failSelector == 15) {
            QVERIFY(readTestLog().contains(QLatin1String("frame failed")));
            QCOMPARE(readFile(device().latestBackup()), before);
        } else {
            QCOMPARE(flash(VHDevSim::Flash::External), before);
        }
    }

    void restoreFactory_data()
    {
        QTest::addColumn<bool>("withExData");
        QTest::addColumn<bool>("eraseFails");
        QTest::addColumn<bool>("ok");
        QTest::newRow("both images") << true << false << true;
        QTest::newRow("no external image") << false << false << false;
        QTest::newRow("erase never ready") << true << true << false;
    }

    void restoreFactory()
    {
        QFETCH(bool, withExData);
        QFETCH(bool, eraseFails);
        QFETCH(bool, ok);
        const QString folder = m_root->filePath(QStringLiteral("restore"));
        QVERIFY(VHPSFLanguagePackBuilder::writeRestoreFolder(folder, QStringLiteral("LINDEN"), QStringLiteral("V020")));
        if (!withExData)
            QVERIFY(QFile::remove(folder + QStringLiteral("/LINDENExData.bin")));
        setFaults({.flashNeverReady = eraseFails});
        QCOMPARE(device()._restoreFactory(folder), ok);
        // A flash that never became ready is not erased again.
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE sel=14")).size() <= 1);
        QCOMPARE(flash(VHDevSim::Flash::Internal).left(24), QByteArray("VELORA-SIM-IMAGE Kind=OS"));
    }

    // An erase that reports success but kept the data fails before anything is written over it.
    void eraseThatKeepsDataFails()
    {
        const QString folder = m_root->filePath(QStringLiteral("restore"));
        QVERIFY(VHPSFLanguagePackBuilder::writeRestoreFolder(folder, QStringLiteral("LINDEN"), QStringLiteral("V020")));
        const QByteArray before = flash(VHDevSim::Flash::External);
        setFaults({.eraseKeepsData = true});
        QVERIFY(!device()._restoreFactory(folder));
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE sel=15")).isEmpty());
        QCOMPARE(flash(VHDevSim::Flash::External), before);
    }
};

QTEST_GUILESS_MAIN(TestVHPSFDevice)
#include "tst_VHPSFDevice.moc"
