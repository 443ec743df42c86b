// The profile actions of the Pacer40 (entries in the simulated device's flash,
// committed by finalize) and of the Pacer50 family (settings files on its volume).

#include "VHDevSim.h"
#include "VHFSDeviceService.h"
#include "VHPSFDevice.h"
#include "VHPSFLayout.h"
#include "VHPSFStoreBuilder.h"
#include "VHPacer50CR.h"
#include "VHProfileBuilder.h"
#include "VHProfileEntries.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"
#include "VHTestSimDevice.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kName = QStringLiteral("W");
using Map = QMap<QString, QString>;

Map entriesOf(const QByteArray &flash)
{
    Map map;
    if (!VHProfileEntries::read(flash.mid(VHPSFLayout::kProfileOffset, VHPSFLayout::kProfileSize), map))
        map.insert("unreadable", "");
    return map;
}

Map settingsOf(const QString &path)
{
    Map map;
    if (!VHProfileReaderXML::parse(readFile(path), map))
        map.insert("unreadable", "");
    return map;
}

} // namespace

class TestProfileOperations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    VHTestSimDevice m_bench;
    std::unique_ptr<QTemporaryDir> &m_root = m_bench.root; // also the Pacer50CR volume's
    VHDevSim *m_sim = nullptr;
    std::unique_ptr<VHPSFDevice, VHClientDeleter> m_pacer40;

    QByteArray flash() const { return m_sim->flash(kName, VHDevSim::Flash::External); }

    bool plugPacer40(const QByteArray &profileBlock)
    {
        m_sim = &m_bench.fresh();
        const QByteArray image = VHPSFStoreBuilder::image({});
        if (!m_sim->createPacer40(kName) || !m_sim->plug(kName)
            || !m_sim->setFlash(kName, VHDevSim::Flash::External,
                                profileBlock.isEmpty() ? image
                                                       : VHProfileBuilder::withPacer40Profile(image, profileBlock)))
            return false;
        return attachPacer40();
    }

    bool attachPacer40()
    {
        m_pacer40.reset(new VHPSFDevice);
        return m_bench.attach(*m_pacer40, vhTestSimRow("Pacer40", "LINDEN"), {}, {}) && m_pacer40->initial();
    }

    // A Pacer50CR volume whose core folder holds the given settings files (absent when empty).
    std::unique_ptr<VHPacer50CR, VHClientDeleter> pacer50(const QByteArray &user, const QByteArray &defaults)
    {
        m_root = std::make_unique<QTemporaryDir>();
        const QString volume = m_root->path();
        const QString core = volume + "/nimbra/applications/core/";
        writeFile(volume + "/device.ini", "[UUID]\r\nUUID=1104AAAABBBBCCCC\r\n[MODEL]\r\nModel=Pacer50CR\r\n");
        QDir().mkpath(core);
        if (!user.isEmpty())
            writeFile(core + "user_settings.xml", user);
        if (!defaults.isEmpty())
            writeFile(core + "default_settings.xml", defaults);
        std::unique_ptr<VHPacer50CR, VHClientDeleter> device(new VHPacer50CR);
        const VHModelInfo row{QStringLiteral("1104"), QStringLiteral("Pacer50CR"), QStringLiteral("Velora"), nullptr};
        device->setDeviceService(new VHFSDeviceService(volume, row, volume + "/device.ini"));
        return device;
    }

    QString userSettings() const { return m_root->path() + "/nimbra/applications/core/user_settings.xml"; }

