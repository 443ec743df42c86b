// Cursors over the segment chains of sensor logs and track segment files.

#include "corvo_io.h"
#include "corvo_paths.h"
#include "corvo_registry.h"

#include "corvolib.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

namespace corvo {
namespace {

constexpr uint64_t kFirstSegment = kFileHeaderSize;
constexpr size_t kSensorHeaderSize = 16;
constexpr size_t kTrackHeaderSize = 36;
constexpr uint64_t kTrackDeltaBase = 26;
constexpr size_t kTrackDeltaSize = 10;

// Walks "next segment" links. A link back to a segment already visited ends
// the walk, so a damaged file cannot keep a caller looping.
class SegmentChain
{
public:
    bool advance(uint32_t link, uint64_t fileSize, size_t headerSize, uint64_t &offset)
    {
        if (ended_)
            return false;
        const uint64_t candidate = started_ ? uint64_t(link) : kFirstSegment;
        started_ = true;
        if (candidate == kNone || candidate > fileSize || headerSize > fileSize - candidate)
            return end();
        if (!visited_.insert(candidate).second) {
            printFailure("segment chain loops ");
            return end();
        }
        offset = candidate;
        return true;
    }

private:
    bool end()
    {
        ended_ = true;
        return false;
    }

    bool started_ = false;
    bool ended_ = false;
    std::set<uint64_t> visited_;
};

void copyHeader(std::span<const uint8_t> header, void *buffer, int length)
{
    const size_t n = std::min(byteLength(length), header.size());
    if (buffer && n > 0)
        std::memcpy(buffer, header.data(), n);
}

bool openLog(const char *folder, const char *name, DeviceFile &file)
{
    if (!isSafeFileName(name) || !file.open(filePath(historyFolder(folder), name), DeviceFile::Mode::Read)) {
        printFailure("open file error ");
        return false;
    }
    return file.size() > 0;
}

} // namespace

// The file and the place in its chain, as both cursors keep them.
struct ChainCursor
{
    DeviceFile file;
    SegmentChain chain;
    bool loaded = false;
    uint64_t offset = 0;

    // Follows `link` (from the start while no segment is loaded) and reads
    // the header there, copying it to the caller's buffer.
    template <size_t HeaderSize>
    bool readNextHeader(uint32_t link, std::array<uint8_t, HeaderSize> &header, void *buffer, int length)
    {
        if (!loaded)
            link = kNone;
        loaded = false;
        if (!chain.advance(link, file.size(), HeaderSize, offset) || !file.read(offset, header))
            return false;
        copyHeader(header, buffer, length);
        return true;
    }
};

} // namespace corvo

using corvo::ByteReader;

struct SensorIterator : corvo::ChainCursor
{
    struct Segment
    {
        uint32_t start = 0;
        uint32_t next = corvo::kNone;
        uint8_t step = 0;
        uint8_t maskA = 0;
        uint16_t points = 0;
        uint8_t maskB = 0;
        uint8_t maskC = 0;
    };

    Segment segment;
    uint32_t nextPoint = 0;

    bool loadNext(void *buffer, int length)
    {
        std::array<uint8_t, corvo::kSensorHeaderSize> bytes{};
        if (!readNextHeader(segment.next, bytes, buffer, length))
            return false;
        ByteReader r(bytes);
        segment = {r.u32(0), r.u32(4), r.u8(8), r.u8(9), r.u16(10), r.u8(13), r.u8(14)};
        nextPoint = 0;
        loaded = r.ok();
        return loaded;
    }

    size_t recordSize() const
    {
        static constexpr uint8_t kSizesA[7] = {1, 1, 1, 2, 2, 2, 1};
        size_t size = 0;
        for (int bit = 0; bit < 7; ++bit)
            size += (segment.maskA >> bit & 1) ? kSizesA[bit] : 0;
        size += (segment.maskB >> 6 & 1) + (segment.maskB >> 7 & 1);
        for (int bit = 1; bit <= 3; ++bit)
            size += (segment.maskC >> bit & 1) ? 2 : 0;
        return size;
    }

    bool nextPointInto(CorvoSensorPoint &point)
    {
        if (!loaded || nextPoint >= segment.points)
            return false;
        const size_t size = recordSize();
        std::array<uint8_t, 32> bytes{};
        const uint64_t at = offset + corvo::kSensorHeaderSize + uint64_t(nextPoint) * size;
        if (!file.read(at, std::span<uint8_t>(bytes.data(), size))) {
            nextPoint = segment.points;
            return false;
        }
        point.time = segment.start + nextPoint * uint32_t(segment.step);
        fillSlots(ByteReader(std::span<const uint8_t>(bytes.data(), size)), point);
        ++nextPoint;
        return true;
    }

