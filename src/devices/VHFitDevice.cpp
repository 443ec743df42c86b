#include "VHFitDevice.h"

#include "VHDaemon.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHFileOps.h"
#include "VHIniDocument.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHSafeFolder.h"
#include "VHUtility.h"
#include "VHVersion.h"
#include "VHVolumeSync.h"
#include "VHZipDirectory.h"
#include "VHZipUtil.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

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
// A release description is a few hundred bytes.
constexpr qint64 kMaxReleaseIniSize = 1024 * 1024;
// Everything on the volume: names as FAT finds them, every file on the device before it takes its name.
constexpr VHSafeFolder::Options kVolumeFiles = VHSafeFolder::FatNames | VHSafeFolder::Durable;

QString lastChars(const QString &text, int count) { return text.size() <= count ? text : text.right(count); }

QByteArray stampBytes(int stamp)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << qint32(stamp);
    return bytes;
}

// A file of the unpacked package in any spelling ("Release.ini", "OS.BIN"):
// packages are made where case does not count. Empty when there is none.
QString packageFile(const QString &work, const QString &name)
{
    const QString exact = work + QLatin1Char('/') + name;
    struct stat st;
    if (::lstat(VHFileOps::encodeName(exact).constData(), &st) == 0)
        return exact;
    const QString existing = VHFileOps::NameIndex::ofFolder(work).find(name);
    return existing.isEmpty() ? QString() : work + QLatin1Char('/') + existing;
}

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

// Reads every regular file below `folder` back, for reading and writing, and
// flushes it to the device; links are not followed. False at the first file
// that cannot be read whole, with its path in `bad`.
bool readBack(VHSafeFolder &folder, QString &bad)
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
            if (!inner.isValid() || !readBack(inner, bad)) {
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
        while (file.isValid() && (n = ::read(file.get(), buffer.data(), size_t(buffer.size()))) > 0)
            total += n;
        if (!file.isValid() || n < 0 || ::fstat(file.get(), &st) != 0 || total != st.st_size
            || ::fsync(file.get()) != 0) {
            bad = path;
            return false;
        }
    }
    return folder.sync();
}

} // namespace

VHFitDevice::VHFitDevice() = default;

const VHFitDevice::DeviceInfo &VHFitDevice::deviceInfo()
{
    QMutexLocker lock(&m_infoMutex);
    if (m_infoLoaded)
        return m_info;
    m_infoLoaded = true;
    QString identity;
    if (auto *service = dynamic_cast<VHFSDeviceService *>(deviceService()))
        identity = service->identityFile();
    if (identity.isEmpty())
        identity = VHUtility::findDeviceTxt(rootPath());
    QByteArray bytes;
    if (identity.isEmpty() || !VHFSDeviceService::readIdentity(rootPath(), identity, bytes))
        return m_info;
    const VHIniDocument ini(bytes);
    m_info.uuid = ini.value(QStringLiteral("UUID"), QStringLiteral("UUID"));
    for (const QString &kind : kImageKinds)
        m_info.versions.insert(kind, ini.value(kind, QStringLiteral("Version")));
    m_info.capability = ini.value(QStringLiteral("CAP"), QStringLiteral("COM"));
    m_info.hasProductType = ini.contains(QStringLiteral("Product"), QStringLiteral("Type"));
    m_info.productType = ini.value(QStringLiteral("Product"), QStringLiteral("Type"));
    return m_info;
}

QString VHFitDevice::rootPath()
{
    auto *service = dynamic_cast<VHFSDeviceService *>(deviceService());
    return service ? service->rootPath() : QString();
}

VHSafeFolder VHFitDevice::volumeFolder(const QString &relative, bool create)
{
    const QString root = rootPath();
    if (root.isEmpty())
        return {};
    return VHSafeFolder::open(root, relative, create ? kVolumeFiles | VHSafeFolder::Create : kVolumeFiles);
}

bool VHFitDevice::getModelName(QString &name)
{
    VHDeviceService *service = deviceService();
    name = service ? service->modelInfo().modelName : QString();
    return !name.isEmpty();
}

