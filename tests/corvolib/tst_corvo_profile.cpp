// The device profile: read into an ini file, written back from one and
// carried into the profile image of a new software version.

#include "corvo_volume.h"

#include <QProcess>

#include <clocale>
#include <cstring>

using namespace corvotest;

namespace {

Bytes u8v(uint8_t v) { return {v}; }
Bytes u16v(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes u32v(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes floatv(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return u32v(bits);
}

Bytes doublev(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    Bytes bytes = u32v(uint32_t(bits));
    const Bytes high = u32v(uint32_t(bits >> 32));
    bytes.insert(bytes.end(), high.begin(), high.end());
    return bytes;
}

Bytes textv(const std::string &text, size_t size)
{
    Bytes bytes(text.begin(), text.end());
    bytes.resize(size, 0);
    return bytes;
}

ProfileBuilder sampleProfile()
{
    ProfileBuilder p("VU01", 2, 64);
    p.value("UnitSystem", 1, 1, u8v(200))
        .value("TimeZone", 2, 2, u8v(uint8_t(-5)))
        .value("Weight", 4, 3, u16v(65000))
        .value("Temp", 6, 4, u16v(uint16_t(-1234)))
        .value("Steps", 8, 5, u32v(uint32_t(-100000)))
        .value("Odo", 12, 6, u32v(123456))
        .value("Speed", 16, 7, floatv(1.5f))
        .value("Dist", 20, 8, doublev(12345.5))
        .value("Lang", 28, 9, u8v(7))
        .value("Flag", 29, 10, u8v(1))
        .value("Bits", 30, 13, u8v(0xB5), "2,3")
        .value("Name", 32, 14, textv("Runner", 12), "12")
        .value("Blob", 44, 12, u32v(0xDEADBEEF), "4")
        .line("Nothing,48,11")
        .value("Weird", 49, 99, u8v(3))
        .value("MHR-BV", 50, 1, u8v(190))
        .value("UP-maxHR", 51, 1, u8v(190))
        .value("LTHR-BV", 52, 3, u16v(170))
        .value("UP-MLSS", 54, 3, u16v(170))
        .line(std::string("TooLong,56,1,") + std::string(100, 'x'));
    return p;
}

const QByteArray kSampleIni = "ProjectCode=VU01\nMajor=2\nMinor=3\nBuild=77\n"
                              "UnitSystem=200\nTimeZone=-5\nWeight=65000\nTemp=-1234\nSteps=-100000\nOdo=123456\n"
                              "Speed=1.50\nDist=12345.50\nLang=7\nFlag=1\nBits=5\nName=Runner\n"
                              "MHR-BV=190\nUP-maxHR=190\nLTHR-BV=170\nUP-MLSS=170\n";

void writeProfile(const CorvoVolume &volume, const ProfileBuilder &profile, const QString &folder = QString())
{
    QVERIFY(volume.write(folder + "ProfileMap.txt", QByteArray::fromStdString(profile.map())));
    QVERIFY(volume.write(folder + "Profile.bin", profile.image()));
}

// The new software's profile: other offsets, one size changed, one value new.
ProfileBuilder newProfile(const std::string &project, int major)
{
    ProfileBuilder p(project, major, 48);
    p.value("UnitSystem", 10, 1, u8v(0))
        .value("Name", 20, 14, textv("Default", 12), "12")
        .value("Weight", 2, 5, u32v(0x01010101))
        .value("Speed", 36, 7, floatv(0.0f))
        .value("NewOnly", 40, 1, u8v(55));
    return p;
}

} // namespace

class TestCorvoProfile : public QObject
{
    Q_OBJECT

private slots:
    void getProfileWritesEveryReadableType_data()
    {
        QTest::addColumn<QString>("mapName");
        QTest::addColumn<QString>("imageName");
        QTest::newRow("as named") << "ProfileMap.txt"
                                  << "Profile.bin";
        QTest::newRow("another letter case") << "PROFILEMAP.TXT"
                                             << "profile.bin";
    }

    void getProfileWritesEveryReadableType()
    {
        QFETCH(QString, mapName);
        QFETCH(QString, imageName);
        CorvoVolume volume;
        QVERIFY(volume.write(mapName, QByteArray::fromStdString(sampleProfile().map())));
        QVERIFY(volume.write(imageName, sampleProfile().image()));
        const QByteArray ini = volume.nativePath("pfread.ini");
        QCOMPARE(GetProfile(volume.home().constData(), ini.constData()), 1);
        QCOMPARE(volume.read("pfread.ini"), kSampleIni);
    }

    // A Qt program runs in the user's locale; a decimal comma must not reach
    // the profile files.
    void getProfileIgnoresTheNumberLocale()
    {
        const char *previous = std::setlocale(LC_NUMERIC, nullptr);
        const std::string saved = previous ? previous : "C";
        QTemporaryDir locales;
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
            // Build the locale when the machine has only its sources.
            QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", locales.filePath("de_DE.UTF-8")});
            qputenv("LOCPATH", QFile::encodeName(locales.path()));
        }
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            QSKIP("no locale with a decimal comma available");
        CorvoVolume volume;
        writeProfile(volume, sampleProfile());
        const QByteArray ini = volume.nativePath("pfread.ini");
        const int result = GetProfile(volume.home().constData(), ini.constData());
        QVERIFY(volume.write("pfwrite.ini", QByteArray("Speed=2.25\n")));
        const QByteArray writeIni = volume.nativePath("pfwrite.ini");
        const int refreshed = RefreshProfile(volume.home().constData(), writeIni.constData());
        std::setlocale(LC_NUMERIC, saved.c_str());
        qunsetenv("LOCPATH");
        QCOMPARE(result, 1);
        QVERIFY(volume.read("pfread.ini").contains("Speed=1.50\nDist=12345.50\n"));
        QCOMPARE(refreshed, 1);
        QCOMPARE(volume.read("Profile.bin").mid(16, 4), toByteArray(floatv(2.25f)));
    }

    void longValuesAreWrittenEmpty()
    {
        CorvoVolume volume;
        ProfileBuilder p("VU01", 1, 160);
        p.value("LongName", 1, 14, textv(std::string(120, 'a'), 120), "120")
            .value("Huge", 130, 8, doublev(1e120))
            .value("Line", 140, 14, textv("two\nlines", 10), "10");
        writeProfile(volume, p);
        const QByteArray ini = volume.nativePath("out.ini");
        QCOMPARE(GetProfile(volume.home().constData(), ini.constData()), 1);
        QCOMPARE(volume.read("out.ini"),
                 QByteArray("ProjectCode=VU01\nMajor=1\nMinor=3\nBuild=77\nLongName=\nHuge=\nLine=two\n"));
    }

    void getProfileFailsWithoutWritingOnBadFiles()
    {
        CorvoVolume volume;
        const QByteArray ini = volume.nativePath("pfread.ini");
        QCOMPARE(GetProfile(volume.home().constData(), ini.constData()), 0);
        QVERIFY(volume.write("ProfileMap.txt", QByteArray::fromStdString(sampleProfile().map())));
        QCOMPARE(GetProfile(volume.home().constData(), ini.constData()), 0);
        // A value behind the end of the image.
        QVERIFY(volume.write("Profile.bin", toByteArray(sampleProfile().image()).left(40)));
        QCOMPARE(GetProfile(volume.home().constData(), ini.constData()), 0);
        QVERIFY(!volume.exists("pfread.ini"));
        QCOMPARE(GetProfile(nullptr, ini.constData()), 0);
    }

    void refreshWritesValuesAndTheirMirrors()
    {
        CorvoVolume volume;
        const ProfileBuilder profile = sampleProfile();
        writeProfile(volume, profile);
        QVERIFY(volume.write("pfwrite.ini", QByteArray("[Profile]\nMHR-BV=180\r\nLTHR-BV=160\nSpeed=2.25\nBits=2\n"
                                                       "Name=Other\nBlob=1\nUnknownKey=5\nTemp=\nno equals sign\n")));
        const QByteArray ini = volume.nativePath("pfwrite.ini");
        QCOMPARE(RefreshProfile(volume.home().constData(), ini.constData()), 1);

        QByteArray expected = toByteArray(profile.image());
        expected[50] = char(180);
        expected[51] = char(180);
        expected[52] = char(160);
        expected[54] = char(160);
        expected.replace(16, 4, toByteArray(floatv(2.25f)));
        expected[30] = char(0xA9); // bits 2..4 replaced, the others kept
        QCOMPARE(volume.read("Profile.bin"), expected);
    }

    void refreshWithABadValueChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::newRow("byte out of range") << QByteArray("MHR-BV=170\nUnitSystem=300\n");
        QTest::newRow("not a number") << QByteArray("Weight=heavy\n");
        QTest::newRow("trailing garbage") << QByteArray("Odo=12km\n");
        QTest::newRow("bit field too wide") << QByteArray("Bits=8\n");
        QTest::newRow("float out of range") << QByteArray("Speed=1e40\n");
    }

