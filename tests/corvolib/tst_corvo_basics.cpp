// Configuration, capability table and the file lists with their folder codes.

#include "corvo_volume.h"

#include <QSet>

using namespace corvotest;

class TestCorvoBasics : public QObject
{
    Q_OBJECT

private:
    // Gives every workout folder a different number of templates, so a count
    // tells which folder a code selects.
    void fillWorkoutFolders(const CorvoVolume &volume)
    {
        const QStringList folders = {"Data/Plan",         "Data/Plan/Cycling", "Data/Test",
                                     "Data/Test/Cycling", "Data/Velorawrk",    "Data/Velorawrk/Cycling"};
        for (int i = 0; i < folders.size(); ++i) {
            for (int n = 0; n <= i; ++n)
                QVERIFY(volume.write(folders[i] + QStringLiteral("/w%1.wkt").arg(n), fileHeader(21)));
        }
    }

    int countByLocation(uint32_t location)
    {
        int count = -1;
        return GetWKTFileamount(&count, location) == 1 ? count : -1;
    }

    int countByCode(unsigned char code)
    {
        int count = -1;
        return GetOtherWorkoutTablefileamount(&count, code) == 1 ? count : -1;
    }

private slots:
    void dllVersionFillsFourBytes()
    {
        unsigned char buffer[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        QCOMPARE(GetDLLVersion(buffer), buffer);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), 6), QByteArray("\x00\x09\x00\x29\xEE\xEE", 6));
    }

    void capabilityRowBySubstringInTableOrder_data()
    {
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<int>("flag0");
        QTest::addColumn<int>("flag1");
        QTest::addColumn<QByteArray>("capabilities");
        QTest::newRow("Pacer50 is its own row")
            << QByteArray("Pacer50") << QByteArray("GH1.4.0.56") << QByteArray("R025") << 1 << 1
            << QByteArray("0,101,102,1001,1002,1003,1004");
        QTest::newRow("Pacer50CR") << QByteArray("Pacer50CR") << QByteArray("GH1.4.0.56") << QByteArray("R006") << 1
                                   << 1 << QByteArray("0,101,102,1001,1002,1003,1004");
        QTest::newRow("Pacer20 finds the first row")
            << QByteArray("Pacer20") << QByteArray("R002") << QByteArray("R012") << 0 << 0 << QByteArray("0");
        QTest::newRow("part of a name") << QByteArray("sar4") << QByteArray("R009") << QByteArray("R017") << 1 << 0
                                        << QByteArray("1,101");
        QTest::newRow("Pulsar60") << QByteArray("Pulsar60") << QByteArray("R009") << QByteArray("R017") << 1 << 0
                                  << QByteArray("0,1,6,9,101");
        QTest::newRow("Pacer60") << QByteArray("Pacer60") << QByteArray("GH2.0.0.0") << QByteArray("R007") << 1 << 1
                                 << QByteArray("0,101,102,1001,1002,1003,1004");
    }

    void capabilityRowBySubstringInTableOrder()
    {
        QFETCH(QByteArray, pattern);
        CorvoSwCapability result;
        std::memset(&result, 0x5A, sizeof result);
        QCOMPARE(ProjSwCapability(pattern.constData(), &result), 1);
        QTEST(QByteArray(result.firstVersion), "first");
        QTEST(QByteArray(result.secondVersion), "second");
        QTEST(int(result.flags[0]), "flag0");
        QTEST(int(result.flags[1]), "flag1");
        QTEST(QByteArray(result.capabilities), "capabilities");
    }

    void capabilityWithoutRowFails()
    {
        CorvoSwCapability result;
        QCOMPARE(ProjSwCapability("Pacer99", &result), 0);
        QCOMPARE(ProjSwCapability(nullptr, &result), 0);
        QCOMPARE(ProjSwCapability("Pacer50", nullptr), 0);
    }

    void overlongSettingsStayInTheirBuffers()
    {
        const QByteArray longText(1000, 'x');
        QCOMPARE(SetHomePath(longText.constData()), 1);
        QCOMPARE(SetPathDirect(longText.constData()), 1);
        QCOMPARE(SetModelName(longText.constData()), 1);
        QCOMPARE(SetModelIMG(longText.constData()), 1);
        QCOMPARE(SetModelIAP(longText.constData()), 1);
        int count = -1;
        QCOMPARE(GetActivityfileamount(&count), 0);
        SetPathDirect("/");
    }

    void activityListCountsMatchingFilesOnly()
    {
        CorvoVolume volume;
        QVERIFY(volume.write("Data/History/GAL/230517083015.gal", fileHeader(30)));
        QVERIFY(volume.write("Data/History/GAL/230518090000.GAL", fileHeader(30)));
        QVERIFY(volume.write("Data/History/GAL/notes.txt", QByteArray("x")));
        QVERIFY(volume.write("Data/History/GAL/gal", QByteArray("x")));
        QVERIFY(volume.makeFolder("Data/History/GAL/folder.gal"));

        int count = -1;
        QCOMPARE(GetActivityfileamount(&count), 1);
        QCOMPARE(count, 2);
        QSet<QByteArray> names;
        for (int index = 1; index <= count; ++index) {
            char name[260];
            std::memset(name, 0x5A, sizeof name);
            QCOMPARE(GetActivityfileName(index, name), 1);
            names.insert(QByteArray(name));
        }
        QCOMPARE(names, (QSet<QByteArray>{"230517083015.gal", "230518090000.GAL"}));
        char name[260];
        QCOMPARE(GetActivityfileName(0, name), 0);
        QCOMPARE(GetActivityfileName(3, name), 0);
        QCOMPARE(GetActivityfileamount(nullptr), 0);
    }

    void listsFailWithoutTheirFolder()
    {
        CorvoVolume volume;
        int count = -1;
        char name[260];
        QCOMPARE(GetSensorLogfileamount(&count), 0);
        QCOMPARE(GetSensorLogfileName(1, name), 0);
        QCOMPARE(GetTrackSegfileamount(&count), 0);
        QCOMPARE(GetWorkoutLogfileamount(&count), 0);
        QCOMPARE(GetWorkoutTablefileamount(&count), 0);
        QCOMPARE(count, -1);
    }

    void listsFindFoldersInAnyLetterCase()
    {
        CorvoVolume volume;
        QVERIFY(volume.write("DATA/history/ssl/230517083015.ssl", fileHeader()));
        QVERIFY(volume.write("DATA/history/Trk/a.trk", fileHeader()));
        QVERIFY(volume.write("DATA/history/Trk/b.TRK", fileHeader()));
        int count = -1;
        QCOMPARE(GetSensorLogfileamount(&count), 1);
        QCOMPARE(count, 1);
        char name[260];
        QCOMPARE(GetSensorLogfileName(1, name), 1);
        QCOMPARE(QByteArray(name), QByteArray("230517083015.ssl"));
        QCOMPARE(GetTrackSegfileamount(&count), 1);
        QCOMPARE(count, 2);
    }

    void locationCodesSelectTheirFolders_data()
    {
        QTest::addColumn<uint>("location");
        QTest::addColumn<int>("expected");
        QTest::newRow("plan") << 0x000000u << 1;
        QTest::newRow("cycling plan") << 0x000001u << 2;
        QTest::newRow("test") << 0x000500u << 3;
        QTest::newRow("cycling test") << 0x000501u << 4;
        QTest::newRow("downloaded") << 0x000600u << 5;
        QTest::newRow("cycling downloaded") << 0x000601u << 6;
        QTest::newRow("plan flag 1") << 0x010600u << 1;
        QTest::newRow("plan flag 2 needs cycling") << 0x020600u << 5;
        QTest::newRow("cycling plan flag 2") << 0x020601u << 2;
        QTest::newRow("high byte ignored") << 0xFF000500u << 3;
        QTest::newRow("unknown kind") << 0x000700u << -1;
        QTest::newRow("unknown sport") << 0x000002u << -1;
    }

    void locationCodesSelectTheirFolders()
    {
        QFETCH(uint, location);
        CorvoVolume volume;
        fillWorkoutFolders(volume);
        QTEST(countByLocation(location), "expected");
    }

    void workoutCodesSelectTheirFolders_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("expected");
        QTest::newRow("plan") << 0x00 << 1;
        QTest::newRow("cycling plan") << 0x10 << 2;
        QTest::newRow("downloaded 2") << 0x02 << 5;
        QTest::newRow("downloaded 6") << 0x06 << 5;
        QTest::newRow("cycling downloaded") << 0x16 << 6;
        QTest::newRow("test 3") << 0x03 << 3;
        QTest::newRow("test 5") << 0x05 << 3;
        QTest::newRow("cycling test") << 0x13 << 4;
        QTest::newRow("unknown kind") << 0x04 << -1;
        QTest::newRow("unknown sport") << 0x20 << -1;
    }

    void workoutCodesSelectTheirFolders()
    {
        QFETCH(int, code);
        CorvoVolume volume;
        fillWorkoutFolders(volume);
        QTEST(countByCode((unsigned char)code), "expected");
        char name[260];
        if (countByCode((unsigned char)code) > 0) {
            QCOMPARE(GetOtherWorkoutTablefileName(1, name, (unsigned char)code), 1);
            QVERIFY(QByteArray(name).endsWith(".wkt"));
        }
    }

    void compactModelsKeepCyclingPlansInPlan()
    {
        CorvoVolume volume;
        fillWorkoutFolders(volume);
        for (const char *model : {"Pacer20plus", "Pacer21"}) {
            SetModelName(model);
            QCOMPARE(countByLocation(0x000001u), 1);
            QCOMPARE(countByCode(0x10), 1);
            QCOMPARE(countByLocation(0x000501u), 4);
        }
        SetModelName("Pacer20");
        QCOMPARE(countByLocation(0x000001u), 2);
    }

    void downloadedFolderInEitherSpelling()
    {
        CorvoVolume volume;
        QVERIFY(volume.write("Data/VeloraWrk/a.wkt", fileHeader(21)));
        QVERIFY(volume.write("Data/VeloraWrk/b.wkt", fileHeader(21)));
        QCOMPARE(countByLocation(0x000600u), 2);
        QCOMPARE(countByCode(0x06), 2);
        char name[260];
        QCOMPARE(GetWKTFileName(2, name, 0x000600u), 1);
        QVERIFY(QByteArray(name) == "a.wkt" || QByteArray(name) == "b.wkt");
        QCOMPARE(GetWKTFileName(3, name, 0x000600u), 0);
    }
};

QTEST_APPLESS_MAIN(TestCorvoBasics)
#include "tst_corvo_basics.moc"