bool VHFitDevice::getUUID(QString &uuid)
{
    uuid = deviceInfo().uuid;
    return !uuid.isEmpty();
}

bool VHFitDevice::getRootPath(QString &path)
{
    path = rootPath();
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
    const QString os = deviceVersion(QStringLiteral("OS"));
    const QString boot = deviceVersion(QStringLiteral("BootLoader"));
    if (os.isEmpty() || boot.isEmpty())
        return false;
    text = QStringList{os,
                       boot.mid(1),
                       lastChars(deviceVersion(QStringLiteral("DeviceLang")), 4),
                       lastChars(deviceVersion(QStringLiteral("Bluetooth")), 2),
                       lastChars(deviceVersion(QStringLiteral("TimeZone")), 3),
                       lastChars(deviceVersion(QStringLiteral("NotificationLang")), 3)}
               .join(QLatin1Char('.'));
    return true;
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
    const QString root = rootPath();
    if (root.isEmpty())
        return false;
    VHVolumeSync::flush({}, root);
    return VHDaemon::instance()->platform()->ejectDevice(root);
}

// ---- the steps ------------------------------------------------------------------

QString VHFitDevice::prepareWorkFolder()
{
    QString model;
    if (!getModelName(model))
        return {};
    if (!VHUtility::isSafePathComponent(model)) {
        vhCritical() << "model name can not name a folder: " << ("\"" + model + "\"");
        return {};
    }
    const QString work = VHEnv::instance()->tempFolder() + QLatin1Char('/') + model;
    QDir().mkpath(work);
    // Unpacking over what an earlier package left would mix two packages.
    if (!VHUtility::removeFolder(work)) {
        vhCritical() << "can not empty the work folder " << ("\"" + work + "\"");
        return {};
    }
    return work;
}

bool VHFitDevice::unpackPackage(const QString &archive, const QString &work)
{
    vhDebug() << "unzip " << ("\"" + archive + "\"") << " to " << ("\"" + work + "\"");
    QDir().mkpath(work);
    // Fails on any damaged entry: such an image must never reach the device.
    return VHZipUtil().decompress(archive, work);
}

QList<VHFitDevice::ImageInfo> VHFitDevice::readImageInfo(const QString &releaseIni)
{
    vhDebug() << "getImageMetaInfo from " << releaseIni;
    QList<ImageInfo> images;
    QByteArray bytes;
    if (!VHSafeFolder::readFileBelow(QString(), releaseIni, kMaxReleaseIniSize, bytes))
        return images;
    // The images go to the device in the order the package lists them.
    const VHIniDocument ini(bytes);
    for (const QString &group : ini.groups()) {
        if (group == QLatin1String("MODEL"))
            continue;
        images.append({group, ini.value(group, QStringLiteral("Name")), ini.value(group, QStringLiteral("Version"))});
    }
    return images;
}

bool VHFitDevice::isNewVersion(const ImageInfo &image)
{
    const QString device = deviceVersion(image.kind);
    vhDebug() << "update version=" << image.version << ", device version=" << device;
    return VHVersion::isOlder(device, image.version);
}

bool VHFitDevice::isStorageSpaceEnough(const QString &folder, const QList<ImageInfo> &images)
{
    qint64 needed = 0;
    for (const ImageInfo &image : images) {
        if (isNewVersion(image))
            needed += QFileInfo(packageFile(folder, image.name)).size();
    }
    const QString root = rootPath();
    if (root.isEmpty())
        return false;
    quint64 total = 0, free = 0;
    if (!VHDaemon::instance()->platform()->getDiskSpace(root, total, free))
        vhWarning() << "free space of " << root << " unknown";
    vhDebug() << QStringLiteral("copied file size=%1, free size=%2").arg(needed).arg(free);
    return free >= quint64(needed);
}

