#include "VHZipLayout.h"

#include "VHByteReader.h"

#include <QFile>

#include <algorithm>
#include <limits>
#include <numeric>

namespace VHZipLayout {

namespace {
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kEntrySignature = 0x02014b50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr qsizetype kEndSize = 22;
constexpr qsizetype kLocatorSize = 20;
constexpr qsizetype kZip64EndSize = 56;
constexpr qsizetype kEntryHeaderSize = 46;
constexpr quint64 kLocalHeaderSize = 30;
constexpr uint32_t kMarker32 = 0xFFFFFFFF;
// The directory is read whole; one this large is not a package of ours.
constexpr quint64 kMaxDirectorySize = 64ull * 1024 * 1024;

struct Directory
{
    quint64 entries = 0;
    quint64 size = 0;
    quint64 offset = 0;
};

quint64 saturatedSum(quint64 a, quint64 b)
{
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max() : a + b;
}

QString shownName(const Record &record)
{
    return QStringLiteral("\"") + QString::fromUtf8(record.rawName) + QStringLiteral("\"");
}

qsizetype findEndRecord(const QByteArray &tail)
{
    for (qsizetype p = tail.size() - kEndSize; p >= 0; --p) {
        VHByteReader reader(tail, p);
        if (reader.u32() != kEndSignature)
            continue;
        reader.skip(16);
        const qsizetype commentLength = reader.u16();
        if (reader.ok() && p + kEndSize + commentLength <= tail.size())
            return p;
    }
    return -1;
}

bool readZip64End(QFile &file, const QByteArray &tail, qsizetype endPos, Directory &dir)
{
    if (endPos < kLocatorSize)
        return false;
    VHByteReader locator(tail, endPos - kLocatorSize);
    if (locator.u32() != kZip64LocatorSignature)
        return false;
    locator.skip(4);
    const quint64 recordOffset = locator.u64();
    if (!locator.ok() || recordOffset > quint64(file.size()) || !file.seek(qint64(recordOffset)))
        return false;
    const QByteArray record = file.read(kZip64EndSize);
    VHByteReader reader(record);
    if (reader.u32() != kZip64EndSignature)
        return false;
    reader.skip(8 + 2 + 2 + 4 + 4 + 8);
    dir.entries = reader.u64();
    dir.size = reader.u64();
    dir.offset = reader.u64();
    return reader.ok();
}

bool readDirectoryLocation(QFile &file, Directory &dir)
{
    const qint64 fileSize = file.size();
    const qint64 tailSize = qMin<qint64>(fileSize, kEndSize + 0xFFFF + kLocatorSize);
    if (tailSize < kEndSize || !file.seek(fileSize - tailSize))
        return false;
    const QByteArray tail = file.read(tailSize);
    const qsizetype endPos = findEndRecord(tail);
    if (endPos < 0)
        return false;
    VHByteReader reader(tail, endPos + 10);
    dir.entries = reader.u16();
    dir.size = reader.u32();
    dir.offset = reader.u32();
    if (!reader.ok())
        return false;
    // Without a readable 64-bit record the 16- and 32-bit values stand; a directory
    // that needs one then fails to parse.
    Directory wide;
    if ((dir.entries == 0xFFFF || dir.size == kMarker32 || dir.offset == kMarker32)
        && readZip64End(file, tail, endPos, wide))
        dir = wide;
    return dir.size <= kMaxDirectorySize && dir.offset <= quint64(fileSize)
           && dir.size <= quint64(fileSize) - dir.offset && dir.entries <= dir.size / kEntryHeaderSize;
}

// The 64-bit values stand in an extra field for those 32-bit fields that hold the marker, in this order.
bool readZip64Values(const QByteArray &extra, Record &record, bool bigSize, bool bigCompressed, bool bigOffset)
{
    VHByteReader reader(extra);
    while (reader.remaining() >= 4) {
        const uint16_t id = reader.u16();
        const uint16_t length = reader.u16();
        if (id != kZip64ExtraId) {
            reader.skip(length);
            continue;
        }
        VHByteReader field(reader.bytes(length));
        if (bigSize)
            record.size = field.u64();
        if (bigCompressed)
            record.compressedSize = field.u64();
        if (bigOffset)
            record.headerOffset = field.u64();
        return reader.ok() && field.ok();
    }
    return !bigSize && !bigCompressed && !bigOffset;
}

bool parseRecords(const QByteArray &data, quint64 count, std::vector<Record> &records)
{
    VHByteReader reader(data);
    records.reserve(size_t(count));
    for (quint64 i = 0; i < count; ++i) {
        Record record;
        if (reader.u32() != kEntrySignature)
            return false;
        reader.skip(16);
        record.compressedSize = reader.u32();
        record.size = reader.u32();
        const qsizetype nameLength = reader.u16();
        const qsizetype extraLength = reader.u16();
        const qsizetype commentLength = reader.u16();
        reader.skip(8);
        record.headerOffset = reader.u32();
        record.rawName = reader.bytes(nameLength);
        const QByteArray extra = reader.bytes(extraLength);
        reader.skip(commentLength);
        if (!reader.ok()
            || !readZip64Values(extra, record, record.size == kMarker32, record.compressedSize == kMarker32,
                                record.headerOffset == kMarker32))
            return false;
        records.push_back(std::move(record));
    }
    return true;
}

// Every entry takes at least its local header, its name and its data.
quint64 endOf(const Record &record)
{
    return saturatedSum(saturatedSum(record.headerOffset, kLocalHeaderSize + quint64(record.rawName.size())),
                        record.compressedSize);
}
} // namespace

bool read(const QString &zipPath, Layout &layout)
{
    layout = Layout();
    QFile file(zipPath);
    Directory dir;
    if (!file.open(QIODevice::ReadOnly) || !readDirectoryLocation(file, dir) || !file.seek(qint64(dir.offset)))
        return false;
    const QByteArray data = file.read(qint64(dir.size));
    if (quint64(data.size()) != dir.size || !parseRecords(data, dir.entries, layout.records)) {
        layout = Layout();
        return false;
    }
    layout.directoryOffset = dir.offset;
    return true;
}

QString overlapOf(const Layout &layout)
{
    const std::vector<Record> &records = layout.records;
    std::vector<size_t> order(records.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return records[a].headerOffset < records[b].headerOffset
               || (records[a].headerOffset == records[b].headerOffset && a < b);
    });
    // Sorted by start, an entry overlaps an earlier one exactly when it starts before the furthest end so far.
    const Record *furthest = nullptr;
    for (const size_t index : order) {
        const Record &record = records[index];
        if (furthest && record.headerOffset < endOf(*furthest))
            return QStringLiteral("the entries ") + shownName(*furthest) + QStringLiteral(" and ") + shownName(record)
                   + QStringLiteral(" overlap");
        if (!furthest || endOf(record) > endOf(*furthest))
            furthest = &record;
    }
    if (furthest && endOf(*furthest) > layout.directoryOffset)
        return QStringLiteral("the entry ") + shownName(*furthest)
               + QStringLiteral(" overlaps the archive's central directory");
    return {};
}

quint64 declaredTotal(const Layout &layout)
{
    quint64 total = 0;
    for (const Record &record : layout.records)
        total = saturatedSum(total, record.size);
    return total;
}

} // namespace VHZipLayout
