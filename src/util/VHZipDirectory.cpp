#include "VHZipDirectory.h"

#include "VHByteReader.h"

#include <QFile>

#include <memory>

#include <zip.h>

namespace VHZipDirectory {

namespace {
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kEntrySignature = 0x02014b50;
constexpr qsizetype kEndSize = 22;
constexpr qsizetype kLocatorSize = 20;
constexpr qsizetype kEntryHeaderSize = 46;
// The directory is read whole; one this large is not a package of ours.
constexpr quint64 kMaxDirectorySize = 64ull * 1024 * 1024;

struct Directory
{
    quint64 entries = 0;
    quint64 size = 0;
    quint64 offset = 0;
};

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
    if (!locator.ok() || !file.seek(qint64(recordOffset)))
        return false;
    const QByteArray record = file.read(56);
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
    if (dir.entries == 0xFFFF || dir.size == 0xFFFFFFFF || dir.offset == 0xFFFFFFFF)
        readZip64End(file, tail, endPos, dir);
    return dir.size <= kMaxDirectorySize && dir.offset + dir.size <= quint64(fileSize)
           && dir.entries <= dir.size / kEntryHeaderSize;
}

bool parseEntries(const QByteArray &data, quint64 count, QList<QByteArray> &names)
{
    VHByteReader reader(data);
    for (quint64 i = 0; i < count; ++i) {
        if (reader.u32() != kEntrySignature)
            return false;
        reader.skip(24);
        const qsizetype nameLength = reader.u16();
        const qsizetype extraLength = reader.u16();
        const qsizetype commentLength = reader.u16();
        reader.skip(12);
        names.append(reader.bytes(nameLength));
        reader.skip(extraLength + commentLength);
        if (!reader.ok())
            return false;
    }
    return true;
}
bool fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

QString openErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

struct ArchiveCloser
{
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
} // namespace

bool readRawNames(const QString &zipPath, QList<QByteArray> &names)
{
    names.clear();
    QFile file(zipPath);
    Directory dir;
    if (!file.open(QIODevice::ReadOnly) || !readDirectoryLocation(file, dir) || !file.seek(qint64(dir.offset)))
        return false;
    const QByteArray data = file.read(qint64(dir.size));
    if (quint64(data.size()) != dir.size || !parseEntries(data, dir.entries, names)) {
        names.clear();
        return false;
    }
    return true;
}

bool isComplete(const QString &zipPath, QString *why)
{
    int code = 0;
    // ZIP_CHECKCONS compares every entry's local header with its directory record.
    const std::unique_ptr<zip_t, ArchiveCloser> archive(
        zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!archive)
        return fail(why, openErrorText(code));
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (count <= 0)
        return fail(why, QStringLiteral("no entries"));
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive.get(), zip_uint64_t(i), 0, &stat) != 0)
            return fail(why, QStringLiteral("entry %1: %2").arg(i).arg(QString::fromUtf8(zip_strerror(archive.get()))));
        if ((stat.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(stat.comp_method, 0))
            return fail(why,
                        QStringLiteral("entry %1: compression method %2 not supported").arg(i).arg(stat.comp_method));
    }
    // The unpacker reads the raw names with our own reader; it must agree.
    QList<QByteArray> names;
    if (!readRawNames(zipPath, names) || names.size() != count)
        return fail(why, QStringLiteral("directory records can not be read"));
    return true;
}

} // namespace VHZipDirectory
