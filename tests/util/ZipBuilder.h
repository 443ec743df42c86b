#pragma once

// Writes zip files byte by byte, so tests can make the archives no zip tool
// would: NUL and invalid UTF-8 names, "../" and absolute names, symbolic-link
// entries, wrong checksums and corrupt deflate data.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QtEndian>

struct ZipEntrySpec
{
    QByteArray name;
    QByteArray data;
    bool deflate = false;
    quint16 flags = 0;           // 0x800: the name is UTF-8
    quint32 unixMode = 0100644;  // 0120777 makes a symbolic link whose target is `data`
    bool wrongCrc = false;
    bool corruptData = false;    // damages the middle of the stored bytes
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

inline QByteArray build(const QList<ZipEntrySpec> &entries)
{
    QByteArray out, directory;
    for (const ZipEntrySpec &e : entries) {
        QByteArray stored = e.deflate ? rawDeflate(e.data) : e.data;
        if (e.corruptData && stored.size() > 2)
            for (qsizetype i = stored.size() / 3; i < stored.size() * 2 / 3; ++i)
                stored[i] = char(stored[i] ^ 0x5A);
        const quint32 crc = crc32(e.data) ^ (e.wrongCrc ? 0x1234u : 0u);
        const quint16 method = e.deflate ? 8 : 0;
        const quint32 offset = quint32(out.size());
        auto common = [&](QByteArray &b) {
            put16(b, 20);
            put16(b, e.flags);
            put16(b, method);
            put16(b, kDosTime);
            put16(b, kDosDate);
            put32(b, crc);
            put32(b, quint32(stored.size()));
            put32(b, quint32(e.data.size()));
            put16(b, quint16(e.name.size()));
            put16(b, 0);
        };
        put32(out, 0x04034b50);
        common(out);
        out += e.name;
        out += stored;
        put32(directory, 0x02014b50);
        put16(directory, 0x0314); // made on Unix
        common(directory);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, e.unixMode << 16);
        put32(directory, offset);
        directory += e.name;
    }
    const quint32 directoryOffset = quint32(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint16(entries.size()));
    put16(out, quint16(entries.size()));
    put32(out, quint32(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

inline bool write(const QString &path, const QList<ZipEntrySpec> &entries)
{
    QFile file(path);
    const QByteArray bytes = build(entries);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace ZipBuilder