    void fillSlots(ByteReader r, CorvoSensorPoint &point) const
    {
        size_t at = 0;
        auto byteSlot = [&](uint8_t mask, int bit, uint8_t &slot) {
            if (mask >> bit & 1)
                slot = r.u8(at++);
        };
        auto wordSlot = [&](uint8_t mask, int bit, int16_t &slot) {
            if (mask >> bit & 1) {
                slot = r.i16(at);
                at += 2;
            }
        };
        byteSlot(segment.maskA, 0, point.a0);
        byteSlot(segment.maskA, 1, point.a1);
        byteSlot(segment.maskA, 2, point.a2);
        wordSlot(segment.maskA, 3, point.a3);
        wordSlot(segment.maskA, 4, point.a4);
        wordSlot(segment.maskA, 5, point.a5);
        byteSlot(segment.maskA, 6, point.a6);
        byteSlot(segment.maskB, 6, point.b6);
        byteSlot(segment.maskB, 7, point.b7);
        wordSlot(segment.maskC, 1, point.c1);
        wordSlot(segment.maskC, 2, point.c2);
        wordSlot(segment.maskC, 3, point.c3);
    }
};

struct TrackIterator : corvo::ChainCursor
{
    struct Segment
    {
        uint32_t start = 0;
        int32_t coordinateB = 0;
        int32_t coordinateA = 0;
        int16_t rawAltitude = 0;
        uint8_t step = 0;
        uint32_t next = corvo::kNone;
        uint32_t lastIndex = 0;
    };

    Segment segment;
    uint64_t nextIndex = 0;
    CorvoTrackPoint current{};

    bool loadNext(void *buffer, int length)
    {
        std::array<uint8_t, corvo::kTrackHeaderSize> bytes{};
        if (!readNextHeader(segment.next, bytes, buffer, length))
            return false;
        ByteReader r(bytes);
        segment = {r.u32(0), r.i32(4), r.i32(8), r.i16(20), r.u8(25), r.u32(28), r.u32(32)};
        nextIndex = 0;
        loaded = r.ok();
        return loaded;
    }

    // A segment recorded without a position fix carries -1 in both coordinates.
    bool hasPosition() const { return !(segment.coordinateA == -1 && segment.coordinateB == -1); }

    bool nextPointInto(CorvoTrackPoint &point)
    {
        if (!loaded || nextIndex > segment.lastIndex)
            return false;
        if (nextIndex == 0 ? !startPoint() : !applyDelta()) {
            nextIndex = uint64_t(segment.lastIndex) + 1;
            return false;
        }
        ++nextIndex;
        point = current;
        return true;
    }

    bool startPoint()
    {
        if (!hasPosition())
            return false;
        current.time = segment.start;
        current.altitude = segment.rawAltitude / 4 - 1000;
        current.coordinateA = segment.coordinateA;
        current.coordinateB = segment.coordinateB;
        return true;
    }

    bool applyDelta()
    {
        std::array<uint8_t, corvo::kTrackDeltaSize> bytes{};
        if (!file.read(offset + corvo::kTrackDeltaBase + corvo::kTrackDeltaSize * nextIndex, bytes))
            return false;
        ByteReader r(bytes);
        current.time += uint32_t(r.u16(2)) * segment.step;
        current.altitude = int32_t(uint32_t(current.altitude) + uint32_t(r.i8(4) / 10));
        current.coordinateB = int32_t(uint32_t(current.coordinateB) + uint32_t(int32_t(r.i16(6))));
        current.coordinateA = int32_t(uint32_t(current.coordinateA) + uint32_t(int32_t(r.i16(8))));
        return r.ok();
    }
};

namespace {

template <typename Cursor>
corvo::HandleRegistry<Cursor> &cursors()
{
    static corvo::HandleRegistry<Cursor> registry;
    return registry;
}

template <typename Cursor>
Cursor *openCursor(corvo::HandleRegistry<Cursor> &registry, const char *folder, const char *name)
{
    auto cursor = std::make_unique<Cursor>();
    if (!corvo::openLog(folder, name, cursor->file))
        return nullptr;
    return registry.add(std::move(cursor));
}

// Both close functions accept either kind of cursor.
int closeCursor(const void *cursor)
{
    if (auto sensor = cursors<SensorIterator>().take(cursor))
        return sensor->file.close() ? 1 : 0;
    if (auto track = cursors<TrackIterator>().take(cursor))
        return track->file.close() ? 1 : 0;
    return 0;
}

} // namespace

extern "C" {

SensorIterator *GetSensorPotIterator(const char *name) { return openCursor(cursors<SensorIterator>(), "SSL", name); }

TrackIterator *GetTrackPotIterator(const char *name) { return openCursor(cursors<TrackIterator>(), "TRK", name); }

int NextSensorseg(SensorIterator *cursor, void *buffer, int length)
{
    SensorIterator *live = cursors<SensorIterator>().find(cursor);
    return live && live->loadNext(buffer, length) ? 1 : 0;
}

int NextTrackseg(TrackIterator *cursor, void *buffer, int length)
{
    TrackIterator *live = cursors<TrackIterator>().find(cursor);
    return live && live->loadNext(buffer, length) ? 1 : 0;
}

int GetSensorPot(SensorIterator *cursor, CorvoSensorPoint *point)
{
    SensorIterator *live = cursors<SensorIterator>().find(cursor);
    return live && point && live->nextPointInto(*point) ? 1 : 0;
}

int GetTrackPot(TrackIterator *cursor, CorvoTrackPoint *point)
{
    TrackIterator *live = cursors<TrackIterator>().find(cursor);
    return live && point && live->nextPointInto(*point) ? 1 : 0;
}

int CloseSensorFile(SensorIterator *cursor) { return closeCursor(cursor); }

int CloseTrackFile(TrackIterator *cursor) { return closeCursor(cursor); }

} // extern "C"
