// The 1.5-generation records read from and edited in images of the fixture
// builder, whose encoding is written independently of the readers.

#include "VHByteReader.h"
#include "VHPSFBlockSource.h"
#include "VHPSFContainer_1_5.h"
#include "VHPSFFlashStore.h"
#include "VHPSFMultiLangString_1_5.h"
#include "VHPSFRecord.h"
#include "VHPSFStoreBuilder.h"

#include <QTest>

namespace B = VHPSFStoreBuilder;

namespace {

// A store attached over an image, its frames ready.
struct Fixture
{
    explicit Fixture(const QByteArray &image) : source(image), store(source)
    {
        ok = store.attach(true, container).ok && container;
    }
    QByteArray &image() { return store.image(); }
    qsizetype record()
    {
        qsizetype at = 0;
        (void)store.flashHeader().currentRecord(at);
        return at;
    }
    VHPSFRegionFields fields(VHPSFRegion region) { return VHPSFRecord::region(store.image(), record(), region); }

    VHPSFImageSource source;
    VHPSFFlashStore store;
    std::unique_ptr<VHPSFContainer_1_5> container;
    bool ok = false;
};

const B::Region kRoutes = B::region(B::Layout::A, 1);
const B::Region kTracks = B::region(B::Layout::A, 5);

} // namespace

