#pragma once

// Fixed positions of the PSF store on the 2 MiB external flash and of the
// fields of a management record. All values are little-endian on the flash.

#include <QtGlobal>

namespace VHPSFLayout {

constexpr qsizetype kBlockSize = 4096;
constexpr qsizetype kFlashSize = 0x200000;

// Header area: the journal of management records.
constexpr qsizetype kHeaderSize = 0x6000;
constexpr qsizetype kSlotSize = 256;
constexpr int kSlotCount = int(kHeaderSize / kSlotSize);
constexpr qsizetype kLastSlot = kHeaderSize - kSlotSize; // 0x5F00
constexpr quint16 kRecordMarker = 0xAA55;
constexpr quint16 kFreeMarker = 0xFFFF;
// A commit leaves this word at 0x1000, inside slot 16 of the journal.
constexpr qsizetype kCommitWordOffset = 0x1000;
constexpr quint32 kCommitWord = 0x44332211;
// The part of the header area save() writes back.
constexpr qsizetype kHeaderFrameSize = 8192;

// Dist header region and its version text.
constexpr qsizetype kDistHeaderStart = 0x6000;
constexpr qsizetype kDistHeaderEnd = 0x7000;
constexpr qsizetype kVersionOffset = 16; // within the dist header region
constexpr qsizetype kVersionSize = 4;
constexpr qsizetype kDistObjectOffset = 48; // the dist header object within its region

// Profile block and the block read and written with it.
constexpr qsizetype kProfileOffset = 0x1F9000;
constexpr qsizetype kProfileSize = 4096;
constexpr qsizetype kProfileRangeStart = kProfileOffset + kProfileSize - 2 * kProfileSize; // 0x1F8000
constexpr qsizetype kProfileRangeEnd = kProfileOffset + kProfileSize;                      // 0x1FA000
// Non-zero on a device whose store was initialised.
constexpr qsizetype kInitialisedByte = 0x1F84AA;

// Management record fields (offsets within a slot).
constexpr qsizetype kRecordCopySize = 224; // what a commit carries over
constexpr qsizetype kReservedOffset = 2;
constexpr qsizetype kReservedSize = 64;
constexpr qsizetype kCountOffset = 66;
constexpr qsizetype kRegionFieldsOffset = 76; // free, first, end per region, 12 bytes each
constexpr qsizetype kSumOffset = 216;
constexpr qsizetype kCheckOffset = 220;
constexpr qsizetype kCheckedFrom = 66; // the check value covers bytes 66-219
constexpr qsizetype kCheckedSize = 154;

} // namespace VHPSFLayout

// The regions of the store, in the order of their fields in a management record.
enum class VHPSFRegion { Workout, Route, Lap, Interval, WorkoutLog, TrackSeg, SensorLog, InfoLog };
constexpr int kVHPSFRegionCount = 8;
