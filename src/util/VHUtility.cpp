#include "VHUtility.h"

#include "VHFileOps.h"
#include "VHLanguageMap.h"
#include "VHLog.h"
#include "VHSafeFolder.h"
#include "VHSysCalls.h"
#include "VHTreeRemover.h"
#include "VHZipUtil.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VHUtility {

namespace {
// The identity file's name in `folder` of the volume, or empty: only a
// regular file counts, never a link, and the folder is reached without links.
QString firstIdentityFile(const QString &root, const QString &folder, const QString &a, const QString &b)
{
    VHSafeFolder place = VHSafeFolder::open(root, folder, VHSafeFolder::FatNames);
    for (const QString &name : {a, b}) {
        if (place.kindOf(name) == VHSafeFolder::Kind::File)
            return place.filePath(name);
    }
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

// Runs `attempt` (0 or an errno) up to `attempts` times with `waitMs` between tries, with the log lines of a copy.
bool copyWithRetries(const std::function<int()> &attempt, int attempts, int waitMs, const QString &src,
                     const QString &dest)
{
    for (int k = 1; k <= attempts; ++k) {
        const int error = attempt();
        if (error == 0) {
            if (k >= 2)
                vhWarning() << "copy file success after retry " << k << " source=" << src << "   dest=" << dest;
            return true;
        }
        vhDebug() << "copy file failed start wait to retry, retry " << k << " win32 error code :" << error
                  << " src=" << src << " ,dest=" << dest;
        if (k < attempts)
            QThread::msleep(qMax(0, waitMs));
    }
    return false;
}

// Empties the folder through its handle, then removes it.
bool removeTree(const QString &folder, const VHTreeRemover &remover)
{
    const QByteArray native = VHFileOps::encodeName(folder);
    VHFileOps::UniqueFd fd(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return fd.isValid() && remover.empty(fd.get()) && fd.close() == 0 && ::rmdir(native.constData()) == 0;
}

// A folder's visible entries, sorted by name ignoring case as a listing shows them.
struct FolderEntries
{
    QStringList files;
    QStringList folders;
};

// Each name is folded once: folding inside every comparison made the sort
// the largest part of copying a folder of small files.
void sortIgnoringCase(QStringList &names)
{
    std::vector<std::pair<QString, QString>> keyed;
    keyed.reserve(size_t(names.size()));
    for (QString &name : names)
        keyed.emplace_back(name.toCaseFolded(), std::move(name));
    std::sort(keyed.begin(), keyed.end());
    for (qsizetype i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[size_t(i)].second);
}

FolderEntries visibleEntries(int dirFd)
{
    FolderEntries entries;
    VHFileOps::forEachEntry(dirFd, [&](const QByteArray &name, unsigned char type) {
        if (name.startsWith('.'))
            return;
        // The entry's type saves a stat per file. Links to files are copied as
        // files; linked folders are not entered, as a link back up would never end.
        struct stat st;
        if (type == DT_UNKNOWN && ::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISDIR(st.st_mode)   ? DT_DIR
                   : S_ISREG(st.st_mode) ? DT_REG
                   : S_ISLNK(st.st_mode) ? DT_LNK
                                         : DT_UNKNOWN;
        if (type == DT_LNK && ::fstatat(dirFd, name.constData(), &st, 0) == 0 && S_ISREG(st.st_mode))
            type = DT_REG;
        if (type == DT_DIR)
            entries.folders.append(QFile::decodeName(name));
        else if (type == DT_REG)
            entries.files.append(QFile::decodeName(name));
    });
    sortIgnoringCase(entries.files);
    sortIgnoringCase(entries.folders);
    return entries;
}

// The files of the open folder `srcFd`, then its folders, into `dest`.
bool copyFolderAt(int srcFd, const QString &src, VHSafeFolder &dest, const VHUtility::CopyProgress &progress,
                  QStringList *copiedFiles)
{
    const FolderEntries entries = visibleEntries(srcFd);
    for (const QString &name : entries.files) {
        const QString from = src + QLatin1Char('/') + name;
        const QString to = dest.path() + QLatin1Char('/') + name;
        const QByteArray nativeName = VHFileOps::encodeName(name);
        const bool copied = copyWithRetries(
            [&] {
                VHFileOps::UniqueFd in(::openat(srcFd, nativeName.constData(), O_RDONLY | O_CLOEXEC));
                struct stat st;
                if (!in.isValid() || ::fstat(in.get(), &st) != 0)
                    return errno;
                return dest.copyFileInto(name, in.get(), st, progress);
            },
            10, 5, from, to);
        if (!copied) {
            vhWarning() << "VHUtility::copyFolder failed src=" + from + " dest=" + to;
            return false;
        }
        if (copiedFiles)
            copiedFiles->append(to);
    }
    for (const QString &name : entries.folders) {
        const QString from = src + QLatin1Char('/') + name;
        VHFileOps::UniqueFd child(
            ::openat(srcFd, VHFileOps::encodeName(name).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        VHSafeFolder target = dest.folder(name);
        if (!child.isValid() || !target.isValid()) {
            vhWarning() << "VHUtility::copyFolder failed src=" + from + " dest=" + dest.path() + QLatin1Char('/')
                               + name;
            return false;
        }
        if (!copyFolderAt(child.get(), from, target, {}, copiedFiles))
            return false;
    }
    return true;
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

bool isSafePathComponent(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

bool isUuidFileName(const QString &uuid)
{
    if (uuid.isEmpty() || uuid.size() > 64)
        return false;
    return std::all_of(uuid.cbegin(), uuid.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_'
               || u == u'-';
    });
}

bool isLanguageCode(const QString &code)
{
    return code.size() == 3 && std::all_of(code.cbegin(), code.cend(), [](QChar c) {
               return c.unicode() >= u'a' && c.unicode() <= u'z';
           });
}

QString findDeviceIni(const QString &root)
{
    return firstIdentityFile(root, QString(), QStringLiteral("device.ini"), QStringLiteral("Device.ini"));
}

QString findDeviceTxt(const QString &root)
{
    return firstIdentityFile(root, QStringLiteral("System"), QStringLiteral("device.txt"),
                             QStringLiteral("Device.txt"));
}

bool clearReadOnly(const QString &path)
{
    const QByteArray native = VHFileOps::encodeName(path);
    struct stat st;
    return ::stat(native.constData(), &st) == 0 && ::chmod(native.constData(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool removeFile(const QString &path)
{
    if (path.isEmpty() || !pathExists(path))
        return true;
    const QByteArray native = VHFileOps::encodeName(path);
    if (::unlink(native.constData()) == 0)
        return true;
    (void)clearReadOnly(path); // the second unlink says whether it helped
    if (::unlink(native.constData()) == 0)
        return true;
    vhDebug() << path << " delete file failed";
    return false;
}

bool copyFile(const QString &src, const QString &dest, bool removeFirst, int attempts, int waitMs,
              const CopyProgress &progress, bool skipIfSame, int toleranceSecs, bool *copied)
{
    if (copied)
        *copied = false;
    if (skipIfSame) {
        const QFileInfo source(src), destination(dest);
        const qint64 apart = qAbs(source.lastModified().msecsTo(destination.lastModified()));
        if (source.isFile() && destination.isFile() && source.size() == destination.size()
            && apart <= qint64(toleranceSecs) * 1000)
            return true;
        const QString format = QStringLiteral("yyyyMMddhhmm.ss");
        vhDebug() << QStringLiteral("src=%1 modified time=%2 ").arg(src, source.lastModified().toString(format));
        vhDebug() << QStringLiteral("dest=%1 modified time=%2 ").arg(dest, destination.lastModified().toString(format));
    }
    // The finished copy is renamed over dest anyway; removing first only frees its space.
    if (removeFirst && pathExists(dest))
        (void)removeFile(dest);
    const qsizetype slash = dest.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : dest.left(slash);
    const QString name = dest.mid(slash + 1);
    // The data goes to a temporary file beside dest, renamed over it when complete.
    const bool done = copyWithRetries(
        [&] {
            VHSafeFolder target = VHSafeFolder::open(folder, QString());
            return target.isValid() ? target.copyFileInto(name, src, progress) : target.lastError();
        },
        attempts, waitMs, src, dest);
    if (done && copied)
        *copied = true;
    return done;
}

bool copyFolder(const QString &src, const QString &dest, const CopyProgress &progress, QStringList *copiedFiles)
{
    VHFileOps::UniqueFd source(::open(VHFileOps::encodeName(src).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!source.isValid())
        return true;
    // Sub-folders are made through their parent's handle.
    VHSafeFolder target = VHSafeFolder::open(dest, QString(), VHSafeFolder::Create);
    if (!target.isValid() && target.lastError() == ENOENT
        && ::mkdir(VHFileOps::encodeName(dest).constData(), 0777) == 0)
        target = VHSafeFolder::open(dest, QString(), VHSafeFolder::Create);
    // Reporting success here would let a caller believe the files are there.
    if (!target.isValid()) {
        vhWarning() << "VHUtility::copyFolder failed src=" + src + " dest=" + dest;
        return false;
    }
    return copyFolderAt(source.get(), src, target, progress, copiedFiles);
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
        if (VHSys::rename(VHFileOps::encodeName(path).constData(), VHFileOps::encodeName(renamed).constData()) == 0)
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

bool getSupportLanguage(const QString &packageZip, const QString &folder, QStringList &languages,
                        const CopyProgress &unpacked)
{
    if (!removeFolder(folder)) {
        vhWarning() << QStringLiteral("can not delete old directory: %1").arg(folder);
        return false;
    }
    QDir().mkpath(folder);
    VHZipUtil zip;
    if (!zip.decompress(packageZip, folder, unpacked)) {
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
