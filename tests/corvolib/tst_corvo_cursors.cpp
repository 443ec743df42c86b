// Cursors over sensor logs and track segments: chains, masks, deltas and
// damaged chains.

#include "corvo_volume.h"

using namespace corvotest;

namespace {

const QString kSensorPath = QStringLiteral("Data/History/SSL/230517083015.ssl");
const QString kTrackPath = QStringLiteral("Data/History/TRK/230517083015.trk");
const char *const kSensorName = "230517083015.ssl";
const char *const kTrackName = "230517083015.trk";

CorvoSensorPoint sentinelPoint()
{
    CorvoSensorPoint point;
    std::memset(&point, 0x5A, sizeof point);
    return point;
}

// "time: a0 a1 a2 a3 a4 a5 a6 b6 b7 c1 c2 c3", so that a whole point compares at once.
QString slotsOf(const CorvoSensorPoint &p)
{
    QString text = QString::number(p.time) + QLatin1Char(':');
    for (int slot : {int(p.a0), int(p.a1), int(p.a2), int(p.a3), int(p.a4), int(p.a5), int(p.a6), int(p.b6), int(p.b7),
                     int(p.c1), int(p.c2), int(p.c3)})
        text += QLatin1Char(' ') + QString::number(slot);
    return text;
}

// "time altitude A B".
QString valuesOf(const CorvoTrackPoint &p)
{
    return QStringLiteral("%1 %2 %3 %4").arg(p.time).arg(p.altitude).arg(p.coordinateA).arg(p.coordinateB);
}

// A cursor closed at the end of the scope.
template <typename Iterator, Iterator *(*Open)(const char *), int (*Close)(Iterator *)>
struct ScopedCursor
{
    explicit ScopedCursor(const char *name) : cursor(Open(name)) {}
    ~ScopedCursor()
    {
        if (cursor)
            Close(cursor);
    }
    Iterator *cursor;
};
using SensorCursor = ScopedCursor<SensorIterator, GetSensorPotIterator, CloseSensorFile>;
using TrackCursor = ScopedCursor<TrackIterator, GetTrackPotIterator, CloseTrackFile>;

std::vector<SensorSegmentShape> sampleSensorSegments()
{
    SensorSegmentShape all; // every field that has a size
    all.start = 1000;
    all.step = 2;
    all.maskA = 0xFF; // bit 7 adds nothing
    all.maskB = 0xC1; // bit 0 adds nothing
    all.maskC = 0x0F; // bit 0 adds nothing
    all.points = {{1, 2, 3, -4, 500, -600, 7, 8, 9, 1000, -1100, 1200},
                  {11, 12, 13, -14, 1500, -1600, 17, 18, 19, 2000, -2100, 2200}};
    SensorSegmentShape some;
    some.start = 5000;
    some.step = 5;
    some.maskA = 0x09; // bytes slot a0, word slot a3
    some.maskB = 0x40; // b6
    some.maskC = 0x04; // c2
    some.points = {{21, 0, 0, -300, 0, 0, 0, 22, 0, 0, 23, 0},
                   {31, 0, 0, 301, 0, 0, 0, 32, 0, 0, -33, 0},
                   {41, 0, 0, 0, 0, 0, 0, 42, 0, 0, 43, 0}};
    SensorSegmentShape none; // points carry only their time
    none.start = 9000;
    none.step = 1;
    none.maskA = 0x80;
    none.points = {{}, {}};
    return {all, some, none};
}

// The chain with its third segment linking back to segment `to`.
Bytes linkedBack(const BuiltChain &chain, size_t linkAt, int to)
{
    ByteBuilder patched;
    patched.raw(chain.bytes);
    patched.put32(chain.segmentOffsets[2] + linkAt, uint32_t(chain.segmentOffsets[size_t(to)]));
    return patched.bytes();
}

} // namespace

