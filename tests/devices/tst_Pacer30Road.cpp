// The 1 MiB family through the device runtime with the built-in model table:
// simulated devices found by their INQUIRY answer take a language pack, a
// program image, a loader and a language through the profile, and after the
// simulator restarts them report the versions they were given.

#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHEnv.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer35.h"
#include "VHProfileData.h"
#include "VHPulsar30.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"
#include "VHTestSimRuntime.h"
#include "VHTestZip.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestPacer30Road : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    QTemporaryDir m_root;
    VHTestSimRuntime m_runtime;

    VHPacer30 *device() const { return m_runtime.current<VHPacer30>(); }
    bool waitForDevice() { return m_runtime.waitForCurrent<VHPacer30>(); }

    // Device events closer than a second to the last one are taken for one burst.
    static void settle() { QTest::qWait(1100); }

    bool runAction(const std::function<bool()> &start, int action) { return m_runtime.events.run(start, action); }

    bool restart(const QString &name)
    {
        settle();
        if (!m_runtime.sim->unplug(name) || !QTest::qWaitFor([this] { return device() == nullptr; }, 5000))
            return false;
        settle();
        return m_runtime.sim->boot(name) && m_runtime.sim->plug(name) && waitForDevice();
    }

    QString version(bool loader = false) const
    {
        QString text;
        if (!(loader ? device()->getIAPVersion(text) : device()->getImageVersion(text)))
            return QStringLiteral("none");
        return text;
    }

    QString zip(const QString &name, const QList<QPair<QString, QByteArray>> &files)
    {
        return zipFiles(m_root.filePath(name), files);
    }

private slots:
    void initTestCase() { QVERIFY(m_runtime.start(m_root.path(), m_data.path())); }
    void cleanupTestCase() { m_runtime.stop(); }

    void pacer35LanguageUpdate()
    {
        VHSimPacer30Options options;
        options.model = QStringLiteral("Pacer35");
        QVERIFY(m_runtime.sim->createPacer30(QStringLiteral("ASPENS1"), options));
        QVERIFY(m_runtime.sim->plug(QStringLiteral("ASPENS1")));
        QVERIFY(waitForDevice());
        QVERIFY(qobject_cast<VHPacer35 *>(device()));
        QCOMPARE(version(), QStringLiteral("V008"));
        VHPSFLanguagePackBuilder::Options pack;
        pack.baseVersion = QStringLiteral("V010");
        const QString package = m_root.filePath(QStringLiteral("Total.zip"));
        QVERIFY(VHPSFLanguagePackBuilder::writePackage(package, pack));
        QVERIFY(runAction([&] { return device()->updateTotal(package, QString()); }, VHClient::ActionUpdateTotal));
        const QByteArray expected =
            VHPSFLanguagePackBuilder::expectedArea(pack, {QStringLiteral("eng"), QStringLiteral("deu")}).left(0x79000);
        QCOMPARE(m_runtime.sim->flash(QStringLiteral("ASPENS1"), VHDevSim::Flash::Internal).left(0x79000), expected);
        QVERIFY(restart(QStringLiteral("ASPENS1")));
        QCOMPARE(version(), QStringLiteral("V010"));
        QVERIFY(m_runtime.sim->remove(QStringLiteral("ASPENS1")));
        QTRY_VERIFY_WITH_TIMEOUT(!device(), 5000);
    }

    void pulsar30ImageAndLoader()
    {
        const QString name = QStringLiteral("MAPLE1");
        VHSimPacer30Options options;
        options.model = QStringLiteral("Pulsar30");
        options.rebootCommands = 3;
        settle();
        QVERIFY(m_runtime.sim->createPacer30(name, options));
        QVERIFY(m_runtime.sim->plug(name));
        QVERIFY(waitForDevice());
        QVERIFY(qobject_cast<VHPulsar30 *>(device()));
        const QByteArray image =
            VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("V009"), "MAPLE" + QByteArray(600, 'm'));
        const QString package = zip(QStringLiteral("maple.zip"), {{"maple.bin", image}});
        QVERIFY(runAction([&] { return device()->updateTotal(package, QString()); }, VHClient::ActionUpdateTotal));
        QVERIFY(restart(name));
        QCOMPARE(version(), QStringLiteral("V009"));

        const QByteArray loader = VHDevSim::makeImage(QStringLiteral("IAP"), QStringLiteral("I010"), "loader");
        const QString iap = zip(QStringLiteral("iap.zip"), {{"ITemp.bin", QByteArray(3000, 'T')}, {"IAP.bin", loader}});
        QVERIFY(runAction([&] { return device()->updateBootLoader(iap); }, VHClient::ActionUpdateBootLoader));
        QVERIFY(restart(name));
        QCOMPARE(version(true), QStringLiteral("I010"));
        QVERIFY(m_runtime.sim->remove(name));
        QTRY_VERIFY_WITH_TIMEOUT(!device(), 5000);
    }

    void pulsar35LanguageWrittenBack()
    {
        const QString name = QStringLiteral("WILLOW1");
        VHSimPacer30Options options;
        options.model = QStringLiteral("Pulsar35");
        settle();
        QVERIFY(m_runtime.sim->createPacer30(name, options));
        QVERIFY(m_runtime.sim->plug(name));
        QVERIFY(waitForDevice());
        QVERIFY(device()->setDefLanguage({QStringLiteral("fra")}));
        QVERIFY(runAction([&] { return device()->finalize(); }, VHClient::ActionFinalize));
        QVERIFY(restart(name));
        QStringList languages;
        QVERIFY(device()->getLanguageOnDevice(languages));
        QCOMPARE(languages, QStringList{QStringLiteral("fra")});
    }
};

QTEST_GUILESS_MAIN(TestPacer30Road)
#include "tst_Pacer30Road.moc"
