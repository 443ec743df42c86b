// Readers of workout templates and the in-place update of a template's block.

#include "corvo_io.h"
#include "corvo_paths.h"
#include "corvo_records.h"

#include "corvolib.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <strings.h>

namespace {

using corvo::DeviceFile;
using corvo::Folder;
using corvo::TemplateBlock;

constexpr size_t kNameHeadSize = 12;
constexpr size_t kLanguageSize = 8;
constexpr int kMaxNameEntries = 255;

struct NameEntry
{
    uint8_t entriesLeft = 0;
    uint16_t textLength = 0;
    std::array<char, kLanguageSize + 1> language{};
    uint64_t textOffset = 0;
};

std::optional<std::string> templatePath(const std::optional<Folder> &folder, const char *name)
{
    if (!folder || !corvo::isSafeFileName(name))
        return std::nullopt;
    return corvo::filePath(*folder, name);
}

Folder planFolder() { return corvo::workoutFolder(corvo::WorkoutKind::Plan, false); }

int readBlock(const std::optional<Folder> &folder, const char *name, void *buffer, int length)
{
    const auto path = templatePath(folder, name);
    return path && corvo::readRecordAt(*path, corvo::kFileHeaderSize, buffer, corvo::byteLength(length)) ? 1 : 0;
}

// The file links an interval to another by the other's offset; callers name
// intervals by number, as they do when writing. An offset where no interval of
// the file starts is no link.
void numberTheLink(std::span<uint8_t> record, uint32_t table, uint64_t fileSize)
{
    if (record.size() < corvo::kIntervalLinkField + 4)
        return;
    const uint32_t offset = corvo::ByteReader(record).u32(corvo::kIntervalLinkField);
    corvo::ByteWriter(record).put32(corvo::kIntervalLinkField,
                                    corvo::tableEntryNumber(table, record.size(), offset, fileSize));
}

int readInterval(const std::optional<Folder> &folder, const char *name, void *record, int length, int number)
{
    const auto path = templatePath(folder, name);
    DeviceFile file;
    TemplateBlock block;
    if (!path || !corvo::openExisting(file, *path) || !corvo::readTemplateBlock(file, block))
        return 0;
    const size_t n = corvo::byteLength(length);
    uint64_t offset = 0;
    if (!corvo::tableEntryOffset(block.intervalTable, n, number, offset) || (n > 0 && !record))
        return 0;
    const std::span<uint8_t> bytes(static_cast<uint8_t *>(record), n);
    if (!file.read(offset, bytes)) {
        corvo::printFailure("read file error ");
        return 0;
    }
    numberTheLink(bytes, block.intervalTable, file.size());
    return 1;
}

bool readNameEntry(const DeviceFile &file, uint64_t offset, NameEntry &entry)
{
    std::array<uint8_t, kNameHeadSize> head{};
    if (!file.read(offset, head))
        return false;
    corvo::ByteReader r(head);
    entry.entriesLeft = r.u8(0);
    entry.textLength = r.u16(2);
    for (size_t i = 0; i < kLanguageSize; ++i)
        entry.language[i] = char(r.u8(4 + i));
    entry.textOffset = offset + kNameHeadSize;
    return r.ok();
}

bool sameLanguage(const NameEntry &entry, const char *language)
{
    const size_t len = strnlen(language, kLanguageSize);
    return strnlen(entry.language.data(), kLanguageSize) == len
           && ::strncasecmp(entry.language.data(), language, len) == 0;
}

// The entry for language among the template's names, else its "ENG" entry.
std::optional<NameEntry> findName(const DeviceFile &file, const TemplateBlock &block, const char *language)
{
    NameEntry entry;
    if (block.nameOffset == corvo::kNone || !readNameEntry(file, block.nameOffset, entry))
        return std::nullopt;
    if (!(block.flags & corvo::kSeveralNames))
        return entry;
    std::optional<NameEntry> english;
    for (int i = 0; i < kMaxNameEntries; ++i) {
        if (sameLanguage(entry, language))
            return entry;
        if (!english && sameLanguage(entry, "ENG"))
            english = entry;
        if (entry.entriesLeft <= 1 || !readNameEntry(file, entry.textOffset + entry.textLength, entry))
            break;
    }
    return english;
}

std::optional<Folder> folderForUpdate(uint32_t location, uint32_t fourthValue)
{
    const uint32_t sport = fourthValue & 0x7;
    const bool plan = (fourthValue >> 16) & 1;
    if (sport > 1)
        return std::nullopt;
    const bool cycling = sport == 0;
    switch ((location >> 8) & 0xFF) {
    case 0:
        return corvo::workoutFolder(corvo::WorkoutKind::Plan, cycling);
    case 5:
        return corvo::workoutFolder(corvo::WorkoutKind::Test, cycling);
    case 6:
        return corvo::workoutFolder(plan ? corvo::WorkoutKind::Plan : corvo::WorkoutKind::Downloaded, cycling);
    default:
        return std::nullopt;
    }
}

} // namespace

