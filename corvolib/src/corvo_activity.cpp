// Readers of the activity files and their laps.

#include "corvo_io.h"
#include "corvo_records.h"

#include "corvolib.h"

namespace {

using corvo::ActivityBlock;
using corvo::DeviceFile;

bool openActivity(const char *name, DeviceFile &file, ActivityBlock &block)
{
    if (!corvo::isSafeFileName(name) || !corvo::openExisting(file, corvo::activityPath(name)))
        return false;
    if (corvo::readActivityBlock(file, block))
        return true;
    corvo::printFailure("read file error ");
    return false;
}

int readAt(const DeviceFile &file, uint64_t offset, void *buffer, int length)
{
    const size_t n = corvo::byteLength(length);
    if (n > 0 && !buffer)
        return 0;
    if (!file.read(offset, std::span<uint8_t>(static_cast<uint8_t *>(buffer), n))) {
        corvo::printFailure("read file error ");
        return 0;
    }
    return 1;
}

int readBlockRecord(const char *name, uint32_t ActivityBlock::*field, void *buffer, int length)
{
    DeviceFile file;
    ActivityBlock block;
    if (!openActivity(name, file, block) || block.*field == corvo::kNone)
        return 0;
    return readAt(file, block.*field, buffer, length);
}

} // namespace

extern "C" {

int GetActivityContent(const char *name, void *buffer, int length)
{
    if (!corvo::isSafeFileName(name))
        return 0;
    return corvo::readRecordAt(corvo::activityPath(name), corvo::kFileHeaderSize, buffer, corvo::byteLength(length));
}

int GetLapCount(const char *name, unsigned char *count)
{
    DeviceFile file;
    ActivityBlock block;
    if (!count || !openActivity(name, file, block))
        return 0;
    *count = block.lapCount;
    return 1;
}

int GetSummaryLapContent(const char *name, void *buffer, int length)
{
    return readBlockRecord(name, &ActivityBlock::summaryLap, buffer, length);
}

int GetUserInfoContent(const char *name, void *buffer, int length)
{
    return readBlockRecord(name, &ActivityBlock::userInfo, buffer, length);
}

int GetLapContent(const char *name, int lapNumber, void *buffer, int length)
{
    DeviceFile file;
    ActivityBlock block;
    if (!openActivity(name, file, block) || lapNumber > block.lapCount)
        return 0;
    uint64_t offset = 0;
    if (!corvo::tableEntryOffset(block.lapTable, corvo::byteLength(length), lapNumber, offset))
        return 0;
    return readAt(file, offset, buffer, length);
}

} // extern "C"