class TestCorvoCursors : public QObject
{
    Q_OBJECT

private slots:
    void sensorChainStartsAtSixteenAndFollowsLinks()
    {
        CorvoVolume volume;
        const BuiltChain chain = sensorLogFile(sampleSensorSegments());
        QVERIFY(volume.write(kSensorPath, chain.bytes));
        SensorCursor c(kSensorName);
        QVERIFY(c.cursor);

        QByteArray header(40, char(0xEE));
        QCOMPARE(NextSensorseg(c.cursor, header.data(), 40), 1);
        QCOMPARE(header.left(16), toByteArray(chain.bytes).mid(16, 16));
        QCOMPARE(header.mid(16), QByteArray(24, char(0xEE)));

        CorvoSensorPoint point = sentinelPoint();
        QCOMPARE(GetSensorPot(c.cursor, &point), 1);
        QCOMPARE(slotsOf(point), QStringLiteral("1000: 1 2 3 -4 500 -600 7 8 9 1000 -1100 1200"));
        QCOMPARE(GetSensorPot(c.cursor, &point), 1);
        QCOMPARE(slotsOf(point), QStringLiteral("1002: 11 12 13 -14 1500 -1600 17 18 19 2000 -2100 2200"));
        QCOMPARE(GetSensorPot(c.cursor, &point), 0);

        QCOMPARE(NextSensorseg(c.cursor, header.data(), 16), 1);
        QCOMPARE(header.left(16), toByteArray(chain.bytes).mid(int(chain.segmentOffsets[1]), 16));
        // Slots whose bits are clear keep what the caller had (90 and 23130).
        for (const char *expected : {"5000: 21 90 90 -300 23130 23130 90 22 90 23130 23 23130",
                                     "5005: 31 90 90 301 23130 23130 90 32 90 23130 -33 23130",
                                     "5010: 41 90 90 0 23130 23130 90 42 90 23130 43 23130"}) {
            point = sentinelPoint();
            QCOMPARE(GetSensorPot(c.cursor, &point), 1);
            QCOMPARE(slotsOf(point), QString::fromLatin1(expected));
        }
        QCOMPARE(GetSensorPot(c.cursor, &point), 0);

        QCOMPARE(NextSensorseg(c.cursor, header.data(), 16), 1);
        point = sentinelPoint();
        QCOMPARE(GetSensorPot(c.cursor, &point), 1);
        QCOMPARE(GetSensorPot(c.cursor, &point), 1);
        QCOMPARE(point.time, 9001u);
        QCOMPARE(int(point.a0), 0x5A);
        QCOMPARE(GetSensorPot(c.cursor, &point), 0);

        QCOMPARE(NextSensorseg(c.cursor, header.data(), 16), 0);
        QCOMPARE(NextSensorseg(c.cursor, header.data(), 16), 0);
        QCOMPARE(GetSensorPot(c.cursor, &point), 0);
    }

    void sensorPointsCutOffByTheFileEnd()
    {
        CorvoVolume volume;
        const BuiltChain chain = sensorLogFile({sampleSensorSegments()[1]});
        const QByteArray file = toByteArray(chain.bytes);
        QVERIFY(volume.write(kSensorPath, file.left(file.size() - 2)));
        SensorCursor c(kSensorName);
        QVERIFY(c.cursor);
        QCOMPARE(NextSensorseg(c.cursor, nullptr, 0), 1);
        CorvoSensorPoint point = sentinelPoint();
        QCOMPARE(GetSensorPot(c.cursor, &point), 1);
        QCOMPARE(GetSensorPot(c.cursor, &point), 1);
        QCOMPARE(GetSensorPot(c.cursor, &point), 0);
    }

    void cyclicChainsEnd_data()
    {
        QTest::addColumn<int>("loopTo");
        QTest::addColumn<int>("segments");
        QTest::newRow("back to the first") << 0 << 3;
        QTest::newRow("onto itself") << 2 << 3;
    }

