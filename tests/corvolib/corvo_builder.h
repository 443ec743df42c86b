#pragma once

// Builds the device files that the library only reads (activities, sensor
// logs, track segments, workout logs, templates with linked logs, profiles),
// byte by byte as the devices write them. Plain C++ so that the fuzzing seed
// generator shares it with the tests.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace corvotest {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kNone = 0xFFFFFFFFu;

class ByteBuilder
{
public:
    ByteBuilder &u8(uint8_t v);
    ByteBuilder &u16(uint16_t v);
    ByteBuilder &u32(uint32_t v);
    ByteBuilder &i16(int16_t v) { return u16(uint16_t(v)); }
    ByteBuilder &i32(int32_t v) { return u32(uint32_t(v)); }
    ByteBuilder &raw(const Bytes &bytes);
    ByteBuilder &text(const std::string &text);
    ByteBuilder &zeros(size_t n);
    void put32(size_t at, uint32_t v);
    size_t size() const { return bytes_.size(); }
    const Bytes &bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

Bytes fileHeader(uint8_t kind = 0);
Bytes pattern(size_t n, uint8_t seed);

struct ActivityParts
{
    uint32_t trackTime = kNone;
    uint32_t sensorTime = kNone;
    uint32_t workoutLogTime = kNone;
    Bytes summaryLap; // none when empty
    Bytes userInfo;   // none when empty
    std::vector<Bytes> laps;
};
// Header, the 88-byte block (bytes 0..7 and the free fields patterned), then
// summary lap, user information and the lap table.
Bytes activityFile(const ActivityParts &parts);

// The twelve slots in mask-bit order: A0 A1 A2 A3 A4 A5 A6 B6 B7 C1 C2 C3.
using SensorSlots = std::array<int, 12>;
struct SensorSegmentSpec
{
    uint32_t start = 0;
    uint8_t step = 1;
    uint8_t maskA = 0;
    uint8_t maskB = 0;
    uint8_t maskC = 0;
    std::vector<SensorSlots> points;
};
struct BuiltChain
{
    Bytes bytes;
    std::vector<size_t> segmentOffsets;
};
BuiltChain sensorLogFile(const std::vector<SensorSegmentSpec> &segments);

struct TrackDelta
{
    uint16_t units = 1;
    int8_t altitudeTenths = 0;
    int16_t deltaB = 0;
    int16_t deltaA = 0;
};
struct TrackSegmentSpec
{
    uint32_t start = 0;
    int32_t coordinateA = 0;
    int32_t coordinateB = 0;
    int16_t rawAltitude = 4000; // 0 m
    uint8_t step = 1;
    std::vector<TrackDelta> deltas; // points 1 ... last
};
BuiltChain trackFile(const std::vector<TrackSegmentSpec> &segments);

// Header, the 28-byte record at 16 (its link to the activity at 12), the
// intervals from 44.
Bytes workoutLogFile(uint32_t activityLink, const std::vector<Bytes> &intervals);

// A template whose block links the workout logs started at logTimes.
Bytes templateWithLogs(const std::vector<uint32_t> &logTimes);

// A template as a device writes it: the block, then right after it (at
// kTemplateIntervalTable) one interval record of recordSize bytes per entry of
// storedLinks, chained by their next field; record i holds 0xA0 + i at 0, the
// stored link (an absolute offset, kept as given) at 8 and a pattern after it.
constexpr uint32_t kTemplateIntervalTable = 16 + 36;
Bytes templateWithIntervals(const std::vector<uint32_t> &storedLinks, size_t recordSize);

class ProfileBuilder
{
public:
    ProfileBuilder(const std::string &projectCode, int major, size_t imageSize);
    // Adds "name,offset,type[,extra]" and stores bytes at offset of the image,
    // which grows when needed.
    ProfileBuilder &value(const std::string &name, size_t offset, int type, const Bytes &bytes,
                          const std::string &extra = std::string());
    ProfileBuilder &line(const std::string &line);
    const std::string &map() const { return map_; }
    const Bytes &image() const { return image_; }

private:
    std::string map_;
    Bytes image_;
};

// Start time used by related-file names: 2023-05-17 08:30:15 UTC is "230517083015".
constexpr uint32_t kSampleTime = 1684312215u;

} // namespace corvotest
