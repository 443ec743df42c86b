#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One line of /proc/self/mountinfo.
struct VHMountEntry
{
    int mountId = -1;
    int parentId = -1;
    quint32 major = 0;
    quint32 minor = 0;
    QString root;       // the folder of the file system that is mounted ("/" for the whole)
    QString mountPoint; // unescaped
    QString fsType;
    QString source;

    QString devNumber() const { return QStringLiteral("%1:%2").arg(major).arg(minor); }
};

// Parsing the kernel's mount table. Pure functions; malformed lines are skipped.
namespace VHMountTable {

inline constexpr qsizetype kMaxTableSize = 16 * 1024 * 1024;

// The kernel writes space, tab, newline and backslash in paths as "\ooo" octal
// escapes ("\040" for a space); anything else stays as it is.
QByteArray unescape(const QByteArray &field);
std::optional<VHMountEntry> parseLine(const QByteArray &line);
QList<VHMountEntry> parse(const QByteArray &table);

// Reads a whole table from the start of an open file (procfs files report no
// size). At most `limit` bytes; false on a read error.
[[nodiscard]] bool readFrom(int fd, QByteArray &table, qsizetype limit = kMaxTableSize);
QByteArray readFile(const QString &path);

// The entries whose file system is mounted whole, first mount of each device
// number only (later mounts of the same device are bind mounts or duplicates).
QList<VHMountEntry> wholeDeviceMounts(const QList<VHMountEntry> &entries);

} // namespace VHMountTable