    void refreshWithABadValueChangesNothing()
    {
        QFETCH(QByteArray, ini);
        CorvoVolume volume;
        writeProfile(volume, sampleProfile());
        QVERIFY(volume.write("pfwrite.ini", ini));
        const QByteArray path = volume.nativePath("pfwrite.ini");
        QCOMPARE(RefreshProfile(volume.home().constData(), path.constData()), 0);
        QCOMPARE(volume.read("Profile.bin"), toByteArray(sampleProfile().image()));
    }

    void refreshAcceptsBothRangesOfAnInteger()
    {
        CorvoVolume volume;
        writeProfile(volume, sampleProfile());
        QVERIFY(volume.write("pfwrite.ini", QByteArray("UnitSystem=-1\nTimeZone=255\nOdo=4294967295\n")));
        const QByteArray path = volume.nativePath("pfwrite.ini");
        QCOMPARE(RefreshProfile(volume.home().constData(), path.constData()), 1);
        const QByteArray image = volume.read("Profile.bin");
        QCOMPARE(quint8(image[1]), quint8(255));
        QCOMPARE(quint8(image[2]), quint8(255));
        QCOMPARE(le32At(image, 12), 0xFFFFFFFFu);
    }

    void readAndWriteBackLeavesTheImageAlone()
    {
        CorvoVolume volume;
        writeProfile(volume, sampleProfile());
        const QByteArray ini = volume.nativePath("round.ini");
        QCOMPARE(GetProfile(volume.home().constData(), ini.constData()), 1);
        QCOMPARE(RefreshProfile(volume.home().constData(), ini.constData()), 1);
        QCOMPARE(volume.read("Profile.bin"), toByteArray(sampleProfile().image()));
    }

