// Activity readers: the block, laps, summary and user information, with
// truncated and hostile files.

#include "corvo_volume.h"

using namespace corvotest;

namespace {

const char *const kName = "230517083015.gal";
const QString kPath = QStringLiteral("Data/History/GAL/230517083015.gal");

ActivityParts sampleActivity()
{
    ActivityParts parts;
    parts.trackTime = kSampleTime;
    parts.sensorTime = kSampleTime + 1;
    parts.summaryLap = pattern(20, 0xA0);
    parts.userInfo = pattern(30, 0xB0);
    parts.laps = {pattern(24, 1), pattern(24, 2), pattern(24, 3)};
    return parts;
}

QByteArray sentinelBuffer(int size = 300) { return QByteArray(size, char(0xEE)); }

} // namespace

class TestCorvoActivity : public QObject
{
    Q_OBJECT

private slots:
    void readsBlockLapsSummaryAndUserInformation_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("as named") << kPath;
        QTest::newRow("folders and name in another letter case") << "DATA/HISTORY/GAL/230517083015.GAL";
    }

    void readsBlockLapsSummaryAndUserInformation()
    {
        QFETCH(QString, path);
        CorvoVolume volume;
        const Bytes file = activityFile(sampleActivity());
        QVERIFY(volume.write(path, file));

        QByteArray buffer = sentinelBuffer();
        QCOMPARE(GetActivityContent(kName, buffer.data(), 88), 1);
        QCOMPARE(buffer.left(88), toByteArray(file).mid(16, 88));
        QCOMPARE(buffer.at(88), char(0xEE));

        unsigned char laps = 0;
        QCOMPARE(GetLapCount(kName, &laps), 1);
        QCOMPARE(int(laps), 3);

        buffer = sentinelBuffer();
        QCOMPARE(GetSummaryLapContent(kName, buffer.data(), 20), 1);
        QCOMPARE(buffer.left(20), toByteArray(pattern(20, 0xA0)));
        QCOMPARE(GetUserInfoContent(kName, buffer.data(), 30), 1);
        QCOMPARE(buffer.left(30), toByteArray(pattern(30, 0xB0)));

        for (int lap = 1; lap <= 3; ++lap) {
            buffer = sentinelBuffer();
            QCOMPARE(GetLapContent(kName, lap, buffer.data(), 24), 1);
            QCOMPARE(buffer.left(24), toByteArray(pattern(24, uint8_t(lap))));
            QCOMPARE(buffer.at(24), char(0xEE));
        }
    }

    void lengthsAreTakenModulo256()
    {
        CorvoVolume volume;
        const Bytes file = activityFile(sampleActivity());
        QVERIFY(volume.write(kPath, file));
        QByteArray buffer = sentinelBuffer();
        QCOMPARE(GetActivityContent(kName, buffer.data(), 300), 1);
        QCOMPARE(buffer.left(44), toByteArray(file).mid(16, 44));
        QCOMPARE(buffer.mid(44), sentinelBuffer(300 - 44));

        // The lap size is the length modulo 256 too: 280 means 24-byte laps.
        buffer = sentinelBuffer();
        QCOMPARE(GetLapContent(kName, 2, buffer.data(), 280), 1);
        QCOMPARE(buffer.left(24), toByteArray(pattern(24, 2)));
        QCOMPARE(buffer.at(24), char(0xEE));
    }

    void lapNumbersOutsideTheTableFail()
    {
        CorvoVolume volume;
        QVERIFY(volume.write(kPath, activityFile(sampleActivity())));
        QByteArray buffer = sentinelBuffer();
        QCOMPARE(GetLapContent(kName, 0, buffer.data(), 24), 0);
        QCOMPARE(GetLapContent(kName, 4, buffer.data(), 24), 0);
        QCOMPARE(GetLapContent(kName, -1, buffer.data(), 24), 0);
        QCOMPARE(buffer, sentinelBuffer());
    }

    void missingRecordsFail()
    {
        CorvoVolume volume;
        ActivityParts parts;
        QVERIFY(volume.write(kPath, activityFile(parts)));
        QByteArray buffer = sentinelBuffer();
        QCOMPARE(GetSummaryLapContent(kName, buffer.data(), 20), 0);
        QCOMPARE(GetUserInfoContent(kName, buffer.data(), 20), 0);
        QCOMPARE(GetLapContent(kName, 1, buffer.data(), 20), 0);
        unsigned char laps = 99;
        QCOMPARE(GetLapCount(kName, &laps), 1);
        QCOMPARE(int(laps), 0);
        QCOMPARE(GetActivityContent("absent.gal", buffer.data(), 20), 0);
        QCOMPARE(GetLapCount("absent.gal", &laps), 0);
    }

    void truncatedFilesFailWithoutTouchingTheBuffer_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {0, 10, 16, 40, 103})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }

    void truncatedFilesFailWithoutTouchingTheBuffer()
    {
        QFETCH(int, size);
        CorvoVolume volume;
        QVERIFY(volume.write(kPath, toByteArray(activityFile(sampleActivity())).left(size)));
        QByteArray buffer = sentinelBuffer();
        unsigned char laps = 99;
        QCOMPARE(GetActivityContent(kName, buffer.data(), 88), 0);
        QCOMPARE(GetLapCount(kName, &laps), 0);
        QCOMPARE(GetSummaryLapContent(kName, buffer.data(), 20), 0);
        QCOMPARE(GetLapContent(kName, 1, buffer.data(), 24), 0);
        QCOMPARE(int(laps), 99);
    }

    void recordsCutOffAtTheEndFail()
    {
        CorvoVolume volume;
        const QByteArray file = toByteArray(activityFile(sampleActivity()));
        QVERIFY(volume.write(kPath, file.left(file.size() - 1)));
        QByteArray buffer = sentinelBuffer();
        QCOMPARE(GetLapContent(kName, 2, buffer.data(), 24), 1);
        QCOMPARE(GetLapContent(kName, 3, buffer.data(), 24), 0);
    }

    void hostileOffsetsFail()
    {
        CorvoVolume volume;
        ByteBuilder file;
        file.raw(activityFile(sampleActivity()));
        file.put32(16 + 12, 0xFFFFFFF0u); // summary lap near the 4 GiB end
        file.put32(16 + 16, 0x7FFFFFFFu); // lap table far behind the file
        QVERIFY(volume.write(kPath, file.bytes()));
        QByteArray buffer = sentinelBuffer();
        QCOMPARE(GetSummaryLapContent(kName, buffer.data(), 255), 0);
        QCOMPARE(GetLapContent(kName, 3, buffer.data(), 255), 0);
        QCOMPARE(buffer, sentinelBuffer());
    }

    void namesMustBeOneFileName()
    {
        CorvoVolume volume;
        QVERIFY(volume.write("Data/History/outside.gal", activityFile(sampleActivity())));
        QVERIFY(volume.write(kPath, activityFile(sampleActivity())));
        QByteArray buffer = sentinelBuffer();
        QCOMPARE(GetActivityContent("../outside.gal", buffer.data(), 88), 0);
        QCOMPARE(GetActivityContent("..", buffer.data(), 88), 0);
        QCOMPARE(GetActivityContent("", buffer.data(), 88), 0);
        QCOMPARE(GetActivityContent(nullptr, buffer.data(), 88), 0);
        QCOMPARE(GetActivityContent(kName, nullptr, 88), 0);
    }
};

QTEST_APPLESS_MAIN(TestCorvoActivity)
#include "tst_corvo_activity.moc"
