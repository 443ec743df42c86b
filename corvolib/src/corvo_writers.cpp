// Writers of workout templates and points of interest. Each open file is a
// handle owned by the library until its close call.

#include "corvo_config.h"
#include "corvo_io.h"
#include "corvo_paths.h"
#include "corvo_records.h"
#include "corvo_registry.h"

#include "corvolib.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace corvo {
namespace {

constexpr uint8_t kKindTemplateFile = 21;
constexpr uint8_t kKindPointFile = 20;
constexpr uint64_t kHeaderFinishedField = 12;
constexpr uint32_t kHeaderFinished = 16;
constexpr size_t kIntervalValues = 6;
constexpr size_t kBlockIntervalTable = 8;
constexpr size_t kBlockName = 28;
constexpr size_t kBlockDescription = 32;

template <size_t N>
std::array<uint8_t, N * 4> packValues(const std::array<uint32_t, N> &values)
{
    std::array<uint8_t, N * 4> bytes{};
    ByteWriter w(bytes);
    for (size_t i = 0; i < N; ++i)
        w.put32(i * 4, values[i]);
    return bytes;
}

} // namespace
} // namespace corvo

struct CorvoFile
{
    enum class Kind { Template, PointOfInterest };

    Kind kind = Kind::Template;
    corvo::DeviceFile file;
    std::array<uint8_t, corvo::kTemplateBlockSize> block{};
    size_t blockLength = 0;
    uint64_t end = 0;
    uint32_t intervalTable = corvo::kNone;
    std::optional<uint64_t> lastInterval;

    bool create(const std::string &path, uint8_t headerKind, std::span<const uint8_t> values, int length)
    {
        if (!file.open(path, corvo::DeviceFile::Mode::Create)) {
            corvo::printFailure("Create file fail.. ");
            return false;
        }
        blockLength = std::min(corvo::byteLength(length), values.size());
        std::copy_n(values.begin(), std::min(values.size(), block.size()), block.begin());
        intervalTable = blockField(corvo::kBlockIntervalTable).value_or(corvo::kNone);
        const auto header = corvo::fileHeader(headerKind);
        end = corvo::kFileHeaderSize + blockLength;
        if (file.write(0, header) && file.write(corvo::kFileHeaderSize, values.first(blockLength)))
            return true;
        // Leave no half-written file behind.
        discardFile(path);
        return false;
    }

    void discardFile(const std::string &path)
    {
        corvo::printFailure("Create file fail.. ");
        file.close();
        corvo::removeFile(path);
    }

    // A block field exists in the file only when the caller's block covers it.
    std::optional<uint32_t> blockField(size_t field) const
    {
        if (field + 4 > blockLength)
            return std::nullopt;
        return corvo::ByteReader(block).u32(field);
    }

    bool storeFieldIfUnset(size_t field, uint32_t offset)
    {
        const std::optional<uint32_t> current = blockField(field);
        if (!current || *current != corvo::kNone)
            return true;
        corvo::ByteWriter(block).put32(field, offset);
        return file.write(corvo::kFileHeaderSize + field, corvo::le32(offset));
    }

    bool append(std::span<const uint8_t> bytes, uint64_t &offset)
    {
        offset = end;
        if (offset > corvo::kNone - 1 || !file.write(offset, bytes))
            return false;
        end += bytes.size();
        return true;
    }

    bool appendText(size_t field, const void *data, int length)
    {
        const size_t n = corvo::byteLength(length);
        if (n > 0 && !data)
            return false;
        uint64_t offset = 0;
        return append(std::span<const uint8_t>(static_cast<const uint8_t *>(data), n), offset)
               && storeFieldIfUnset(field, uint32_t(offset));
    }

    bool appendInterval(bool isFirst, std::array<uint32_t, corvo::kIntervalValues> values, int length)
    {
        const size_t n = corvo::byteLength(length);
        const uint64_t offset = end;
        if (intervalTable == corvo::kNone) {
            intervalTable = uint32_t(offset);
            if (!storeFieldIfUnset(corvo::kBlockIntervalTable, intervalTable))
                return false;
        }
        values[2] = linkOffset(values[2], n);
        std::array<uint8_t, 256> record{};
        const auto packed = corvo::packValues(values);
        std::copy_n(packed.begin(), std::min(n, packed.size()), record.begin());
        if (!isFirst && !linkPrevious(offset, n))
            return false;
        uint64_t written = 0;
        if (!append(std::span<const uint8_t>(record.data(), n), written))
            return false;
        lastInterval = written;
        return true;
    }

