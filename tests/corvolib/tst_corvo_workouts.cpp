// Workout templates written by the library and read back, points of interest
// and workout logs.

#include "corvo_volume.h"

using namespace corvotest;

namespace {

constexpr uint32_t kPlan = 0x000000;
constexpr uint32_t kDownloaded = 0x000600;
constexpr uint32_t kTestCycling = 0x000501;

Bytes nameEntry(uint8_t entriesLeft, const char *language, const std::string &text)
{
    ByteBuilder b;
    b.u8(entriesLeft).u8(0).u16(uint16_t(text.size()));
    std::string code(language);
    code.resize(8, '\0');
    b.text(code).text(text);
    return b.bytes();
}

// Writes a template with one name, a description and three intervals, the
// second linking back to the first; true when it was written and closed.
bool writeSampleTemplate(const char *name, uint32_t location)
{
    CorvoFile *file = CreateTemplateWKT(name, location, 0x11111111, 0x22222222, kNone, 0x00000001, 0x55555555,
                                        0x66666666, kNone, kNone, kNone, 36);
    if (!file)
        return false;
    const Bytes entry = nameEntry(1, "ENG", "Run 5k");
    const std::string description = "Easy pace";
    WriteNameToFile(file, entry.data(), int(entry.size()));
    WriteDesToFile(file, description.data(), int(description.size()));
    WriteTemplateInterval(file, 1, 0xA1, kNone, kNone, 0xA4, 0xA5, 0xA6, 24);
    WriteTemplateInterval(file, 0, 0xB1, kNone, 1, 0xB4, 0xB5, 0xB6, 24);
    WriteTemplateInterval(file, 0, 0xC1, kNone, kNone, 0xC4, 0xC5, 0xC6, 24);
    return CloseTemplateWorkout(file) == 1;
}

// A template of zeros without name or intervals, written and closed.
bool writeEmptyTemplate(const char *name, uint32_t location)
{
    CorvoFile *file = CreateTemplateWKT(name, location, 0, 0, kNone, 0, 0, 0, 0, kNone, kNone, 36);
    return file && CloseTemplateWorkout(file) == 1;
}

} // namespace

class TestCorvoWorkouts : public QObject
{
    Q_OBJECT

private slots:
    void templateRoundTrip()
    {
        CorvoVolume volume;
        QVERIFY(writeSampleTemplate("Run5k", kPlan));

        const QByteArray bytes = volume.read("Data/Plan/Run5k.wkt");
        QCOMPARE(bytes.left(12), QByteArray("\xFF\xFF\xFF\xFFGAL\x00\x00\x09\x15\x00", 12));
        QCOMPARE(le32At(bytes, 12), 16u);
        const quint32 nameAt = 52;
        const quint32 descriptionAt = nameAt + 12 + 6;
        const quint32 tableAt = descriptionAt + 9;
        QCOMPARE(le32At(bytes, 16 + 28), nameAt);
        QCOMPARE(le32At(bytes, 16 + 32), descriptionAt);
        QCOMPARE(le32At(bytes, 16 + 8), tableAt);
        QCOMPARE(le32At(bytes, 16 + 0), 0x11111111u);
        QCOMPARE(le32At(bytes, tableAt + 4), tableAt + 24);
        QCOMPARE(le32At(bytes, tableAt + 24 + 4), tableAt + 48);
        QCOMPARE(le32At(bytes, tableAt + 48 + 4), kNone);
        QCOMPARE(le32At(bytes, tableAt + 24 + 8), tableAt); // link to interval 1
        QCOMPARE(le32At(bytes, tableAt + 8), kNone);
        QCOMPARE(bytes.size(), qsizetype(tableAt + 72));

        QByteArray block(36, 0);
        QCOMPARE(ReadTemplateWKT("Run5k.wkt", kPlan, block.data(), 36), 1);
        QCOMPARE(block, bytes.mid(16, 36));
        QCOMPARE(ReadWorkoutTable("Run5k.wkt", block.data(), 36), 1);
        QCOMPARE(ReadWorkoutTableName("Run5k.wkt", block.data(), 36), 1);
        QCOMPARE(block, bytes.mid(16, 36));

        QByteArray record(24, 0);
        QCOMPARE(ReadTemplateWKTInterval("Run5k.wkt", kPlan, record.data(), 24, 2), 1);
        QCOMPARE(le32At(record, 0), 0xB1u);
        QCOMPARE(ReadIntervalTable("Run5k.wkt", record.data(), 24, 3), 1);
        QCOMPARE(le32At(record, 0), 0xC1u);
        QCOMPARE(ReadIntervalTable("Run5k.wkt", record.data(), 24, 4), 0);
        QCOMPARE(ReadIntervalTable("Run5k.wkt", record.data(), 24, 0), 0);

        char name[32];
        int size = sizeof name;
        QCOMPARE(ReadWKTName("Run5k.wkt", kPlan, name, &size, "DEU"), 1);
        QCOMPARE(size, 6);
        QCOMPARE(QByteArray(name), QByteArray("Run 5k"));

        int count = 0;
        QCOMPARE(GetWorkoutTablefileamount(&count), 1);
        QCOMPARE(count, 1);
        QCOMPARE(GetWorkoutTablefileName(1, name), 1);
        QCOMPARE(QByteArray(name), QByteArray("Run5k.wkt"));
    }

