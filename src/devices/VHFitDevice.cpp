#include "VHFitDevice.h"

#include "VHDaemon.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHFileOps.h"
#include "VHIniText.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHUtility.h"
#include "VHVersion.h"
#include "VHVolumeSync.h"
#include "VHZipDirectory.h"
#include "VHZipUtil.h"

#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QSettings>

namespace {

const QString kReleaseIni = QStringLiteral("release.ini");
const QString kWorkoutZip = QStringLiteral("workout.zip");
const QString kAssistFile = QStringLiteral("AssitOff.alp");
const QStringList kImageKinds = {QStringLiteral("OS"),       QStringLiteral("BootLoader"),
                                 QStringLiteral("DeviceLang"), QStringLiteral("NotificationLang"),
                                 QStringLiteral("TimeZone"), QStringLiteral("Bluetooth")};

QString lastChars(const QString &text, int count) { return text.size() <= count ? text : text.right(count); }

// Writes bytes under a temporary name and renames them into place.
bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes);
    return file.commit();
}

QByteArray stampBytes(int stamp)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << qint32(stamp);
    return bytes;
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
    if (identity.isEmpty() || !QFileInfo(identity).isFile())
        return m_info;
    QSettings ini(identity, QSettings::IniFormat);
    m_info.uuid = vhIniText(ini, QStringLiteral("UUID/UUID"));
    for (const QString &kind : kImageKinds)
        m_info.versions.insert(kind, vhIniText(ini, kind + QStringLiteral("/Version")));
    m_info.capability = vhIniText(ini, QStringLiteral("CAP/COM"));
    m_info.hasProductType = ini.contains(QStringLiteral("Product/Type"));
    m_info.productType = vhIniText(ini, QStringLiteral("Product/Type"));
    return m_info;
}

QString VHFitDevice::rootPath()
{
    auto *service = dynamic_cast<VHFSDeviceService *>(deviceService());
    return service ? service->rootPath() : QString();
}

QString VHFitDevice::volumePath(const QString &relative)
{
    // FAT volumes ignore case: an existing "Update.ini" is the "update.ini" we mean.
    return VHFileOps::existingSpelling(rootPath() + QLatin1Char('/') + relative);
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
    return VHPlatform().ejectDevice(root);
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
    VHUtility::removeFolder(work);
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
    if (!QFileInfo(releaseIni).isFile())
        return images;
    QSettings ini(releaseIni, QSettings::IniFormat);
    for (const QString &group : ini.childGroups()) {
        if (group == QLatin1String("MODEL"))
            continue;
        ini.beginGroup(group);
        images.append({group, vhIniText(ini, QStringLiteral("Name")), vhIniText(ini, QStringLiteral("Version"))});
        ini.endGroup();
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
            needed += QFileInfo(folder + QLatin1Char('/') + image.name).size();
    }
    const QString root = rootPath();
    if (root.isEmpty())
        return false;
    quint64 total = 0, free = 0;
    VHPlatform().getDiskSpace(root, total, free);
    vhDebug() << QStringLiteral("copied file size=%1, free size=%2").arg(needed).arg(free);
    return free >= quint64(needed);
}

bool VHFitDevice::copyBinFile(const QString &folder, const QString &name, const QString &subFolder)
{
    const QString source = folder + QLatin1Char('/') + name;
    if (!QFileInfo::exists(source)) {
        vhCritical() << QStringLiteral("file %1 is not found").arg("\"" + source + "\"");
        return false;
    }
    const QString dest = volumePath(subFolder.isEmpty() ? name : subFolder + QLatin1Char('/') + name);
    QDir().mkpath(QFileInfo(dest).absolutePath());
    const bool copied = VHUtility::copyFile(source, dest, true, 3, 100);
    vhDebug() << "copy to " << dest << (copied ? "done" : "failed");
    if (copied)
        m_written << dest;
    return copied;
}

bool VHFitDevice::flushWritten(const QString &root)
{
    if (VHVolumeSync::flush(m_written, root))
        return true;
    setErrorCode(CopyFailed);
    return false;
}

// ---- the actions ----------------------------------------------------------------

bool VHFitDevice::_updateTotal(const QString &archive, const QString &)
{
    setErrorCode(NoError);
    m_written.clear();
    const QString work = prepareWorkFolder();
    if (work.isEmpty())
        return false;
    const QString root = rootPath();
    if (root.isEmpty()) {
        setErrorCode(NoVolume);
        return false;
    }
    if (!unpackPackage(archive, work)) {
        vhCritical() << "unzip file to temporary directory failed";
        return false;
    }
    const QString releaseIni = work + QLatin1Char('/') + kReleaseIni;
    if (!QFileInfo::exists(releaseIni)) {
        vhCritical() << ("\"" + releaseIni + "\"") << "not exist";
        return false;
    }
    const QList<ImageInfo> images = readImageInfo(releaseIni);
    for (const ImageInfo &image : images) {
        if (!VHUtility::isSafePathComponent(image.name)) {
            vhCritical() << "image name can not name a file: " << ("\"" + image.name + "\"");
            setErrorCode(CopyFailed);
            return false;
        }
    }
    if (!isStorageSpaceEnough(work, images)) {
        setErrorCode(UnpackOrSpace);
        return false;
    }
    bool copiedAny = false;
    for (const ImageInfo &image : images) {
        if (!isNewVersion(image))
            continue;
        vhDebug() << QStringLiteral("write %1, version=%2").arg(image.name, image.version);
        if (!copyBinFile(work, image.name, QString())) {
            setErrorCode(CopyFailed);
            return false;
        }
        copiedAny = true;
    }
    if (copiedAny) {
        vhDebug() << "write update.ini";
        const QString instruction = volumePath(QStringLiteral("update.ini"));
        if (!writeWhole(instruction, QByteArray())) {
            vhCritical() << "can not write " << instruction;
            setErrorCode(CopyFailed);
            return false;
        }
        m_written << instruction;
    }
    return flushWritten(root);
}