class tst_VHPSFRecords : public QObject
{
    Q_OBJECT

private slots:
    void valueEncodings_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("raw");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("valid");
        QTest::newRow("altitude") << 0 << 4400 << 100.0 << true;
        QTest::newRow("altitude below the offset") << 0 << 0xFFF0 << -1004.0 << true;
        QTest::newRow("altitude unset") << 0 << 0xFFFF << 65535.0 << false;
        QTest::newRow("tenths") << 1 << 0xFFF6 << -1.0 << true;
        QTest::newRow("doubled") << 2 << 300 << 600.0 << true;
        QTest::newRow("doubled unset") << 2 << 0xFFFF << 65535.0 << false;
        QTest::newRow("speed") << 3 << 8 << 3.6 << true;
        QTest::newRow("speed unset") << 3 << 0xFF << 65535.0 << false;
        QTest::newRow("64ths") << 4 << 32 << 30.0 << true;
    }

    void valueEncodings()
    {
        QFETCH(int, kind);
        QFETCH(int, raw);
        QFETCH(double, value);
        QFETCH(bool, valid);
        const VHPSFValue decoded = kind == 0   ? VHPSFEncoding::altitude(quint16(raw))
                                   : kind == 1 ? VHPSFEncoding::tenths(quint16(raw))
                                   : kind == 2 ? VHPSFEncoding::doubled(quint16(raw))
                                   : kind == 3 ? VHPSFEncoding::speed(quint8(raw))
                                               : VHPSFEncoding::sixtyFourths(quint8(raw));
        QCOMPARE(decoded.valid, valid);
        QVERIFY(qAbs(decoded.value - value) < 1e-9);
    }

    void walksAllFourForms_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("form");
        QTest::addColumn<qint64>("position4");
        QTest::addColumn<qint64>("position8");
        QTest::addColumn<double>("altitude");
        QTest::addColumn<quint32>("time");
        // Start 100000 / -200000, 100 m, time 1000 in units of 2.
        QTest::newRow("form 0") << 0 << 0 << qint64(100300) << qint64(-200300) << 99.5 << 1002u;
        QTest::newRow("form 1") << 1 << 1 << qint64(67532) << qint64(-167533) << 199.5 << 1006u;
        QTest::newRow("form 2: 32-bit") << 2 << 2 << qint64(167532) << qint64(-267533) << 212.2 << 1012u;
        QTest::newRow("form 3: 32-bit") << 3 << 3 << qint64(167532 - 2000000000) << qint64(2000000000 - 267533)
                                        << -3064.6 << 1138u;
    }

    void walksAllFourForms()
    {
        QFETCH(int, index);
        QFETCH(int, form);
        QFETCH(qint64, position4);
        QFETCH(qint64, position8);
        QFETCH(double, altitude);
        QFETCH(quint32, time);
        Fixture f(B::image({}, B::sampleRecords()));
        QVERIFY(f.ok);
        const QList<VHPSFTrackSeg_1_5> segments = f.container->trackFrame()->segments();
        QCOMPARE(segments.size(), 4);
        const QList<VHPSFTrackSample> samples = segments[0].walk();
        QCOMPARE(samples.size(), 4);
        QCOMPARE(VHPSFTrackPoint_1_5(&f.image(), segments[0].pointOffsets()[index], kTracks.end).form(), form);
        QCOMPARE(samples[index].position4, position4);
        QCOMPARE(samples[index].position8, position8);
        QVERIFY(qAbs(samples[index].altitude - altitude) < 1e-6);
        QCOMPARE(samples[index].time, time);
        // Past the last point the walker starts over.
        VHPSFTrackWalker walker(segments[0]);
        VHPSFTrackSample sample;
        for (int i = 0; i < 4; ++i)
            QVERIFY(walker.next(sample));
        QVERIFY(!walker.next(sample));
        QVERIFY(walker.next(sample));
        QCOMPARE(sample.position4, samples[0].position4);
    }

    void countsThatMeanNoPoints()
    {
        Fixture f(B::image({}, B::sampleRecords()));
        const QList<VHPSFTrackSeg_1_5> segments = f.container->trackFrame()->segments();
        QCOMPARE(segments.size(), 4);
        for (int i : {1, 2}) { // unset and 0xFFFE
            QCOMPARE(segments[i].pointCount(), 0u);
            QCOMPARE(segments[i].size(), 40);
        }
        QCOMPARE(segments[3].pointOffsets().size(), 2);
        QCOMPARE(segments[3].end(), qsizetype(f.fields(VHPSFRegion::TrackSeg).end));
    }

    void chainEndsAtFirstUnsetOffset()
    {
        QByteArray image = B::image({}, B::sampleRecords());
        image[kRoutes.start + 8] = char(10); // the count says more than the chain holds
        Fixture f(image);
        const QList<VHPSFRoute_1_5> routes = f.container->routeFrame()->routes();
        QCOMPARE(routes.size(), 4);
        QCOMPARE(routes[0].names().size(), 2);
        QVERIFY(routes[0].names()[0][0] & 0x02);
        QVERIFY(!(routes[0].names()[1][0] & 0x02));
        QCOMPARE(routes[0].names()[1].mid(4, 3), QByteArray("chi"));
        QVERIFY(routes[1].kind() && routes[1].secondFlag());
        QCOMPARE(f.container->routeFrame()->laps(routes[0]).size(), 2);
        QVERIFY(f.container->routeFrame()->summaryLap(routes[0]).fits());
        QVERIFY(!f.container->routeFrame()->summaryLap(routes[1]).isAttached());
        QCOMPARE(f.container->namedEntries().size(), 6);
    }

    void intervalKindNames()
    {
        Fixture f(B::image({}, B::sampleRecords()));
        QStringList names;
        for (const VHPSFWorkout_1_5 &workout : f.container->workoutFrame()->records()) {
            for (const VHPSFInterval_1_5 &interval : workout.intervals())
                names.append(interval.kindName());
        }
        QCOMPARE(names, QStringList(
                            {"Other", "Warmup", "Work", "Steady", "Cool-down", "Recovery", "Sprint", "Walk", "Other"}));
        QCOMPARE(f.container->sensorLogFrame()->records().size(), 3);
        QCOMPARE(f.container->infoLogFrame()->records()[0].entries().size(), 3);
        QCOMPARE(f.container->infoLogFrame()->records()[1].size(), 24 + 16);
    }

    void deleteRoutesOfAKind_data()
    {
        QTest::addColumn<bool>("kind");
        QTest::addColumn<QList<int>>("kept");
        QTest::newRow("kind 0") << false << QList<int>{1, 3};
        QTest::newRow("kind 1") << true << QList<int>{0, 2};
    }

    void deleteRoutesOfAKind()
    {
        QFETCH(bool, kind);
        QFETCH(QList<int>, kept);
        const B::Records records = B::sampleRecords();
        Fixture f(B::image({}, records));
        QList<quint32> lapOffsets;
        quint32 laps = 0;
        for (const B::RouteShape &shape : records.routes) {
            lapOffsets.append(laps);
            laps += 56 * (shape.laps + (shape.summaryLap ? 1 : 0));
        }
        QByteArray expected;
        for (int i = 0; i < kept.size(); ++i) {
            const B::RouteShape &shape = records.routes[kept[i]];
            const qsizetype size = B::routeRecord(shape, 0, 0).size();
            const quint32 next = i + 1 < kept.size() ? quint32(expected.size() + size) : 0xFFFFFFFF;
            expected.append(B::routeRecord(shape, next, lapOffsets[kept[i]]));
        }
        const quint32 oldEnd = f.fields(VHPSFRegion::Route).end;
        // The management record's count is the firmware's: deletes and resets carry it.
        const quint16 firmwareCount = 0x1234;
        QVERIFY(VHPSFRecord::setCount(f.image(), f.record(), firmwareCount));
        int removed = 0;
        VHPSFRouteFrame_1_5 *frame = f.container->routeFrame();
        QVERIFY(frame->deleteRoutesOfKind(kind, &removed));
        QCOMPARE(VHPSFRecord::count(f.image(), f.record()), firmwareCount);
        QCOMPARE(VHByteReader(f.image(), kRoutes.start + 8).u16(), quint16(2));
        QCOMPARE(removed, 2);
        QCOMPARE(f.image().mid(kRoutes.first, expected.size()), expected);
        const qsizetype tail = oldEnd - kRoutes.first - expected.size();
        QCOMPARE(f.image().mid(kRoutes.first + expected.size(), tail), QByteArray(tail, char(0xFF)));
        const VHPSFRegionFields fields = f.fields(VHPSFRegion::Route);
        QCOMPARE(fields.end, quint32(kRoutes.first + expected.size()));
        QCOMPARE(fields.free, quint32(kRoutes.capacity - expected.size()));
        QCOMPARE(frame->routeCount(), 2);
        // None left: both regions are reset.
        QVERIFY(frame->deleteRoutesOfKind(!kind, &removed));
        QCOMPARE(removed, 2);
        QCOMPARE(frame->routeCount(), 0);
        QCOMPARE(VHPSFRecord::count(f.image(), f.record()), firmwareCount);
        QCOMPARE(f.fields(VHPSFRegion::Route), (VHPSFRegionFields{kRoutes.capacity, kRoutes.first, kRoutes.first}));
        const B::Region lap = B::region(B::Layout::A, 2);
        QCOMPARE(f.fields(VHPSFRegion::Lap).end, lap.start);
        QCOMPARE(f.image().mid(lap.start, 56), QByteArray(56, char(0xFF)));
        QVERIFY(frame->routes().isEmpty());
    }

    void addRouteAndName()
    {
        Fixture f(B::image({}, B::sampleRecords()));
        VHPSFRouteFrame_1_5 *frame = f.container->routeFrame();
        const VHPSFRegionFields before = f.fields(VHPSFRegion::Route);
        const QByteArray eng = B::nameRecord({"eng", 20, 16});
        qsizetype added = 0;
        QVERIFY(frame->addRoute(true, {eng}, &added));
        QCOMPARE(added, qsizetype(before.end));
        QList<VHPSFRoute_1_5> routes = frame->routes();
        QCOMPARE(routes.size(), 5);
        QCOMPARE(routes[3].next(), quint32(added - kRoutes.first));
        QCOMPARE(routes[4].next(), VHPSFObject::kUnset);
        QVERIFY(frame->addName(routes[4], B::nameRecord({"ara", 64, 16})));
        routes = frame->routes();
        QCOMPARE(routes[4].names().size(), 2);
        QVERIFY(routes[4].names()[0][0] & 0x02);
        const VHPSFRegionFields after = f.fields(VHPSFRegion::Route);
        QCOMPARE(after.end - before.end, quint32(routes[4].size()));
        QCOMPARE(before.free - after.free, quint32(routes[4].size()));
        QCOMPARE(frame->routeCount(), 5);
        // A name only for the last route, and nothing that passes the capacity.
        QVERIFY(!frame->addName(routes[0], eng));
        const QByteArray image = f.image();
        QVERIFY(!frame->addRoute(false, {B::nameRecord({"eng", 32, 16, false, 40000})}));
        QVERIFY(!frame->addRoute(false, {}));
        QCOMPARE(f.image(), image);
    }

    void appendPointChoosesItsForm_data()
    {
        QTest::addColumn<int>("altitude");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("c");
        QTest::addColumn<int>("form"); // -1: refused
        QTest::newRow("small") << -128 << 32767 << -32768 << 0;
        QTest::newRow("wide altitude") << 128 << 0 << 0 << 1;
        QTest::newRow("wide position") << 0 << 32768 << 0 << 2;
        QTest::newRow("both wide") << -129 << 0 << -32769 << 3;
        QTest::newRow("too high a climb") << 40000 << 0 << 0 << -1;
    }

    void appendPointChoosesItsForm()
    {
        QFETCH(int, altitude);
        QFETCH(int, b);
        QFETCH(int, c);
        QFETCH(int, form);
        Fixture f(B::image({}, B::sampleRecords()));
        VHPSFTrackFrame_1_5 *frame = f.container->trackFrame();
        QList<VHPSFTrackSeg_1_5> segments = frame->segments();
        const VHPSFRegionFields before = f.fields(VHPSFRegion::TrackSeg);
        const VHPSFTrackSample last = segments[3].walk().last();
        QCOMPARE(bool(frame->appendPoint(segments[3], 5, altitude, b, c)), form >= 0);
        QVERIFY(!frame->appendPoint(segments[0], 1, 0, 0, 0)); // not the last segment
        if (form < 0)
            return;
        segments = frame->segments();
        QCOMPARE(segments[3].pointCount(), 3u);
        const qsizetype size = VHPSFTrackPoint_1_5::formSize(form);
        QCOMPARE(VHPSFTrackPoint_1_5(&f.image(), segments[3].pointOffsets().last(), kTracks.end).form(), form);
        QCOMPARE(f.fields(VHPSFRegion::TrackSeg).end, before.end + size);
        QCOMPARE(f.fields(VHPSFRegion::TrackSeg).free, before.free - size);
        const VHPSFTrackSample now = segments[3].walk().last();
        QCOMPARE(now.position4, last.position4 + b);
        QCOMPARE(now.position8, last.position8 + c);
        QCOMPARE(now.time, last.time + 5 * 2);
    }

    void appendToAnUnsetCount()
    {
        B::Records records;
        B::SegmentShape segment;
        segment.count = B::Count::Unset;
        records.segments = {segment};
        Fixture f(B::image({}, records));
        VHPSFTrackFrame_1_5 *frame = f.container->trackFrame();
        QVERIFY(frame->appendPoint(frame->segments()[0], 1, 1, 1, 1));
        QCOMPARE(frame->segments()[0].pointCount(), 1u);
        QVERIFY(frame->deleteSegmentsAt({frame->segments()[0].offset()}));
        QCOMPARE(f.fields(VHPSFRegion::TrackSeg).end, kTracks.first);
        QCOMPARE(f.fields(VHPSFRegion::TrackSeg).free, kTracks.capacity);
    }

    void brokenRecordsEndTheirWalks_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("routes");
        QTest::addColumn<int>("points"); // of the last segment
        QTest::addColumn<QString>("message");
        QTest::newRow("chain loops back") << 0 << 2 << 2 << "route chain loops";
        QTest::newRow("chain leaves the region") << 1 << 1 << 2 << "route chain points outside";
        QTest::newRow("point count beyond the region") << 2 << 4 << 2 << "pass the end of the track region";
        QTest::newRow("name length past the record") << 3 << 4 << 2 << "passes the end of its record";
    }

    void brokenRecordsEndTheirWalks()
    {
        QFETCH(int, fault);
        QFETCH(int, routes);
        QFETCH(int, points);
        QFETCH(QString, message);
        const B::Records records = B::sampleRecords();
        QByteArray image = B::image({}, records);
        const qsizetype second = kRoutes.first + B::routeRecord(records.routes[0], 0, 0).size();
        const qsizetype lastSegment = kTracks.first + 2 * 40 + B::segmentRecord(records.segments[0]).size();
        if (fault == 0)
            VHByteWriter(image, second + 28).u32(0);
        else if (fault == 1)
            VHByteWriter(image, kRoutes.first + 28).u32(0x7FFFFFF0);
        else if (fault == 2)
            VHByteWriter(image, lastSegment + 32).u32(0xFFF0);
        else // the only name of route 1 claims more bytes than the region holds
            image[second + 36 + 3] = char(0xF0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(message));
        Fixture f(image);
        const QList<VHPSFRoute_1_5> chain = f.container->routeFrame()->routes();
        QCOMPARE(chain.size(), routes);
        const QList<VHPSFTrackSeg_1_5> segments = f.container->trackFrame()->segments();
        QCOMPARE(segments.size(), 4);
        QCOMPARE(segments.last().pointOffsets().size(), points);
        QCOMPARE(segments.last().isCut(), fault == 2);
        // Deleting from a broken chain packs only what the walk found, within the capacity.
        QVERIFY(f.container->routeFrame()->deleteRoutesOfKind(true));
        QVERIFY(f.fields(VHPSFRegion::Route).free <= kRoutes.capacity);
    }

    void packedBitmapShowsEmpty()
    {
        B::Records records;
        records.routes = {{false, false, 1, {B::NameShape{"eng", 32, 16, true}}}};
        Fixture f(B::image({}, records));
        const QList<QByteArray> names = f.container->routeFrame()->routes()[0].names();
        const auto name = VHPSFMultiLangString_1_5::read(names[0]);
        QVERIFY(name && name->isPacked());
        QVERIFY(name->toImage().isNull());
    }
};

QTEST_GUILESS_MAIN(tst_VHPSFRecords)
#include "tst_VHPSFRecords.moc"
