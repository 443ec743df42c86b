#include "VHFitDevice.h"

#include "VHDaemon.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHFileOps.h"
#include "VHIniDocument.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHSafeFolder.h"
#include "VHSysCalls.h"
#include "VHUpdatesFolder.h"
#include "VHUtility.h"
#include "VHVersion.h"
#include "VHVolumeSync.h"
#include "VHZipDirectory.h"
#include "VHZipUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kReleaseIni = QStringLiteral("release.ini");
const QString kWorkoutZip = QStringLiteral("workout.zip");
const QString kAssistFile = QStringLiteral("AssitOff.alp");
const QString kUpdateIni = QStringLiteral("update.ini");
const QString kStampFile = QStringLiteral("date.txt");
const QString kSystem = QStringLiteral("System");
const QStringList kImageKinds = {QStringLiteral("OS"),         QStringLiteral("BootLoader"),
                                 QStringLiteral("DeviceLang"), QStringLiteral("NotificationLang"),
                                 QStringLiteral("TimeZone"),   QStringLiteral("Bluetooth")};
// Everything on the volume: names as FAT finds them, every file on the device before it takes its name.
constexpr VHSafeFolder::Options kVolumeFiles = VHSafeFolder::FatNames | VHSafeFolder::Durable;

// A write that found the volume full is a lack of space, whatever step it was.
int failureCodeFor(int error)
{
    return error == ENOSPC || error == EDQUOT ? VHFitDevice::UnpackOrSpace : VHFitDevice::CopyFailed;
}

QString lastChars(const QString &text, int count) { return text.size() <= count ? text : text.right(count); }