    void cyclicChainsEnd()
    {
        QFETCH(int, loopTo);
        CorvoVolume volume;
        TrackSegmentShape segment;
        segment.deltas = {{}, {}};
        QVERIFY(volume.write(kSensorPath, linkedBack(sensorLogFile(sampleSensorSegments()), 4, loopTo)));
        QVERIFY(volume.write(kTrackPath, linkedBack(trackFile({segment, segment, segment}), 28, loopTo)));

        SensorCursor s(kSensorName);
        TrackCursor t(kTrackName);
        QVERIFY(s.cursor && t.cursor);
        int sensorSegments = 0;
        int trackSegments = 0;
        while (sensorSegments < 100 && NextSensorseg(s.cursor, nullptr, 0))
            ++sensorSegments;
        while (trackSegments < 100 && NextTrackseg(t.cursor, nullptr, 0))
            ++trackSegments;
        QTEST(sensorSegments, "segments");
        QTEST(trackSegments, "segments");
    }

    void linksOutsideTheFileEndTheChain()
    {
        CorvoVolume volume;
        BuiltChain chain = sensorLogFile(sampleSensorSegments());
        ByteBuilder patched;
        patched.raw(chain.bytes);
        patched.put32(chain.segmentOffsets[0] + 4, uint32_t(chain.bytes.size() - 8));
        QVERIFY(volume.write(kSensorPath, patched.bytes()));
        SensorCursor c(kSensorName);
        QCOMPARE(NextSensorseg(c.cursor, nullptr, 0), 1);
        QCOMPARE(NextSensorseg(c.cursor, nullptr, 0), 0);
    }

    void emptyMissingAndHeaderOnlyFiles()
    {
        CorvoVolume volume;
        QVERIFY(volume.write(kSensorPath, QByteArray()));
        QVERIFY(volume.write(kTrackPath, toByteArray(fileHeader()).left(10)));
        QVERIFY(!GetSensorPotIterator(kSensorName));
        QVERIFY(!GetSensorPotIterator("absent.ssl"));
        QVERIFY(!GetTrackPotIterator("../TRK/230517083015.trk"));
        TrackCursor t(kTrackName);
        QVERIFY(t.cursor);
        CorvoTrackPoint point;
        QCOMPARE(NextTrackseg(t.cursor, nullptr, 0), 0);
        QCOMPARE(GetTrackPot(t.cursor, &point), 0);
    }

    void trackPointsAccumulateDeltas()
    {
        CorvoVolume volume;
        TrackSegmentShape first;
        first.start = kSampleTime;
        first.coordinateA = 100;
        first.coordinateB = 200;
        first.rawAltitude = 4402; // 1100 / 4 - 1000 = 100 m (truncated)
        first.step = 2;
        first.deltas = {{3, 25, -5, 7}, {1, -19, 10, -20}};
        TrackSegmentShape second;
        second.start = kSampleTime + 100;
        second.coordinateA = -50;
        second.coordinateB = 60;
        second.rawAltitude = 3990; // -3 m
        second.step = 1;
        const BuiltChain chain = trackFile({first, second});
        QVERIFY(volume.write(kTrackPath, chain.bytes));

        TrackCursor c(kTrackName);
        QVERIFY(c.cursor);
        QByteArray header(300, char(0xEE));
        QCOMPARE(NextTrackseg(c.cursor, header.data(), 300), 1);
        QCOMPARE(header.left(36), toByteArray(chain.bytes).mid(16, 36));
        QCOMPARE(header.mid(36), QByteArray(300 - 36, char(0xEE)));

        // 25 tenths count as 2 m, -19 tenths as -1 m.
        CorvoTrackPoint p;
        const std::pair<uint32_t, const char *> points[] = {{0, "100 100 200"}, {6, "102 107 195"}, {8, "101 87 205"}};
        for (const auto &[seconds, rest] : points) {
            QCOMPARE(GetTrackPot(c.cursor, &p), 1);
            QCOMPARE(valuesOf(p), QString::number(kSampleTime + seconds) + QLatin1Char(' ') + QLatin1String(rest));
        }
        QCOMPARE(GetTrackPot(c.cursor, &p), 0);

        QCOMPARE(NextTrackseg(c.cursor, header.data(), 36), 1);
        QCOMPARE(GetTrackPot(c.cursor, &p), 1);
        QCOMPARE(valuesOf(p), QString::number(kSampleTime + 100) + QStringLiteral(" -3 -50 60"));
        QCOMPARE(GetTrackPot(c.cursor, &p), 0);
        QCOMPARE(NextTrackseg(c.cursor, header.data(), 36), 0);
    }

