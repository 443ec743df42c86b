#include "VHHistory.h"

#include "VHEnv.h"
#include "VHLog.h"
#include "VHSysCalls.h"

#include <QFile>
#include <QJsonDocument>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QByteArray encoded(const QString &path) { return QFile::encodeName(path); }

bool isRegularFile(int fd, struct stat &info) { return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode); }

} // namespace

QJsonObject VHHistoryEntry::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs));
    object.insert(QStringLiteral("action"), action);
    object.insert(QStringLiteral("model"), model);
    object.insert(QStringLiteral("uuid"), uuid);
    object.insert(QStringLiteral("versionBefore"), versionBefore);
    object.insert(QStringLiteral("versionAfter"), versionAfter);
    // Fields added later are left out when empty, so older lines and newer ones read alike.
    if (!versionPackage.isEmpty())
        object.insert(QStringLiteral("versionPackage"), versionPackage);
    if (!packageMd5.isEmpty())
        object.insert(QStringLiteral("packageMd5"), packageMd5);
    if (!trustedComment.isEmpty())
        object.insert(QStringLiteral("trustedComment"), trustedComment);
    object.insert(QStringLiteral("result"), ok ? QStringLiteral("ok") : QStringLiteral("failed"));
    object.insert(QStringLiteral("errorCode"), errorCode);
    if (!reason.isEmpty())
        object.insert(QStringLiteral("reason"), reason);
    object.insert(QStringLiteral("durationMs"), double(durationMs));
    if (!program.isEmpty())
        object.insert(QStringLiteral("program"), program);
    return object;
}

bool VHHistoryEntry::fromJson(const QJsonObject &object, VHHistoryEntry &entry)
{
    const QJsonValue time = object.value(QStringLiteral("time"));
    const QJsonValue action = object.value(QStringLiteral("action"));
    const QJsonValue result = object.value(QStringLiteral("result"));
    if (!time.isString() || !action.isString() || !result.isString())
        return false;
    VHHistoryEntry read;
    read.time = QDateTime::fromString(time.toString(), Qt::ISODateWithMs);
    if (!read.time.isValid())
        return false;
    read.time = read.time.toUTC();
    read.action = action.toString();
    read.model = object.value(QStringLiteral("model")).toString();
    read.uuid = object.value(QStringLiteral("uuid")).toString();
    read.versionBefore = object.value(QStringLiteral("versionBefore")).toString();
    read.versionAfter = object.value(QStringLiteral("versionAfter")).toString();
    read.versionPackage = object.value(QStringLiteral("versionPackage")).toString();
    read.packageMd5 = object.value(QStringLiteral("packageMd5")).toString();
    read.trustedComment = object.value(QStringLiteral("trustedComment")).toString();
    read.ok = result.toString() == QLatin1String("ok");
    read.errorCode = object.value(QStringLiteral("errorCode")).toInt();
    read.reason = object.value(QStringLiteral("reason")).toString();
    read.durationMs = qint64(object.value(QStringLiteral("durationMs")).toDouble());
    read.program = object.value(QStringLiteral("program")).toString();
    entry = read;
    return true;
}

VHHistory VHHistory::ofDataFolder() { return VHHistory(VHEnv::instance()->dataFolder()); }

void VHHistory::rotateIfLarge(int fd) const
{
    struct stat opened
    {};
    if (!isRegularFile(fd, opened) || opened.st_size < kRotateSize)
        return;
    // Only the file this writer holds is moved: another writer may have
    // rotated it a moment ago.
    struct stat named
    {};
    if (::lstat(encoded(path()).constData(), &named) != 0 || named.st_ino != opened.st_ino
        || named.st_dev != opened.st_dev)
        return;
    if (VHSys::rename(encoded(path()).constData(), encoded(rotatedPath()).constData()) != 0)
        vhWarning() << "history not rotated: " << path() << " errno=" << errno;
}