bool VHFitDevice::copyBinFile(const QString &folder, const QString &name, const QString &subFolder)
{
    const QString source = packageFile(folder, name);
    if (!isRegularFile(source)) {
        vhCritical() << QStringLiteral("file %1 is not found").arg("\"" + folder + QLatin1Char('/') + name + "\"");
        return false;
    }
    VHSafeFolder dest = volumeFolder(subFolder, true);
    if (!dest.isValid()) {
        vhCritical() << "can not open " << dest.path() << ": " << strerror(dest.lastError());
        return false;
    }
    // The old file goes first: the free space was measured for the new one alone.
    if (!dest.removeFile(name))
        vhWarning() << "can not remove the old " << name << ": " << strerror(dest.lastError());
    int error = 0;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        error = dest.copyFileInto(name, source);
        if (error == 0)
            break;
        vhDebug() << "copy file failed, retry " << attempt << " error code :" << error << " src=" << source;
        if (attempt < 3)
            QThread::msleep(100);
    }
    // The file is on the device; its name is, once the caller syncs the folder.
    const bool copied = error == 0;
    vhDebug() << "copy to " << dest.filePath(name) << (copied ? "done" : "failed");
    return copied;
}

bool VHFitDevice::flushVolume(const QString &root)
{
    if (VHVolumeSync::flush({}, root))
        return true;
    setErrorCode(CopyFailed);
    return false;
}

// ---- the actions ----------------------------------------------------------------

bool VHFitDevice::failUpdate(int code, const QString &reason)
{
    vhCritical() << reason;
    setErrorCode(code);
    return false;
}

bool VHFitDevice::_updateTotal(const QString &archive, const QString &)
{
    setErrorCode(NoError);
    const QString work = prepareWorkFolder();
    if (work.isEmpty())
        return failUpdate(CopyFailed, QStringLiteral("no work folder for the update"));
    const QString root = rootPath();
    if (root.isEmpty())
        return failUpdate(NoVolume, QStringLiteral("can not get mounted drive"));
    if (!unpackPackage(archive, work))
        return failUpdate(CopyFailed, QStringLiteral("unzip file to temporary directory failed"));
    const QString releaseIni = packageFile(work, kReleaseIni);
    if (!isRegularFile(releaseIni))
        return failUpdate(CopyFailed, "\"" + work + QLatin1Char('/') + kReleaseIni + "\" not exist");
    if (QFileInfo(releaseIni).size() > kMaxReleaseIniSize)
        return failUpdate(CopyFailed, "\"" + releaseIni + "\"" + QStringLiteral(" is too large"));
    const QList<ImageInfo> images = readImageInfo(releaseIni);
    for (const ImageInfo &image : images) {
        if (!VHUtility::isSafePathComponent(image.name))
            return failUpdate(CopyFailed, "image name can not name a file: \"" + image.name + "\"");
    }
    if (!isStorageSpaceEnough(work, images)) {
        setErrorCode(UnpackOrSpace);
        return false;
    }
    QList<ImageInfo> newer;
    for (const ImageInfo &image : images) {
        if (isNewVersion(image))
            newer.append(image);
    }
    if (newer.isEmpty())
        return true;
    VHSafeFolder volume = volumeFolder(QString(), false);
    volume.removeLeftovers();
    // An instruction file left by an update that never installed would make
    // the firmware install a mix of two packages if this one stops half way.
    if (!volume.removeFile(kUpdateIni) || !volume.sync())
        return failUpdate(CopyFailed, QStringLiteral("can not remove an old update.ini"));
    for (const ImageInfo &image : std::as_const(newer)) {
        vhDebug() << QStringLiteral("write %1, version=%2").arg(image.name, image.version);
        if (!copyBinFile(work, image.name, QString()))
            return failUpdate(CopyFailed, "can not copy " + image.name);
    }
    // Only images that are whole on the device may be installed.
    if (!volume.sync())
        return failUpdate(CopyFailed, "can not flush " + volume.path());
    vhDebug() << "write update.ini";
    if (!volume.writeFile(kUpdateIni, QByteArray()) || !volume.sync())
        return failUpdate(CopyFailed, "can not write " + volume.filePath(kUpdateIni));
    return flushVolume(root);
}

