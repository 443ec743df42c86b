// The 1 MiB-family watch classes against the simulated device, called
// directly: the block writer, start-up checks, reading the store, the image,
// loader and language updates, restore and write-back.

#include "VHByteReader.h"
#include "VHDevSim.h"
#include "VHEnv.h"
#include "VHLanguageUpdate.h"
#include "VHPSF.h"
#include "VHPSFDevice.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer30ImageBuilder.h"
#include "VHPacer30Package.h"
#include "VHPacer35.h"
#include "VHProfileData.h"
#include "VHPulsar30.h"
#include "VHSimSCSIService.h"
#include "VHTestBackups.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"
#include "VHTestLog.h"
#include "VHTestSimDevice.h"
#include "VHTestZip.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kName = QStringLiteral("W");

// Notes whether every command it sends holds the command lock.
class LockCheckingService : public VHSimSCSIService
{
public:
    using VHSimSCSIService::VHSimSCSIService;
    bool writeClient(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data, int length) override
    {
        unlockedCommands += isCommandLocked() ? 0 : 1;
        return VHSimSCSIService::writeClient(cdb, cdbLength, data, length);
    }
    int unlockedCommands = 0;
};

} // namespace

class TestVHPacer30 : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    VHTestSimDevice m_bench;
    std::unique_ptr<QTemporaryDir> &m_root = m_bench.root;
    VHDevSim *m_sim = nullptr;
    std::unique_ptr<VHPacer30, VHClientDeleter> m_device;
    LockCheckingService *m_service = nullptr;

    VHPacer30 &device() { return *m_device; }
    QByteArray flash(VHDevSim::Flash which) const { return m_bench.flash(which); }
    void setFaults(const VHSimFaults &faults) { QVERIFY(m_sim->setFaults(kName, faults)); }
    QStringList writes(int selector) const { return m_bench.commands(QStringLiteral("WRITE sel=%1 ").arg(selector)); }

    // A fresh device of `model`; false when it does not start.
    bool make(const QString &model, const QByteArray &tag = "V008", VHSimPacer30Options options = {})
    {
        m_device.reset();
        m_sim = &m_bench.fresh();
        options.model = model;
        options.productTag = tag;
        return m_sim->createPacer30(kName, options) && m_sim->plug(kName) && attach(model, tag);
    }

    // The row's identification names the images of a restore.
    bool attach(const QString &model, const QByteArray &tag, const QString &identification = QString())
    {
        const bool pacer = model == QLatin1String("Pacer30") || model == QLatin1String("Pacer35");
        m_device.reset(pacer ? static_cast<VHPacer30 *>(new VHPacer35) : new VHPulsar30);
        m_service = m_bench.attach<LockCheckingService>(*m_device, vhTestSimRow(model, identification), "I008", tag);
        return m_service && m_device->initial();
    }

    QString zip(const QString &name, const QList<QPair<QString, QByteArray>> &files)
    {
        return zipFiles(m_root->filePath(name), files);
    }

