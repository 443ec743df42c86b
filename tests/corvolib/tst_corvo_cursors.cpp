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

struct SensorCursor
{
    explicit SensorCursor(const char *name) : cursor(GetSensorPotIterator(name)) {}
    ~SensorCursor()
    {
        if (cursor)
            CloseSensorFile(cursor);
    }
    SensorIterator *cursor;
};

struct TrackCursor
{
    explicit TrackCursor(const char *name) : cursor(GetTrackPotIterator(name)) {}
    ~TrackCursor()
    {
        if (cursor)
            CloseTrackFile(cursor);
    }
    TrackIterator *cursor;
};

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
        QCOMPARE(point.time, 1000u);
        QCOMPARE(int(point.a0), 1);
        QCOMPARE(int(point.a2), 3);
        QCOMPARE(int(point.a3), -4);
        QCOMPARE(int(point.a5), -600);
        QCOMPARE(int(point.a6), 7);
        QCOMPARE(int(point.b6), 8);
        QCOMPARE(int(point.b7), 9);
        QCOMPARE(int(point.c1), 1000);
        QCOMPARE(int(point.c3), 1200);
        QCOMPARE(GetSensorPot(c.cursor, &point), 1);
        QCOMPARE(point.time, 1002u);
        QCOMPARE(int(point.a4), 1500);
        QCOMPARE(int(point.c2), -2100);
        QCOMPARE(GetSensorPot(c.cursor, &point), 0);

        QCOMPARE(NextSensorseg(c.cursor, header.data(), 16), 1);
        QCOMPARE(header.left(16), toByteArray(chain.bytes).mid(int(chain.segmentOffsets[1]), 16));
        const int expected[3][4] = {{21, -300, 22, 23}, {31, 301, 32, -33}, {41, 0, 42, 43}};
        for (int i = 0; i < 3; ++i) {
            point = sentinelPoint();
            QCOMPARE(GetSensorPot(c.cursor, &point), 1);
            QCOMPARE(point.time, uint32_t(5000 + 5 * i));
            QCOMPARE(int(point.a0), expected[i][0]);
            QCOMPARE(int(point.a3), expected[i][1]);
            QCOMPARE(int(point.b6), expected[i][2]);
            QCOMPARE(int(point.c2), expected[i][3]);
            // Slots whose bits are clear keep what the caller had.
            QCOMPARE(int(point.a1), 0x5A);
            QCOMPARE(int(point.a4), 0x5A5A);
            QCOMPARE(int(point.b7), 0x5A);
            QCOMPARE(int(point.c1), 0x5A5A);
            QCOMPARE(int(point.c3), 0x5A5A);
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
        BuiltChain sensor = sensorLogFile(sampleSensorSegments());
        ByteBuilder patched;
        patched.raw(sensor.bytes);
        patched.put32(sensor.segmentOffsets[2] + 4, uint32_t(sensor.segmentOffsets[size_t(loopTo)]));
        QVERIFY(volume.write(kSensorPath, patched.bytes()));

        TrackSegmentShape segment;
        segment.deltas = {{}, {}};
        BuiltChain track = trackFile({segment, segment, segment});
        ByteBuilder patchedTrack;
        patchedTrack.raw(track.bytes);
        patchedTrack.put32(track.segmentOffsets[2] + 28, uint32_t(track.segmentOffsets[size_t(loopTo)]));
        QVERIFY(volume.write(kTrackPath, patchedTrack.bytes()));

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

        CorvoTrackPoint p;
        QCOMPARE(GetTrackPot(c.cursor, &p), 1);
        QCOMPARE(p.time, kSampleTime);
        QCOMPARE(p.altitude, 100);
        QCOMPARE(p.coordinateA, 100);
        QCOMPARE(p.coordinateB, 200);
        QCOMPARE(GetTrackPot(c.cursor, &p), 1);
        QCOMPARE(p.time, kSampleTime + 6);
        QCOMPARE(p.altitude, 102); // 25 tenths count as 2 m
        QCOMPARE(p.coordinateA, 107);
        QCOMPARE(p.coordinateB, 195);
        QCOMPARE(GetTrackPot(c.cursor, &p), 1);
        QCOMPARE(p.time, kSampleTime + 8);
        QCOMPARE(p.altitude, 101); // -19 tenths count as -1 m
        QCOMPARE(p.coordinateA, 87);
        QCOMPARE(p.coordinateB, 205);
        QCOMPARE(GetTrackPot(c.cursor, &p), 0);

        QCOMPARE(NextTrackseg(c.cursor, header.data(), 36), 1);
        QCOMPARE(GetTrackPot(c.cursor, &p), 1);
        QCOMPARE(p.time, kSampleTime + 100);
        QCOMPARE(p.altitude, -3);
        QCOMPARE(p.coordinateA, -50);
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