    // The caller names a linked interval by its 1-based number; the file holds
    // its offset.
    uint32_t linkOffset(uint32_t link, size_t n) const
    {
        if (link == corvo::kNone)
            return link;
        uint64_t offset = 0;
        if (!corvo::tableEntryOffset(intervalTable, n, int(link & 0xFF), offset) || offset >= corvo::kNone)
            return corvo::kNone;
        return uint32_t(offset);
    }

    bool linkPrevious(uint64_t offset, size_t n)
    {
        if (!lastInterval || n < corvo::kIntervalNextField + 4)
            return true;
        return file.write(*lastInterval + corvo::kIntervalNextField, corvo::le32(uint32_t(offset)));
    }

    bool finish()
    {
        const bool marked = file.write(corvo::kHeaderFinishedField, corvo::le32(corvo::kHeaderFinished));
        return file.close() && marked;
    }
};

namespace {

corvo::HandleRegistry<CorvoFile> &openFiles()
{
    static corvo::HandleRegistry<CorvoFile> registry;
    return registry;
}

CorvoFile *createFile(CorvoFile::Kind kind, const std::string &path, uint8_t headerKind,
                      const std::array<uint32_t, 9> &values, int length)
{
    auto file = std::make_unique<CorvoFile>();
    file->kind = kind;
    if (!file->create(path, headerKind, corvo::packValues(values), length))
        return nullptr;
    return openFiles().add(std::move(file));
}

CorvoFile *liveTemplate(CorvoFile *handle)
{
    CorvoFile *file = openFiles().find(handle);
    return file && file->kind == CorvoFile::Kind::Template ? file : nullptr;
}

int closeFile(CorvoFile *handle)
{
    const auto file = openFiles().take(handle);
    return file && file->finish() ? 1 : 0;
}

} // namespace

extern "C" {

CorvoFile *CreateTemplateWKT(const char *name, uint32_t location, uint32_t value1, uint32_t value2, uint32_t value3,
                             uint32_t value4, uint32_t value5, uint32_t value6, uint32_t value7, uint32_t value8,
                             uint32_t value9, int length)
{
    if (corvo::isCompactModel() || !corvo::isSafeFileName(name))
        return nullptr;
    const auto folder = corvo::folderForLocation(location);
    if (!folder || !corvo::ensureFolder(*folder, true))
        return nullptr;
    // The downloaded-workout folder is spelled differently here; on the FAT
    // volume both spellings are the folder just checked.
    corvo::Folder spelled = *folder;
    if (spelled.size() > 1 && spelled[1] == "Velorawrk")
        spelled[1] = "VeloraWrk";
    const std::string path = corvo::filePath(spelled, std::string(name) + ".wkt");
    return createFile(CorvoFile::Kind::Template, path, corvo::kKindTemplateFile,
                      {value1, value2, value3, value4, value5, value6, value7, value8, value9}, length);
}

int WriteNameToFile(CorvoFile *file, const void *data, int length)
{
    CorvoFile *live = liveTemplate(file);
    return live && live->appendText(corvo::kBlockName, data, length) ? 1 : 0;
}

int WriteDesToFile(CorvoFile *file, const void *data, int length)
{
    CorvoFile *live = liveTemplate(file);
    return live && live->appendText(corvo::kBlockDescription, data, length) ? 1 : 0;
}

int WriteTemplateInterval(CorvoFile *file, int isFirst, uint32_t value1, uint32_t value2, uint32_t value3,
                          uint32_t value4, uint32_t value5, uint32_t value6, int length)
{
    CorvoFile *live = liveTemplate(file);
    return live && live->appendInterval(isFirst == 1, {value1, value2, value3, value4, value5, value6}, length) ? 1 : 0;
}

int CloseTemplateWorkout(CorvoFile *file) { return closeFile(file); }

CorvoFile *CreatePOI(const char *name, uint32_t value1, uint32_t value2, uint32_t value3, uint32_t value4,
                     uint32_t value5, uint32_t value6, uint32_t value7, uint32_t value8, uint32_t value9, int length)
{
    if (!corvo::isSafeFileName(name) || !corvo::ensureFolder(corvo::sharingFolder(), true))
        return nullptr;
    const std::string path = corvo::filePath(corvo::sharingFolder(), name);
    return createFile(CorvoFile::Kind::PointOfInterest, path, corvo::kKindPointFile,
                      {value1, value2, value3, value4, value5, value6, value7, value8, value9}, length);
}

int ClosePOI(CorvoFile *file) { return closeFile(file); }

} // extern "C"
