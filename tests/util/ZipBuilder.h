#pragma once

// Writes zip files byte by byte, so tests can make the archives no zip tool
// would: NUL and invalid UTF-8 names, "../" and absolute names, symbolic-link
// entries, wrong checksums, corrupt deflate data, false stated sizes and
// entries that share their data.

#include "VHTestFiles.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QtEndian>

struct ZipEntryShape
{
    QByteArray name;
    QByteArray data;
    bool deflate = false;
    quint16 flags = 0;          // 0x800: the name is UTF-8
    quint32 unixMode = 0100644; // 0120777 makes a symbolic link whose target is `data`
    bool wrongCrc = false;
    bool corruptData = false; // damages the middle of the stored bytes
    qint64 statedSize = -1;   // the size the headers state; -1: the data's own size
    bool zip64 = false;       // the directory record keeps sizes and offset in a 64-bit extra field
};

namespace ZipBuilder {

inline quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Raw deflate: qCompress gives a 4-byte length, a 2-byte zlib header, the
// deflate stream and a 4-byte Adler-32.
inline QByteArray rawDeflate(const QByteArray &data)
{
    const QByteArray z = qCompress(data, 9);
    return z.mid(6, z.size() - 10);
}

inline void put16(QByteArray &out, quint16 v)
{
    const quint16 le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&le), 2);
}

inline void put32(QByteArray &out, quint32 v)
{
    const quint32 le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&le), 4);
}

// 2020-05-17 10:20:30 in DOS form.
constexpr quint16 kDosTime = (10 << 11) | (20 << 5) | (30 / 2);
constexpr quint16 kDosDate = ((2020 - 1980) << 9) | (5 << 5) | 17;

// One entry's local header and data, and what its directory record repeats.
struct StoredEntry
{
    QByteArray localPart;
    QByteArray commonFields;
};

inline StoredEntry store(const ZipEntryShape &e)
{
    QByteArray stored = e.deflate ? rawDeflate(e.data) : e.data;
    if (e.corruptData && stored.size() > 2)
        for (qsizetype i = stored.size() / 3; i < stored.size() * 2 / 3; ++i)
            stored[i] = char(stored[i] ^ 0x5A);
    StoredEntry out;
    QByteArray &b = out.commonFields;
    put16(b, 20);
    put16(b, e.flags);
    put16(b, e.deflate ? 8 : 0);
    put16(b, kDosTime);
    put16(b, kDosDate);
    put32(b, crc32(e.data) ^ (e.wrongCrc ? 0x1234u : 0u));
    put32(b, quint32(stored.size()));
    put32(b, quint32(e.statedSize >= 0 ? e.statedSize : e.data.size()));
    put16(b, quint16(e.name.size()));
    put16(b, 0);
    put32(out.localPart, 0x04034b50);
    out.localPart += b + e.name + stored;
    return out;
}

inline void appendDirectoryRecord(QByteArray &directory, const ZipEntryShape &e, const QByteArray &commonFields,
                                  quint32 offset)
{
    put32(directory, 0x02014b50);
    put16(directory, 0x0314); // made on Unix
    QByteArray fields = commonFields;
    QByteArray extra;
    if (e.zip64) {
        put16(extra, 0x0001);
        put16(extra, 24);
        for (const int at : {18, 14}) { // the size, then the compressed size
            extra.append(fields.mid(at, 4));
            put32(extra, 0);
            fields.replace(at, 4, QByteArray(4, char(0xFF)));
        }
        put32(extra, offset);
        put32(extra, 0);
        offset = 0xFFFFFFFF;
        fields.replace(24, 2, QByteArray(1, char(extra.size())) + '\0');
    }
    directory += fields;
    put16(directory, 0);
    put16(directory, 0);
    put16(directory, 0);
    put32(directory, e.unixMode << 16);
    put32(directory, offset);
    directory += e.name + extra;
}

// The end records; more than 65,535 entries need the 64-bit ones.
inline void appendEnd(QByteArray &out, quint32 directoryOffset, quint32 directorySize, quint64 count)
{
    const bool wide = count > 0xFFFF;
    if (wide) {
        const quint32 recordOffset = quint32(out.size());
        put32(out, 0x06064b50);
        put32(out, 44);
        put32(out, 0);
        put16(out, 45);
        put16(out, 45);
        put32(out, 0);
        put32(out, 0);
        for (const quint64 v : {count, count, quint64(directorySize), quint64(directoryOffset)}) {
            put32(out, quint32(v));
            put32(out, quint32(v >> 32));
        }
        put32(out, 0x07064b50);
        put32(out, 0);
        put32(out, recordOffset);
        put32(out, 0);
        put32(out, 1);
    }
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, wide ? 0xFFFF : quint16(count));
    put16(out, wide ? 0xFFFF : quint16(count));
    put32(out, directorySize);
    put32(out, directoryOffset);
    put16(out, 0);
}

inline QByteArray build(const QList<ZipEntryShape> &entries)
{
    QByteArray out, directory;
    for (const ZipEntryShape &e : entries) {
        const StoredEntry stored = store(e);
        appendDirectoryRecord(directory, e, stored.commonFields, quint32(out.size()));
        out += stored.localPart;
    }
    const quint32 directoryOffset = quint32(out.size());
    out += directory;
    appendEnd(out, directoryOffset, quint32(directory.size()), quint64(entries.size()));
    return out;
}

// One entry's data listed `records` times under the names copy0.bin, copy1.bin and so on: every record
// points at the same local header, so a small file unpacks to `records` times the entry's size.
inline QByteArray buildSharedData(const ZipEntryShape &shared, int records)
{
    const StoredEntry stored = store(shared);
    QByteArray out = stored.localPart, directory;
    for (int i = 0; i < records; ++i) {
        ZipEntryShape copy = shared;
        copy.name = "copy" + QByteArray::number(i) + ".bin";
        QByteArray fields = stored.commonFields.chopped(4);
        put16(fields, quint16(copy.name.size()));
        put16(fields, 0);
        appendDirectoryRecord(directory, copy, fields, 0);
    }
    const quint32 directoryOffset = quint32(out.size());
    out += directory;
    appendEnd(out, directoryOffset, quint32(directory.size()), quint64(records));
    return out;
}

inline bool write(const QString &path, const QList<ZipEntryShape> &entries) { return writeFile(path, build(entries)); }

} // namespace ZipBuilder
