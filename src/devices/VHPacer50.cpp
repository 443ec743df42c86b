#include "VHPacer50.h"

#include "GHDbModel.h"
#include "GHDeviceDatabases.h"
#include "VHArchiveFiles.h"
#include "VHDaemon.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHFileOps.h"
#include "VHIniDocument.h"
#include "VHLog.h"
#include "VHPacer50RestoreRequest.h"
#include "VHPlatform.h"
#include "VHSysCalls.h"
#include "VHUtility.h"
#include "VHVolumeSync.h"
#include "VHZipDirectory.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kUpdatingFlag = QStringLiteral("updating@@!.ini");
const QString kFormatFile = QStringLiteral("format.ini");
const QString kUpdateIni = QStringLiteral("Update.ini");
const QString kVersionIni = QStringLiteral("version.ini");
const QString kIdentity = QStringLiteral("device.ini");
constexpr VHSafeFolder::Options kVolumeFiles = VHSafeFolder::FatNames | VHSafeFolder::Durable;
// Version and identity files are a few lines.
constexpr qint64 kMaxSmallFile = 64 * 1024;
// How much of a file the read-back check reads: its last kilobyte.
constexpr qint64 kReadBackSize = 1024;
// Two copies whose times differ by no more than this are the same file (FAT keeps 2-second times).
constexpr int kSameFileSeconds = 59;

VHPlatform *platform() { return VHDaemon::instance()->platform(); }

// The firmware reads these at its start as instructions. The launch-security
// archive goes onto the volume root as it stands, so it must never bring one:
// a format request among its files would erase the user's data.
QString instructionFileAmong(const QStringList &names)
{
    for (const QString &name : names) {
        const QString clean = QDir::cleanPath(name);
        for (const QString &reserved : {kFormatFile, kUpdateIni, kUpdatingFlag}) {
            if (clean.compare(reserved, Qt::CaseInsensitive) == 0)
                return name;
        }
    }
    return QString();
}

bool lstatPath(const QString &path, struct stat &st)
{
    return ::lstat(VHFileOps::encodeName(path).constData(), &st) == 0;
}

bool isFolder(const QString &path)
{
    struct stat st;
    return lstatPath(path, st) && S_ISDIR(st.st_mode);
}

// A Pacer50 package is a whole software tree, read into memory before it is written out.
VHArchiveFiles::Limits packageLimits()
{
    VHArchiveFiles::Limits limits;
    limits.maxEntries = 20000;
    limits.maxEntrySize = 256 * 1024 * 1024;
    limits.maxTotalSize = 512 * 1024 * 1024;
    return limits;
}

// Every regular file below a local folder, relative to it; links are not followed.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Whether `dst` holds the same file as `src`: equal size, times at most 59 seconds apart.
bool sameFile(const QString &src, const QString &dst)
{
    struct stat a, b;
    if (!lstatPath(src, a) || !lstatPath(dst, b) || !S_ISREG(b.st_mode) || a.st_size != b.st_size)
        return false;
    return qAbs(qint64(a.st_mtim.tv_sec) - qint64(b.st_mtim.tv_sec)) <= kSameFileSeconds;
}

// The file's digest read from the device: flushed, its cached pages dropped, read without links.
// Empty when any of it fails: a copy that can not be read back is not known to be whole.
QByteArray deviceDigest(const QString &path, const std::function<void(qint64)> &bytesRead)
{
    VHFileOps::UniqueFd fd(::open(VHFileOps::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isValid() || VHSys::fdatasync(fd.get()) != 0)
        return {};
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = VHSys::read(fd.get(), buffer.data(), size_t(buffer.size()));
        if (n < 0)
            return {};
        if (n == 0)
            return hash.result();
        hash.addData(QByteArrayView(buffer.constData(), n));
        bytesRead(n);
    }
}

QByteArray localDigest(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

// Whether the device holds the source's bytes; unreadable on either side is not the same.
bool copiedWhole(const QString &source, const QString &dest, const std::function<void(qint64)> &bytesRead)
{
    const QByteArray digest = localDigest(source);
    return !digest.isEmpty() && digest == deviceDigest(dest, bytesRead);
}

// A value of an ini file without groups (QSettings files keep such keys in "General").
QString plainValue(const VHIniDocument &ini, const QString &key, const QString &defaultValue)
{
    if (ini.contains(QString(), key))
        return ini.value(QString(), key, defaultValue);
    return ini.value(QStringLiteral("General"), key, defaultValue);
}

QByteArray withPlainValue(const VHIniDocument &ini, const QString &key, const QString &value)
{
    if (ini.contains(QString(), key))
        return ini.withValue(QString(), key, value);
    if (ini.contains(QStringLiteral("General"), key))
        return ini.withValue(QStringLiteral("General"), key, value);
    return key.toUtf8() + '=' + value.toUtf8() + "\r\n" + ini.bytes();
}

// Whether `path` lies on the volume mounted at `volume`.
bool isOnVolume(const QString &volume, const QString &path)
{
    return !volume.isEmpty() && (path == volume || path.startsWith(volume + QLatin1Char('/')));
}

} // namespace

VHPacer50::VHPacer50() = default;

// ---- queries --------------------------------------------------------------------

QString VHPacer50::rootPath()
{
    QString root;
    return getRootPath(root) ? root : QString();
}

bool VHPacer50::getRootPath(QString &path)
{
    path = volumeRoot();
    return !path.isEmpty();
}

bool VHPacer50::getUUID(QString &uuid)
{
    VHDeviceService *service = deviceService();
    return service && service->getUUID(uuid);
}

bool VHPacer50::getImageVersion(QString &text)
{
    QByteArray bytes;
    const QString root = rootPath();
    VHSafeFolder volume = VHSafeFolder::open(root, QString(), VHSafeFolder::FatNames);
    if (root.isEmpty() || !volume.readFile(kIdentity, kMaxSmallFile, bytes))
        return false;
    text = VHIniDocument(bytes).value(QStringLiteral("OS"), QStringLiteral("Version"));
    return !text.isEmpty();
}

