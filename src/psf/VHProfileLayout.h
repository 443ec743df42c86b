#pragma once

// Positions inside the 4096-byte profile block, for the binary profile
// readers, the Pacer40 entry list, the fixtures and the simulator. All values
// are little-endian. Format texts have one letter per field (see
// VHProfilePack.h): B u8, H u16, I u32, f 32-bit float, x a carried byte.

#include <QtGlobal>

namespace VHProfileLayout {

constexpr qsizetype kBlockSize = 4096;

// ---- the Pacer30 family --------------------------------------------------
// User record: sex, age in years, a carried word, height metric, height
// imperial, weight metric, weight imperial, maximum heart rate.
inline constexpr char kUserFormat[] = "BBHffffH";
constexpr qsizetype kUserSize = 22;
constexpr qsizetype kUserObsolete = 587;
constexpr qsizetype kUserObsoletePulsar30 = 327;
constexpr qsizetype kUser_1_0_0 = 331;

// Bytes 2, 3 and 4 are 1, 0 and 0-2 on a block of the 1.0.x layout.
constexpr qsizetype kLayoutVersionOffset = 2;

// The 1.0.x layout's settings block: the language as up to four characters
// (NUL-padded) in its first field, the unit system in byte 11; the rest is
// carried.
constexpr qsizetype kSettingsOffset = 475;
inline constexpr char kSettingsFormat[] = "IxxxxxxxB";
// The 1.0.x layout's first-use block: MLSS in its first word, the first-use
// page in byte 28 (profile byte 1194, the device's first-use flag); the rest
// is carried.
constexpr qsizetype kFirstUseOffset = 1166;
inline constexpr char kFirstUseFormat[] = "HxxxxxxxxxxxxxxxxxxxxxxxxxxB";
constexpr qsizetype kFirstUseFlag = 1194;
constexpr qsizetype kExtraBlockSize = 36;
// Zero on a device that was never set up: the Pacer30's and the Pulsar30's
// bytes (the Pulsar35 and Pacer20 use the first-use flag).
constexpr qsizetype kPacer30Initialised = 967;
constexpr qsizetype kPulsar30Initialised = 886;

// ---- the Pacer40 entry list ----------------------------------------------
// The record: a state word (kEntriesWritten after the host wrote the list),
// the 16-bit entry count, and the 8-byte entries from kEntryDataOffset:
// tag bytes 0, 0, item number, value type, then the 32-bit value.
constexpr qsizetype kEntryStateOffset = 0;
constexpr qsizetype kEntryCountOffset = 2;
constexpr qsizetype kEntryDataOffset = 8;
constexpr qsizetype kEntrySize = 8;
constexpr int kEntryCapacity = int((kBlockSize - kEntryDataOffset) / kEntrySize);
constexpr quint16 kEntriesWritten = 2;
// The uncounted last entry of every list the host writes.
constexpr quint8 kMagicItem = 1;
constexpr quint8 kMagicType = 5;
constexpr quint32 kMagicValue = 49504951;

} // namespace VHProfileLayout
