#include "VHByteReader.h"
#include "VHPSFContainer_1_5.h"
#include "VHPSFFlashStore.h"
#include "VHPSFRecord.h"
#include "VHPSFStoreBuilder.h"
#include "VHTestFiles.h"
#include "VHTestLog.h"

#include <QTemporaryDir>
#include <QTest>

using namespace VHPSFLayout;
using Builder = VHPSFStoreBuilder::Options;
using VHPSFStoreBuilder::Fault;
using VHPSFStoreBuilder::Layout;

namespace {

// A flash in memory that counts what reaches it and can refuse writes.
class RecordingSource : public VHPSFImageSource
{
public:
    using VHPSFImageSource::VHPSFImageSource;
    bool readBlocks(int first, int count, QByteArray &out) override
    {
        reads.append({first, count});
        return VHPSFImageSource::readBlocks(first, count, out);
    }
    bool writeBlocks(int first, const QByteArray &data) override
    {
        writes.append({first, int(data.size() / kBlockSize)});
        const bool refused = failWrites || (first <= failBlock && failBlock < first + data.size() / kBlockSize);
        return !refused && VHPSFImageSource::writeBlocks(first, data);
    }
    bool eraseAll() override
    {
        ++erases;
        return VHPSFImageSource::eraseAll();
    }
    QList<QPair<int, int>> reads, writes;
    int erases = 0;
    bool failWrites = false;
    int failBlock = -1;
};

Builder options(Layout layout = Layout::A, int slot = 2, Fault fault = Fault::None)
{
    Builder o;
    o.layout = layout;
    o.currentSlot = slot;
    o.fault = fault;
    return o;
}

bool allErased(const QByteArray &bytes) { return bytes.count(char(0xFF)) == bytes.size(); }

} // namespace

class tst_VHPSFStore : public QObject
{
    Q_OBJECT

private slots:
    void byteWriterStaysInside()
    {
        QByteArray bytes(6, char(0));
        VHByteWriter writer(bytes, 1);
        QVERIFY(writer.i16(-2).u8(0x7F).ok());
        QVERIFY(!writer.u32(1).ok()); // 3 bytes left: refused, nothing written
        QCOMPARE(bytes, QByteArray::fromHex("00feff7f0000"));
        VHByteReader reader(bytes, 1);
        QCOMPARE(reader.i16(), qint16(-2));
        QCOMPARE(reader.i8(), qint8(0x7F));
        QCOMPARE(reader.i32(), 0);
        QVERIFY(!reader.ok());
        QVERIFY(!VHByteWriter(bytes, 7).ok());
    }

