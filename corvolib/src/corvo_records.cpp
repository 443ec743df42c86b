#include "corvo_records.h"

#include <array>

namespace corvo {

bool readActivityBlock(const DeviceFile &file, ActivityBlock &block)
{
    std::array<uint8_t, kActivityBlockSize> bytes{};
    if (!file.read(kFileHeaderSize, bytes))
        return false;
    ByteReader r(bytes);
    block.trackTime = r.u32(8);
    block.summaryLap = r.u32(12);
    block.lapTable = r.u32(16);
    block.userInfo = r.u32(20);
    block.lapCount = r.u8(24);
    block.sensorTime = r.u32(28);
    block.workoutLogTime = r.u32(36);
    return r.ok();
}

bool readTemplateBlock(const DeviceFile &file, TemplateBlock &block)
{
    std::array<uint8_t, kTemplateBlockSize> bytes{};
    if (!file.read(kFileHeaderSize, bytes))
        return false;
    ByteReader r(bytes);
    block.intervalTable = r.u32(8);
    block.flags = r.u8(12);
    block.linkedLogs = r.u8(15);
    block.logTable = r.u32(24);
    block.nameOffset = r.u32(28);
    block.descriptionOffset = r.u32(32);
    return r.ok();
}

bool openExisting(DeviceFile &file, const std::string &path, DeviceFile::Mode mode)
{
    if (file.open(path, mode))
        return true;
    printFailure("open file error ");
    return false;
}

bool readRecordAt(const std::string &path, uint64_t offset, void *buffer, size_t n)
{
    DeviceFile file;
    if (!openExisting(file, path))
        return false;
    if (n > 0 && !buffer)
        return false;
    if (!file.read(offset, std::span<uint8_t>(static_cast<uint8_t *>(buffer), n))) {
        printFailure("read file error ");
        return false;
    }
    return true;
}

bool tableEntryOffset(uint32_t table, size_t n, int number, uint64_t &offset)
{
    if (table == kNone || number < 1)
        return false;
    offset = uint64_t(table) + uint64_t(n) * uint64_t(number - 1);
    return true;
}

uint32_t tableEntryNumber(uint32_t table, size_t n, uint32_t offset, uint64_t fileSize)
{
    if (table == kNone || offset == kNone || n == 0 || offset < table || uint64_t(offset) + n > fileSize)
        return kNone;
    const uint64_t distance = offset - table;
    if (distance % n != 0)
        return kNone;
    return uint32_t(distance / n + 1);
}

} // namespace corvo
