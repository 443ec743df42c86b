// Readers and the in-place update of workout logs.

#include "corvo_io.h"
#include "corvo_records.h"

#include "corvolib.h"

namespace {

constexpr size_t kRecordLengthField = 28;

} // namespace

extern "C" {

int ReadWorkoutLog(const char *name, void *buffer, int length)
{
    if (!corvo::isSafeFileName(name))
        return 0;
    return corvo::readRecordAt(corvo::workoutLogPath(name), corvo::kWorkoutLogRecordOffset, buffer,
                               corvo::byteLength(length));
}

int UpdateWorkoutLog(const char *name, CorvoWorkoutLogRecord record)
{
    corvo::DeviceFile file;
    if (!corvo::isSafeFileName(name)
        || !corvo::openExisting(file, corvo::workoutLogPath(name), corvo::DeviceFile::Mode::ReadWrite))
        return 0;
    if (file.size() < corvo::kWorkoutLogRecordOffset) {
        corvo::printFailure("read file error ");
        return 0;
    }
    const size_t n = record.bytes[kRecordLengthField];
    const bool written = file.write(corvo::kWorkoutLogRecordOffset, std::span<const uint8_t>(record.bytes, n));
    return file.close() && written ? 1 : 0;
}

int ReadIntervalLog(const char *name, void *buffer, int length, int number)
{
    if (!corvo::isSafeFileName(name))
        return 0;
    const size_t n = corvo::byteLength(length);
    uint64_t offset = 0;
    if (!corvo::tableEntryOffset(uint32_t(corvo::kWorkoutLogIntervalsOffset), n, number, offset))
        return 0;
    return corvo::readRecordAt(corvo::workoutLogPath(name), offset, buffer, n);
}

} // extern "C"
