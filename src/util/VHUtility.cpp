#include "VHUtility.h"

#include "VHFileOps.h"
#include "VHLanguageMap.h"
#include "VHLog.h"
#include "VHTreeRemover.h"
#include "VHZipUtil.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VHUtility {

namespace {
QString firstExisting(const QString &a, const QString &b)
{
    if (QFileInfo(a).isFile())
        return a;
    if (QFileInfo(b).isFile())
        return b;
    return {};
}

bool pathExists(const QString &path)
{
    struct stat st;
    return ::lstat(VHFileOps::encodeName(path).constData(), &st) == 0;
}

bool isRealFolder(const QString &path)
{
    struct stat st;
    return ::lstat(VHFileOps::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One copy into a temporary file next to dest, renamed over dest only when
// complete: dest never holds half a file. Returns 0 or an errno.
int copyOnce(const QString &src, const QString &dest, const CopyProgress &progress)
{
    VHFileOps::UniqueFd in(::open(VHFileOps::encodeName(src).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!in.isValid() || ::fstat(in.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    const QByteArray destination = VHFileOps::encodeName(dest);
    if (destination.isEmpty() || destination.endsWith('/'))
        return EISDIR;
    const qsizetype slash = destination.lastIndexOf('/');
    QByteArray temporary;
    // The source's permissions less the umask, as cp gives them.
    VHFileOps::UniqueFd out =
        VHFileOps::createTemporaryFile(AT_FDCWD, destination.left(slash + 1), temporary, st.st_mode & 0777);
    if (!out.isValid())
        return errno;
    int error = VHFileOps::copyData(in.get(), out.get(), progress, st.st_size);
    if (!error) {
        // The skip rules compare modification times; FAT keeps them too.
        VHFileOps::setModificationTime(out.get(), st.st_mtim);
        error = out.close();
    }
    if (!error && ::rename(temporary.constData(), destination.constData()) != 0)
        error = errno;
    if (error)
        ::unlink(temporary.constData());
    return error;
}

// Empties the folder through its handle, then removes it.
bool removeTree(const QString &folder, const VHTreeRemover &remover)
{
    const QByteArray native = VHFileOps::encodeName(folder);
    VHFileOps::UniqueFd fd(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return fd.isValid() && remover.empty(fd.get()) && fd.close() == 0 && ::rmdir(native.constData()) == 0;
}

QString existingName(const VHFileOps::NameIndex &names, const QString &name)
{
    const QString existing = names.find(name);
    return existing.isEmpty() ? name : existing;
}

bool hasZoneField(const QString &format)
{
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('t'))
            return true;
    }
    return false;
}
} // namespace

enum class DestSpelling { Resolve, AsGiven };

// copyFolder resolves names against one listing of the folder instead of one
// listing per file.
static bool copyFile(const QString &src, const QString &dest, bool removeFirst, int attempts, int waitMs,
                     const CopyProgress &progress, bool skipIfSame, int toleranceSecs, bool *copied,
                     DestSpelling spelling);

bool isSafePathComponent(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

QString findDeviceIni(const QString &root)
{
    return firstExisting(root + QStringLiteral("/device.ini"), root + QStringLiteral("/Device.ini"));
}

QString findDeviceTxt(const QString &root)
{
    return firstExisting(root + QStringLiteral("/System/device.txt"), root + QStringLiteral("/System/Device.txt"));
}

bool clearReadOnly(const QString &path)
{
    const QByteArray native = VHFileOps::encodeName(path);
    struct stat st;
    return ::stat(native.constData(), &st) == 0 && ::chmod(native.constData(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool removeFile(const QString &path)
{
    if (path.isEmpty())
        return true;
    const QString target = VHFileOps::existingSpelling(path);
    if (!pathExists(target))
        return true;
    const QByteArray native = VHFileOps::encodeName(target);
    if (::unlink(native.constData()) == 0)
        return true;
    clearReadOnly(target);
    if (::unlink(native.constData()) == 0)
        return true;
    vhDebug() << target << " delete file failed";
    return false;
}

bool copyFile(const QString &src, const QString &dest, bool removeFirst, int attempts, int waitMs,
              const CopyProgress &progress, bool skipIfSame, int toleranceSecs, bool *copied)
{
    return copyFile(src, dest, removeFirst, attempts, waitMs, progress, skipIfSame, toleranceSecs, copied,
                    DestSpelling::Resolve);
}

static bool copyFile(const QString &src, const QString &dest, bool removeFirst, int attempts, int waitMs,
                     const CopyProgress &progress, bool skipIfSame, int toleranceSecs, bool *copied,
                     DestSpelling spelling)
{
    if (copied)
        *copied = false;
    const QString target = spelling == DestSpelling::Resolve ? VHFileOps::existingSpelling(dest) : dest;
    if (skipIfSame) {
        const QFileInfo source(src), destination(target);
        const qint64 apart = qAbs(source.lastModified().msecsTo(destination.lastModified()));
        if (source.isFile() && destination.isFile() && source.size() == destination.size()
            && apart <= qint64(toleranceSecs) * 1000)
            return true;
        const QString format = QStringLiteral("yyyyMMddhhmm.ss");
        vhDebug() << QStringLiteral("src=%1 modified time=%2 ").arg(src, source.lastModified().toString(format));
        vhDebug() << QStringLiteral("dest=%1 modified time=%2 ").arg(target, destination.lastModified().toString(format));
    }
    if (removeFirst && pathExists(target))
        removeFile(target);
    bool done = false;
    for (int attempt = 1; attempt <= attempts && !done; ++attempt) {
        const int error = copyOnce(src, target, progress);
        done = error == 0;
        if (done && attempt >= 2)
            vhWarning() << "copy file success after retry " << attempt << " source=" << src << "   dest=" << target;
        if (done)
            break;
        vhDebug() << "copy file failed start wait to retry, retry " << attempt << " win32 error code :" << error
                  << " src=" << src << " ,dest=" << target;
        if (attempt < attempts)
            QThread::msleep(qMax(0, waitMs));
    }
    if (done && copied)
        *copied = true;
    return done;
}

bool copyFolder(const QString &src, const QString &dest, const CopyProgress &progress, QStringList *copiedFiles)
{
    if (!QFileInfo(src).isDir())
        return true;
    const QString target = VHFileOps::existingSpelling(dest);
    VHFileOps::NameIndex names;
    if (!QFileInfo(target).isDir()) {
        // Reporting success here would let a caller believe the files are there.
        if (!QDir().mkdir(target)) {
            vhWarning() << "VHUtility::copyFolder failed src=" + src + " dest=" + dest;
            return false;
        }
    } else {
        names = VHFileOps::NameIndex::ofFolder(target);
    }
    // One listing serves files and folders: every entry is looked at once.
    const QFileInfoList entries = QDir(src).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                                          QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &entry : entries) {
        if (!entry.isFile())
            continue;
        const QString name = entry.fileName();
        const QString existing = names.find(name);
        const QString from = src + QLatin1Char('/') + name;
        const QString to = target + QLatin1Char('/') + (existing.isEmpty() ? name : existing);
        // Removing first matters only for a file that is there.
        if (!copyFile(from, to, !existing.isEmpty(), 10, 5, progress, false, 0, nullptr, DestSpelling::AsGiven)) {
            vhWarning() << "VHUtility::copyFolder failed src=" + from + " dest=" + to;
            return false;
        }
        names.add(name);
        if (copiedFiles)
            copiedFiles->append(to);
    }
    // Linked folders are not entered: a link back up would never end.
    for (const QFileInfo &entry : entries) {
        if (!entry.isDir() || entry.isSymLink())
            continue;
        const QString to = target + QLatin1Char('/') + existingName(names, entry.fileName());
        if (!copyFolder(src + QLatin1Char('/') + entry.fileName(), to, {}, copiedFiles))
            return false;
    }
    return true;
}

bool removeFolder(const QString &path)
{
    const QString folder = QDir::cleanPath(path);
    if (!pathExists(folder))
        return true;
    if (!isRealFolder(folder))
        return QFileInfo(folder).isSymLink() && removeFile(folder);
    return removeTree(folder, VHTreeRemover(VHTreeRemover::Hidden::Remove, VHTreeRemover::OnFailure::GoOn));
}

bool removeDirectory(const QString &path)
{
    const QString folder = QDir::cleanPath(path);
    if (!pathExists(folder))
        return true;
    // A link is removed; the folder it points at is not touched.
    if (!isRealFolder(folder))
        return QFileInfo(folder).isSymLink() && ::unlink(VHFileOps::encodeName(folder).constData()) == 0;
    return removeTree(folder, VHTreeRemover(VHTreeRemover::Hidden::Keep, VHTreeRemover::OnFailure::Stop));
}

void listFiles(const QString &folder, QStringList &out)
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            listFiles(entry.filePath(), out);
        else if (entry.isFile())
            out.append(entry.absoluteFilePath());
    }
}

qint64 countFiles(const QString &folder, const QString &namePart)
{
    qint64 count = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileName().contains(namePart, Qt::CaseInsensitive))
            ++count;
    }
    return count;
}

bool renameAll(QStringList &paths, const QString &from, const QString &to)
{
    bool result = true;
    for (QString &path : paths) {
        QString renamed = path;
        renamed.replace(from, to, Qt::CaseSensitive);
        if (renamed == path)
            continue;
        // rename() replaces a file at the new path in one step.
        if (::rename(VHFileOps::encodeName(path).constData(), VHFileOps::encodeName(renamed).constData()) == 0)
            path = renamed;
        else
            result = false;
    }
    return result;
}

QString formatUtcTime(int secondsSince1970, const QString &format)
{
    return QDateTime::fromSecsSinceEpoch(secondsSince1970, Qt::UTC).toString(format);
}

int parseUtcTime(const QString &text, const QString &format)
{
    // Parsed as UTC directly: as local time, an hour skipped by a daylight
    // saving change would not parse.
    const QDateTime moment = hasZoneField(format)
        ? QDateTime::fromString(text, format)
        : QDateTime::fromString(text + QStringLiteral(" UTC"), format + QStringLiteral(" t"));
    if (!moment.isValid())
        return 0;
    const qint64 seconds = moment.toSecsSinceEpoch();
    return seconds < INT_MIN || seconds > INT_MAX ? 0 : int(seconds);
}

bool getSupportLanguage(const QString &packageZip, const QString &folder, QStringList &languages)
{
    if (!removeFolder(folder)) {
        vhWarning() << QStringLiteral("can not delete old directory: %1").arg(folder);
        return false;
    }
    QDir().mkpath(folder);
    VHZipUtil zip;
    if (!zip.decompress(packageZip, folder)) {
        vhWarning() << QStringLiteral("can not decompress file: %1").arg(packageZip);
        return false;
    }
    const VHLanguageMap map;
    const QStringList codes = map.codes();
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : entries) {
        for (const QString &code : codes) {
            if (entry.contains(QLatin1Char('_') + code + QLatin1Char('_')))
                languages.append(map.name(code));
        }
    }
    return true;
}

const VHModelInfo *getRegistryDevice(const QByteArray &data, const VHModelTable &models)
{
    vhDebug() << "ba=" << ("\"" + data + "\"");
    const VHModelInfo *match = nullptr;
    for (const VHModelInfo &row : models) {
        vhDebug() << "image signature=" << ("\"" + row.identification + "\"");
        const QByteArray signature = row.identification.toLatin1();
        if (!signature.isEmpty() && data.contains(signature))
            match = &row;
    }
    return match;
}

VHModelTable findModelsByVendor(const VHModelTable &models, const QString &vendor)
{
    VHModelTable rows;
    for (const VHModelInfo &row : models) {
        // An empty piece ("A::B", a trailing ":") is in every text and names no vendor.
        const QStringList pieces = row.identification.split(QLatin1Char(':'), Qt::SkipEmptyParts);
        for (const QString &piece : pieces) {
            if (vendor.contains(piece, Qt::CaseInsensitive)) {
                rows.append(row);
                break;
            }
        }
    }
    return rows;
}

} // namespace VHUtility
