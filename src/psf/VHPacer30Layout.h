#pragma once

// Fixed positions of the 1 MiB external flash of the Pacer30 family. The
// journal of management records at the front has the same shape as on the
// 2 MiB store; the region table has the same 46 words. The device class, the
// fixture builder and the simulator all take their positions from here.
//
//   0x00000-0x05FFF  header area: 96 journal slots of 256 bytes
//   0x06000-0x06FFF  dist header region
//   0x07000-0x0FFFF  workouts          0x10000-0x1FFFF  routes
//   0x20000-0x27FFF  laps              0x28000-0x2BFFF  workout intervals
//   0x2C000-0x2FFFF  workout logs      0x30000-0xAFFFF  track segments
//   0xB0000-0xBFFFF  points of interest
//   0xC0000-0xE7FFF  sensor logs       0xE8000-0xF7FFF  info logs
//   0xF8000-0xF8FFF  profile block     0xF9000-0xF9FFF  unused
//   0xFA000-0xFFFFF  second header area, reset by a data write-back

#include <QtGlobal>

#include <array>

namespace VHPacer30Layout {

constexpr qsizetype kFlashSize = 0x100000;
constexpr qsizetype kBlockSize = 4096;
constexpr qsizetype kProfileOffset = 0xF8000;
constexpr qsizetype kProfileSize = 4096;
constexpr qsizetype kSecondHeaderOffset = 1024000; // 0xFA000
constexpr qsizetype kSecondHeaderSize = 0x6000;
constexpr qsizetype kLanguageImageSize = 0x79000;
// Language directory entries start here in the language image.
constexpr qsizetype kLanguageDirectoryLimit = 229;

// The points of interest have no fields in the 2 MiB store's management
// record; this family keeps their free, first and end values in the record's
// otherwise carried bytes.
constexpr qsizetype kPoiFieldsOffset = 172;

// Region table words that name the point-of-interest region (unused, zero,
// on the 2 MiB store).
constexpr int kPoiStartWord = 30;
constexpr int kPoiFirstWord = 31;
constexpr int kPoiEndWord = 32;
constexpr int kPoiCapacityWord = 33;

// Table words of a region: start, first record, end, capacity from the first
// record. Laps and intervals have no header: their first record is the start.
struct RegionWords
{
    int start, first, end, capacity;
};
// In the order of the management record's region fields.
constexpr std::array<RegionWords, 8> kRegionWords = {{
    {6, 7, 8, 9},
    {10, 11, 12, 13},
    {14, 14, 15, 16},
    {17, 17, 18, 19},
    {20, 21, 22, 23},
    {24, 25, 27, 29},
    {34, 35, 36, 37},
    {38, 39, 40, 41},
}};
constexpr RegionWords kPoiWords = {kPoiStartWord, kPoiFirstWord, kPoiEndWord, kPoiCapacityWord};

// The 46-word region table: same word meanings as the 2 MiB store's table.
constexpr std::array<quint32, 46> kRegionTable = {
    0x6000,            // 0  header area size; dist header start
    0x7000,            // 1  dist header end
    24916,             // 2  carried
    24944,             // 3  carried
    27944,             // 4  carried
    3000,              // 5  carried
    0x7000,            // 6  workout region start
    0x7018,            // 7  first workout record
    0x10000,           // 8  workout region end
    0x10000 - 0x7018,  // 9  workout capacity
    0x10000,           // 10 route region start
    0x10018,           // 11 first route record
    0x20000,           // 12 route region end
    0x20000 - 0x10018, // 13 route capacity
    0x20000,           // 14 lap region start
    0x28000,           // 15 lap region end
    0x8000,            // 16 lap capacity
    0x28000,           // 17 workout-interval region start
    0x2C000,           // 18 workout-interval region end
    0x4000,            // 19 workout-interval capacity
    0x2C000,           // 20 workout-log region start
    0x2C010,           // 21 first workout-log record
    0x30000,           // 22 workout-log region end
    0x30000 - 0x2C010, // 23 workout-log capacity
    0x30000,           // 24 track-segment region start
    0x30018,           // 25 first track-segment record
    0,                 // 26
    0xB0000,           // 27 track-segment region end
    0,                 // 28
    0xB0000 - 0x30018, // 29 track capacity; the device's total storage
    0xB0000,           // 30 point-of-interest region start
    0xB0018,           // 31 first point-of-interest record
    0xC0000,           // 32 point-of-interest region end
    0xC0000 - 0xB0018, // 33 point-of-interest capacity
    0xC0000,           // 34 sensor-log region start
    0xC0018,           // 35 first sensor-log record
    0xE8000,           // 36 sensor-log region end
    0xE8000 - 0xC0018, // 37 sensor-log capacity
    0xE8000,           // 38 info-log region start
    0xE8018,           // 39 first info-log record
    0xF8000,           // 40 info-log capacity end
    0xF8000 - 0xE8018, // 41 info-log capacity
    0,                 // 42 not used
    0x100000,          // 43 flash size
    0xF8000,           // 44 profile offset
    4096,              // 45 profile size
};

} // namespace VHPacer30Layout