QString VHPacer50::settingPath(const QString &key, const QString &defaultValue)
{
    const QString value = modelSetting(key, defaultValue);
    // A path of the settings file stays below the volume root.
    for (const QString &part : value.split(QLatin1Char('/'))) {
        if (part == QLatin1String("..")) {
            vhWarning() << "setting " << key << " leaves the volume: " << value;
            return defaultValue;
        }
    }
    if (!value.isEmpty() && !value.startsWith(QLatin1Char('/')))
        return QLatin1Char('/') + value;
    return value;
}

QString VHPacer50::appPath()
{
    const QString root = rootPath();
    return root.isEmpty() ? QString() : root + settingPath(QStringLiteral("appath"), QStringLiteral("/nimbra"));
}

bool VHPacer50::getSharePath(QString &path)
{
    const QString root = rootPath();
    path = root.isEmpty()
               ? QString()
               : root + settingPath(QStringLiteral("sharepath"), QStringLiteral("/nimbra/applications/cycling"));
    return !path.isEmpty();
}

bool VHPacer50::getInternalStorage(quint64 &total, quint64 &free)
{
    const QString root = rootPath();
    return !root.isEmpty() && platform()->getDiskSpace(root, total, free);
}

bool VHPacer50::getLaunchSecVersion(QString &text)
{
    const QString root = rootPath();
    QByteArray bytes;
    const QString path = root + settingPath(QStringLiteral("deviceinipath"), QString());
    if (root.isEmpty() || !VHSafeFolder::readFileBelow(root, path, kMaxSmallFile, bytes))
        bytes.clear();
    text = VHIniDocument(bytes).value(QStringLiteral("LaunchSec"), QStringLiteral("Version"));
    if (text.isEmpty())
        text = QStringLiteral("0.0.0.0");
    return true;
}

bool VHPacer50::getAPVersion(QString &text)
{
    const QString root = rootPath();
    QByteArray bytes;
    const QString path = root + settingPath(QStringLiteral("apversionpath"), QString());
    if (root.isEmpty() || !VHSafeFolder::readFileBelow(root, path, kMaxSmallFile, bytes))
        bytes.clear();
    text = plainValue(VHIniDocument(bytes), QStringLiteral("version"), QString());
    if (text.isEmpty())
        text = QStringLiteral("GH0.0.0.0");
    return true;
}

bool VHPacer50::isVersionOlder(const QString &reference)
{
    QString version;
    (void)getAPVersion(version); // always true; "GH0.0.0.0" when unread
    // An unknown version is not an old one: the user's settings are not ours to drop on a guess.
    static const QRegularExpression known(QStringLiteral("^[A-Za-z]{2}\\d+(\\.\\d+)*$"));
    if (version == QLatin1String("GH0.0.0.0") || !known.match(version).hasMatch()) {
        vhDebug() << "application version unknown (" << version << "): not older than " << reference;
        return false;
    }
    return VHPacer50Package::isVersionOlder(version, reference);
}

QStringList VHPacer50::GetDriveDisks(const QString &model)
{
    QStringList disks;
    const QString root = rootPath();
    if (root.isEmpty() || !(model.startsWith(QLatin1String("Pacer50")) || model == QLatin1String("Pacer60")))
        return disks;
    disks << root;
    // Another Velora device plugged beside this one must never take its files.
    const QString device = platform()->getPhysicalDevice(root);
    for (const QString &drive : platform()->getRemovableDrives(QStringLiteral("msdos"))) {
        if (drive == root || !platform()->getDriveVendorName(drive).toLower().contains(QLatin1String("velora")))
            continue;
        if (!device.isEmpty() && platform()->getPhysicalDevice(drive) == device)
            disks << drive;
        else
            vhDebug() << "drive " << drive << " belongs to another device";
    }
    vhDebug() << "Velora Disks are:" << disks.join(QLatin1Char(' '));
    m_otherVolumes = disks.mid(1);
    return disks;
}

// ---- attach ---------------------------------------------------------------------

bool VHPacer50::initial()
{
    const QString root = rootPath();
    if (root.isEmpty())
        return false;
    QString uuid;
    VHPacer50RestoreRequest request;
    if (getUUID(uuid) && VHPacer50RestoreRequest::find(uuid, request)) {
        VHEnv::instance()->setRestorePending(true);
        return true;
    }
    if (isUpdating()) {
        // The last update never finished: without a version the full package is offered again.
        VHSafeFolder app = openOnVolume(appPath(), VHSafeFolder::FatNames);
        if (app.isValid() && (!app.removeFile(kVersionIni) || !app.sync()))
            vhWarning() << "can not remove " << app.filePath(kVersionIni);
        vhDebug() << "an update was interrupted; version.ini removed";
    }
    return true;
}

bool VHPacer50::openDataStore()
{
    QString share, version;
    const QString root = rootPath();
    if (root.isEmpty() || !getSharePath(share))
        return false;
    if (m_dataStoreOpen.exchange(true))
        return true;
    (void)getAPVersion(version); // always true
    const QString traceLog =
        root
        + settingPath(QStringLiteral("tracelogpath"), QStringLiteral("/nimbra/applications/cycling/data/tracelog"));
    openDeviceDatabases(share, traceLog, version);
    return true;
}

// ---- file operations ------------------------------------------------------------

void VHPacer50::splitVolume(const QString &path, QString &volume, QString &relative)
{
    // A path on none of the device's volumes is opened as a volume of its own.
    volume = path;
    relative.clear();
    QStringList volumes = m_otherVolumes;
    volumes.prepend(rootPath());
    qsizetype longest = -1;
    for (const QString &candidate : std::as_const(volumes)) {
        if (isOnVolume(candidate, path) && candidate.size() > longest) {
            longest = candidate.size();
            volume = candidate;
            relative = path.mid(candidate.size() + 1);
        }
    }
}