bool VHFitDevice::_updateComponent(const QString &, const QString &mode, const QString &, const QString &archive)
{
    setErrorCode(NoError);
    const QString root = rootPath();
    if (root.isEmpty())
        return failUpdate(NoVolume, QStringLiteral("can not get mounted drive"));
    if (mode != QLatin1String("1")) {
        // Only a look at the package: its directory tells whether it carries
        // workouts, without unpacking every image.
        QList<QByteArray> names;
        if (!VHZipDirectory::readRawNames(archive, names))
            return failUpdate(UnpackOrSpace, QStringLiteral("unzip file to temporary directory failed"));
        for (const QByteArray &name : std::as_const(names)) {
            if (isTopEntry(name, kWorkoutZip))
                return true;
        }
        return failUpdate(NoWorkouts, "\"" + archive + "/" + kWorkoutZip + "\" not exist");
    }

    const QString work = prepareWorkFolder();
    if (work.isEmpty())
        return failUpdate(UnpackOrSpace, QStringLiteral("no work folder for the workouts"));
    if (!unpackPackage(archive, work))
        return failUpdate(UnpackOrSpace, QStringLiteral("unzip file to temporary directory failed"));
    const QString workouts = packageFile(work, kWorkoutZip);
    if (!isRegularFile(workouts))
        return failUpdate(NoWorkouts, "\"" + work + QLatin1Char('/') + kWorkoutZip + "\" not exist");
    volumeFolder(QString(), false).removeLeftovers();
    VHSafeFolder system = volumeFolder(kSystem, true);
    system.removeLeftovers();
    // The extractor opens its target by path: the handle's own entry in /proc
    // names exactly the folder opened without links, whatever happens to the
    // path meanwhile.
    const QString target = QStringLiteral("/proc/self/fd/%1").arg(system.handle());
    if (!system.isValid() || !VHZipUtil().decompress(workouts, target))
        return failUpdate(CopyFailed, QStringLiteral("unzip workout.zip to device failed"));
    // Read every installed workout back, so a bad write shows now and not on the device.
    for (const QString &name : {QStringLiteral("Velorawrk"), QStringLiteral("Test")}) {
        if (system.kindOf(name) == VHSafeFolder::Kind::Missing)
            continue;
        VHSafeFolder folder = system.folder(name);
        QString bad;
        if (!folder.isValid() || !readBack(folder, bad))
            return failUpdate(CopyFailed, "can not read back " + (bad.isEmpty() ? folder.path() : bad));
    }
    if (!system.sync())
        return failUpdate(CopyFailed, "can not flush " + system.path());
    return flushVolume(root);
}

bool VHFitDevice::_updateAlp(const QString &fileName, int timeStamp)
{
    setErrorCode(NoError);
    QString model;
    getModelName(model);
    const QString root = rootPath();
    if (root.isEmpty() || !VHUtility::isSafePathComponent(model) || !VHUtility::isSafePathComponent(fileName)) {
        setErrorCode(NoVolume);
        return false;
    }
    const QString source = VHEnv::instance()->dataFolder() + QStringLiteral("/updates/") + model;
    volumeFolder(QString(), false).removeLeftovers();
    VHSafeFolder system = volumeFolder(kSystem, true);
    system.removeLeftovers();
    if (!system.removeFile(fileName) || !system.removeFile(kStampFile))
        return failUpdate(CopyFailed, "can not remove the old assist data in " + system.path());
    vhDebug() << QStringLiteral("copy file=%1 from sourceDir=%2").arg(fileName, source);
    if (!copyBinFile(source, fileName, kSystem)) {
        setErrorCode(CopyFailed);
        return false;
    }
    vhDebug() << "write date.txt";
    if (!system.writeFile(kStampFile, stampBytes(timeStamp)) || !system.sync())
        return failUpdate(CopyFailed, "can not write " + system.filePath(kStampFile));
    m_alpStamp = timeStamp;
    return flushVolume(root);
}

int VHFitDevice::getAlpDate()
{
    if (m_alpStamp != 0)
        return m_alpStamp;
    VHSafeFolder system = volumeFolder(kSystem, false);
    QByteArray bytes;
    if (system.kindOf(kAssistFile) != VHSafeFolder::Kind::File || !system.readFile(kStampFile, 4, bytes)
        || bytes.size() != 4)
        return 0;
    QDataStream stream(bytes);
    qint32 value = 0;
    stream >> value;
    m_alpStamp = value;
    return value;
}
