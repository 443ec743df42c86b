#include "corvo_builder.h"

#include <algorithm>

namespace corvotest {

ByteBuilder &ByteBuilder::u8(uint8_t v)
{
    bytes_.push_back(v);
    return *this;
}

ByteBuilder &ByteBuilder::u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }

ByteBuilder &ByteBuilder::u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }

ByteBuilder &ByteBuilder::raw(const Bytes &bytes)
{
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

ByteBuilder &ByteBuilder::text(const std::string &text)
{
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
}

ByteBuilder &ByteBuilder::zeros(size_t n)
{
    bytes_.insert(bytes_.end(), n, 0);
    return *this;
}

void ByteBuilder::put32(size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4; ++i)
        bytes_.at(at + i) = uint8_t(v >> (8 * i));
}

Bytes fileHeader(uint8_t kind) { return {0xFF, 0xFF, 0xFF, 0xFF, 'G', 'A', 'L', 0, 0, 9, kind, 0, 16, 0, 0, 0}; }

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(seed + i * 7);
    return bytes;
}

Bytes activityFile(const ActivityParts &parts)
{
    constexpr size_t kBlockEnd = 16 + 88;
    const uint32_t summary = parts.summaryLap.empty() ? kNone : uint32_t(kBlockEnd);
    const uint32_t user = parts.userInfo.empty() ? kNone : uint32_t(kBlockEnd + parts.summaryLap.size());
    const uint32_t laps =
        parts.laps.empty() ? kNone : uint32_t(kBlockEnd + parts.summaryLap.size() + parts.userInfo.size());
    ByteBuilder b;
    b.raw(fileHeader(30)).raw(pattern(8, 0x10));
    b.u32(parts.trackTime).u32(summary).u32(laps).u32(user);
    b.u8(uint8_t(parts.laps.size())).zeros(3).u32(parts.sensorTime).u32(0x01020304).u32(parts.workoutLogTime);
    b.raw(pattern(88 - 40, 0x40));
    b.raw(parts.summaryLap).raw(parts.userInfo);
    for (const Bytes &lap : parts.laps)
        b.raw(lap);
    return b.bytes();
}

namespace {

constexpr int kSlotSizes[12] = {1, 1, 1, 2, 2, 2, 1, 1, 1, 2, 2, 2};

bool slotPresent(const SensorSegmentSpec &s, int slot)
{
    static constexpr int kBits[12] = {0, 1, 2, 3, 4, 5, 6, 6, 7, 1, 2, 3};
    const uint8_t mask = slot < 7 ? s.maskA : slot < 9 ? s.maskB : s.maskC;
    return (mask >> kBits[slot]) & 1;
}

void sensorPoint(ByteBuilder &b, const SensorSegmentSpec &s, const SensorSlots &slots)
{
    for (int slot = 0; slot < 12; ++slot) {
        if (!slotPresent(s, slot))
            continue;
        if (kSlotSizes[slot] == 1)
            b.u8(uint8_t(slots[size_t(slot)]));
        else
            b.i16(int16_t(slots[size_t(slot)]));
    }
}

} // namespace

BuiltChain sensorLogFile(const std::vector<SensorSegmentSpec> &segments)
{
    ByteBuilder b;
    b.raw(fileHeader(0));
    BuiltChain chain;
    for (size_t i = 0; i < segments.size(); ++i) {
        const SensorSegmentSpec &s = segments[i];
        chain.segmentOffsets.push_back(b.size());
        if (i > 0)
            b.put32(chain.segmentOffsets[i - 1] + 4, uint32_t(b.size()));
        b.u32(s.start).u32(kNone).u8(s.step).u8(s.maskA).u16(uint16_t(s.points.size()));
        b.u8(0).u8(s.maskB).u8(s.maskC).u8(0);
        for (const SensorSlots &slots : s.points)
            sensorPoint(b, s, slots);
    }
    chain.bytes = b.bytes();
    return chain;
}

BuiltChain trackFile(const std::vector<TrackSegmentSpec> &segments)
{
    ByteBuilder b;
    b.raw(fileHeader(0));
    BuiltChain chain;
    for (size_t i = 0; i < segments.size(); ++i) {
        const TrackSegmentSpec &s = segments[i];
        chain.segmentOffsets.push_back(b.size());
        if (i > 0)
            b.put32(chain.segmentOffsets[i - 1] + 28, uint32_t(b.size()));
        b.u32(s.start).i32(s.coordinateB).i32(s.coordinateA).raw(pattern(8, 0x77));
        b.i16(s.rawAltitude).zeros(3).u8(s.step).zeros(2).u32(kNone).u32(uint32_t(s.deltas.size()));
        for (const TrackDelta &d : s.deltas)
            b.u16(0xABCD).u16(d.units).u8(uint8_t(d.altitudeTenths)).u8(0).i16(d.deltaB).i16(d.deltaA);
    }
    chain.bytes = b.bytes();
    return chain;
}

Bytes workoutLogFile(uint32_t activityLink, const std::vector<Bytes> &intervals)
{
    ByteBuilder b;
    b.raw(fileHeader(0)).raw(pattern(12, 0x20)).u32(activityLink).raw(pattern(12, 0x30));
    for (const Bytes &interval : intervals)
        b.raw(interval);
    return b.bytes();
}

Bytes templateWithLogs(const std::vector<uint32_t> &logTimes)
{
    ByteBuilder b;
    const uint32_t table = 16 + 36;
    b.raw(fileHeader(21)).u32(1).u32(2).u32(kNone);
    b.u8(0).u8(0).u8(0).u8(uint8_t(logTimes.size()));
    b.u32(0).u32(0).u32(table).u32(kNone).u32(kNone);
    for (const uint32_t time : logTimes)
        b.u32(time);
    return b.bytes();
}

Bytes templateWithIntervals(const std::vector<uint32_t> &storedLinks, size_t recordSize)
{
    ByteBuilder b;
    b.raw(fileHeader(21)).u32(1).u32(2).u32(kTemplateIntervalTable).u32(0).u32(0).u32(0);
    b.u32(kNone).u32(kNone).u32(kNone);
    for (size_t i = 0; i < storedLinks.size(); ++i) {
        const bool last = i + 1 == storedLinks.size();
        const uint32_t next = last ? kNone : kTemplateIntervalTable + uint32_t((i + 1) * recordSize);
        b.u32(0xA0 + uint32_t(i)).u32(next).u32(storedLinks[i]).raw(pattern(recordSize - 12, uint8_t(i)));
    }
    return b.bytes();
}

ProfileBuilder::ProfileBuilder(const std::string &projectCode, int major, size_t imageSize) : image_(imageSize, 0)
{
    map_ = "Profile,0," + projectCode + "," + std::to_string(major) + ",3,77\r\n";
}

ProfileBuilder &ProfileBuilder::value(const std::string &name, size_t offset, int type, const Bytes &bytes,
                                      const std::string &extra)
{
    map_ += name + "," + std::to_string(offset) + "," + std::to_string(type);
    if (!extra.empty())
        map_ += "," + extra;
    map_ += "\r\n";
    if (image_.size() < offset + bytes.size())
        image_.resize(offset + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), image_.begin() + long(offset));
    return *this;
}

ProfileBuilder &ProfileBuilder::line(const std::string &line)
{
    map_ += line + "\r\n";
    return *this;
}

} // namespace corvotest