bool isRegularFile(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(VHFileOps::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether an archive entry name is `name` at the top of the archive, in any spelling ("./Workout.zip").
bool isTopEntry(const QByteArray &raw, const QString &name)
{
    QString entry = QString::fromUtf8(raw);
    entry.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (entry.startsWith(QLatin1String("./")))
        entry.remove(0, 2);
    return entry.compare(name, Qt::CaseInsensitive) == 0;
}

// Up to `size` bytes, fewer only at the end of the file; -1 on an error.
ssize_t readUpTo(int fd, char *buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = VHSys::read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += size_t(n);
    }
    return ssize_t(done);
}

// Whether two open files hold the same bytes, read from their starts; `compared` hears the bytes compared so far.
bool sameContent(int a, int b, const VHSafeFolder::Progress &compared)
{
    qint64 done = 0;
    constexpr qsizetype kChunk = 256 * 1024;
    QByteArray left(kChunk, Qt::Uninitialized), right(kChunk, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = readUpTo(a, left.data(), size_t(kChunk));
        const ssize_t m = readUpTo(b, right.data(), size_t(kChunk));
        if (n < 0 || n != m || std::memcmp(left.constData(), right.constData(), size_t(n)) != 0)
            return false;
        done += n;
        if (compared)
            compared(done, -1);
        if (n < kChunk)
            return true;
    }
}

// Reads every regular file below `folder` back, for reading and writing, and
// flushes it to the device; links are not followed. False at the first file
// that cannot be read whole, with its path in `bad`. `bytesRead` hears every chunk read.
bool readBack(VHSafeFolder &folder, QString &bad, const std::function<void(qint64)> &bytesRead)
{
    QList<QByteArray> names;
    VHFileOps::forEachEntry(folder.handle(), [&names](const QByteArray &name, unsigned char) { names.append(name); });
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (const QByteArray &name : std::as_const(names)) {
        struct stat st;
        if (::fstatat(folder.handle(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString path = folder.path() + QLatin1Char('/') + QFile::decodeName(name);
        if (S_ISDIR(st.st_mode)) {
            VHSafeFolder inner = folder.folder(QFile::decodeName(name));
            if (!inner.isValid() || !readBack(inner, bad, bytesRead)) {
                bad = bad.isEmpty() ? path : bad;
                return false;
            }
            continue;
        }
        if (!S_ISREG(st.st_mode))
            continue;
        VHFileOps::UniqueFd file(::openat(folder.handle(), name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        qint64 total = 0;
        ssize_t n = 0;
        while (file.isValid() && (n = VHSys::read(file.get(), buffer.data(), size_t(buffer.size()))) > 0) {
            total += n;
            bytesRead(n);
        }
        if (!file.isValid() || n < 0 || ::fstat(file.get(), &st) != 0 || total != st.st_size
            || VHSys::fsync(file.get()) != 0) {
            bad = path;
            return false;
        }
    }
    return folder.sync();
}

} // namespace

VHFitDevice::VHFitDevice() = default;

VHFitDevice::DeviceInfo VHFitDevice::deviceInfo()
{
    QMutexLocker lock(&m_infoMutex);
    if (m_infoLoaded)
        return m_info;
    QByteArray bytes;
    const bool steady = readSteadyIdentity(bytes);
    // A volume without an identity file stays without one; reads that did not agree are tried again.
    m_infoLoaded = steady || bytes.isEmpty();
    if (!steady && !bytes.isEmpty())
        vhWarning() << "the identity file reads differently each time: the device's versions are unknown";
    const VHIniDocument ini(bytes);
    m_info = DeviceInfo();
    m_info.uuid = ini.value(QStringLiteral("UUID"), QStringLiteral("UUID"));
    for (const QString &kind : kImageKinds) {
        const QString version = ini.value(kind, QStringLiteral("Version"));
        m_info.versions.insert(kind, version);
        if (!steady || !VHVersion::isPlainText(version))
            m_info.unknownKinds.insert(kind);
    }
    m_info.capability = ini.value(QStringLiteral("CAP"), QStringLiteral("COM"));
    m_info.hasProductType = ini.contains(QStringLiteral("Product"), QStringLiteral("Type"));
    m_info.productType = ini.value(QStringLiteral("Product"), QStringLiteral("Type"));
    return m_info;
}

bool VHFitDevice::readSteadyIdentity(QByteArray &bytes)
{
    // A few reads: a bad USB transfer is rare, two in a row rarer still.
    constexpr int kReads = 4;
    auto *service = dynamic_cast<VHFSDeviceService *>(deviceService());
    QByteArray previous;
    if (!VHFSDeviceService::identityTextOf(service, &VHUtility::findDeviceTxt, previous))
        return false;
    bytes = previous;
    const QString path =
        service->identityFile().isEmpty() ? VHUtility::findDeviceTxt(service->rootPath()) : service->identityFile();
    for (int read = 1; read < kReads && !path.isEmpty(); ++read) {
        QByteArray next;
        if (!VHFSDeviceService::readIdentity(service->rootPath(), path, next))
            return false;
        if (next == previous) {
            bytes = next;
            return true;
        }
        previous = next;
    }
    return false;
}

VHSafeFolder VHFitDevice::volumeFolder(const QString &relative, bool create)
{
    const QString root = volumeRoot();
    if (root.isEmpty())
        return {};
    return VHSafeFolder::open(root, relative, create ? kVolumeFiles | VHSafeFolder::Create : kVolumeFiles);
}

bool VHFitDevice::getUUID(QString &uuid)
{
    uuid = deviceInfo().uuid;
    return !uuid.isEmpty();
}

bool VHFitDevice::getRootPath(QString &path)
{
    path = volumeRoot();
    return !path.isEmpty();
}

QString VHFitDevice::deviceVersion(const QString &kind) { return deviceInfo().versions.value(kind); }

bool VHFitDevice::getImageVersion(QString &text)
{
    text = deviceVersion(QStringLiteral("OS"));
    return !text.isEmpty();
}

bool VHFitDevice::getIAPVersion(QString &text)
{
    text = deviceVersion(QStringLiteral("BootLoader"));
    return !text.isEmpty();
}

bool VHFitDevice::getVersion(QString &text)
{
    text = composedVersion([this](const QString &kind) { return deviceVersion(kind); });
    return !text.isEmpty();
}

QString VHFitDevice::composedVersion(const std::function<QString(const QString &kind)> &versionOf)
{
    const QString os = versionOf(QStringLiteral("OS"));
    const QString boot = versionOf(QStringLiteral("BootLoader"));
    if (os.isEmpty() || boot.isEmpty())
        return QString();
    return QStringList{os,
                       boot.mid(1),
                       lastChars(versionOf(QStringLiteral("DeviceLang")), 4),
                       lastChars(versionOf(QStringLiteral("Bluetooth")), 2),
                       lastChars(versionOf(QStringLiteral("TimeZone")), 3),
                       lastChars(versionOf(QStringLiteral("NotificationLang")), 3)}
        .join(QLatin1Char('.'));
}

int VHFitDevice::deviceKind()
{
    const DeviceInfo &info = deviceInfo();
    return info.hasProductType && info.productType != QLatin1String("Watch") ? 1 : 0;
}

QString VHFitDevice::getCapability()
{
    const QString capability = deviceInfo().capability;
    return capability.isEmpty() ? VHClient::getCapability() : capability;
}

bool VHFitDevice::eject()
{
    if (!VHDaemon::instance()->currentDevice())
        return false;
    const QString root = volumeRoot();
    if (root.isEmpty())
        return false;
    VHVolumeSync::flush({}, root);
    return VHDaemon::instance()->platform()->ejectDevice(root);
}

// ---- the steps ------------------------------------------------------------------

VHResult VHFitDevice::unpackPackage(const QString &archive, int code, QString &work)
{
    QString model;
    if (!getModelName(model))
        return VHResult::failure(code, QStringLiteral("no model name for the work folder"));
    if (!VHUtility::isSafePathComponent(model))
        return VHResult::failure(code, "model name can not name a folder: \"" + model + "\"");
    work = VHEnv::instance()->tempFolder() + QLatin1Char('/') + model;
    m_workFolder.clear(); // the folder is refilled: its listing is listed anew
    QDir().mkpath(work);
    // Unpacking over what an earlier package left would mix two packages.
    if (!VHUtility::removeFolder(work))
        return VHResult::failure(code, "can not empty the work folder \"" + work + "\"");
    vhDebug() << "unzip " << ("\"" + archive + "\"") << " to " << ("\"" + work + "\"");
    QDir().mkpath(work);
    // Fails on any damaged entry: such an image must never reach the device.
    const auto unpacked = [this](qint64 done, qint64 total) { reportProgress(VHPhase::Unpack, done, total); };
    if (!VHZipUtil().decompress(archive, work, unpacked))
        return VHResult::failure(code, QStringLiteral("unzip file to temporary directory failed"));
    m_workNames = VHFileOps::NameIndex::ofFolder(work);
    m_workFolder = work;
    return VHResult::success();
}

QString VHFitDevice::packageFile(const QString &work, const QString &name) const
{
    const QString exact = work + QLatin1Char('/') + name;
    struct stat st;
    if (::lstat(VHFileOps::encodeName(exact).constData(), &st) == 0)
        return exact;
    const QString existing =
        work == m_workFolder ? m_workNames.find(name) : VHFileOps::NameIndex::ofFolder(work).find(name);
    return existing.isEmpty() ? QString() : work + QLatin1Char('/') + existing;
}

VHResult VHFitDevice::readPackage(const QString &work, VHFitPackage &package)
{
    const QString releaseIni = packageFile(work, kReleaseIni);
    if (!isRegularFile(releaseIni))
        return VHResult::failure(CopyFailed, "\"" + work + QLatin1Char('/') + kReleaseIni + "\" not exist");
    vhDebug() << "getImageMetaInfo from " << releaseIni;
    // One byte past the limit is enough to tell a description that is too large.
    QByteArray bytes;
    if (!VHSafeFolder::readFileBelow(QString(), releaseIni, VHFitPackage::kMaxReleaseIniSize + 1, bytes))
        return VHResult::failure(CopyFailed, "can not read \"" + releaseIni + "\"");
    package = VHFitPackage(bytes);
    if (!package.isValid())
        return VHResult::failure(CopyFailed, package.refusal());
    return VHResult::success();
}

QList<VHFitDevice::Image> VHFitDevice::planImages(const VHFitPackage &package, QStringList &withheld)
{
    const DeviceInfo info = deviceInfo();
    for (const Image &image : package.images()) {
        vhDebug() << "update version=" << image.version << ", device version=" << info.versions.value(image.kind);
        if (info.unknownKinds.contains(image.kind) && !withheld.contains(image.kind))
            withheld << image.kind;
    }
    QList<Image> newer = package.plan(info.versions);
    newer.removeIf([&info](const Image &image) { return info.unknownKinds.contains(image.kind); });
    return newer;
}

VHResult VHFitDevice::checkFreeSpace(const QString &work, const QList<Image> &images)
{
    qint64 needed = 0;
    for (const Image &image : images)
        needed += QFileInfo(packageFile(work, image.name)).size();
    const QString root = volumeRoot();
    quint64 total = 0, free = 0;
    if (!VHDaemon::instance()->platform()->getDiskSpace(root, total, free))
        return VHResult::failure(CopyFailed, "can not get the free space of " + root);
    vhDebug() << QStringLiteral("copied file size=%1, free size=%2").arg(needed).arg(free);
    if (free < quint64(needed))
        return VHResult::failure(UnpackOrSpace,
                                 QStringLiteral("not enough free space: %1 needed, %2 free").arg(needed).arg(free));
    return VHResult::success();
}

VHResult VHFitDevice::copyImages(const QString &work, const QList<Image> &images)
{
    VHSafeFolder volume = volumeFolder(QString(), false);
    volume.removeLeftovers();
    // An instruction file left by an update that never installed would make
    // the firmware install a mix of two packages if this one stops half way.
    if (!volume.removeFile(kUpdateIni) || !volume.sync())
        return VHResult::failure(CopyFailed, QStringLiteral("can not remove an old update.ini"));
    qint64 total = 0;
    for (const Image &image : images)
        total += QFileInfo(packageFile(work, image.name)).size();
    // Every image is written, then every one read back: each phase runs once, in order.
    qint64 before = 0; // bytes of the images already handled
    for (const Image &image : images) {
        vhDebug() << QStringLiteral("write %1, version=%2").arg(image.name, image.version);
        if (VHResult copied =
                copyBinFile(work, image.name, QString(), phaseReporter(VHPhase::Write, before, total), false);
            !copied)
            return copied;
        before += QFileInfo(packageFile(work, image.name)).size();
    }
    reportProgress(VHPhase::Write, total, total);
    if (!volume.sync())
        return VHResult::failure(failureCodeFor(volume.lastError()), "can not flush " + volume.path());
    before = 0;
    for (const Image &image : images) {
        if (VHResult checked = checkBinFile(work, image.name, phaseReporter(VHPhase::Verify, before, total)); !checked)
            return checked;
        before += QFileInfo(packageFile(work, image.name)).size();
    }
    reportProgress(VHPhase::Verify, total, total);
    // Only images that are whole on the device may be installed.
    if (!volume.sync())
        return VHResult::failure(failureCodeFor(volume.lastError()), "can not flush " + volume.path());
    vhDebug() << "write update.ini";
    if (!volume.writeFile(kUpdateIni, QByteArray()) || !volume.sync())
        return VHResult::failure(failureCodeFor(volume.lastError()), "can not write " + volume.filePath(kUpdateIni));
    return VHResult::success();
}

VHSafeFolder::Progress VHFitDevice::phaseReporter(VHPhase phase, qint64 before, qint64 total)
{
    // A total of -1 stands for the file's own size, as the copy knows it.
    return [this, phase, before, total](qint64 done, qint64 fileTotal) {
        reportProgress(phase, before + done, total < 0 ? fileTotal : total);
    };
}

VHResult VHFitDevice::copyBinFile(const QString &folder, const QString &name, const QString &subFolder,
                                  const VHSafeFolder::Progress &progress, bool check,
                                  const VHSafeFolder::Progress &checkProgress)
{
    const QString source = packageFile(folder, name);
    if (!isRegularFile(source))
        return VHResult::failure(
            CopyFailed, QStringLiteral("file %1 is not found").arg("\"" + folder + QLatin1Char('/') + name + "\""));
    VHSafeFolder dest = volumeFolder(subFolder, true);
    if (!dest.isValid())
        return VHResult::failure(CopyFailed, "can not open " + dest.path() + ": "
                                                 + QString::fromLocal8Bit(strerror(dest.lastError())));
    // The old file goes first: the free space was measured for the new one alone.
    if (!dest.removeFile(name))
        vhWarning() << "can not remove the old " << name << ": " << strerror(dest.lastError());
    int error = 0;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        error = dest.copyFileInto(name, source, progress);
        if (error == 0 && check && !verifyCopy(dest, name, source, checkProgress))
            error = EIO;
        // A full volume stays full: another attempt would only wear it.
        if (error == 0 || error == ENOSPC || error == EDQUOT)
            break;
        vhDebug() << "copy file failed, retry " << attempt << " error code :" << error << " src=" << source;
        if (attempt < 3)
            QThread::msleep(100);
    }
    // The file is on the device; its name is, once the caller syncs the folder.
    if (error != 0) {
        // A copy that is not the image must not stay under the image's name.
        (void)dest.removeFile(name);
        return VHResult::failure(failureCodeFor(error), "copy to " + dest.filePath(name)
                                                            + " failed: " + QString::fromLocal8Bit(strerror(error)));
    }
    vhDebug() << "copy to " << dest.filePath(name) << "done";
    return VHResult::success();
}

VHResult VHFitDevice::checkBinFile(const QString &folder, const QString &name, const VHSafeFolder::Progress &progress)
{
    VHSafeFolder dest = volumeFolder(QString(), false);
    if (dest.isValid() && verifyCopy(dest, name, packageFile(folder, name), progress))
        return VHResult::success();
    vhWarning() << "the copy of " << name << " differs from the package: copied again";
    if (VHResult copied = copyBinFile(folder, name, QString()); !copied)
        return copied;
    return dest.sync() ? VHResult::success()
                       : VHResult::failure(failureCodeFor(dest.lastError()), "can not flush " + dest.path());
}

bool VHFitDevice::verifyCopy(VHSafeFolder &dest, const QString &name, const QString &source,
                             const VHSafeFolder::Progress &progress)
{
    for (int read = 1; read <= 2; ++read) {
        VHFileOps::UniqueFd copy(::openat(dest.handle(), VHFileOps::encodeName(dest.entryName(name)).constData(),
                                          O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        VHFileOps::UniqueFd original(::open(VHFileOps::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
        if (!copy.isValid() || !original.isValid())
            return false;
        // The copy is flushed: dropping its cached pages makes the read reach the device.
        ::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_DONTNEED);
        if (sameContent(copy.get(), original.get(), progress))
            return true;
        vhWarning() << "the copy of " << name << " reads back differently (read " << read << ")";
    }
    return false;
}

VHResult VHFitDevice::flushVolume(const QString &root)
{
    if (VHVolumeSync::flush({}, root))
        return VHResult::success();
    return VHResult::failure(CopyFailed, "can not flush the volume " + root);
}

VHResult VHFitDevice::installUpdate(const QString &archive)
{
    const QString root = volumeRoot();
    if (root.isEmpty())
        return VHResult::failure(NoVolume, QStringLiteral("can not get mounted drive"));
    QString work;
    if (VHResult unpacked = unpackPackage(archive, CopyFailed, work); !unpacked)
        return unpacked;
    VHFitPackage package;
    if (VHResult read = readPackage(work, package); !read)
        return read;
    QStringList withheld;
    const QList<Image> newer = planImages(package, withheld);
    if (!newer.isEmpty()) {
        if (VHResult space = checkFreeSpace(work, newer); !space)
            return space;
        if (VHResult copied = copyImages(work, newer); !copied)
            return copied;
        if (VHResult flushed = flushVolume(root); !flushed)
            return flushed;
    }
    // The others are in place; these wait until the device's versions read cleanly.
    if (!withheld.isEmpty())
        return VHResult::failure(CopyFailed, "the device's version of " + withheld.join(QStringLiteral(", "))
                                                 + " can not be read: not updated");
    if (newer.isEmpty())
        return VHResult::unchanged(QStringLiteral("already up to date: no image of the package is newer than the "
                                                  "device's"));
    return VHResult::success();
}

VHResult VHFitDevice::findWorkouts(const QString &archive)
{
    // Only a look at the package: its directory tells whether it carries
    // workouts, without unpacking every image.
    QList<QByteArray> names;
    if (!VHZipDirectory::readRawNames(archive, names))
        return VHResult::failure(UnpackOrSpace, QStringLiteral("unzip file to temporary directory failed"));
    for (const QByteArray &name : std::as_const(names)) {
        if (isTopEntry(name, kWorkoutZip))
            return VHResult::success();
    }
    return VHResult::failure(NoWorkouts, "\"" + archive + "/" + kWorkoutZip + "\" not exist");
}

VHResult VHFitDevice::installWorkouts(const QString &archive)
{
    QString work;
    if (VHResult unpacked = unpackPackage(archive, UnpackOrSpace, work); !unpacked)
        return unpacked;
    const QString workouts = packageFile(work, kWorkoutZip);
    if (!isRegularFile(workouts))
        return VHResult::failure(NoWorkouts, "\"" + work + QLatin1Char('/') + kWorkoutZip + "\" not exist");
    volumeFolder(QString(), false).removeLeftovers();
    VHSafeFolder system = volumeFolder(kSystem, true);
    system.removeLeftovers();
    // The extractor opens its target by path: the handle's own entry in /proc
    // names exactly the folder opened without links, whatever happens to the
    // path meanwhile.
    const QString target = QStringLiteral("/proc/self/fd/%1").arg(system.handle());
    qint64 written = 0;
    const auto writing = [&](qint64 done, qint64 total) {
        written = total;
        reportProgress(VHPhase::Write, done, total);
    };
    if (!system.isValid() || !VHZipUtil().decompress(workouts, target, writing))
        return VHResult::failure(CopyFailed, QStringLiteral("unzip workout.zip to device failed"));
    // Read every installed workout back, so a bad write shows now and not on the device.
    // Workouts already there are read too: the count stops at what was written.
    qint64 read = 0;
    const auto reading = [&](qint64 n) { reportProgress(VHPhase::Verify, read += n, written); };
    for (const QString &name : {QStringLiteral("Velorawrk"), QStringLiteral("Test")}) {
        if (system.kindOf(name) == VHSafeFolder::Kind::Missing)
            continue;
        VHSafeFolder folder = system.folder(name);
        QString bad;
        if (!folder.isValid() || !readBack(folder, bad, reading))
            return VHResult::failure(CopyFailed, "can not read back " + (bad.isEmpty() ? folder.path() : bad));
    }
    reportProgress(VHPhase::Verify, written, written);
    if (!system.sync())
        return VHResult::failure(CopyFailed, "can not flush " + system.path());
    return flushVolume(volumeRoot());
}

// ---- the actions ----------------------------------------------------------------

bool VHFitDevice::_updateTotal(const QString &archive, const QString &) { return finish(installUpdate(archive)); }

bool VHFitDevice::_updateComponent(const QString &, const QString &mode, const QString &, const QString &archive)
{
    if (volumeRoot().isEmpty())
        return failUpdate(NoVolume, QStringLiteral("can not get mounted drive"));
    return finish(mode == QLatin1String("1") ? installWorkouts(archive) : findWorkouts(archive));
}

bool VHFitDevice::_updateAlp(const QString &fileName, int timeStamp)
{
    setErrorCode(NoError);
    QString model;
    getModelName(model);
    const QString root = volumeRoot();
    if (root.isEmpty())
        return failUpdate(NoVolume, QStringLiteral("can not get mounted drive"));
    if (!VHUtility::isSafePathComponent(model) || !VHUtility::isSafePathComponent(fileName))
        return failUpdate(NoVolume, "the model \"" + model + "\" or the file \"" + fileName
                                        + "\" can not name a file of the updates folder");
    const QString source = VHUpdatesFolder::pathFor(VHEnv::instance()->dataFolder(), model);
    volumeFolder(QString(), false).removeLeftovers();
    VHSafeFolder system = volumeFolder(kSystem, true);
    system.removeLeftovers();
    if (!system.removeFile(fileName) || !system.removeFile(kStampFile))
        return failUpdate(CopyFailed, "can not remove the old assist data in " + system.path());
    vhDebug() << QStringLiteral("copy file=%1 from sourceDir=%2").arg(fileName, source);
    const qint64 size = QFileInfo(packageFile(source, fileName)).size();
    if (const VHResult copied = copyBinFile(source, fileName, kSystem, phaseReporter(VHPhase::Write, 0, size), true,
                                            phaseReporter(VHPhase::Verify, 0, size));
        !copied)
        return finish(copied);
    reportProgress(VHPhase::Verify, size, size);
    vhDebug() << "write date.txt";
    if (!system.writeFile(kStampFile, VHDateStamp::toBytes(timeStamp)) || !system.sync())
        return failUpdate(CopyFailed, "can not write " + system.filePath(kStampFile));
    m_alpStamp = timeStamp;
    return finish(flushVolume(root));
}

int VHFitDevice::getAlpDate()
{
    if (m_alpStamp != 0)
        return m_alpStamp;
    VHSafeFolder system = volumeFolder(kSystem, false);
    QByteArray bytes;
    qint32 value = 0;
    if (system.kindOf(kAssistFile) != VHSafeFolder::Kind::File
        || !system.readFile(kStampFile, VHDateStamp::kSize, bytes) || !VHDateStamp::fromBytes(bytes, value))
        return 0;
    m_alpStamp = value;
    return value;
}