VHSafeFolder VHPacer50::openOnVolume(const QString &path, VHSafeFolder::Options options)
{
    QString volume, relative;
    splitVolume(path, volume, relative);
    return VHSafeFolder::open(volume, relative, options);
}

QString VHPacer50::volumeFolder(const QString &path, bool create)
{
    VHSafeFolder folder = openOnVolume(path, create ? kVolumeFiles | VHSafeFolder::Create : VHSafeFolder::FatNames);
    return folder.isValid() ? folder.path() : QString();
}

void VHPacer50::removeReadOnlyAttribute(const QString &path)
{
    vhDebug() << "removeReadOnlyAttribute: " << path;
    struct stat st;
    if (lstatPath(path, st) && S_ISREG(st.st_mode) && !VHUtility::clearReadOnly(path))
        vhDebug() << "can not change the attributes of " << path;
}

bool VHPacer50::copyFile(const QString &src, const QString &dst)
{
    vhCritical() << "copy file from " << ("\"" + src + "\"") << " to " << ("\"" + dst + "\"");
    if (m_copyObserver)
        m_copyObserver(dst);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) {
            removeReadOnlyAttribute(dst);
            (void)removeFile(dst); // the copy below tells whether it mattered
        }
        if (VHUtility::copyFile(src, dst, false, 1, 0, m_copyProgress))
            return true;
    }
    vhCritical() << "copy file failed: from " << ("\"" + src + "\"") << " to " << ("\"" + dst + "\"");
    return false;
}

bool VHPacer50::removeFile(const QString &path)
{
    struct stat st;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!lstatPath(path, st))
            return true;
        if (S_ISDIR(st.st_mode))
            break;
        if (attempt > 0)
            removeReadOnlyAttribute(path);
        if (::unlink(VHFileOps::encodeName(path).constData()) == 0)
            return true;
    }
    vhCritical() << "remove file failed: " << path;
    return false;
}

bool VHPacer50::copyDir(const QString &src, const QString &dst, QStringList *copied)
{
    const QString target = volumeFolder(dst, true);
    if (target.isEmpty() || !isFolder(src)) {
        vhCritical() << "can not copy " << src << " to " << dst;
        return false;
    }
    const QFileInfoList entries =
        QDir(src).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    // Names in the target as FAT finds them, read once per folder.
    const VHFileOps::NameIndex names = VHFileOps::NameIndex::ofFolder(target);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            continue;
        const QString existing = names.find(entry.fileName());
        const QString dest = target + QLatin1Char('/') + (existing.isEmpty() ? entry.fileName() : existing);
        if (entry.isDir()) {
            if (!copyDir(entry.absoluteFilePath(), dest, copied))
                return false;
            continue;
        }
        if (sameFile(entry.absoluteFilePath(), dest))
            continue;
        if (isFolder(dest) || !copyFile(entry.absoluteFilePath(), dest))
            return false;
        if (copied)
            copied->append(dest);
    }
    return true;
}

bool VHPacer50::ejectVolumes()
{
    VHPlatform *platform = VHDaemon::instance()->platform();
    const QString root = rootPath();
    if (root.isEmpty())
        return true;
    // No database file of this thread stays open on a volume about to go.
    closeDeviceDatabases();
    if (!VHVolumeSync::flush({}, root))
        vhWarning() << "can not flush " << root;
    auto *service = dynamic_cast<VHFSDeviceService *>(deviceService());
    const QString secondary = service ? service->secondaryDrive() : QString();
    // The second volume is ejected only when it still is this device's.
    const QString device = platform->getPhysicalDevice(root);
    const bool ownSecondary =
        !secondary.isEmpty() && !device.isEmpty() && platform->getPhysicalDevice(secondary) == device;
    if (!platform->ejectDevice(root))
        vhWarning() << "eject failed: " << root;
    if (ownSecondary && !platform->ejectDevice(secondary))
        vhWarning() << "eject failed: " << secondary;
    else if (!secondary.isEmpty() && !ownSecondary)
        vhWarning() << "not ejected, not this device's volume: " << secondary;
    return true;
}

bool VHPacer50::removeDir(const QString &path) { return VHUtility::removeFolder(path); }

int VHPacer50::checkDirFiles(const QString &folder)
{
    QStringList files;
    for (const QString &file : filesBelow(folder))
        files << folder + QLatin1Char('/') + file;
    return files.isEmpty() ? 0 : checkFiles(files);
}

QPair<qint64, qint64> VHPacer50::readBackWindow(qint64 size)
{
    const qint64 length = qMin(qMax<qint64>(size, 0), kReadBackSize);
    return {qMax<qint64>(size, 0) - length, length};
}