    void severalNamesPickTheLanguageElseEnglish()
    {
        CorvoVolume volume;
        // Byte 12 of the block carries the several-names flag.
        CorvoFile *file = CreateTemplateWKT("Multi", kDownloaded, 1, 2, kNone, 0x20, 5, 6, 7, kNone, kNone, 36);
        QVERIFY(file);
        const Bytes german = nameEntry(3, "DEU", "Lauf");
        const Bytes english = nameEntry(2, "ENG", "Run");
        const Bytes french = nameEntry(1, "FRA", "Course");
        QCOMPARE(WriteNameToFile(file, german.data(), int(german.size())), 1);
        QCOMPARE(WriteNameToFile(file, english.data(), int(english.size())), 1);
        QCOMPARE(WriteNameToFile(file, french.data(), int(french.size())), 1);
        QCOMPARE(CloseTemplateWorkout(file), 1);
        QVERIFY(volume.exists("Data/Velorawrk/Multi.wkt"));

        char text[16];
        int size = sizeof text;
        QCOMPARE(ReadWKTName("Multi.wkt", kDownloaded, text, &size, "FRA"), 1);
        QCOMPARE(QByteArray(text, size), QByteArray("Course"));
        size = sizeof text;
        QCOMPARE(ReadWKTName("Multi.wkt", kDownloaded, text, &size, "deu"), 1);
        QCOMPARE(QByteArray(text, size), QByteArray("Lauf"));
        size = sizeof text;
        QCOMPARE(ReadWKTName("Multi.wkt", kDownloaded, text, &size, "ITA"), 1);
        QCOMPARE(QByteArray(text, size), QByteArray("Run"));

        // A buffer smaller than the text fails and tells the length needed.
        QByteArray small(5, char(0xEE));
        size = 5;
        QCOMPARE(ReadWKTName("Multi.wkt", kDownloaded, small.data(), &size, "FRA"), 0);
        QCOMPARE(size, 6);
        QCOMPARE(small, QByteArray(5, char(0xEE)));
        size = 4;
        QCOMPARE(ReadWKTName("Multi.wkt", kDownloaded, small.data(), &size, "DEU"), 1);
        QCOMPARE(small, QByteArray("Lauf\xEE"));
    }

    void nameEntriesRunningOffTheFileFail()
    {
        CorvoVolume volume;
        CorvoFile *file = CreateTemplateWKT("Broken", kPlan, 1, 2, kNone, 0x20, 5, 6, 7, kNone, kNone, 36);
        QVERIFY(file);
        // Claims 200 entries and a text far longer than the file.
        ByteBuilder entry;
        entry.u8(200).u8(0).u16(60000).text(std::string("DEU\0\0\0\0\0", 8)).text("x");
        QCOMPARE(WriteNameToFile(file, entry.bytes().data(), int(entry.size())), 1);
        QCOMPARE(CloseTemplateWorkout(file), 1);
        char text[64];
        int size = sizeof text;
        QCOMPARE(ReadWKTName("Broken.wkt", kPlan, text, &size, "FRA"), 0);
        size = sizeof text;
        QCOMPARE(ReadWKTName("Broken.wkt", kPlan, text, &size, "DEU"), 0);
    }