    void checkValueCoversBytes66To219_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<quint32>("check");
        QTest::newRow("all zero") << -1 << 0u;
        QTest::newRow("byte 65 outside") << 65 << 0u;
        QTest::newRow("byte 66 inside") << 66 << 0x00050000u;
        QTest::newRow("byte 219 inside") << 219 << 0x00050000u;
        QTest::newRow("byte 220 outside") << 220 << 0u;
    }

    void checkValueCoversBytes66To219()
    {
        QFETCH(int, byte);
        QFETCH(quint32, check);
        QByteArray slot(kSlotSize, char(0));
        if (byte >= 0)
            slot[byte] = 5;
        QCOMPARE(VHPSFRecord::computeCheck(slot, 0), check);
        // Bytes 66-219 all 0xFF: 154 * 255 wraps at 16 bits.
        slot.fill(char(0xFF));
        QCOMPARE(VHPSFRecord::computeCheck(slot, 0), quint32(quint16(154 * 255)) << 16);
    }

    void currentRecord_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<bool>("commitWord");
        QTest::addColumn<int>("fault");
        QTest::addColumn<qsizetype>("expected"); // -1: no current record
        QTest::newRow("slot 0") << 0 << true << int(Fault::None) << qsizetype(0);
        QTest::newRow("slot 5") << 5 << true << int(Fault::None) << qsizetype(0x500);
        QTest::newRow("first slot free takes the last") << 95 << true << int(Fault::None) << qsizetype(0x5F00);
        QTest::newRow("commit word is not a record") << 16 << true << int(Fault::None) << qsizetype(0xF00);
        QTest::newRow("slot 16 without commit word") << 16 << false << int(Fault::None) << qsizetype(0x1000);
        QTest::newRow("past the commit word") << 40 << true << int(Fault::None) << qsizetype(0x2800);
        QTest::newRow("wrong check value only logged") << 3 << true << int(Fault::WrongCheck) << qsizetype(0x300);
        QTest::newRow("all erased") << 2 << true << int(Fault::AllErased) << qsizetype(-1);
        QTest::newRow("no free slot") << 2 << true << int(Fault::NoFreeSlot) << qsizetype(-1);
        QTest::newRow("bad marker") << 2 << true << int(Fault::BadMarker) << qsizetype(-1);
    }

    void currentRecord()
    {
        QFETCH(int, slot);
        QFETCH(bool, commitWord);
        QFETCH(int, fault);
        QFETCH(qsizetype, expected);
        Builder o = options(Layout::A, slot, Fault(fault));
        o.commitWord = commitWord;
        VHPSFImageSource source(VHPSFStoreBuilder::image(o));
        VHPSFFlashStore store(source);
        LogCapture log;
        qsizetype offset = -1;
        const VHResult result = store.flashHeader().currentRecord(offset);
        QCOMPARE(result.ok, expected >= 0);
        if (result)
            QCOMPARE(offset, expected);
        QCOMPARE(log.contains(QStringLiteral("check value")), Fault(fault) == Fault::WrongCheck);
    }

    void commitIsByteExact_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("fault");
        QTest::newRow("slot 5") << 5 << int(Fault::None);
        QTest::newRow("last slot") << 95 << int(Fault::None);
        QTest::newRow("wrong check value mended") << 3 << int(Fault::WrongCheck);
    }

    void commitIsByteExact()
    {
        QFETCH(int, slot);
        QFETCH(int, fault);
        const QByteArray sound = VHPSFStoreBuilder::image(options(Layout::A, slot));
        VHPSFImageSource source(VHPSFStoreBuilder::image(options(Layout::A, slot, Fault(fault))));
        VHPSFFlashStore store(source);
        QVERIFY(store.flashHeader().commit());
        const QByteArray &image = store.image();
        // The builder's record carries its own sum and check value and 0xFF past 224.
        QCOMPARE(image.left(kSlotSize).toHex(), sound.mid(VHPSFStoreBuilder::slotOffset(slot), kSlotSize).toHex());
        QCOMPARE(VHPSFRecord::marker(image, 0), kRecordMarker);
        QCOMPARE(VHPSFRecord::marker(image, kSlotSize), kFreeMarker);
        QCOMPARE(VHByteReader(image, 0x1000).u32(), 0x44332211u);
        QVERIFY(allErased(image.mid(kSlotSize, 0x1000 - kSlotSize)));
        QVERIFY(allErased(image.mid(0x1004, kHeaderSize - 0x1004)));
        qsizetype current = -1;
        QVERIFY(store.flashHeader().currentRecord(current));
        QCOMPARE(current, 0);
    }

    void layoutColumns_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("layout");
        QTest::addColumn<quint32>("word29");
        QTest::newRow("1510 is column A") << int(Fault::None) << int(Layout::A) << 647144u;
        QTest::newRow("other text is column B") << int(Fault::None) << int(Layout::B) << 483304u;
        QTest::newRow("garbage is column B") << int(Fault::GarbageDistHeader) << int(Layout::B) << 483304u;
    }

    void layoutColumns()
    {
        QFETCH(int, fault);
        QFETCH(int, layout);
        QFETCH(quint32, word29);
        const Layout built = Fault(fault) == Fault::GarbageDistHeader ? Layout::A : Layout(layout);
        VHPSFImageSource source(VHPSFStoreBuilder::image(options(built, 2, Fault(fault))));
        VHPSFFlashStore store(source);
        VHPSFFlashHeader &header = store.flashHeader();
        QVERIFY(!header.hasLayout());
        QCOMPARE(header.word(10), 0u);
        QCOMPARE(header.word(44), 0x1F9000u);
        std::unique_ptr<VHPSFContainer_1_5> container;
        QVERIFY(store.attach(true, container));
        QCOMPARE(container->distObjectOffset(), 0x6000 + 48);
        QCOMPARE(header.word(29), word29);
        for (int i = 0; i < VHPSFStoreBuilder::kRegionCount; ++i) {
            const VHPSFStoreBuilder::Region expected = VHPSFStoreBuilder::region(Layout(layout), i);
            const VHPSFRegionBounds bounds = header.bounds(VHPSFRegion(i));
            QCOMPARE(bounds.start, expected.start);
            QCOMPARE(bounds.first, expected.first);
            QCOMPARE(bounds.end, expected.end);
            QCOMPARE(bounds.capacity, expected.capacity);
        }
        // The profile range alone was read, and the dist header for the version.
        QCOMPARE(store.isLoaded(VHPSFFlashStore::Profile), true);
        QCOMPARE(store.isLoaded(VHPSFFlashStore::RoutesAndLaps), false);
    }

    void resetsAndAppend()
    {
        const Builder o = options(Layout::B, 4);
        VHPSFImageSource source(VHPSFStoreBuilder::image(o));
        VHPSFFlashStore store(source);
        std::unique_ptr<VHPSFContainer_1_5> container;
        QVERIFY(store.attach(true, container));
        QVERIFY(store.loadAll());
        VHPSFFlashHeader &header = store.flashHeader();
        const qsizetype record = 0x400;
        const auto fields = [&](VHPSFRegion r) { return VHPSFRecord::region(store.image(), record, r); };
        const VHPSFRegionBounds route = header.bounds(VHPSFRegion::Route), lap = header.bounds(VHPSFRegion::Lap);
        const VHPSFRegionBounds track = header.bounds(VHPSFRegion::TrackSeg);

        // Append at "end"; one that does not fit changes nothing.
        const VHPSFRegionFields before = fields(VHPSFRegion::Route);
        const QByteArray added(40, 'r');
        QVERIFY(header.append(VHPSFRegion::Route, added));
        QCOMPARE(fields(VHPSFRegion::Route), (VHPSFRegionFields{before.free - 40, before.first, before.end + 40}));
        QCOMPARE(store.image().mid(before.end, 40), added);
        QVERIFY(!header.append(VHPSFRegion::Route, QByteArray(int(before.free), 'x')));
        QCOMPARE(fields(VHPSFRegion::Route).end, before.end + 40);

        const int count = VHPSFRecord::count(store.image(), record);
        QVERIFY(header.resetRoutes());
        QCOMPARE(VHPSFRecord::count(store.image(), record), count); // the firmware's count is carried
        QCOMPARE(fields(VHPSFRegion::Route), (VHPSFRegionFields{33496, route.first, route.first}));
        QCOMPARE(fields(VHPSFRegion::Lap), (VHPSFRegionFields{0x1C000, lap.first, lap.start}));
        QVERIFY(allErased(store.image().mid(route.first, 33496)));
        QVERIFY(allErased(store.image().mid(lap.start, 0x1C000)));
        QVERIFY(!allErased(store.image().mid(route.start, 24))); // the region's own header stays

        QVERIFY(header.resetTracks());
        QCOMPARE(fields(VHPSFRegion::TrackSeg), (VHPSFRegionFields{483304, track.first, track.first}));
        QVERIFY(allErased(store.image().mid(track.first, 483304)));
        QCOMPARE(store.image().mid(track.first - 24, 24), source.flash().mid(track.first - 24, 24));
    }

    void brokenImagesWriteNothing_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("route first outside its region") << int(Fault::FirstOutside);
        QTest::newRow("track end outside the flash") << int(Fault::EndOutside);
        QTest::newRow("workout free over capacity") << int(Fault::FreeOutside);
        QTest::newRow("bad marker") << int(Fault::BadMarker);
        QTest::newRow("no free slot") << int(Fault::NoFreeSlot);
    }

    void brokenImagesWriteNothing()
    {
        QFETCH(int, fault);
        const QByteArray image = VHPSFStoreBuilder::image(options(Layout::A, 2, Fault(fault)));
        RecordingSource source(image);
        VHPSFFlashStore store(source);
        std::unique_ptr<VHPSFContainer_1_5> container;
        QVERIFY(store.attach(true, container)); // profile and dist header are sound
        QVERIFY(!store.loadAll());
        QVERIFY(!store.save());
        QCOMPARE(source.erases, 0);
        QVERIFY(source.writes.isEmpty());
        QCOMPARE(source.flash(), image);
    }

    void regionLoadSkipsReadEndBlocks()
    {
        RecordingSource source(VHPSFStoreBuilder::image(options()));
        VHPSFFlashStore store(source);
        QVERIFY(store.loadRegion(0x10000, 2 * kBlockSize));
        QVERIFY(store.loadRegion(0x10000, 2 * kBlockSize)); // both blocks known: nothing read
        QVERIFY(store.loadRegion(0x10000, 5 * kBlockSize)); // only its end blocks are skipped
        QVERIFY(store.loadRegion(0x1FF000, 0x10000));       // clamped to the flash
        QVERIFY(store.loadRegion(0x20000, 0));
        const QList<QPair<int, int>> expected = {{16, 2}, {17, 4}, {511, 1}};
        QCOMPARE(source.reads, expected);
        QCOMPARE(store.image().mid(0x10000, 5 * kBlockSize), source.flash().mid(0x10000, 5 * kBlockSize));
    }

    void saveRoundTripAndOrder()
    {
        const Builder o = options(Layout::A, 7);
        RecordingSource source(VHPSFStoreBuilder::image(o));
        VHPSFFlashStore store(source);
        std::unique_ptr<VHPSFContainer_1_5> container;
        QVERIFY(store.attach(true, container));
        QVERIFY(store.flashHeader().append(VHPSFRegion::InfoLog, QByteArray(20, 'i')));
        QVERIFY(store.save());
        QCOMPARE(source.erases, 1);
        // The tail, then the header frame last (a store written in part has no current record), no block twice.
        QCOMPARE(source.writes.last(), qMakePair(0, 2));
        QCOMPARE(source.writes.at(source.writes.size() - 2).first, int(kProfileRangeEnd / kBlockSize));
        QSet<int> blocks;
        for (const auto &[first, count] : std::as_const(source.writes)) {
            for (int b = first; b < first + count; ++b)
                QVERIFY2(!blocks.contains(b), qPrintable(QString::number(b)));
            for (int b = first; b < first + count; ++b)
                blocks.insert(b);
        }
        // What the device holds now reads back as the same store.
        QCOMPARE(source.flash().left(kHeaderSize), store.image().left(kHeaderSize));
        VHPSFImageSource copy(source.flash());
        VHPSFFlashStore reread(copy);
        QVERIFY(reread.attach(true, container));
        QVERIFY(reread.loadAll());
        for (int i = 0; i < VHPSFStoreBuilder::kRegionCount; ++i) {
            qsizetype from = 0, to = 0, from2 = 0, to2 = 0;
            QVERIFY(store.flashHeader().usedRange(VHPSFRegion(i), from, to));
            QVERIFY(reread.flashHeader().usedRange(VHPSFRegion(i), from2, to2));
            QCOMPARE(qMakePair(from2, to2), qMakePair(from, to));
            QCOMPARE(reread.image().mid(from, to - from), store.image().mid(from, to - from));
        }
        QCOMPARE(reread.image().mid(kProfileRangeStart), store.image().mid(kProfileRangeStart));
    }

    void saveFailsWhenAnyFrameFails()
    {
        RecordingSource source(VHPSFStoreBuilder::image(options(Layout::B, 1)));
        VHPSFFlashStore store(source);
        std::unique_ptr<VHPSFContainer_1_5> container;
        QVERIFY(store.attach(true, container));
        source.failWrites = true;
        LogCapture log;
        QVERIFY(!store.save());
        QStringList failures;
        for (const QString &line : log.lines()) {
            if (line.endsWith(QLatin1String("failed")))
                failures.append(line.section(QLatin1Char('\t'), -1).trimmed());
        }
        // Every frame is tried; the header frame is not written over frames that failed.
        const QStringList expected = {
            "write distheader frame failed",
            "write route frame failed",
            "write lap frame failed",
            "write workout frame failed",
            "write workout interval frame failed",
            "write track seg frame failed",
            "write workout log frame failed",
            "write sensor log frame failed",
            "write info log frame failed",
            "write profile frame failed",
            "write mag2 frame failed",
        };
        QCOMPARE(failures, expected);

        // One early frame failing fails the save, though the last one was written.
        RecordingSource once(VHPSFStoreBuilder::image(options(Layout::B, 1)));
        VHPSFFlashStore again(once);
        QVERIFY(again.attach(true, container));
        once.failBlock = int(kProfileRangeStart / kBlockSize);
        log.clear();
        QVERIFY(!again.save());
        QCOMPARE(log.count(QStringLiteral("frame failed")), 1);
        QVERIFY(log.contains(QStringLiteral("write profile frame failed")));
        QCOMPARE(once.flash().right(0x1000), again.image().right(0x1000));
    }

    void fileRoundTrip()
    {
        QTemporaryDir dir;
        const QByteArray image = VHPSFStoreBuilder::image(options(Layout::B, 95));
        VHPSFImageSource source(image);
        VHPSFFlashStore store(source);
        QVERIFY(store.loadRegion(0, kFlashSize));
        QVERIFY(store.saveToFile(dir.filePath("flash.bin")));
        VHPSFImageSource empty{QByteArray()};
        VHPSFFlashStore loaded(empty);
        QVERIFY(loaded.loadFromFile(dir.filePath("flash.bin")));
        QCOMPARE(loaded.image(), image);
        std::unique_ptr<VHPSFContainer_1_5> container;
        QVERIFY(loaded.attach(true, container)); // nothing read from the empty source
        QVERIFY(loaded.loadAll());
        QVERIFY(writeFile(dir.filePath("big.bin"), QByteArray(kFlashSize + 1, 'x')));
        QVERIFY(!loaded.loadFromFile(dir.filePath("big.bin")));
        QVERIFY(!loaded.loadFromFile(dir.filePath("missing.bin")));
    }
};

QTEST_GUILESS_MAIN(tst_VHPSFStore)
#include "tst_VHPSFStore.moc"
