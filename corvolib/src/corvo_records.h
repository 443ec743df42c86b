#pragma once

// The fixed records of the device-log files that more than one function reads.

#include "corvo_io.h"
#include "corvo_paths.h"

#include <cstdint>
#include <string>

namespace corvo {

constexpr size_t kActivityBlockSize = 88;
constexpr size_t kTemplateBlockSize = 36;
constexpr uint64_t kWorkoutLogRecordOffset = 16;
constexpr uint64_t kWorkoutLogIntervalsOffset = 44;
constexpr uint64_t kWorkoutLogActivityLink = kWorkoutLogRecordOffset + 12;
// Fields of a template's interval record.
constexpr size_t kIntervalNextField = 4;
constexpr size_t kIntervalLinkField = 8;

struct ActivityBlock
{
    uint32_t trackTime = kNone;
    uint32_t summaryLap = kNone;
    uint32_t lapTable = kNone;
    uint32_t userInfo = kNone;
    uint8_t lapCount = 0;
    uint32_t sensorTime = kNone;
    uint32_t workoutLogTime = kNone;
};

struct TemplateBlock
{
    uint32_t intervalTable = kNone;
    uint8_t flags = 0;
    uint8_t linkedLogs = 0;
    uint32_t logTable = kNone;
    uint32_t nameOffset = kNone;
    uint32_t descriptionOffset = kNone;
};

constexpr uint8_t kSeveralNames = 0x20;

bool readActivityBlock(const DeviceFile &file, ActivityBlock &block);
bool readTemplateBlock(const DeviceFile &file, TemplateBlock &block);

// Opens an existing file for reading or writing; prints "open file error "
// when that fails.
bool openExisting(DeviceFile &file, const std::string &path, DeviceFile::Mode mode = DeviceFile::Mode::Read);

// Opens path and reads n bytes at offset into buffer; 0 bytes always succeed
// once the file is open. Prints the library's text on failure.
bool readRecordAt(const std::string &path, uint64_t offset, void *buffer, size_t n);

// Offset of the 1-based record number in a table of records of size n.
bool tableEntryOffset(uint32_t table, size_t n, int number, uint64_t &offset);
// The reverse: the 1-based number of the record of size n that starts at
// offset and lies whole in a file of fileSize bytes; kNone for any other offset.
uint32_t tableEntryNumber(uint32_t table, size_t n, uint32_t offset, uint64_t fileSize);

inline std::string activityPath(const char *name) { return filePath(historyFolder("GAL"), name); }
inline std::string workoutLogPath(const std::string &name) { return filePath(historyFolder("WLOG"), name); }

} // namespace corvo
