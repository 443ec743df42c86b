#include "VHMountTable.h"

#include "VHFileOps.h"

#include <QFile>
#include <QSet>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace VHMountTable {

namespace {

bool isOctal(char c) { return c >= '0' && c <= '7'; }

bool parseDevNumber(const QByteArray &field, quint32 &major, quint32 &minor)
{
    const qsizetype colon = field.indexOf(':');
    if (colon <= 0)
        return false;
    bool majorOk = false, minorOk = false;
    major = field.left(colon).toUInt(&majorOk);
    minor = field.mid(colon + 1).toUInt(&minorOk);
    return majorOk && minorOk;
}

QString pathText(const QByteArray &field) { return QString::fromUtf8(unescape(field)); }

} // namespace

QByteArray unescape(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return out;
}

std::optional<VHMountEntry> parseLine(const QByteArray &line)
{
    const QList<QByteArray> fields = line.trimmed().split(' ');
    // id parent major:minor root mount-point options [optional...] - type source super-options
    const qsizetype separator = fields.indexOf(QByteArray("-"), 6);
    if (fields.size() < 10 || separator < 6 || separator + 2 >= fields.size())
        return std::nullopt;
    VHMountEntry entry;
    bool idOk = false, parentOk = false;
    entry.mountId = fields[0].toInt(&idOk);
    entry.parentId = fields[1].toInt(&parentOk);
    if (!idOk || !parentOk || !parseDevNumber(fields[2], entry.major, entry.minor))
        return std::nullopt;
    entry.root = pathText(fields[3]);
    entry.mountPoint = pathText(fields[4]);
    entry.fsType = pathText(fields[separator + 1]);
    entry.source = pathText(fields[separator + 2]);
    if (entry.mountPoint.isEmpty())
        return std::nullopt;
    return entry;
}

QList<VHMountEntry> parse(const QByteArray &table)
{
    QList<VHMountEntry> entries;
    for (const QByteArray &line : table.split('\n')) {
        if (std::optional<VHMountEntry> entry = parseLine(line))
            entries.append(*entry);
    }
    return entries;
}

bool readFrom(int fd, QByteArray &table, qsizetype limit)
{
    table.clear();
    char chunk[16384];
    off_t offset = 0;
    while (table.size() < limit) {
        const ssize_t n = ::pread(fd, chunk, sizeof chunk, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        table.append(chunk, qMin<qsizetype>(n, limit - table.size()));
        offset += n;
    }
    return true;
}

QByteArray readFile(const QString &path)
{
    QByteArray table;
    const VHFileOps::UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.isValid() && !readFrom(fd.get(), table))
        table.clear();
    return table;
}

QList<VHMountEntry> wholeDeviceMounts(const QList<VHMountEntry> &entries)
{
    QList<VHMountEntry> mounts;
    QSet<QString> seen;
    for (const VHMountEntry &entry : entries) {
        if (entry.root != QLatin1String("/") || seen.contains(entry.devNumber()))
            continue;
        seen.insert(entry.devNumber());
        mounts.append(entry);
    }
    return mounts;
}

} // namespace VHMountTable