bool VHHistory::append(const VHHistoryEntry &entry) const
{
    if (m_folder.isEmpty())
        return false;
    // Read as well: the last byte tells whether the file ends with a whole line.
    const int flags = O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    {
        Fd first(VHSys::open(encoded(path()).constData(), flags, 0644));
        if (first.get() >= 0)
            rotateIfLarge(first.get());
    }
    Fd fd(VHSys::open(encoded(path()).constData(), flags, 0644));
    struct stat info
    {};
    if (fd.get() < 0 || !isRegularFile(fd.get(), info)) {
        vhWarning() << "can not append to history: " << path();
        return false;
    }
    QByteArray line = QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n';
    // A line cut short by a full disk must not swallow the next one.
    char last = '\n';
    if (info.st_size > 0 && VHSys::pread(fd.get(), &last, 1, info.st_size - 1) == 1 && last != '\n')
        line.prepend('\n');
    // One write: a whole line lands at the end, never mixed with another writer's.
    const ssize_t written = VHSys::write(fd.get(), line.constData(), size_t(line.size()));
    if (written != ssize_t(line.size())) {
        vhWarning() << "history line not written whole: " << path();
        return false;
    }
    return true;
}

QByteArray VHHistory::readTail(const QString &path, bool &partialStart)
{
    partialStart = false;
    Fd fd(::open(encoded(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info
    {};
    if (fd.get() < 0 || !isRegularFile(fd.get(), info))
        return {};
    const qint64 start = qMax<qint64>(0, qint64(info.st_size) - kMaxReadSize);
    partialStart = start > 0;
    QByteArray bytes(qMin<qint64>(info.st_size, kMaxReadSize), Qt::Uninitialized);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t got = VHSys::pread(fd.get(), bytes.data() + done, size_t(bytes.size() - done), start + done);
        if (got <= 0)
            break;
        done += got;
    }
    bytes.truncate(done);
    return bytes;
}

QList<VHHistoryEntry> VHHistory::parse(const QByteArray &bytes, bool partialStart)
{
    QList<VHHistoryEntry> entries;
    qsizetype at = 0;
    if (partialStart) {
        const qsizetype firstBreak = bytes.indexOf('\n');
        at = firstBreak < 0 ? bytes.size() : firstBreak + 1;
    }
    while (at < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            end = bytes.size();
        const qsizetype length = end - at;
        if (length > 0 && length <= kMaxLineSize) {
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(bytes.mid(at, length), &error);
            VHHistoryEntry entry;
            if (error.error == QJsonParseError::NoError && document.isObject()
                && VHHistoryEntry::fromJson(document.object(), entry))
                entries.append(entry);
        }
        at = end + 1;
    }
    return entries;
}

QList<VHHistoryEntry> VHHistory::entries() const { return foldReturns(lines()); }

bool VHHistory::awaitsReturn(const VHHistoryEntry &entry)
{
    return entry.ok
           && (entry.action == QLatin1String("update") || entry.action == QLatin1String("recover")
               || entry.action == QLatin1String("restore"));
}

QList<VHHistoryEntry> VHHistory::foldReturns(const QList<VHHistoryEntry> &lines)
{
    QList<VHHistoryEntry> folded;
    for (const VHHistoryEntry &line : lines) {
        if (line.action != kReturnAction) {
            folded.append(line);
            continue;
        }
        for (auto it = folded.rbegin(); it != folded.rend(); ++it) {
            if (it->uuid == line.uuid) {
                if (awaitsReturn(*it))
                    it->versionAfter = line.versionAfter;
                break;
            }
        }
    }
    return folded;
}

QList<VHHistoryEntry> VHHistory::lines() const
{
    QList<VHHistoryEntry> all;
    for (const QString &file : {rotatedPath(), path()}) {
        bool partial = false;
        const QByteArray bytes = readTail(file, partial);
        all.append(parse(bytes, partial));
    }
    return all;
}

bool VHHistory::lastFor(const QString &uuid, VHHistoryEntry &entry) const
{
    if (uuid.isEmpty())
        return false;
    const QList<VHHistoryEntry> all = entries();
    for (auto it = all.crbegin(); it != all.crend(); ++it) {
        if (it->uuid == uuid) {
            entry = *it;
            return true;
        }
    }
    return false;
}
