// The PSF watch through the device runtime with the built-in model table: a
// simulated "LINDEN" device is found by its INQUIRY answer, takes a language
// pack, a factory restore and a finalize, and survives being pulled in the
// middle of a save.

#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHEnv.h"
#include "VHPSFDevice.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"
#include "VHTestSimRuntime.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kName = QStringLiteral("LINDEN1");

} // namespace

class TestPSFUpdateRoad : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    QTemporaryDir m_root;
    VHTestSimRuntime m_runtime;

    VHPSFDevice *device() const { return m_runtime.current<VHPSFDevice>(); }
    bool waitForDevice() { return m_runtime.waitForCurrent<VHPSFDevice>(); }

    // Device events closer than a second to the last one are taken for one burst.
    static void settle() { QTest::qWait(1100); }

    bool runAction(const std::function<bool()> &start, int action) { return m_runtime.events.run(start, action); }

private slots:
    void initTestCase() { QVERIFY(m_runtime.start(m_root.path(), m_data.path())); }
    void cleanupTestCase() { m_runtime.stop(); }

    void foundByInquiry()
    {
        QVERIFY(m_runtime.sim->createPacer40(kName));
        QVERIFY(m_runtime.sim->plug(kName));
        QVERIFY(waitForDevice());
        QString text;
        QVERIFY(device()->getModelName(text));
        QCOMPARE(text, QStringLiteral("Pacer40"));
        QVERIFY(device()->getImageVersion(text));
        QCOMPARE(text, QStringLiteral("V012"));
        QVERIFY(device()->container());
    }

    void updateTotalWithLanguagePack()
    {
        VHPSFLanguagePackBuilder::Options options;
        const QString zip = m_root.filePath(QStringLiteral("Total.zip"));
        QVERIFY(VHPSFLanguagePackBuilder::writePackage(zip, options));
        QVERIFY(runAction([&] { return device()->updateTotal(zip, QString()); }, VHClient::ActionUpdateTotal));
        const QByteArray expected =
            VHPSFLanguagePackBuilder::expectedArea(options, {QStringLiteral("eng"), QStringLiteral("deu")});
        QCOMPARE(m_runtime.sim->flash(kName, VHDevSim::Flash::Internal).left(expected.size()), expected);
        QCOMPARE(QSettings(VHEnv::instance()->settingsPath(), QSettings::IniFormat)
                     .value(QStringLiteral("Pacer40/MinVHVer"))
                     .toString(),
                 QStringLiteral("2.5.0.0"));
    }

    void restoreFactoryAndRestart()
    {
        const QString folder = m_root.filePath(QStringLiteral("restore"));
        QVERIFY(VHPSFLanguagePackBuilder::writeRestoreFolder(folder, QStringLiteral("LINDEN"), QStringLiteral("V020")));
        QVERIFY(runAction([&] { return device()->restoreFactory(folder); }, VHClient::ActionRestoreFactory));
        QCOMPARE(m_runtime.sim->flash(kName, VHDevSim::Flash::External),
                 readFile(folder + QStringLiteral("/LINDENExData.bin")));
        settle();
        QVERIFY(m_runtime.sim->unplug(kName));
        QTRY_VERIFY_WITH_TIMEOUT(!device(), 5000);
        QVERIFY(m_runtime.sim->boot(kName));
        settle();
        QVERIFY(m_runtime.sim->plug(kName));
        QVERIFY(waitForDevice());
        QString text;
        QVERIFY(device()->getImageVersion(text));
        QCOMPARE(text, QStringLiteral("V020"));
    }

    void finalizeKeepsABackup()
    {
        const QByteArray before = m_runtime.sim->flash(kName, VHDevSim::Flash::External);
        m_runtime.sim->clearCommandLog(kName);
        QVERIFY(runAction([&] { return device()->finalize(); }, VHClient::ActionFinalize));
        const QStringList log = m_runtime.sim->commandLog(kName);
        QVERIFY(log.filter(QStringLiteral("sel=14")).size() == 1);
        QVERIFY(!log.filter(QStringLiteral("sel=15")).isEmpty());
        // The backup read twice, the erase checked, every frame read back.
        QVERIFY(log.filter(QStringLiteral("sel=16")).size() >= 3 * 512);
        QCOMPARE(readFile(device()->latestBackup()), before);
    }

    void pulledInTheMiddleOfASave()
    {
        const QByteArray before = m_runtime.sim->flash(kName, VHDevSim::Flash::External);
        // Vanishes after the backup (two reads), the erase, its status and check, and a few frame commands.
        QVERIFY(m_runtime.sim->setFaults(kName, {.vanishAfter = 2 * 512 + 2 + 512 + 3}));
        settle();
        QVERIFY(!runAction([&] { return device()->finalize(); }, VHClient::ActionFinalize));
        // Pulled after the erase: the flash is partly written, the backup holds it whole.
        QVERIFY(m_runtime.sim->flash(kName, VHDevSim::Flash::External) != before);
        QTRY_VERIFY_WITH_TIMEOUT(!device(), 5000);
        settle();
        QVERIFY(m_runtime.sim->plug(kName));
        QVERIFY(waitForDevice());
        const QString backup = device()->latestBackup();
        QCOMPARE(readFile(backup), before);
        // The half-written flash is no store: the new object writes nothing and keeps the backup the newest.
        QVERIFY(!runAction([&] { return device()->finalize(); }, VHClient::ActionFinalize));
        QCOMPARE(device()->latestBackup(), backup);
        QVERIFY(runAction([&] { return device()->restoreBackup(backup); }, VHClient::ActionRestoreFactory));
        QCOMPARE(m_runtime.sim->flash(kName, VHDevSim::Flash::External), before);
    }
};

QTEST_GUILESS_MAIN(TestPSFUpdateRoad)
#include "tst_PSFUpdateRoad.moc"