    void segmentWithoutPositionGivesNoPoints()
    {
        CorvoVolume volume;
        TrackSegmentShape noFix;
        noFix.coordinateA = -1;
        noFix.coordinateB = -1;
        noFix.deltas = {{}, {}};
        TrackSegmentShape fix;
        fix.start = 77;
        fix.coordinateA = -1; // one coordinate of -1 is a position
        fix.coordinateB = 5;
        QVERIFY(volume.write(kTrackPath, trackFile({noFix, fix}).bytes));
        TrackCursor c(kTrackName);
        CorvoTrackPoint p{1, 2, 3, 4};
        QCOMPARE(NextTrackseg(c.cursor, nullptr, 0), 1);
        QCOMPARE(GetTrackPot(c.cursor, &p), 0);
        QCOMPARE(GetTrackPot(c.cursor, &p), 0);
        QCOMPARE(p.time, 1u);
        QCOMPARE(NextTrackseg(c.cursor, nullptr, 0), 1);
        QCOMPARE(GetTrackPot(c.cursor, &p), 1);
        QCOMPARE(p.time, 77u);
        QCOMPARE(p.coordinateA, -1);
    }

    void trackPointsCutOffByTheFileEnd()
    {
        CorvoVolume volume;
        TrackSegmentShape segment;
        segment.deltas = {{}, {}, {}};
        const QByteArray file = toByteArray(trackFile({segment}).bytes);
        QVERIFY(volume.write(kTrackPath, file.left(file.size() - 1)));
        TrackCursor c(kTrackName);
        CorvoTrackPoint p;
        QCOMPARE(NextTrackseg(c.cursor, nullptr, 0), 1);
        int points = 0;
        while (points < 10 && GetTrackPot(c.cursor, &p))
            ++points;
        QCOMPARE(points, 3);
    }

    void closeAcceptsEitherCursorOnce()
    {
        CorvoVolume volume;
        QVERIFY(volume.write(kSensorPath, sensorLogFile(sampleSensorSegments()).bytes));
        QVERIFY(volume.write(kTrackPath, trackFile({TrackSegmentShape()}).bytes));
        SensorIterator *sensor = GetSensorPotIterator(kSensorName);
        TrackIterator *track = GetTrackPotIterator(kTrackName);
        QVERIFY(sensor && track);
        QCOMPARE(CloseTrackFile(reinterpret_cast<TrackIterator *>(sensor)), 1);
        QCOMPARE(CloseSensorFile(reinterpret_cast<SensorIterator *>(track)), 1);
        // Closed and foreign handles are recognised, not used.
        QCOMPARE(CloseSensorFile(sensor), 0);
        QCOMPARE(CloseTrackFile(track), 0);
        QCOMPARE(NextSensorseg(sensor, nullptr, 0), 0);
        CorvoTrackPoint p;
        QCOMPARE(GetTrackPot(track, &p), 0);
        QCOMPARE(NextTrackseg(reinterpret_cast<TrackIterator *>(&p), nullptr, 0), 0);
        QCOMPARE(CloseSensorFile(nullptr), 0);
    }
};

QTEST_APPLESS_MAIN(TestCorvoCursors)
#include "tst_corvo_cursors.moc"
