#pragma once

// Where the entries of a zip file lie, read from its central directory with
// bounds checks. The unpacker needs what libzip does not give: the offset of
// each entry's local header (to refuse entries that share their data, which
// turns a small archive into gigabytes) and the names as stored (libzip turns
// a NUL inside a name into a space).

#include <QByteArray>
#include <QString>

#include <vector>

namespace VHZipLayout {

struct Record
{
    QByteArray rawName;
    quint64 headerOffset = 0;
    quint64 compressedSize = 0;
    quint64 size = 0;
};

struct Layout
{
    quint64 directoryOffset = 0;
    // In the order of the central directory, which is libzip's index order.
    std::vector<Record> records;
};

// False when the directory cannot be found or is malformed; `layout` is then empty.
[[nodiscard]] bool read(const QString &zipPath, Layout &layout);

// Why two entries (or an entry and the central directory) take up the same
// bytes of the file; an empty text when none do. O(n log n) in the entries.
QString overlapOf(const Layout &layout);

// The sum of the entries' stated sizes, at most the largest quint64.
quint64 declaredTotal(const Layout &layout);

} // namespace VHZipLayout