extern "C" {

int UpdateTemplateWKT(const char *name, uint32_t location, uint32_t value1, uint32_t value2, uint32_t value3,
                      uint32_t value4, uint32_t value5, uint32_t value6, uint32_t value7, uint32_t value8,
                      uint32_t value9, int length)
{
    const auto path = templatePath(folderForUpdate(location, value4), name);
    DeviceFile file;
    if (!path || !corvo::openExisting(file, *path, DeviceFile::Mode::ReadWrite))
        return 0;
    const uint32_t values[] = {value1, value2, value3, value4, value5, value6, value7, value8, value9};
    std::array<uint8_t, corvo::kTemplateBlockSize> block{};
    corvo::ByteWriter w(block);
    for (size_t i = 0; i < 9; ++i)
        w.put32(i * 4, values[i]);
    const size_t n = std::min(corvo::byteLength(length), block.size());
    if (file.size() < corvo::kFileHeaderSize + n) {
        corvo::printFailure("read file error ");
        return 0;
    }
    const bool written = file.write(corvo::kFileHeaderSize, std::span<const uint8_t>(block.data(), n));
    return file.close() && written ? 1 : 0;
}

int ReadTemplateWKT(const char *name, uint32_t location, void *buffer, int length)
{
    return readBlock(corvo::folderForLocation(location), name, buffer, length);
}

int ReadTemplateWKTInterval(const char *name, uint32_t location, void *record, int length, int intervalNumber)
{
    return readInterval(corvo::folderForLocation(location), name, record, length, intervalNumber);
}

int ReadWKTName(const char *name, uint32_t location, char *buffer, int *size, const char *language)
{
    const auto path = templatePath(corvo::folderForLocation(location), name);
    DeviceFile file;
    TemplateBlock block;
    if (!path || !size || !buffer || !corvo::openExisting(file, *path) || !corvo::readTemplateBlock(file, block))
        return 0;
    const auto entry = findName(file, block, language && *language ? language : "ENG");
    if (!entry)
        return 0;
    const int capacity = *size;
    *size = entry->textLength;
    if (capacity < int(entry->textLength))
        return 0;
    if (!file.read(entry->textOffset, std::span<uint8_t>(reinterpret_cast<uint8_t *>(buffer), entry->textLength)))
        return 0;
    if (capacity > int(entry->textLength))
        buffer[entry->textLength] = 0;
    return 1;
}

int ReadWorkoutTable(const char *name, void *buffer, int length)
{
    return readBlock(planFolder(), name, buffer, length);
}

int ReadWorkoutTableName(const char *name, void *buffer, int length) { return ReadWorkoutTable(name, buffer, length); }

int ReadIntervalTable(const char *name, void *buffer, int length, int number)
{
    return readInterval(planFolder(), name, buffer, length, number);
}

} // extern "C"