int VHPacer50::checkFiles(const QStringList &paths)
{
    int failed = 0;
    QByteArray buffer(kReadBackSize, Qt::Uninitialized);
    for (const QString &path : paths) {
        VHFileOps::UniqueFd fd(::open(VHFileOps::encodeName(path).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!fd.isValid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            vhWarning() << QStringLiteral("checkFiles: open %1 failed").arg(path);
            ++failed;
            continue;
        }
        // Written pages still in memory would answer the read; they go to the device first.
        VHSys::fsync(fd.get());
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
        const auto [offset, wanted] = readBackWindow(st.st_size);
        qint64 got = 0;
        while (got < wanted) {
            const ssize_t n = VHSys::pread(fd.get(), buffer.data() + got, size_t(wanted - got), off_t(offset + got));
            if (n <= 0)
                break;
            got += n;
        }
        if (got < wanted) {
            vhWarning() << QStringLiteral("checkFiles: read %1 size=%2 failed").arg(path).arg(st.st_size);
            ++failed;
        }
    }
    return failed;
}

bool VHPacer50::setUpdatingFlag(bool on)
{
    const QString root = rootPath();
    VHSafeFolder volume = VHSafeFolder::open(root, QString(), kVolumeFiles);
    if (on) {
        if (root.isEmpty() || !volume.writeFile(kUpdatingFlag, "1") || !volume.sync()) {
            vhCritical() << "create /updating@@!.ini FAILED";
            return false;
        }
        return true;
    }
    if (root.isEmpty() || !volume.removeFile(kUpdatingFlag) || !volume.sync()) {
        vhCritical() << "remove " << ("\"" + root + "/" + kUpdatingFlag + "\"") << "failed";
        return false;
    }
    return true;
}

bool VHPacer50::isUpdating()
{
    VHSafeFolder volume = VHSafeFolder::open(rootPath(), QString(), VHSafeFolder::FatNames);
    return volume.isValid() && volume.kindOf(kUpdatingFlag) != VHSafeFolder::Kind::Missing;
}

void VHPacer50::formatDevice()
{
    if (VHResult asked = writeFormatRequest(); !asked)
        vhWarning() << asked.reason;
}

void VHPacer50::removeUpdatePackage()
{
    const QString root = rootPath();
    VHSafeFolder volume = VHSafeFolder::open(root, QString(), VHSafeFolder::FatNames);
    if (!volume.isValid())
        return;
    QStringList folders;
    VHFileOps::forEachEntry(volume.handle(), [&](const QByteArray &name, unsigned char) {
        const QString text = QFile::decodeName(name);
        if (text.startsWith(VHPacer50Package::kFolderPrefix) && volume.kindOf(text) == VHSafeFolder::Kind::Folder)
            folders << text;
    });
    for (const QString &folder : std::as_const(folders)) {
        if (!removeDir(root + QLatin1Char('/') + folder))
            vhWarning() << "can not remove " << folder;
    }
}

// ---- image update ---------------------------------------------------------------

VHResult VHPacer50::unpackInto(const QString &archive, const QString &work)
{
    // Read whole and checked before anything is written: a refused package leaves an empty work folder.
    VHArchiveFiles::Files files;
    VHArchiveFiles::Times modified;
    if (!removeDir(work))
        return VHResult::failure(Failed, "can not empty the work folder " + work);
    if (VHResult read = VHArchiveFiles::read(archive, files, packageLimits(), &modified); !read)
        return VHResult::failure(Failed, "pacer50 unzip to pc local failed path=\"" + archive + "\": " + read.reason);
    // The archive's times go with the files: the copy skips what the volume already holds unchanged.
    qint64 total = 0;
    for (const QByteArray &bytes : std::as_const(files))
        total += bytes.size();
    reportProgress(VHPhase::Unpack, 0, total);
    if (VHResult written = VHArchiveFiles::writeInto(work, files, modified); !written)
        return VHResult::failure(Failed, "can not create the work folder " + work + ": " + written.reason);
    reportProgress(VHPhase::Unpack, total, total);
    return VHResult::success();
}

VHResult VHPacer50::checkSpace(const QString &root, const QString &work)
{
    qint64 needed = 0;
    for (const QString &file : filesBelow(work))
        needed += QFileInfo(work + QLatin1Char('/') + file).size();
    quint64 total = 0, free = 0;
    if (!platform()->getDiskSpace(root, total, free))
        return VHResult::failure(Failed, "can not get the free space of " + root);
    if (free < quint64(needed))
        return VHResult::failure(NoSpace,
                                 QStringLiteral("not enough free space: %1 needed, %2 free").arg(needed).arg(free));
    return VHResult::success();
}

VHResult VHPacer50::writeUpdateIni(const QString &root, const QByteArray &bytes)
{
    VHSafeFolder volume = VHSafeFolder::open(root, QString(), kVolumeFiles);
    if (!volume.writeFile(kUpdateIni, bytes) || !volume.sync())
        return VHResult::failure(Failed, QStringLiteral("write update.ini failed"));
    checkFiles({volume.filePath(kUpdateIni)});
    return VHResult::success();
}

VHResult VHPacer50::clearOldUpdate(const QString &root)
{
    VHSafeFolder volume = VHSafeFolder::open(root, QString(), kVolumeFiles);
    volume.removeLeftovers();
    // An instruction left by an update that never finished must not name a folder removed below.
    if (!volume.isValid() || !volume.removeFile(kUpdateIni) || !volume.sync())
        return VHResult::failure(Failed, "can not remove an old " + kUpdateIni + " on " + root);
    removeUpdatePackage();
    return VHResult::success();
}

void VHPacer50::withdrawUpdate(const QString &root, const QString &folder)
{
    // The instruction goes first: it must never name a folder that is gone.
    VHSafeFolder volume = VHSafeFolder::open(root, QString(), kVolumeFiles);
    if (!volume.isValid() || !volume.removeFile(kUpdateIni) || !volume.sync()) {
        vhWarning() << "can not remove " << kUpdateIni << " on " << root << "; " << folder << " stays";
        return;
    }
    if (!removeDir(folder))
        vhWarning() << "can not remove " << folder;
}

VHResult VHPacer50::copyImageFolder(const QString &root, const QString &work, const QString &folder)
{
    const QStringList files = filesBelow(work);
    qint64 total = 0;
    for (const QString &file : files)
        total += QFileInfo(work + QLatin1Char('/') + file).size();
    QStringList copied;
    // The copy reports each file's bytes; those of the files before it are added.
    qint64 before = 0;
    m_copyProgress = [&](qint64 done, qint64 fileTotal) {
        reportProgress(VHPhase::Write, before + done, total);
        if (done == fileTotal)
            before += fileTotal;
    };
    const bool wrote = copyDir(work, folder, &copied);
    m_copyProgress = {};
    if (!wrote)
        return VHResult::failure(Failed, "copy " + work + " to " + folder + " failed");
    reportProgress(VHPhase::Write, total, total);
    checkDirFiles(folder);
    // The instruction may name the image only once the image is on the device, whole.
    if (!VHVolumeSync::flush(copied, root))
        return VHResult::failure(Failed, "can not flush " + folder);
    qint64 compared = 0;
    const auto comparing = [&](qint64 n) { reportProgress(VHPhase::Verify, compared += n, total); };
    for (const QString &file : files) {
        if (!copiedWhole(work + QLatin1Char('/') + file, folder + QLatin1Char('/') + file, comparing))
            return VHResult::failure(Failed, "the copy differs from its source: " + folder + QLatin1Char('/') + file);
    }
    reportProgress(VHPhase::Verify, total, total);
    return VHResult::success();
}

VHResult VHPacer50::installTotalOnVolume(const QString &root, const QString &work, const QString &image)
{
    if (!setUpdatingFlag(true))
        return VHResult::failure(Failed, QStringLiteral("can not set the updating flag"));
    const qint64 seconds = QDateTime::currentSecsSinceEpoch();
    const QString folder = root + QLatin1Char('/') + VHPacer50Package::imageFolderName(seconds);
    VHResult result = copyImageFolder(root, work, folder);
    if (result)
        result = writeUpdateIni(root, VHPacer50Package::updateIni(seconds, image));
    if (result && !VHVolumeSync::flush({}, root))
        result = VHResult::failure(Failed, "can not flush the volume " + root);
    if (!setUpdatingFlag(false) && result)
        result = VHResult::failure(Failed, QStringLiteral("can not clear the updating flag"));
    // A failed update leaves no instruction behind.
    if (!result)
        withdrawUpdate(root, folder);
    return result;
}

VHResult VHPacer50::unpackTotal(const QString &archive, const QString &work, QString &image)
{
    if (VHResult unpacked = unpackInto(archive, work); !unpacked)
        return unpacked;
    const VHPacer50Package package(filesBelow(work));
    const QString meta =
        package.hasReleaseIni() ? getImageMetaInfo(work + QLatin1Char('/') + package.releaseIni()).name : QString();
    const QString name = VHPacer50Package::imageFileName(meta);
    if (const QString refusal = package.refusalFor(name); !refusal.isEmpty())
        return VHResult::failure(Failed, refusal);
    image = package.topFile(name);
    return VHResult::success();
}

VHResult VHPacer50::installTotal(const QString &archive)
{
    const QString root = rootPath();
    if (root.isEmpty())
        return VHResult::failure(NoVolume, QStringLiteral("can not get mounted drive"));
    const QString work = VHEnv::instance()->tempFolder() + QStringLiteral("/pacer50image");
    QString image;
    VHResult result = unpackTotal(archive, work, image);
    // Old image folders go before the space is counted: they would count against it.
    if (result)
        result = clearOldUpdate(root);
    if (result)
        result = checkSpace(root, work);
    if (result)
        result = installTotalOnVolume(root, work, image);
    (void)removeDir(work); // emptied again before the next use
    return result;
}

bool VHPacer50::_updateTotal(const QString &archive, const QString &) { return finish(installTotal(archive)); }

// ---- launch security and application ----------------------------------------------

VHResult VHPacer50::installLaunchSec(const QString &archive)
{
    const QString root = rootPath();
    if (root.isEmpty())
        return VHResult::failure(NoVolume, QStringLiteral("can not get mounted drive"));
    // Unpacked here first: the archive's names never reach the volume unchecked.
    const QString work = VHEnv::instance()->tempFolder() + QStringLiteral("/pacer50launchsec");
    VHResult result = unpackInto(archive, work);
    if (!result)
        return result;
    const QStringList top = QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (const QString named = instructionFileAmong(top); !named.isEmpty()) {
        (void)removeDir(work);
        return VHResult::failure(Failed, archive + " would put the instruction file " + named + " on the volume");
    }
    if (!setUpdatingFlag(true))
        result = VHResult::failure(Failed, QStringLiteral("can not set the updating flag"));
    QStringList copied;
    if (result && !copyDir(work, root, &copied))
        result = VHResult::failure(Failed, "copy " + archive + " to " + root + " failed");
    if (result && !VHVolumeSync::flush(copied, root))
        result = VHResult::failure(Failed, "can not flush " + root);
    (void)removeDir(work);
    if (!setUpdatingFlag(false) && result)
        result = VHResult::failure(Failed, QStringLiteral("can not clear the updating flag"));
    return result;
}

bool VHPacer50::updateLaunchsec(const QString &archive) { return finish(installLaunchSec(archive)); }

void VHPacer50::removeUserSettingsIfOlder()
{
    if (!isVersionOlder(QStringLiteral("GH1.3.0.8")))
        return;
    for (const QString &app : {QStringLiteral("protrainingapp"), QStringLiteral("training")}) {
        VHSafeFolder folder =
            VHSafeFolder::open(rootPath(), QStringLiteral("nimbra/applications/") + app, VHSafeFolder::FatNames);
        if (folder.isValid() && (!folder.removeFile(QStringLiteral("user_settings.xml")) || !folder.sync()))
            vhWarning() << "remove file failed: " << folder.filePath(QStringLiteral("user_settings.xml"));
    }
}

VHResult VHPacer50::copyAP(const QString &work)
{
    const QString app = appPath();
    if (volumeFolder(app, true).isEmpty())
        vhWarning() << "mkdir failed: " << app;
    const QString source =
        work + QLatin1Char('/') + VHFileOps::NameIndex::ofFolder(work).find(QStringLiteral("nimbra"));
    QStringList copied;
    if (!copyDir(source, app, &copied))
        return VHResult::failure(Failed, "copy files failed from " + source + " to " + app);
    vhDebug() << "update AP files=" << copied.size();
    checkFiles(copied);
    if (!VHVolumeSync::flush(copied, rootPath()))
        return VHResult::failure(Failed, "can not flush " + app);
    const QString release = VHFileOps::NameIndex::ofFolder(work).find(VHPacer50Package::kReleaseIni);
    QString model;
    if (!release.isEmpty() && getModelName(model))
        VHEnv::instance()->updateMinVersion(model, work + QLatin1Char('/') + release);
    return VHResult::success();
}

VHResult VHPacer50::installAP(const QString &archive)
{
    std::fputs("_updateAP\n", stdout);
    std::fflush(stdout);
    if (rootPath().isEmpty() || appPath().isEmpty())
        return VHResult::failure(NoVolume, QStringLiteral("can not get mounted drive"));
    const QString work = VHEnv::instance()->tempFolder() + QStringLiteral("/deviceAP");
    if (VHResult unpacked = unpackInto(archive, work); !unpacked)
        return unpacked;
    if (!VHPacer50Package::hasApplicationTree(filesBelow(work))) {
        (void)removeDir(work);
        return VHResult::failure(Failed, "no application folder nimbra in " + archive);
    }
    VHResult result = VHResult::success();
    if (!setUpdatingFlag(true)) {
        result = VHResult::failure(Failed, QStringLiteral("can not set the updating flag"));
    } else {
        removeUserSettingsIfOlder();
        result = copyAP(work);
    }
    (void)removeDir(work);
    if (!setUpdatingFlag(false) && result)
        result = VHResult::failure(Failed, QStringLiteral("can not clear the updating flag"));
    return result;
}

bool VHPacer50::_updateAP(const QString &archive) { return finish(installAP(archive)); }

// ---- factory restore ------------------------------------------------------------

VHResult VHPacer50::checkRestoreFolder(const QString &folder)
{
    if (folder.isEmpty())
        return VHResult::failure(Failed, QStringLiteral("no restore folder given"));
    for (const char *name : {"Total.zip", "LaunchSec.zip", "DeviceAp.zip"}) {
        const QString archive = folder + QLatin1Char('/') + QLatin1String(name);
        QString why = QStringLiteral("missing");
        if (!QFileInfo(archive).isFile() || !VHZipDirectory::isComplete(archive, &why))
            return VHResult::failure(Failed, "the restore folder has no whole " + archive + ": " + why);
    }
    QList<QByteArray> raw;
    QStringList names;
    (void)VHZipDirectory::readRawNames(folder + QStringLiteral("/DeviceAp.zip"), raw); // whole, checked above
    for (const QByteArray &name : std::as_const(raw))
        names << QString::fromUtf8(name);
    if (!VHPacer50Package::hasApplicationTree(names))
        return VHResult::failure(Failed, "no application folder nimbra in " + folder + "/DeviceAp.zip");
    raw.clear();
    names.clear();
    (void)VHZipDirectory::readRawNames(folder + QStringLiteral("/LaunchSec.zip"), raw);
    for (const QByteArray &name : std::as_const(raw))
        names << QString::fromUtf8(name);
    if (const QString named = instructionFileAmong(names); !named.isEmpty())
        return VHResult::failure(Failed,
                                 folder + "/LaunchSec.zip would put the instruction file " + named + " on the volume");
    // The image is checked as the second pass will check it.
    const QString work = VHEnv::instance()->tempFolder() + QStringLiteral("/pacer50image");
    QString image;
    VHResult result = unpackTotal(folder + QStringLiteral("/Total.zip"), work, image);
    (void)removeDir(work);
    return result;
}

bool VHPacer50::formatPending()
{
    VHSafeFolder volume = VHSafeFolder::open(rootPath(), QString(), VHSafeFolder::FatNames);
    return volume.isValid() && volume.kindOf(kFormatFile) != VHSafeFolder::Kind::Missing;
}

VHResult VHPacer50::writeFormatRequest()
{
    VHSafeFolder volume = VHSafeFolder::open(rootPath(), QString(), kVolumeFiles);
    if (rootPath().isEmpty() || !volume.isValid())
        return VHResult::failure(NoVolume, QStringLiteral("create /format.ini FAILED"));
    if (volume.writeFile(kFormatFile, "1") && volume.sync())
        return VHResult::success();
    // Half there is not asked: a format nobody follows up would only lose the user's data.
    if (!volume.removeFile(kFormatFile) || !volume.sync())
        vhWarning() << "can not remove " << volume.filePath(kFormatFile);
    return VHResult::failure(Failed, QStringLiteral("write /format.ini FAILED"));
}

VHResult VHPacer50::requestFormat(const QString &uuid, const QString &folder)
{
    // The instruction first: a request stored without it would send the next run
    // to install on a device that never formatted.
    if (VHResult asked = writeFormatRequest(); !asked)
        return asked;
    const VHPacer50RestoreRequest request{uuid, QFileInfo(folder).absoluteFilePath(),
                                          QDateTime::currentSecsSinceEpoch()};
    if (VHResult stored = VHPacer50RestoreRequest::store(request); !stored) {
        // The request may have reached its folder before the failure: it goes first, and the
        // instruction only once it is gone (the two stay together if it can not go).
        if (!VHPacer50RestoreRequest::remove(uuid)) {
            vhWarning() << "can not withdraw the restore request of " << uuid << "; /format.ini stays with it";
            return stored;
        }
        VHSafeFolder volume = VHSafeFolder::open(rootPath(), QString(), kVolumeFiles);
        if (!volume.removeFile(kFormatFile) || !volume.sync())
            vhWarning() << "can not withdraw /format.ini; the next restore asks again";
        return stored;
    }
    if (!setStateWithMatch(STATE_OUT_OF_SERVICE, STATE_MODEL))
        vhWarning() << "restoreFactory: can not set state 4";
    // The rest runs once the device has restarted and formatted itself.
    reportProgress(VHPhase::Waiting, 0, 0);
    return VHResult::success();
}

VHResult VHPacer50::installRestore(const QString &uuid, const QString &folder)
{
    VHResult result = installTotal(folder + QStringLiteral("/Total.zip"));
    if (result)
        result = installLaunchSec(folder + QStringLiteral("/LaunchSec.zip"));
    if (result)
        result = installAP(folder + QStringLiteral("/DeviceAp.zip"));
    // A failed second pass keeps the request: the next run installs again, without another format.
    if (result && !VHPacer50RestoreRequest::remove(uuid))
        result = VHResult::failure(Failed, "can not remove the restore request of " + uuid);
    if (result)
        VHEnv::instance()->setRestorePending(false);
    (void)setStateWithMatch(STATE_MODEL, STATE_OUT_OF_SERVICE); // 2 already on a fresh object
    return result;
}

VHResult VHPacer50::restore(const QString &packageFolder)
{
    if (rootPath().isEmpty() || appPath().isEmpty())
        return VHResult::failure(NoVolume, QStringLiteral("can not get mounted drive"));
    QString uuid;
    if (!getUUID(uuid) || !VHUtility::isUuidFileName(uuid))
        return VHResult::failure(Failed,
                                 "the device's UUID \"" + uuid + "\" can not carry a restore across its format");
    VHPacer50RestoreRequest request;
    const bool requested = VHPacer50RestoreRequest::find(uuid, request);
    const QString folder = packageFolder.isEmpty() ? request.packageFolder : packageFolder;
    if (VHResult complete = checkRestoreFolder(folder); !complete)
        return complete;
    // Still holding "/format.ini", the device has not restarted yet: it is asked again.
    if (requested && !formatPending())
        return installRestore(uuid, folder);
    return requestFormat(uuid, folder);
}

bool VHPacer50::_restoreFactory(const QString &packageFolder) { return finish(restore(packageFolder)); }

// ---- components -----------------------------------------------------------------

QString VHPacer50::GetGPSENGINEVersion(const QString &dir, const QString &key)
{
    QByteArray bytes;
    VHSafeFolder data = openOnVolume(dir + QStringLiteral("/data"), VHSafeFolder::FatNames);
    if (!data.isValid() || !data.readFile(kVersionIni, kMaxSmallFile, bytes))
        bytes.clear();
    const QString value = plainValue(VHIniDocument(bytes), key, QStringLiteral("0.0.0.0"));
    vhDebug() << QStringLiteral("get %1=%2").arg(key, value);
    return value;
}

bool VHPacer50::setGPSENGINEVersion(const QString &key, const QString &dir, const QString &value)
{
    VHSafeFolder data = openOnVolume(dir + QStringLiteral("/data"), kVolumeFiles | VHSafeFolder::Create);
    QByteArray bytes;
    if (data.isValid() && data.kindOf(kVersionIni) == VHSafeFolder::Kind::File
        && !data.readFile(kVersionIni, kMaxSmallFile, bytes))
        return false;
    return data.isValid() && data.writeFile(kVersionIni, withPlainValue(VHIniDocument(bytes), key, value))
           && data.sync();
}

QString VHPacer50::makeGPSENGINETempFiles(const QString &archive, const QStringList &excluded)
{
    const QString work = VHEnv::instance()->tempFolder() + QStringLiteral("/Pacer50Component");
    if (VHResult unpacked = unpackInto(archive, work); !unpacked) {
        vhCritical() << unpacked.reason;
        return {};
    }
    for (const QString &name : excluded) {
        const QString existing = VHFileOps::NameIndex::ofFolder(work).find(name);
        if (!existing.isEmpty())
            QFile::remove(work + QLatin1Char('/') + existing);
    }
    return work;
}

VHResult VHPacer50::installComponentPart(const QString &archive, const QStringList &excluded, const QString &target,
                                         const QString &sub, const QString &key, const QString &version,
                                         bool skipChecks, bool needData)
{
    if (!skipChecks) {
        if (needData && volumeFolder(target + QStringLiteral("/data"), false).isEmpty())
            return VHResult::unchanged("already up to date: " + target + " keeps no component data");
        const QString current = GetGPSENGINEVersion(target, key);
        if (current == version || VHPacer50Package::minVersion({current, version}) != current) {
            vhDebug() << "component " << key << " on " << target << " stays at " << current;
            return VHResult::unchanged("already up to date: " + key + " on " + target + " is at " + current);
        }
    }
    const QString files = makeGPSENGINETempFiles(archive, excluded);
    if (files.isEmpty())
        return VHResult::failure(Failed, "pacer50 unzip to pc local failed path=\"" + archive + "\"");
    QStringList copied;
    const QString dest = target + QLatin1Char('/') + sub;
    if (!copyDir(files, dest, &copied))
        return VHResult::failure(Failed, "copy " + files + " to " + dest + " failed");
    checkFiles(copied);
    QString volume, relative;
    splitVolume(target, volume, relative);
    if (!VHVolumeSync::flush(copied, volume) || !setGPSENGINEVersion(key, target, version))
        return VHResult::failure(Failed, "can not write the version of " + dest);
    return VHResult::success();
}

bool VHPacer50::hasVersionFile(const QString &dir)
{
    VHSafeFolder data = openOnVolume(dir + QStringLiteral("/data"), VHSafeFolder::FatNames);
    return data.isValid() && data.kindOf(kVersionIni) == VHSafeFolder::Kind::File;
}

VHResult VHPacer50::updateEngine(const QString &model, const QString &version, const QString &archive)
{
    if (!model.startsWith(QLatin1String("Pacer50")) && model != QLatin1String("Pacer60"))
        return VHResult::failure(Failed, "no engine update for " + model);
    const QString root = rootPath();
    bool changed = false;
    for (const QString &disk : GetDriveDisks(model)) {
        const bool isRoot = disk == root;
        if (isRoot && model != QLatin1String("Pacer60"))
            continue;
        const QString target = isRoot ? root + QStringLiteral("/nimbra/applications/cycling") : disk;
        // The root without a version file: the checks are skipped and the files installed.
        const bool fresh = isRoot && !hasVersionFile(target);
        VHResult part = installComponentPart(archive, {kVersionIni}, target, QStringLiteral("data"),
                                             QStringLiteral("version"), version, fresh, !isRoot);
        if (!part)
            return part;
        changed = changed || part.changed;
    }
    return changed ? VHResult::success() : componentUnchanged(version);
}

VHResult VHPacer50::componentUnchanged(const QString &version)
{
    return VHResult::unchanged("already up to date: no volume of the device needed version " + version);
}

VHResult VHPacer50::updateMapComponent(const QString &model, const QString &version, const QString &archive)
{
    if (model != QLatin1String("Pacer60"))
        return VHResult::failure(Failed, "no map component for " + model);
    QString engine, data;
    if (!VHPacer50Package::splitPair(version, engine, data))
        return VHResult::failure(Failed, "map component version is not engine^data: " + version);
    const QString root = rootPath();
    bool changed = false;
    for (const QString &disk : GetDriveDisks(model)) {
        const bool isRoot = disk == root;
        const QString target = isRoot ? root + QStringLiteral("/nimbra/applications/cycling") : disk;
        const bool fresh = isRoot && !hasVersionFile(target);
        VHResult part = installComponentPart(archive, {QStringLiteral("rivizevu.dat"), kVersionIni}, target,
                                             QStringLiteral("data"), QStringLiteral("version"), engine, fresh, !isRoot);
        if (!part)
            return part;
        changed = changed || part.changed;
        if (isRoot)
            continue;
        part =
            installComponentPart(archive, {QStringLiteral("release.md5"), QStringLiteral("mapengine.dll"), kVersionIni},
                                 target, QStringLiteral("data/mapengine"), QStringLiteral("dat"), data, false, true);
        if (!part)
            return part;
        changed = changed || part.changed;
    }
    return changed ? VHResult::success() : componentUnchanged(version);
}

bool VHPacer50::_updateComponent(const QString &model, const QString &version, const QString &componentName,
                                 const QString &archive)
{
    if (rootPath().isEmpty())
        return finish(VHResult::failure(NoVolume, QStringLiteral("can not get mounted drive")));
    if (componentName == QLatin1String("GPST_ENGINE"))
        return finish(updateEngine(model, version, archive));
    if (componentName == QLatin1String("MapData"))
        return finish(updateMapComponent(model, version, archive));
    return finish(VHResult::failure(Failed, "unknown component " + componentName));
}

// ---- map data -------------------------------------------------------------------

VHResult VHPacer50::copyMapFile(const QString &source, const QString &countries)
{
    const QString name = QFileInfo(source).fileName();
    const QString key = VHPacer50Package::mapKey(name);
    VHSafeFolder folder = VHSafeFolder::open(countries, QString(), kVolumeFiles);
    QStringList older;
    VHFileOps::forEachEntry(folder.handle(), [&](const QByteArray &raw, unsigned char) {
        const QString entry = QFile::decodeName(raw);
        if (entry.compare(name, Qt::CaseInsensitive) != 0 && VHPacer50Package::mapKey(entry) == key
            && folder.kindOf(entry) == VHSafeFolder::Kind::File)
            older << entry;
    });
    for (const QString &entry : std::as_const(older)) {
        if (!folder.removeFile(entry))
            return VHResult::failure(Failed, "can not remove the older map " + folder.filePath(entry));
    }
    const QString existing = VHFileOps::NameIndex::ofFolder(folder.handle()).find(name);
    const QString dest = countries + QLatin1Char('/') + (existing.isEmpty() ? name : existing);
    if (!sameFile(source, dest) && (isFolder(dest) || !copyFile(source, dest)))
        return VHResult::failure(Failed, "copy " + source + " failed");
    // The digest must come from the device, not from the pages just written.
    if (!VHVolumeSync::flush({dest}, countries))
        return VHResult::failure(Failed, "can not flush " + dest);
    if (!copiedWhole(source, dest, [](qint64) {}))
        return VHResult::failure(Failed, "the copy differs from its source: " + dest);
    return VHResult::success();
}

VHResult VHPacer50::installMapData(const QString &argument)
{
    QString resources, model;
    if (!VHPacer50Package::splitPair(argument, resources, model))
        return VHResult::failure(Failed, "map data argument is not folder^model: " + argument);
    QString mapVolume;
    for (const QString &disk : GetDriveDisks(model)) {
        if (platform()->getVolumeLabel(disk).trimmed().toLower() == QLatin1String("pacer60map")) {
            mapVolume = disk;
            break;
        }
    }
    if (mapVolume.isEmpty())
        return VHResult::failure(Failed, QStringLiteral("no map volume of this device"));
    const QStringList files = QDir(resources).entryList(QDir::Files | QDir::NoSymLinks, QDir::Name);
    vhDebug() << "Map resources are:" << files.join(QLatin1Char(' '));
    if (!VHSafeFolder::open(mapVolume, QStringLiteral("data"), VHSafeFolder::FatNames).isValid())
        return VHResult::failure(Failed, "no data folder on " + mapVolume);
    VHSafeFolder countries = VHSafeFolder::open(mapVolume, QStringLiteral("data/mapengine/map/Countries"),
                                                kVolumeFiles | VHSafeFolder::Create);
    if (!countries.isValid())
        return VHResult::failure(Failed, "can not open the map folder on " + mapVolume);
    for (const QString &file : files) {
        if (VHResult copied = copyMapFile(resources + QLatin1Char('/') + file, countries.path()); !copied)
            return copied;
    }
    VHSafeFolder info = VHSafeFolder::open(mapVolume, QStringLiteral("data/mapsinfo"), kVolumeFiles);
    // The device shows the new maps only once its index names them.
    if (!info.isValid() || info.kindOf(QStringLiteral("temp.xml")) != VHSafeFolder::Kind::File)
        return VHResult::failure(Failed, "map index not switched: no " + mapVolume + "/data/mapsinfo/temp.xml");
    const QString current = info.filePath(QStringLiteral("currentMap.xml"));
    const QString temp = info.filePath(QStringLiteral("temp.xml"));
    if (!info.removeFile(QStringLiteral("currentMap.xml"))
        || VHSys::renameat(info.handle(), VHFileOps::encodeName(QFileInfo(temp).fileName()).constData(), info.handle(),
                           "currentMap.xml")
               != 0
        || !info.sync())
        return VHResult::failure(Failed, "can not rename " + temp + " to " + current);
    return VHResult::success();
}

bool VHPacer50::_updateMapData(const QString &argument)
{
    setErrorFlag(true);
    const bool ok = finish(installMapData(argument));
    setErrorFlag(!ok);
    return ok;
}