    void refreshFailsWithoutItsFiles()
    {
        CorvoVolume volume;
        const QByteArray path = volume.nativePath("pfwrite.ini");
        QCOMPARE(RefreshProfile(volume.home().constData(), path.constData()), 0);
        writeProfile(volume, sampleProfile());
        QCOMPARE(RefreshProfile(volume.home().constData(), path.constData()), 0);
    }

    void updateCarriesValuesIntoANewerMajorVersion()
    {
        CorvoVolume volume;
        ProfileBuilder device("VU01", 2, 48);
        device.value("UnitSystem", 1, 1, u8v(9))
            .value("Name", 32, 14, textv("Runner", 12), "12")
            .value("Weight", 4, 3, u16v(700))
            .value("Speed", 16, 7, floatv(3.5f))
            .value("OnlyOld", 44, 1, u8v(1))
            .line("Nothing,45,11");
        writeProfile(volume, device, "Device/");
        const ProfileBuilder fresh = newProfile("VU01", 3);
        writeProfile(volume, fresh, "work/");

        const QByteArray folder = volume.nativePath("Device") + "/";
        const QByteArray map = volume.nativePath("work/ProfileMap.txt");
        const QByteArray bin = volume.nativePath("work/Profile.bin");
        QCOMPARE(UpdateProfile(folder.constData(), map.constData(), bin.constData()), 2);

        QByteArray expected = toByteArray(fresh.image());
        expected[10] = char(9);
        expected.replace(20, 12, toByteArray(textv("Runner", 12)));
        expected.replace(36, 4, toByteArray(floatv(3.5f)));
        QCOMPARE(volume.read("work/Profile.bin"), expected);
        QCOMPARE(volume.read("Device/Profile.bin"), toByteArray(device.image()));
    }