private slots:
    void initTestCase() { initTestEnv(m_data.path()); }
    void cleanup() { m_pacer40.reset(); }

    void pacer40SaveCommitsAtFinalize_data()
    {
        QTest::addColumn<bool>("asPath");
        QTest::newRow("document") << false;
        QTest::newRow("path") << true;
    }

    void pacer40SaveCommitsAtFinalize()
    {
        QFETCH(bool, asPath);
        const Map stored = {{"User Sex", "1"}, {"User MHR", "180"}, {"Language ISO3", "eng"}};
        QVERIFY(plugPacer40(VHProfileBuilder::pacer40Block(stored)));
        const Map changes = {{"User MHR", "175"}, {"Time zone", "-3.5"}, {"Favourite", "x"}};
        QByteArray argument = VHProfileBuilder::settingsXml(changes);
        if (asPath) {
            const QString path = m_data.filePath("new_profile.xml");
            QVERIFY(writeFile(path, argument));
            argument = path.toUtf8();
        }
        const QByteArray before = flash();
        QVERIFY(m_pacer40->saveProfile(argument));
        QCOMPARE(flash(), before);
        QVERIFY(m_pacer40->_finalize());
        const Map expected = {{"User Sex", "1"}, {"User MHR", "175"}, {"Language ISO3", "eng"}, {"Time zone", "-3.5"}};
        QCOMPARE(entriesOf(flash()), expected);

        QVERIFY(attachPacer40());
        const QString upload = m_data.filePath("profile.xml");
        QVERIFY(m_pacer40->prepareUploadProfile(upload));
        QCOMPARE(settingsOf(upload), expected);
    }

    void pacer40RefusesBadInput()
    {
        // The store builder's profile block is noise: no entry list.
        QVERIFY(plugPacer40({}));
        const QString upload = m_data.filePath("noise.xml");
        QVERIFY(!m_pacer40->prepareUploadProfile(upload));
        QVERIFY(!QFile::exists(upload));
        const QByteArray image = m_pacer40->store().image();
        QVERIFY(!m_pacer40->saveProfile("<settings><property name=\"User MHR\""));
        QVERIFY(!m_pacer40->saveProfile(m_data.filePath("missing.xml").toUtf8()));
        QCOMPARE(m_pacer40->store().image(), image);
        // Unreadable entries are replaced by the given values alone.
        QVERIFY(m_pacer40->saveProfile(VHProfileBuilder::settingsXml({{"User Sex", "0"}})));
        QVERIFY(m_pacer40->prepareUploadProfile(upload));
        QCOMPARE(settingsOf(upload), Map({{"User Sex", "0"}}));
    }

    void pacer50Profile()
    {
        auto device = pacer50(
            VHProfileBuilder::settingsXml({{"unit system", "imperial"}, {"User MHR", "181"}}),
            VHProfileBuilder::settingsXml(
                {{"unit system", "Metric"}, {"User MHR", "190"}, {"User Name", "Rider"}, {"Screen Brightness", "3"}}));
        Map profile;
        QVERIFY(device->getProfile(profile));
        QCOMPARE(profile, Map({{"unit system", "Imperial"}, {"User MHR", "181"}, {"User Name", "Rider"}}));
        const QString upload = m_data.filePath("pacer50.xml");
        QVERIFY(device->prepareUploadProfile(upload));
        QCOMPARE(settingsOf(upload), profile);

        QVERIFY(device->saveProfile(
            VHProfileBuilder::settingsXml({{"unit system", "METRIC"}, {"Dst Unit", "km"}, {"User MHR", "100"}})));
        QCOMPARE(settingsOf(userSettings()), Map({{"unit system", "Metric"}, {"Dst Unit", "km"}, {"User MHR", "181"}}));
        // The rest of the file stays as the device wrote it.
        QVERIFY(writeFile(userSettings(), "<settings a=\"1\"><!-- kept --><unit_system>Metric</unit_system>\n"
                                          "<property name=\"Dst Unit\" value=\"mi\" extra=\"x\"/></settings>"));
        QVERIFY(device->saveProfile(VHProfileBuilder::settingsXml({{"unit system", "Imperial"}, {"Dst Unit", "km"}})));
        QCOMPARE(readFile(userSettings()),
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?><settings a=\"1\"><!-- kept --><unit_system>Metric"
                 "</unit_system>\n<property name=\"Dst Unit\" value=\"km\" extra=\"x\"/>"
                 "<property name=\"unit system\" value=\"Imperial\"/></settings>\n");
        QCOMPARE(QDir(QFileInfo(userSettings()).path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList({"default_settings.xml", "user_settings.xml"}));
    }

    void pacer50RefusesBadInput_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("given");
        const QByteArray good = VHProfileBuilder::settingsXml({{"unit system", "Metric"}});
        QTest::newRow("unknown unit") << good << VHProfileBuilder::settingsXml({{"unit system", "Furlongs"}});
        QTest::newRow("no unit given") << good << VHProfileBuilder::settingsXml({{"User MHR", "1"}});
        QTest::newRow("unit text too long") << good << VHProfileBuilder::settingsXml({{"Dst Unit", QString(40, 'k')}});
        QTest::newRow("malformed given") << good << QByteArray("<settings><property");
        QTest::newRow("malformed on the device")
            << QByteArray("<settings><property") << VHProfileBuilder::settingsXml({{"Dst Unit", "mi"}});
        QTest::newRow("link on the device")
            << QByteArray("link") << VHProfileBuilder::settingsXml({{"Dst Unit", "mi"}});
    }

    void pacer50RefusesBadInput()
    {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, given);
        auto device = pacer50(user == "link" ? QByteArray() : user, {});
        const QString outside = m_data.filePath("outside.xml");
        QVERIFY(writeFile(outside, VHProfileBuilder::settingsXml({{"unit system", "Metric"}})));
        if (user == "link")
            QVERIFY(QFile::link(outside, userSettings()));
        const QStringList before = snapshot(m_root->path());
        QVERIFY(!device->saveProfile(given));
        QCOMPARE(snapshot(m_root->path()), before);
        QCOMPARE(settingsOf(outside), Map({{"unit system", "Metric"}}));
        Map profile;
        QCOMPARE(device->getProfile(profile), user == good());
    }

private:
    static QByteArray good() { return VHProfileBuilder::settingsXml({{"unit system", "Metric"}}); }
};

QTEST_GUILESS_MAIN(TestProfileOperations)
#include "tst_ProfileOperations.moc"