bool VHFitDevice::_updateComponent(const QString &, const QString &mode, const QString &, const QString &archive)
{
    setErrorCode(NoError);
    m_written.clear();
    const QString root = rootPath();
    if (root.isEmpty()) {
        setErrorCode(NoVolume);
        vhCritical() << "can not get mounted drive";
        return false;
    }
    if (mode != QLatin1String("1")) {
        // Only a look at the package: its directory tells whether it carries
        // workouts, without unpacking every image.
        QList<QByteArray> names;
        if (!VHZipDirectory::readRawNames(archive, names)) {
            setErrorCode(UnpackOrSpace);
            vhCritical() << "unzip file to temporary directory failed";
            return false;
        }
        if (!names.contains(kWorkoutZip.toUtf8())) {
            setErrorCode(NoWorkouts);
            vhCritical() << ("\"" + archive + "/" + kWorkoutZip + "\"") << "not exist";
            return false;
        }
        return true;
    }

    const QString work = prepareWorkFolder();
    if (work.isEmpty()) {
        setErrorCode(UnpackOrSpace);
        return false;
    }
    if (!unpackPackage(archive, work)) {
        setErrorCode(UnpackOrSpace);
        vhCritical() << "unzip file to temporary directory failed";
        return false;
    }
    const QString workouts = work + QLatin1Char('/') + kWorkoutZip;
    if (!QFileInfo::exists(workouts)) {
        setErrorCode(NoWorkouts);
        vhCritical() << ("\"" + workouts + "\"") << "not exist";
        return false;
    }
    const QString system = volumePath(QStringLiteral("System"));
    if (!VHZipUtil().decompress(workouts, system)) {
        setErrorCode(CopyFailed);
        vhCritical() << "unzip workout.zip to device failed";
        return false;
    }
    // Read every installed workout back, so a bad write shows now and not on the device.
    for (const QString &folder : {QStringLiteral("Velorawrk"), QStringLiteral("Test")}) {
        QDirIterator it(VHFileOps::existingSpelling(system + QLatin1Char('/') + folder), QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            if (!file.open(QIODevice::ReadWrite) || (file.readAll().size() != file.size())) {
                setErrorCode(CopyFailed);
                vhCritical() << "can not read back " << path;
                return false;
            }
            m_written << path;
        }
    }
    return flushWritten(root);
}

bool VHFitDevice::_updateAlp(const QString &fileName, int timeStamp)
{
    setErrorCode(NoError);
    m_written.clear();
    QString model;
    getModelName(model);
    const QString root = rootPath();
    if (root.isEmpty() || !VHUtility::isSafePathComponent(model) || !VHUtility::isSafePathComponent(fileName)) {
        setErrorCode(NoVolume);
        return false;
    }
    const QString source = VHEnv::instance()->dataFolder() + QStringLiteral("/updates/") + model;
    VHUtility::removeFile(volumePath(QStringLiteral("System/") + fileName));
    VHUtility::removeFile(volumePath(QStringLiteral("System/date.txt")));
    vhDebug() << QStringLiteral("copy file=%1 from sourceDir=%2").arg(fileName, source);
    if (!copyBinFile(source, fileName, QStringLiteral("System")))
        return false;
    vhDebug() << "write date.txt";
    const QString stampFile = volumePath(QStringLiteral("System/date.txt"));
    if (!writeWhole(stampFile, stampBytes(timeStamp))) {
        vhCritical() << "can not write " << stampFile;
        setErrorCode(CopyFailed);
        return false;
    }
    m_written << stampFile;
    m_alpStamp = timeStamp;
    return flushWritten(root);
}

int VHFitDevice::getAlpDate()
{
    if (m_alpStamp != 0)
        return m_alpStamp;
    if (rootPath().isEmpty() || !QFileInfo::exists(volumePath(QStringLiteral("System/") + kAssistFile)))
        return 0;
    QFile stamp(volumePath(QStringLiteral("System/date.txt")));
    if (stamp.size() != 4 || !stamp.open(QIODevice::ReadOnly))
        return 0;
    QDataStream stream(&stamp);
    qint32 value = 0;
    stream >> value;
    m_alpStamp = value;
    return value;
}