private slots:
    void initTestCase() { initTestEnv(m_data.path()); }
    void cleanup()
    {
        m_device.reset();
        removeFlashBackups();
    }

    void writeFileToFlashPadsAndNumbersBlocks_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("two blocks") << 2 * 2048;
        QTest::newRow("a tail padded with zeros") << 2 * 2048 + 100;
        QTest::newRow("block numbers past 255") << 300 * 2048 + 1;
    }

    void writeFileToFlashPadsAndNumbersBlocks()
    {
        QFETCH(int, size);
        QVERIFY(make(QStringLiteral("Pacer35")));
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(0x11 + i % 7);
        const QString path = m_root->filePath(QStringLiteral("part.bin"));
        QVERIFY(writeFile(path, bytes));
        QList<qint64> written;
        connect(
            &device(), &VHClient::phaseProgressChanged, this,
            [&](int phase, qint64 done, qint64 total) {
                if (phase == int(VHPhase::Write) && total == size)
                    written.append(done);
            },
            Qt::DirectConnection);
        m_sim->clearCommandLog(kName);
        QVERIFY(device().writeFileToFlash(path, VHPacer30::WriteInternal, 2048));
        const int full = size / 2048;
        const QStringList sent = writes(12);
        QCOMPARE(sent.size(), full + (size % 2048 ? 1 : 0));
        QVERIFY(sent.last().contains(QStringLiteral("block=%1 ").arg(sent.size() - 1)));
        const int padded = int(sent.size()) * 2048;
        QCOMPARE(flash(VHDevSim::Flash::Internal).left(padded), bytes + QByteArray(padded - size, '\0'));
        QCOMPARE(m_service->unlockedCommands, 0);
        // Counted in bytes up to the last one, the padded tail block included.
        QVERIFY(!written.isEmpty());
        QCOMPARE(written.last(), qint64(size));
    }

    void initialByModel_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("uninitialised");
        QTest::addColumn<bool>("ok");
        QTest::newRow("Pacer30 set up") << "Pacer30" << false << true;
        QTest::newRow("Pacer30 not set up") << "Pacer30" << true << false;
        QTest::newRow("Pacer35 byte 967 clear") << "Pacer35" << true << true;
        QTest::newRow("Pulsar30 set up") << "Pulsar30" << false << true;
        QTest::newRow("Pulsar30 byte 886 clear") << "Pulsar30" << true << false;
        QTest::newRow("Pulsar35 first use") << "Pulsar35" << true << false;
        QTest::newRow("Pacer20 set up") << "Pacer20" << false << true;
    }

    void initialByModel()
    {
        QFETCH(QString, model);
        QFETCH(bool, uninitialised);
        QFETCH(bool, ok);
        VHSimPacer30Options options;
        options.uninitialised = uninitialised;
        QCOMPARE(make(model, "V008", options), ok);
        QVERIFY(make(model));
        setFaults({.failCommand = 1, .failSelector = 16});
        QVERIFY(!attach(model, "V008"));
    }

    void readPSFMessages_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("fault"); // 0 none, 1 read fails, 2 first-use clear, 3 no journal record
        QTest::addColumn<QString>("message");
        QTest::newRow("whole") << "Pacer35" << 0 << "read psf done";
        QTest::newRow("read fails mid-flash") << "Pacer35" << 1 << "failed read flash";
        QTest::newRow("Pacer20 in first use") << "Pacer20" << 2 << " in first use page";
        QTest::newRow("no current record") << "Pulsar30" << 3 << "checkIntegrity failed";
    }

    void readPSFMessages()
    {
        QFETCH(QString, model);
        QFETCH(int, fault);
        QFETCH(QString, message);
        QVERIFY(make(model));
        QByteArray external = flash(VHDevSim::Flash::External);
        if (fault == 2)
            external[0xF84AA] = 0;
        if (fault == 3)
            external.replace(0, 0x6000, QByteArray(0x6000, char(0xFF)));
        QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::External, external));
        if (fault == 1)
            setFaults({.failCommand = 100, .failSelector = 16});
        LogCapture log;
        QCOMPARE(device().readPSF(), fault == 0);
        QVERIFY2(log.contains(message), qPrintable(log.all()));
        if (fault == 0) {
            QCOMPARE(device().flashImage(), external);
            QCOMPARE(device().userValues().value(QStringLiteral("User Sex")).toString(), QStringLiteral("Male"));
            QCOMPARE(device().userValues().value(QStringLiteral("User Height.Metric")).toString(),
                     QStringLiteral("178"));
            const qsizetype current = VHPacer30ImageBuilder::slotOffset(VHPacer30ImageBuilder::Options().currentSlot);
            QCOMPARE(device().headerRecord(), external.mid(current, VHPacer30::kHeaderRecordSize));
        }
    }

    void pulsarEraseRule_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QByteArray>("tag");
        QTest::addColumn<bool>("erases");
        QTest::newRow("Pulsar30 V008") << "Pulsar30" << QByteArray("V008") << false;
        QTest::newRow("Pulsar30 V002") << "Pulsar30" << QByteArray("V002") << true;
        QTest::newRow("version not a number") << "Pulsar30" << QByteArray("Vx12") << true;
        QTest::newRow("Pacer20 V007") << "Pacer20" << QByteArray("V007") << true;
        QTest::newRow("Pacer20 V008") << "Pacer20" << QByteArray("V008") << false;
        QTest::newRow("Pulsar35 always") << "Pulsar35" << QByteArray("V009") << true;
    }

    void pulsarEraseRule()
    {
        QFETCH(QString, model);
        QFETCH(QByteArray, tag);
        QFETCH(bool, erases);
        QVERIFY(make(model, tag));
        const QByteArray before = flash(VHDevSim::Flash::External);
        const QByteArray image = VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("V009"),
                                                     VHPacer30Package::imageTag(model) + QByteArray(600, 'm'));
        const QString package = zip(
            QStringLiteral("img.zip"),
            {{model + "_a.bin", image + "old"}, {model + "_b.bin", image}, {"c.bin", image + "other"}, {"d.txt", "x"}});
        QVERIFY(device()._updateTotal(package, QString()));
        QCOMPARE(flash(VHDevSim::Flash::Internal).left(0x79000), image + QByteArray(0x79000 - image.size(), '\0'));
        QCOMPARE(writes(14).size(), erases ? 1 : 0);
        // The erase takes the user's data: a copy is kept first.
        QCOMPARE(device().ownBackups().size(), erases ? 1 : 0);
        if (!erases)
            return;
        QCOMPARE(readFile(device().latestBackup()), before);
        // A rerun over the erased flash keeps that backup: the erased flash is no store to keep.
        QVERIFY(device()._updateTotal(package, QString()));
        QCOMPARE(device().ownBackups().size(), 1);
        QCOMPARE(readFile(device().latestBackup()), before);
        QFile::remove(device().latestBackup());
    }

    // Only this model's image, whole and tagged, reaches the device, and nothing before it is checked.
    void pulsarImageChecked_data()
    {
        QTest::addColumn<QString>("name"); // empty: no package at all
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("logged");
        const QByteArray tagged = "MAPLE" + QByteArray(600, 'm');
        QTest::newRow("another family's name") << "SycamoreBR_120.bin" << tagged << "";
        QTest::newRow("a language pack's base") << "aspens.bin" << tagged << "";
        QTest::newRow("a longer model name") << "PULSAR300.bin" << tagged << "";
        QTest::newRow("empty") << "PULSAR30_V005.bin" << QByteArray() << "";
        QTest::newRow("short") << "PULSAR30_V005.bin" << tagged.left(100) << "";
        QTest::newRow("larger than the area") << "MAPLE.bin" << tagged + QByteArray(0x79000, 'm') << "";
        QTest::newRow("another model's tag") << "PULSAR30_V005.bin"
                                             << "WILLOW" + QByteArray(600, 'w') << "";
        QTest::newRow("no image") << "readme.txt" << QByteArray("x") << "maple image not found in unzipd folder ";
        QTest::newRow("no package") << "" << QByteArray() << "unzip maple image failed ";
    }

    void pulsarImageChecked()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, logged);
        QVERIFY(make(QStringLiteral("Pulsar30"), "V002"));
        const QByteArray before = flash(VHDevSim::Flash::External);
        m_sim->clearCommandLog(kName);
        const QString package = name.isEmpty() ? m_root->filePath(QStringLiteral("missing.zip"))
                                               : zip(QStringLiteral("img.zip"), {{name, content}});
        LogCapture log;
        QVERIFY(!device()._updateTotal(package, QString()));
        QVERIFY2(logged.isEmpty() || log.contains(logged), qPrintable(log.all()));
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE")).isEmpty());
        QCOMPARE(flash(VHDevSim::Flash::External), before);
    }

    void loaderSequence_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("vanishAfter");
        QTest::addColumn<int>("failSelector");
        QTest::addColumn<QString>("failure"); // empty: succeeds
        QTest::newRow("Pacer35") << "Pacer35" << -1 << -1 << "";
        QTest::newRow("Pulsar30") << "Pulsar30" << -1 << -1 << "";
        // Three blocks of the temporary loader, the mode command, one unanswered poll.
        QTest::newRow("vanishes in loader mode") << "Pulsar30" << 5 << -1 << "did not come back";
        QTest::newRow("temporary loader write fails") << "Pulsar30" << -1 << 12 << "write maple iap temp failed ";
        QTest::newRow("loader write fails") << "Pacer35" << -1 << 10 << "write iap failed ";
    }

    void loaderSequence()
    {
        QFETCH(QString, model);
        QFETCH(int, vanishAfter);
        QFETCH(int, failSelector);
        QFETCH(QString, failure);
        const bool ok = failure.isEmpty();
        VHSimPacer30Options options;
        options.rebootCommands = 2;
        QVERIFY(make(model, "V008", options));
        const QByteArray loader = VHDevSim::makeImage(QStringLiteral("IAP"), QStringLiteral("I009"), "loader");
        const QString package =
            zip(QStringLiteral("iap.zip"), {{"ITemp.bin", QByteArray(5000, 'T')}, {"IAP.bin", loader}});
        m_sim->clearCommandLog(kName);
        const QByteArray tempBlocks = QByteArray(5000, 'T');
        setFaults({.vanishAfter = vanishAfter, .failCommand = failSelector < 0 ? 0 : 1, .failSelector = failSelector});
        LogCapture log;
        QCOMPARE(device().updateLaunchsec(package), ok);
        QVERIFY2(ok || log.contains(failure), qPrintable(log.all()));
        if (!ok)
            return;
        QStringList kinds;
        for (const QString &line : m_sim->commandLog(kName)) {
            const QString kind = line.section(QLatin1Char(' '), 0, 1);
            if (kinds.isEmpty() || kinds.last() != kind)
                kinds.append(kind);
        }
        QCOMPARE(kinds, QStringList({"WRITE sel=12", "WRITE sel=1", "READ sel=3", "WRITE sel=10", "WRITE sel=0",
                                     "READ sel=3"}));
        QCOMPARE(m_sim->commandLog(kName).filter(QStringLiteral("READ sel=3 ")).size(), 6);
        QCOMPARE(writes(12).size(), 3);
        QCOMPARE(flash(VHDevSim::Flash::Internal).left(5000), tempBlocks);
        QVERIFY(m_sim->restart(kName));
        QVERIFY(attach(model, "V008"));
        QCOMPARE(VHSimScsiDevice::readIdentity(m_sim->deviceFolder(kName)).iapTag, QByteArray("I009"));
    }

    void loaderPackagesWithoutFilesWriteNothing_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::newRow("no temporary loader") << QStringList{"IAP.bin"};
        QTest::newRow("no loader") << QStringList{"ITemp.bin"};
        QTest::newRow("empty") << QStringList{"readme.txt"};
    }

    void loaderPackagesWithoutFilesWriteNothing()
    {
        QFETCH(QStringList, files);
        QVERIFY(make(QStringLiteral("Pacer35")));
        QList<QPair<QString, QByteArray>> entries;
        for (const QString &file : files)
            entries.append({file, QByteArray(3000, 'L')});
        m_sim->clearCommandLog(kName);
        QVERIFY(!device().updateLaunchsec(zip(QStringLiteral("iap.zip"), entries)));
        QVERIFY(m_sim->commandLog(kName).filter(QStringLiteral("WRITE")).isEmpty());
    }

    void finalizeRetriesACorruptingRead_data()
    {
        QTest::addColumn<int>("corruptReads");
        QTest::addColumn<int>("after");
        QTest::addColumn<int>("erases");
        QTest::addColumn<bool>("ok");
        // The backup is the image read before; each attempt reads the flash erased, then written.
        QTest::newRow("first read good") << 0 << 0 << 1 << true;
        QTest::newRow("two attempts spoilt") << 257 << 0 << 3 << true;
        QTest::newRow("every attempt spoilt") << 9 * 256 + 1 << 0 << 10 << false;
        QTest::newRow("a written block reads back wrong") << 1 << 300 << 2 << true;
    }

    // The image that is backed up and written back is read twice: one bad answer keeps nothing.
    void corruptFlashReadIsNotKept()
    {
        QVERIFY(make(QStringLiteral("Pacer35")));
        setFaults({.corruptReads = 1, .corruptSelector = 16, .corruptAfter = 100});
        QVERIFY(!device().readPSF());
        QVERIFY(device().flashImage().isEmpty() && !device().psf());
        setFaults({});
        QVERIFY(device().readPSF());
    }

    void finalizeRetriesACorruptingRead()
    {
        QFETCH(int, corruptReads);
        QFETCH(int, after);
        QFETCH(int, erases);
        QFETCH(bool, ok);
        QVERIFY(make(QStringLiteral("Pacer35")));
        QVERIFY(device().readPSF());
        QVERIFY(device()._finalize()); // nothing changed: nothing written
        QVERIFY(writes(15).isEmpty());
        device().profile()->setValue(QStringLiteral("User MHR"), QStringLiteral("177"));
        device().setProfileChanged(true);
        // Each attempt reads 256 blocks back; one corrupted read spoils it.
        m_sim->clearCommandLog(kName);
        setFaults({.corruptReads = corruptReads, .corruptSelector = 16, .corruptAfter = after});
        QCOMPARE(device()._finalize(), ok);
        QCOMPARE(writes(14).size(), erases);
        QCOMPARE(device().profileChanged(), !ok);
        if (!ok)
            return;
        // The profile and the commit word reach the flash.
        VHProfileData reread(flash(VHDevSim::Flash::External).mid(0xF8000, 4096), VHProfileData::PsfObsolete);
        QVERIFY(reread.read());
        QCOMPARE(reread.value(QStringLiteral("User MHR")), QStringLiteral("177"));
        QCOMPARE(flash(VHDevSim::Flash::External).mid(0x1000, 4), QByteArray("\x11\x22\x33\x44"));
    }

    // The commit word at 0x1000 shares slot 16 with the journal; it is no record.
    void journalStepsOverTheCommitWord_data()
    {
        QTest::addColumn<int>("currentSlot");
        QTest::newRow("slot 2") << 2;
        QTest::newRow("slot 15, the commit word after it") << 15;
        QTest::newRow("slot 20, past the commit word") << 20;
    }

    void journalStepsOverTheCommitWord()
    {
        QFETCH(int, currentSlot);
        QVERIFY(make(QStringLiteral("Pacer35")));
        VHPacer30ImageBuilder::Options options;
        options.model = QStringLiteral("Pacer35");
        options.currentSlot = currentSlot;
        QByteArray external = VHPacer30ImageBuilder::build(options);
        external.replace(0x1000, 4, QByteArray("\x11\x22\x33\x44", 4));
        QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::External, external));
        const qsizetype current = VHPacer30ImageBuilder::slotOffset(currentSlot);
        QCOMPARE(VHPSF::currentRecordOffset(external), current);
        QVERIFY(device().readPSF());
        QCOMPARE(device().headerRecord(), external.mid(current, VHPacer30::kHeaderRecordSize));
    }

    // Formatting drops what was read: a later write-back has nothing old to write.
    void formatForgetsTheImage()
    {
        QVERIFY(make(QStringLiteral("Pacer35")));
        QVERIFY(device().readPSF());
        device().setDataChanged(true);
        device().formatDevice();
        QVERIFY(!device().psf() && device().flashImage().isEmpty() && !device().dataChanged());
        QVERIFY(device()._finalize());
        QCOMPARE(flash(VHDevSim::Flash::External), QByteArray(0x100000, char(0xFF)));
    }

    // Without a UUID the backups carry "nouuid"; an old one without any device part is listed too.
    void backupsWithoutUuid()
    {
        QVERIFY(make(QStringLiteral("Pacer35")));
        VHSimScsiDevice::Identity identity = VHSimScsiDevice::readIdentity(m_sim->deviceFolder(kName));
        identity.uuid.clear();
        VHSimScsiDevice::writeIdentity(m_sim->deviceFolder(kName), identity);
        QVERIFY(attach(QStringLiteral("Pacer35"), "V008"));
        QString uuid;
        QVERIFY(!device().getUUID(uuid));
        const QByteArray good = flash(VHDevSim::Flash::External);
        const QString folder = VHEnv::instance()->dataFolder() + QLatin1Char('/');
        const QString old = folder + QStringLiteral("pacer30flash.vh2.8.0.99.dat");
        QVERIFY(writeFile(old, good));
        QVERIFY(ageByADay(old));
        QVERIFY(writeFile(folder + QStringLiteral("pacer30flash.vh1.0-1101A1B2C3D4E5F6.dat"), good));
        QByteArray read;
        QCOMPARE(device().takeCheckedBackup(read), VHScsiFlashClient::Backup::Kept);
        const QStringList kept = device().ownBackups();
        QCOMPARE(kept.size(), 2);
        QCOMPARE(kept.first(), old);
        QVERIFY(kept.last().endsWith(QLatin1String("-nouuid.dat")));
        QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::External, QByteArray(0x100000, char(0xFF))));
        QVERIFY(device()._restoreBackup(old));
        QCOMPARE(flash(VHDevSim::Flash::External), good);
    }

    void finalizeWithDataChangedResetsHeaders()
    {
        QVERIFY(make(QStringLiteral("Pacer35")));
        VHPacer30ImageBuilder::Options options;
        options.model = QStringLiteral("Pacer35");
        options.currentSlot = 5;
        options.routes = VHPacer30ImageBuilder::sampleRoutes(3);
        options.pois = VHPacer30ImageBuilder::samplePois(2);
        QByteArray external = VHPacer30ImageBuilder::build(options);
        external.replace(0xFA000, 16, QByteArray(16, 'x'));
        QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::External, external));
        QVERIFY(device().readPSF());
        device().setDataChanged(true);
        QVERIFY(device()._finalize());
        QVERIFY(!device().dataChanged());
        const QByteArray after = flash(VHDevSim::Flash::External);
        // The record moved to the first slot of a cleared journal; the second header area is reset.
        QCOMPARE(VHPSF::currentRecordOffset(after), 0);
        QCOMPARE(after.mid(VHPacer30ImageBuilder::slotOffset(5), 256), QByteArray(256, char(0xFF)));
        QCOMPARE(after.mid(0xFA000, 0x6000), QByteArray(0x6000, char(0xFF)));
        QCOMPARE(after.mid(0x1000, 4), QByteArray("\x11\x22\x33\x44"));
        // Workouts, laps, tracks and logs serialise to nothing: they stay byte for byte.
        QCOMPARE(after.mid(0x7000, 0x9000), external.mid(0x7000, 0x9000));
        QCOMPARE(after.mid(0x20000, 0x90000), external.mid(0x20000, 0x90000));
        QCOMPARE(after.mid(0xC0000, 0x38000), external.mid(0xC0000, 0x38000));
        QString error;
        const auto reread =
            VHPSF::fromImage(after, 0, VHPacer30Layout::kRegionTable, QStringLiteral("1.4.x.x"), &error);
        QVERIFY2(reread && reread->checkIntegrity(&error), qPrintable(error));
        QCOMPARE(reread->routes().routes().size(), size_t(3));
    }

    void specifyExtFlashWritesNothing()
    {
        QVERIFY(make(QStringLiteral("Pulsar35")));
        QSettings(VHEnv::instance()->settingsPath(), QSettings::IniFormat)
            .setValue(QStringLiteral("Pulsar35/specifyextflash"), QStringLiteral("1"));
        QVERIFY(device().setDefLanguage({QStringLiteral("deu")}));
        const bool ok = device()._finalize();
        QSettings(VHEnv::instance()->settingsPath(), QSettings::IniFormat)
            .remove(QStringLiteral("Pulsar35/specifyextflash"));
        QVERIFY(!ok);
        QVERIFY(writes(14).isEmpty() && writes(15).isEmpty());
    }

    void pulsarLanguageThroughProfile()
    {
        QVERIFY(make(QStringLiteral("Pulsar35")));
        QStringList languages;
        QVERIFY(device().getLanguageOnDevice(languages));
        QCOMPARE(languages, QStringList{QStringLiteral("eng")});
        // Only a code of the language table goes into the profile.
        QVERIFY(!device().setDefLanguage({QStringLiteral("../x")}));
        QVERIFY(!device().setDefLanguage({QStringLiteral("xyz")}));
        QVERIFY(!device().profileChanged());
        QVERIFY(device().setDefLanguage({QStringLiteral("deu")}));
        const VHProfileData *before = device().profile();
        QVERIFY(device()._finalize());
        QCOMPARE(flash(VHDevSim::Flash::External).mid(0xF8000 + 475, 4), QByteArray("deu\0", 4));
        // Reloaded from the flash after the write-back.
        QVERIFY(device().profile() != before);
        QCOMPARE(device().profile()->value(QStringLiteral("User Lang")), QStringLiteral("deu"));
        // The Pulsar30's record has no language: nothing is claimed.
        QVERIFY(make(QStringLiteral("Pulsar30")));
        QVERIFY(!device().setDefLanguage({QStringLiteral("deu")}));
        QVERIFY(!device().profileChanged());
    }

    // The 1 MiB family's language update: its directory limit (229), the listing kept for a rerun, LANG.
    void languageUpdate_data()
    {
        QTest::addColumn<QByteArray>("area");    // empty: the simulator's
        QTest::addColumn<QByteArray>("listing"); // null: none kept
        QTest::addColumn<QString>("named");
        QTest::addColumn<bool>("areaReadFails");
        QTest::addColumn<QStringList>("written"); // empty: refused
        constexpr qsizetype kArea = 0x79000;
        QByteArray nearEnd(kArea, 'p'); // one 3-byte entry: the directory ends 3 bytes before the area's
        const qsizetype at = kArea - 232;
        VHByteWriter(nearEnd, at).fill(229, 0);
        VHByteWriter(nearEnd, at).u32(VHPSFLanguageImage::kMagic).u32(2).u8(1).bytes("fra");
        VHByteWriter(nearEnd, at + 69).u32(229);
        VHByteWriter(nearEnd, at + 149).u32(3);
        const QByteArray pulled(kArea, 'p');
        const QByteArray none;
        QTest::newRow("the device's languages") << none << none << "" << false << QStringList{"eng", "deu"};
        QTest::newRow("directory 232 bytes from the end") << nearEnd << none << "" << false << QStringList{"fra"};
        QTest::newRow("area read fails") << none << none << "" << true << QStringList{};
        QTest::newRow("pulled, listing kept") << pulled << QByteArray("deu\n") << "" << false << QStringList{"deu"};
        QTest::newRow("pulled, no listing") << pulled << none << "" << false << QStringList{};
        QTest::newRow("a language named") << none << none << "fra" << false << QStringList{"fra"};
        QTest::newRow("unknown language") << none << none << "xyz" << false << QStringList{};
    }

    void languageUpdate()
    {
        QFETCH(QByteArray, area);
        QFETCH(QByteArray, listing);
        QFETCH(QString, named);
        QFETCH(bool, areaReadFails);
        QFETCH(QStringList, written);
        QVERIFY(make(QStringLiteral("Pacer35")));
        QString uuid;
        QVERIFY(device().getUUID(uuid));
        QFile::remove(VHLanguageUpdate::listingPath(uuid));
        if (!listing.isNull())
            QVERIFY(writeFile(VHLanguageUpdate::listingPath(uuid), listing));
        if (!area.isEmpty())
            QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::Internal,
                                    area + flash(VHDevSim::Flash::Internal).mid(area.size())));
        VHPSFLanguagePackBuilder::Options pack;
        const QString package = m_root->filePath(QStringLiteral("Total.zip"));
        QVERIFY(VHPSFLanguagePackBuilder::writePackage(package, pack));
        setFaults({.failCommand = areaReadFails ? 1 : 0, .failSelector = areaReadFails ? 13 : -1});
        const QByteArray before = flash(VHDevSim::Flash::Internal);
        QCOMPARE(device()._updateTotal(package, named), !written.isEmpty());
        if (written.isEmpty()) {
            QCOMPARE(flash(VHDevSim::Flash::Internal), before);
            QVERIFY(writes(12).isEmpty());
            return;
        }
        QCOMPARE(flash(VHDevSim::Flash::Internal).left(0x79000),
                 VHPSFLanguagePackBuilder::expectedArea(pack, written).left(0x79000));
        QCOMPARE(VHLanguageUpdate::storedListing(uuid), written);
    }

    void languageImageToAFile()
    {
        QVERIFY(make(QStringLiteral("Pacer35")));
        VHPSFLanguagePackBuilder::Options pack;
        const QString package = m_root->filePath(QStringLiteral("Total.zip"));
        QStringList names;
        QVERIFY(VHPSFLanguagePackBuilder::writePackage(package, pack));
        QVERIFY(VHPSFDevice::unpackLanguagePack(package, names));
        QSettings(VHEnv::instance()->settingsPath(), QSettings::IniFormat)
            .setValue(QStringLiteral("Pacer35/savelangeageimage"), QStringLiteral("1"));
        const QByteArray internal = flash(VHDevSim::Flash::Internal);
        QString path = m_root->filePath(QStringLiteral("Total.zip/Aspens.bin")); // below a file: can not be written
        VHPSFDevice::setImagePathHook([&] { return path; });
        LogCapture log;
        const bool refused = !device().setDefLanguage({QStringLiteral("deu")});
        path = m_root->filePath(QStringLiteral("Aspens.bin"));
        const bool written = device().setDefLanguage({QStringLiteral("deu")});
        VHPSFDevice::setImagePathHook({});
        QSettings(VHEnv::instance()->settingsPath(), QSettings::IniFormat)
            .remove(QStringLiteral("Pacer35/savelangeageimage"));
        QVERIFY(refused && written);
        QVERIFY2(log.contains(QStringLiteral("can not write the language image to")), qPrintable(log.all()));
        const QByteArray image = readFile(path);
        QVERIFY(!image.isEmpty());
        QCOMPARE(image, VHPSFLanguagePackBuilder::expectedArea(pack, {QStringLiteral("deu")}).left(image.size()));
        QCOMPARE(flash(VHDevSim::Flash::Internal), internal);
    }

    void restoreFactory_data()
    {
        QTest::addColumn<QString>("exData");
        QTest::addColumn<int>("failSelector");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("externalWritten");
        QTest::addColumn<QString>("earlierExData"); // restored first from the same place, same size and second
        QTest::newRow("whole") << "yes" << -1 << true << true << QString();
        QTest::newRow("ExData=no") << "no" << -1 << true << false << QString();
        QTest::newRow("erase fails") << "yes" << 14 << false << false << QString();
        QTest::newRow("external write fails") << "yes" << 15 << false << false << QString();
        QTest::newRow("second package in the same second") << "yes" << -1 << true << true << "no ";
    }

    void restoreFactory()
    {
        QFETCH(QString, exData);
        QFETCH(int, failSelector);
        QFETCH(bool, ok);
        QFETCH(bool, externalWritten);
        QFETCH(QString, earlierExData);
        QVERIFY(make(QStringLiteral("Pacer35")));
        QVERIFY(attach(QStringLiteral("Pacer35"), "V008", QStringLiteral("ASPENS")));
        const QString folder = m_root->filePath(QStringLiteral("restore"));
        QDir().mkpath(folder);
        QVERIFY(writeFile(folder + QStringLiteral("/ASPENS.bin"), QByteArray(4096, 'P')));
        QVERIFY(writeFile(folder + QStringLiteral("/ASPENSExData.bin"), QByteArray(8192, 'E')));
        const QString ini = folder + QStringLiteral("/release.ini");
        if (!earlierExData.isEmpty()) {
            QVERIFY(writeFile(ini, "[General]\nExData=" + earlierExData.toLatin1() + "\n"));
            QVERIFY(device()._restoreFactory(folder));
        }
        const QDateTime stamp = QFileInfo(ini).lastModified();
        QVERIFY(writeFile(ini, "[General]\nExData=" + exData.toLatin1() + "\n"));
        QFile rewritten(ini);
        if (!earlierExData.isEmpty())
            QVERIFY(rewritten.open(QIODevice::ReadWrite)
                    && rewritten.setFileTime(stamp, QFileDevice::FileModificationTime));
        if (failSelector >= 0)
            setFaults({.failCommand = 1, .failSelector = failSelector});
        QCOMPARE(device()._restoreFactory(folder), ok);
        QCOMPARE(flash(VHDevSim::Flash::Internal).left(4096), QByteArray(4096, 'P'));
        QCOMPARE(flash(VHDevSim::Flash::External).left(8192) == QByteArray(8192, 'E'), externalWritten);
    }
};

QTEST_GUILESS_MAIN(TestVHPacer30)
#include "tst_VHPacer30.moc"