    void updateCarriesNothingAcrossProjectsOrOlderVersions_data()
    {
        QTest::addColumn<QByteArray>("project");
        QTest::addColumn<int>("deviceMajor");
        QTest::addColumn<int>("newMajor");
        QTest::newRow("another project") << QByteArray("VU02") << 1 << 2;
        QTest::newRow("same major") << QByteArray("VU01") << 3 << 3;
        QTest::newRow("device newer") << QByteArray("VU01") << 4 << 3;
    }

    void updateCarriesNothingAcrossProjectsOrOlderVersions()
    {
        QFETCH(QByteArray, project);
        QFETCH(int, deviceMajor);
        QFETCH(int, newMajor);
        CorvoVolume volume;
        ProfileBuilder device("VU01", deviceMajor, 8);
        device.value("UnitSystem", 1, 1, u8v(9));
        writeProfile(volume, device);
        const ProfileBuilder fresh = newProfile(project.toStdString(), newMajor);
        writeProfile(volume, fresh, "work/");
        const QByteArray map = volume.nativePath("work/ProfileMap.txt");
        const QByteArray bin = volume.nativePath("work/Profile.bin");
        QCOMPARE(UpdateProfile(volume.home().constData(), map.constData(), bin.constData()), 1);
        QCOMPARE(volume.read("work/Profile.bin"), toByteArray(fresh.image()));
    }

    void updateFailsOnMissingOrDamagedFilesWithoutChanges()
    {
        CorvoVolume volume;
        const ProfileBuilder fresh = newProfile("VU01", 3);
        writeProfile(volume, fresh, "work/");
        const QByteArray map = volume.nativePath("work/ProfileMap.txt");
        const QByteArray bin = volume.nativePath("work/Profile.bin");
        QCOMPARE(UpdateProfile(volume.home().constData(), map.constData(), bin.constData()), 0);

        ProfileBuilder device("VU01", 2, 8);
        device.value("UnitSystem", 1, 1, u8v(9)).value("Name", 2, 14, textv("R", 12), "12");
        QVERIFY(volume.write("ProfileMap.txt", QByteArray::fromStdString(device.map())));
        QVERIFY(volume.write("Profile.bin", toByteArray(device.image()).left(8)));
        QCOMPARE(UpdateProfile(volume.home().constData(), map.constData(), bin.constData()), 0);
        QCOMPARE(volume.read("work/Profile.bin"), toByteArray(fresh.image()));

        // A new map whose first line is not the header.
        QVERIFY(volume.write("work/ProfileMap.txt",
                             QByteArray("UnitSystem,10,1\n") + QByteArray::fromStdString(fresh.map())));
        QVERIFY(volume.write("Profile.bin", device.image()));
        QCOMPARE(UpdateProfile(volume.home().constData(), map.constData(), bin.constData()), 0);
        QCOMPARE(volume.read("work/Profile.bin"), toByteArray(fresh.image()));
    }
};

QTEST_APPLESS_MAIN(TestCorvoProfile)
#include "tst_corvo_profile.moc"