    void downloadedFolderIsCreatedOnceInEitherSpelling()
    {
        {
            CorvoVolume volume;
            QVERIFY(writeEmptyTemplate("A", kDownloaded));
            QCOMPARE(QDir(volume.path("Data")).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"Velorawrk"});
            QVERIFY(volume.exists("Data/Velorawrk/A.wkt"));
        }
        {
            CorvoVolume volume;
            QVERIFY(volume.makeFolder("Data/VeloraWrk"));
            QVERIFY(writeEmptyTemplate("B", 0x000601));
            QCOMPARE(QDir(volume.path("Data")).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"VeloraWrk"});
            QVERIFY(volume.exists("Data/VeloraWrk/Cycling/B.wkt"));
        }
    }

    void compactModelsTakeNoTemplates()
    {
        CorvoVolume volume;
        SetModelName("Pacer20plus");
        QVERIFY(!CreateTemplateWKT("A", kPlan, 0, 0, kNone, 0, 0, 0, 0, kNone, kNone, 36));
        SetModelName("Pacer21");
        QVERIFY(!CreateTemplateWKT("A", kPlan, 0, 0, kNone, 0, 0, 0, 0, kNone, kNone, 36));
        QVERIFY(!volume.exists("Data/Plan/A.wkt"));
        SetModelName("Pulsar40");
    }

    void shortBlocksKeepAppendedDataIntact()
    {
        CorvoVolume volume;
        CorvoFile *file = CreateTemplateWKT("Short", kPlan, 1, 2, kNone, 4, 5, 6, 7, kNone, kNone, 20);
        QVERIFY(file);
        const Bytes entry = nameEntry(1, "ENG", "Ride");
        QCOMPARE(WriteNameToFile(file, entry.data(), int(entry.size())), 1);
        QCOMPARE(WriteTemplateInterval(file, 1, 9, kNone, kNone, 9, 9, 9, 24), 1);
        QCOMPARE(CloseTemplateWorkout(file), 1);
        const QByteArray bytes = volume.read("Data/Plan/Short.wkt");
        QCOMPARE(bytes.size(), 16 + 20 + qsizetype(entry.size()) + 24);
        QCOMPARE(bytes.mid(36, qsizetype(entry.size())), toByteArray(entry));
        QCOMPARE(le32At(bytes, 16 + 8), 36u + quint32(entry.size())); // the table field lies in the block
    }

    void intervalRecordsHaveTheCallersSize()
    {
        CorvoVolume volume;
        CorvoFile *file = CreateTemplateWKT("Wide", kPlan, 0, 0, kNone, 0, 0, 0, 0, kNone, kNone, 36);
        QVERIFY(file);
        QCOMPARE(WriteTemplateInterval(file, 1, 1, kNone, kNone, 4, 5, 6, 300), 1); // 44 bytes
        QCOMPARE(WriteTemplateInterval(file, 0, 2, kNone, 1, 4, 5, 6, 300), 1);
        QCOMPARE(CloseTemplateWorkout(file), 1);
        const QByteArray bytes = volume.read("Data/Plan/Wide.wkt");
        QCOMPARE(bytes.size(), 52 + 88);
        QCOMPARE(bytes.mid(52 + 24, 20), QByteArray(20, 0));
        QCOMPARE(le32At(bytes, 52 + 4), 52u + 44u);
        QCOMPARE(le32At(bytes, 52 + 44 + 8), 52u);
        QByteArray record(44, 0);
        QCOMPARE(ReadTemplateWKTInterval("Wide.wkt", kPlan, record.data(), 44, 2), 1);
        QCOMPARE(le32At(record, 0), 2u);
        QCOMPARE(le32At(record, 8), 1u);
    }

    void intervalLinksReadAsIntervalNumbers_data()
    {
        QTest::addColumn<quint32>("stored");
        QTest::addColumn<quint32>("number");
        const quint32 table = kTemplateIntervalTable;
        QTest::newRow("none") << kNone << kNone;
        QTest::newRow("first") << table << 1u;
        QTest::newRow("itself") << table + 24 << 2u;
        QTest::newRow("last") << table + 48 << 3u;
        QTest::newRow("inside a record") << table + 5 << kNone;
        QTest::newRow("the block") << 16u << kNone;
        QTest::newRow("zero") << 0u << kNone;
        QTest::newRow("past the last") << table + 72 << kNone;
        QTest::newRow("far past the file") << 0x7FFFFFF0u << kNone;
    }

    // A device stores the link as the linked interval's offset; callers get
    // the number they would write.
    void intervalLinksReadAsIntervalNumbers()
    {
        QFETCH(quint32, stored);
        QFETCH(quint32, number);
        CorvoVolume volume;
        QVERIFY(volume.write("Data/Plan/Linked.wkt", templateWithIntervals({kNone, stored, kNone}, 24)));
        QByteArray record(24, 0);
        QCOMPARE(ReadTemplateWKTInterval("Linked.wkt", kPlan, record.data(), 24, 2), 1);
        QCOMPARE(le32At(record, 0), 0xA1u);
        QCOMPARE(le32At(record, 8), number);
        QCOMPARE(record.mid(12), toByteArray(pattern(12, 1)));
        record.fill(0);
        QCOMPARE(ReadIntervalTable("Linked.wkt", record.data(), 24, 2), 1);
        QCOMPARE(le32At(record, 8), number);
        // A record too short to hold the link is copied as it is.
        QByteArray head(8, 0);
        QCOMPARE(ReadIntervalTable("Linked.wkt", head.data(), 8, 1), 1);
        QCOMPARE(le32At(head, 0), 0xA0u);
    }

    void intervalsReadBackAndWrittenAgainGiveTheSameFile()
    {
        CorvoVolume volume;
        const quint32 links[] = {kNone, 1, 3};
        CorvoFile *file = CreateTemplateWKT("Original", kPlan, 1, 2, kNone, 4, 5, 6, kNone, kNone, kNone, 36);
        QVERIFY(file);
        for (quint32 i = 0; i < 3; ++i)
            QCOMPARE(WriteTemplateInterval(file, i == 0, 0xA0 + i, kNone, links[i], 4, 5, 6, 24), 1);
        QCOMPARE(CloseTemplateWorkout(file), 1);

        CorvoFile *copy = CreateTemplateWKT("Copy", kPlan, 1, 2, kNone, 4, 5, 6, kNone, kNone, kNone, 36);
        QVERIFY(copy);
        for (quint32 i = 0; i < 3; ++i) {
            QByteArray record(24, 0);
            QCOMPARE(ReadTemplateWKTInterval("Original.wkt", kPlan, record.data(), 24, int(i + 1)), 1);
            QCOMPARE(le32At(record, 0), 0xA0 + i);
            QCOMPARE(le32At(record, 8), links[i]);
            QCOMPARE(WriteTemplateInterval(copy, i == 0, le32At(record, 0), le32At(record, 4), le32At(record, 8),
                                           le32At(record, 12), le32At(record, 16), le32At(record, 20), 24),
                     1);
        }
        QCOMPARE(CloseTemplateWorkout(copy), 1);
        QCOMPARE(volume.read("Data/Plan/Copy.wkt"), volume.read("Data/Plan/Original.wkt"));
    }

    void updateTemplateFindsItsFolderFromTheFourthValue()
    {
        CorvoVolume volume;
        QVERIFY(writeSampleTemplate("T", kTestCycling));
        const QByteArray before = volume.read("Data/Test/Cycling/T.wkt");
        // Bits 0-2 of the fourth value: 0 the Cycling sub-folder.
        QCOMPARE(UpdateTemplateWKT("T.wkt", 0x000500, 9, 8, 7, 0x00000000, 5, 4, 3, 2, 1, 8), 1);
        const QByteArray after = volume.read("Data/Test/Cycling/T.wkt");
        QCOMPARE(le32At(after, 16), 9u);
        QCOMPARE(le32At(after, 20), 8u);
        QCOMPARE(after.mid(24), before.mid(24));
        // 1 the plain folder, where it is not: 0 now, not a false success.
        QCOMPARE(UpdateTemplateWKT("T.wkt", 0x000500, 9, 8, 7, 0x00000001, 5, 4, 3, 2, 1, 8), 0);
        QCOMPARE(UpdateTemplateWKT("T.wkt", 0x000500, 9, 8, 7, 0x00000003, 5, 4, 3, 2, 1, 8), 0);

        QVERIFY(writeSampleTemplate("P", kPlan));
        // Bit 16: the Plan folder instead of the downloaded one.
        QCOMPARE(UpdateTemplateWKT("P.wkt", 0x000600, 1, 2, 3, 0x00010001, 5, 6, 7, 8, 9, 36), 1);
        QCOMPARE(le32At(volume.read("Data/Plan/P.wkt"), 16 + 32), 9u);
    }

    void writersRejectStaleAndForeignHandles()
    {
        CorvoVolume volume;
        CorvoFile *first = CreateTemplateWKT("One", kPlan, 0, 0, kNone, 0, 0, 0, 0, kNone, kNone, 36);
        CorvoFile *second = CreateTemplateWKT("Two", kPlan, 0, 0, kNone, 0, 0, 0, 0, kNone, kNone, 36);
        CorvoFile *point = CreatePOI("p.poi", 1, 2, 3, 4, 5, 6, 7, 8, 9, 36);
        QVERIFY(first && second && point);
        const char text[] = "name";
        QCOMPARE(WriteNameToFile(first, text, 4), 1);
        QCOMPARE(WriteNameToFile(point, text, 4), 0);
        QCOMPARE(WriteTemplateInterval(point, 1, 0, 0, 0, 0, 0, 0, 24), 0);
        QCOMPARE(CloseTemplateWorkout(second), 1);
        QCOMPARE(CloseTemplateWorkout(first), 1);
        QCOMPARE(CloseTemplateWorkout(first), 0);
        QCOMPARE(WriteDesToFile(first, text, 4), 0);
        QCOMPARE(ClosePOI(point), 1);
        QCOMPARE(ClosePOI(point), 0);
        QCOMPARE(ClosePOI(nullptr), 0);
        QCOMPARE(le32At(volume.read("Data/Plan/One.wkt"), 16 + 28), 52u);
    }

    void templateNamesMustBeOneFileName()
    {
        CorvoVolume volume;
        QVERIFY(!CreateTemplateWKT("../escape", kPlan, 0, 0, kNone, 0, 0, 0, 0, kNone, kNone, 36));
        QVERIFY(!CreateTemplateWKT("", kPlan, 0, 0, kNone, 0, 0, 0, 0, kNone, kNone, 36));
        QVERIFY(!CreateTemplateWKT("A", 0x000700, 0, 0, kNone, 0, 0, 0, 0, kNone, kNone, 36));
        QVERIFY(!volume.exists("Data/escape.wkt"));
        QCOMPARE(UpdateTemplateWKT("../Plan/x.wkt", 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 36), 0);
    }

    void pointOfInterestCreatesItsFolder()
    {
        CorvoVolume volume;
        CorvoFile *point = CreatePOI("home.poi", 1, 2, 3, 4, 5, 6, 7, 8, 9, 300); // 44 bytes: all nine values
        QVERIFY(point);
        QCOMPARE(ClosePOI(point), 1);
        const QByteArray bytes = volume.read("Data/Sharing/home.poi");
        QCOMPARE(bytes.size(), 16 + 36);
        QCOMPARE(bytes.at(10), char(20));
        QCOMPARE(le32At(bytes, 12), 16u);
        for (int i = 0; i < 9; ++i)
            QCOMPARE(le32At(bytes, 16 + 4 * i), quint32(i + 1));

        point = CreatePOI("short.poi", 1, 2, 3, 4, 5, 6, 7, 8, 9, 8);
        QVERIFY(point);
        QCOMPARE(ClosePOI(point), 1);
        QCOMPARE(volume.read("Data/Sharing/short.poi").size(), 24);
    }

    void workoutLogReadAndUpdate()
    {
        CorvoVolume volume;
        const QString path = QStringLiteral("Data/History/WLOG/230517083015.wkl");
        QVERIFY(volume.write(path, workoutLogFile(7, {pattern(16, 1), pattern(16, 2)})));
        QByteArray buffer(28, 0);
        QCOMPARE(ReadWorkoutLog("230517083015.wkl", buffer.data(), 28), 1);
        QCOMPARE(le32At(buffer, 12), 7u);
        QCOMPARE(ReadIntervalLog("230517083015.wkl", buffer.data(), 16, 2), 1);
        QCOMPARE(buffer.left(16), toByteArray(pattern(16, 2)));
        QCOMPARE(ReadIntervalLog("230517083015.wkl", buffer.data(), 16, 3), 0);
        QCOMPARE(ReadIntervalLog("230517083015.wkl", buffer.data(), 16, 0), 0);

        const QByteArray before = volume.read(path);
        CorvoWorkoutLogRecord record;
        std::memset(record.bytes, 0x77, sizeof record.bytes);
        record.bytes[28] = 12; // the record's own length
        QCOMPARE(UpdateWorkoutLog("230517083015.wkl", record), 1);
        const QByteArray after = volume.read(path);
        QCOMPARE(after.mid(16, 12), QByteArray(12, 0x77));
        QCOMPARE(after.mid(28), before.mid(28));
        QCOMPARE(after.left(16), before.left(16));

        QCOMPARE(UpdateWorkoutLog("absent.wkl", record), 0);
        QVERIFY(!volume.exists("Data/History/WLOG/absent.wkl"));
        QCOMPARE(ReadWorkoutLog("absent.wkl", buffer.data(), 28), 0);
    }
};

QTEST_APPLESS_MAIN(TestCorvoWorkouts)
#include "tst_corvo_workouts.moc"
