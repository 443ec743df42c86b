#include "VHDevSim.h"

#include "VHDeviceDbBuilder.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLayout.h"
#include "VHPSFStoreBuilder.h"

#include "VHSimLayout.h"
#include "VHUtility.h"
#include "corvo_builder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>

namespace {

const QString kVolumeSlot = QStringLiteral("volume");
const QString kSecondarySlot = QStringLiteral("volume2");
const QString kMapSlot = QStringLiteral("volume3");
const QByteArray kImageMagic = "VELORA-SIM-IMAGE";
constexpr qint64 kSectorSize = 4096;

// The entry of `folder` named `name` in any spelling, as a FAT volume finds it.
QString existingEntry(const QString &folder, const QString &name)
{
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return folder + QLatin1Char('/') + entry;
    }
    return {};
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

// Records an installed image in the identity file and in the list of changes.
void recordVersion(const QString &identityPath, const QString &kind, const QString &version, QStringList &changes)
{
    QSettings(identityPath, QSettings::IniFormat).setValue(kind + QStringLiteral("/Version"), version);
    changes.append(kind + QLatin1Char('=') + version);
}

QByteArray readStart(const QString &path, qint64 length)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(length) : QByteArray();
}

bool fillFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray chunk(qMin<qint64>(qMax<qint64>(size, 1), 1 << 16), char(0xFF));
    for (qint64 done = 0; done < size;) {
        const qint64 n = qMin<qint64>(chunk.size(), size - done);
        if (file.write(chunk.constData(), n) != n)
            return false;
        done += n;
    }
    return file.flush();
}

void setIni(QSettings &ini, const QString &key, const QString &value)
{
    if (!value.isNull())
        ini.setValue(key, value);
}

QString flashFileName(VHDevSim::Flash which)
{
    switch (which) {
    case VHDevSim::Flash::Internal:
        return VHSimLayout::kInternalFlash;
    case VHDevSim::Flash::External:
        return VHSimLayout::kExternalFlash;
    case VHDevSim::Flash::Loader:
        break;
    }
    return VHSimLayout::kLoaderFlash;
}

} // namespace

VHDevSim::VHDevSim(const QString &root) : m_root(QDir::cleanPath(QDir(root).absolutePath()))
{
    for (const QString &folder : {VHSimLayout::kScsiFolder, VHSimLayout::kDevicesFolder, VHSimLayout::kStagingFolder})
        QDir().mkpath(m_root + QLatin1Char('/') + folder);
}

bool VHDevSim::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool VHDevSim::validName(const QString &name)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9 _+-]*$"));
    if (!allowed.match(name).hasMatch() || name.endsWith(QLatin1String("_2")))
        return fail(QStringLiteral("invalid device name: ") + name);
    return true;
}

QString VHDevSim::deviceFolder(const QString &name) const { return VHSimLayout::deviceFolder(m_root, name); }

QStringList VHDevSim::devices() const
{
    return QDir(m_root + QLatin1Char('/') + VHSimLayout::kDevicesFolder)
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QString VHDevSim::recordValue(const QString &name, const QString &key, const QString &fallback) const
{
    return VHSimLayout::readSmallIni(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kDeviceRecord)
        .value(key, fallback);
}

void VHDevSim::setRecordValue(const QString &name, const QString &key, const QString &value)
{
    QSettings ini(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kDeviceRecord, QSettings::IniFormat);
    ini.setValue(key, value);
}

QString VHDevSim::kind(const QString &name) const { return recordValue(name, QStringLiteral("Device/kind")); }

QString VHDevSim::stagingFolder()
{
    const QString folder =
        m_root + QLatin1Char('/') + VHSimLayout::kStagingFolder
        + QStringLiteral("/new-%1").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    return QDir().mkpath(folder) ? folder : QString();
}

bool VHDevSim::validNewName(const QString &name)
{
    return validName(name)
           && (!QFileInfo::exists(deviceFolder(name)) || fail(QStringLiteral("device exists: ") + name));
}

bool VHDevSim::commit(const QString &staging, const QString &name, const QString &kind)
{
    QSettings(staging + QLatin1Char('/') + VHSimLayout::kDeviceRecord, QSettings::IniFormat)
        .setValue(QStringLiteral("Device/kind"), kind);
    // One rename: the device folder is complete or absent.
    if (!QDir().rename(staging, deviceFolder(name))) {
        QDir(staging).removeRecursively();
        return fail(QStringLiteral("cannot create device folder for ") + name);
    }
    return true;
}

bool VHDevSim::writeDriveInfo(const QString &volume, const QString &name, const QString &slot,
                              const DriveOptions &drive, const QString &model)
{
    QSettings info(volume + QLatin1Char('/') + VHSimLayout::kDriveInfo, QSettings::IniFormat);
    info.setValue(QStringLiteral("vendor"), drive.vendor);
    info.setValue(QStringLiteral("model"), drive.model.isEmpty() ? model : drive.model);
    info.setValue(QStringLiteral("device"), name);
    info.setValue(QStringLiteral("slot"), slot);
    if (drive.totalBytes >= 0)
        info.setValue(QStringLiteral("totalBytes"), drive.totalBytes);
    if (drive.freeBytes >= 0)
        info.setValue(QStringLiteral("freeBytes"), drive.freeBytes);
    info.sync();
    return info.status() == QSettings::NoError;
}

bool VHDevSim::writeFlashFiles(const QString &folder, const ScsiIdentity &identity)
{
    VHSimScsiDevice::writeIdentity(folder, identity);
    return fillFile(folder + QLatin1Char('/') + VHSimLayout::kInternalFlash, identity.internalSize)
           && fillFile(folder + QLatin1Char('/') + VHSimLayout::kExternalFlash, identity.externalSize)
           && fillFile(folder + QLatin1Char('/') + VHSimLayout::kLoaderFlash, identity.loaderSize)
           && writeFile(folder + QLatin1Char('/') + VHSimLayout::kCommandLog, {});
}

bool VHDevSim::createFit(const QString &name, const FitIdentity &identity, const DriveOptions &drive)
{
    if (!validNewName(name))
        return false;
    const QString staging = stagingFolder();
    const QString volume = staging + QLatin1Char('/') + kVolumeSlot;
    if (staging.isEmpty() || !QDir().mkpath(volume + QStringLiteral("/System")))
        return fail(QStringLiteral("cannot create ") + volume);
    {
        QSettings ini(volume + QStringLiteral("/System/device.txt"), QSettings::IniFormat);
        setIni(ini, QStringLiteral("UUID/UUID"), identity.uuid);
        setIni(ini, QStringLiteral("MODEL/Model"), identity.model);
        setIni(ini, QStringLiteral("OS/Version"), identity.os);
        setIni(ini, QStringLiteral("BootLoader/Version"), identity.bootLoader);
        setIni(ini, QStringLiteral("DeviceLang/Version"), identity.deviceLang);
        setIni(ini, QStringLiteral("NotificationLang/Version"), identity.notificationLang);
        setIni(ini, QStringLiteral("TimeZone/Version"), identity.timeZone);
        setIni(ini, QStringLiteral("Bluetooth/Version"), identity.bluetooth);
        setIni(ini, QStringLiteral("CAP/COM"), identity.capability);
        setIni(ini, QStringLiteral("Product/Type"), identity.productType);
    }
    if (!writeDriveInfo(volume, name, kVolumeSlot, drive, identity.model))
        return fail(QStringLiteral("cannot write drive information"));
    return commit(staging, name, QStringLiteral("fit"));
}

namespace {
void writeGalIni(const QString &path, const VHDevSim::GalIdentity &identity)
{
    QSettings ini(path, QSettings::IniFormat);
    setIni(ini, QStringLiteral("UUID/UUID"), identity.uuid);
    setIni(ini, QStringLiteral("MODEL/Model"), identity.model);
    setIni(ini, QStringLiteral("OS/Version"), identity.os);
    setIni(ini, QStringLiteral("VH/Version"), identity.companion);
    setIni(ini, QStringLiteral("BootLoader/Version"), identity.bootLoader);
    ini.setValue(QStringLiteral("IMG/UpdateMethod"), identity.updateMethod);
    setIni(ini, QStringLiteral("IMG/LangVersion"), identity.langVersion);
    setIni(ini, QStringLiteral("CAP/COM"), identity.capability);
    setIni(ini, QStringLiteral("LaunchSec/Version"), identity.launchSec);
    setIni(ini, QStringLiteral("IAP/NAME"), identity.iapName);
}
QByteArray toByteArray(const corvotest::Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

corvotest::Bytes textBytes(const QString &text, size_t size)
{
    const QByteArray latin = text.toLatin1().left(qsizetype(size) - 1);
    corvotest::Bytes bytes(size, 0);
    std::copy(latin.begin(), latin.end(), bytes.begin());
    return bytes;
}

// The profile the device keeps: a few user values and its language.
corvotest::ProfileBuilder galProfile(const VHDevSim::GalIdentity &identity)
{
    corvotest::ProfileBuilder profile(identity.profileProject.toStdString(), identity.profileMajor, 16);
    profile.value("UP-weight", 4, 3, corvotest::ByteBuilder().u16(70).bytes())
        .value("UP-maxHR", 6, 1, {190})
        .value("MHR-BV", 7, 1, {190})
        .value("Sys-langCode", 8, 14, textBytes(identity.lang, 4), "4");
    return profile;
}

} // namespace

QByteArray VHDevSim::makeFont(const QString &code, quint32 version, int size)
{
    corvotest::ByteBuilder font;
    font.u32(version).text(code.toLatin1().leftJustified(3, ' ', true).toStdString());
    font.raw(corvotest::pattern(size_t(qMax(size - 7, 0)), uint8_t(version)));
    return toByteArray(font.bytes());
}

QString VHDevSim::fontFileName(const QString &code) { return QStringLiteral("Font_%1_01.bft").arg(code); }

bool VHDevSim::writeGalFiles(const QString &volume, const GalIdentity &identity)
{
    const corvotest::ProfileBuilder profile = galProfile(identity);
    if (!writeFile(volume + QStringLiteral("/ProfileMap.txt"), QByteArray::fromStdString(profile.map()))
        || !writeFile(volume + QStringLiteral("/Profile.bin"), toByteArray(profile.image()))
        || !QDir().mkpath(volume + QStringLiteral("/Lang")))
        return false;
    QStringList codes{QStringLiteral("eng")};
    if (VHUtility::isLanguageCode(identity.lang) && !codes.contains(identity.lang))
        codes.append(identity.lang);
    for (const QString &code : std::as_const(codes)) {
        if (!writeFile(volume + QStringLiteral("/Lang/") + fontFileName(code), makeFont(code, identity.fontVersion)))
            return false;
    }
    return true;
}

bool VHDevSim::createGal(const QString &name, const GalIdentity &identity, const DriveOptions &drive, ScsiIdentity iap)
{
    if (!validNewName(name))
        return false;
    const QString staging = stagingFolder();
    const QString volume = staging + QLatin1Char('/') + kVolumeSlot;
    if (staging.isEmpty() || !QDir().mkpath(volume))
        return fail(QStringLiteral("cannot create ") + volume);
    writeGalIni(volume + QStringLiteral("/device.ini"), identity);
    if (!writeGalFiles(volume, identity))
        return fail(QStringLiteral("cannot write the profile and fonts"));
    // The IAP form answers with the same UUID and announces the IAP name.
    if (iap.uuid.isEmpty())
        iap.uuid = identity.uuid.toLatin1();
    if (iap.identification.isEmpty())
        iap.identification = identity.iapName.toLatin1();
    if (iap.product.isEmpty())
        iap.product = identity.model.toLatin1();
    if (!writeFlashFiles(staging, iap))
        return fail(QStringLiteral("cannot create flash files"));
    QSettings(staging + QLatin1Char('/') + VHSimLayout::kDeviceRecord, QSettings::IniFormat)
        .setValue(QStringLiteral("Device/mode"), kVolumeSlot);
    if (!writeDriveInfo(volume, name, kVolumeSlot, drive, identity.model))
        return fail(QStringLiteral("cannot write drive information"));
    return commit(staging, name, QStringLiteral("gal"));
}

bool VHDevSim::createFileSystem(const QString &name, const GalIdentity &identity, const DriveOptions &drive)
{
    if (!validNewName(name))
        return false;
    const QString staging = stagingFolder();
    const QString volume = staging + QLatin1Char('/') + kVolumeSlot;
    if (staging.isEmpty() || !QDir().mkpath(volume))
        return fail(QStringLiteral("cannot create ") + volume);
    writeGalIni(volume + QStringLiteral("/device.ini"), identity);
    if (!writeDriveInfo(volume, name, kVolumeSlot, drive, identity.model))
        return fail(QStringLiteral("cannot write drive information"));
    if (drive.secondary) {
        const QString second = staging + QLatin1Char('/') + kSecondarySlot;
        if (!QDir().mkpath(second) || !writeDriveInfo(second, name, kSecondarySlot, drive, identity.model))
            return fail(QStringLiteral("cannot create the secondary volume"));
    }
    return commit(staging, name, QStringLiteral("fs"));
}

bool VHDevSim::writePacer50Tree(const QString &volume, const VHSimPacer50Options &options)
{
    const QString apps = volume + QStringLiteral("/nimbra/applications/");
    QList<QPair<QString, QByteArray>> files = {
        {QStringLiteral("/nimbra/version.ini"), "version=" + options.apVersion.toUtf8() + "\r\n"},
        {QStringLiteral("/nimbra/applications/protrainingapp/user_settings.xml"), "<settings app=\"protraining\"/>"},
        {QStringLiteral("/nimbra/applications/training/user_settings.xml"), "<settings app=\"training\"/>"},
        {QStringLiteral("/nimbra/applications/core/user_settings.xml"),
         "<settings><unit_system>Metric</unit_system></settings>"},
        {QStringLiteral("/nimbra/applications/core/default_settings.xml"),
         "<settings><unit_system>Metric</unit_system><User_Name>Rider</User_Name></settings>"},
        {QStringLiteral("/nimbra/applications/cycling/data/version.ini"), "version=1.0.0.0\r\n"},
    };
    for (const auto &[path, bytes] : files) {
        QDir().mkpath(QFileInfo(volume + path).absolutePath());
        QFile file(volume + path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return false;
    }
    const QString share = apps + QStringLiteral("cycling");
    return options.gh2 ? VHDeviceDbBuilder::writeRouteScript(share) : VHDeviceDbBuilder::writeDatabases(share);
}

bool VHDevSim::createPacer50(const QString &name, const VHSimPacer50Options &options, const DriveOptions &drive)
{
    static const QHash<QString, QPair<QString, QString>> kRows = {
        {QStringLiteral("pacer50"), {QStringLiteral("0901"), QStringLiteral("Pacer50")}},
        {QStringLiteral("pacer50cr"), {QStringLiteral("1104"), QStringLiteral("Pacer50CR")}},
        {QStringLiteral("pacer60"), {QStringLiteral("3001"), QStringLiteral("Pacer60")}}};
    if (!kRows.contains(options.kind))
        return fail(QStringLiteral("unknown Pacer50 kind: ") + options.kind);
    if (!validNewName(name))
        return false;
    GalIdentity identity;
    identity.uuid = options.uuid.isEmpty() ? kRows[options.kind].first + QStringLiteral("A1B2C3D4E5F6") : options.uuid;
    identity.model = kRows[options.kind].second;
    identity.os = options.os;
    identity.launchSec = options.launchSec;
    const QString staging = stagingFolder();
    const QString volume = staging + QLatin1Char('/') + kVolumeSlot;
    if (staging.isEmpty() || !QDir().mkpath(volume))
        return fail(QStringLiteral("cannot create ") + volume);
    writeGalIni(volume + QStringLiteral("/device.ini"), identity);
    if (!writePacer50Tree(volume, options) || !writeDriveInfo(volume, name, kVolumeSlot, drive, identity.model))
        return fail(QStringLiteral("cannot write the volume of ") + name);
    if (options.secondary) {
        const QString second = staging + QLatin1Char('/') + kSecondarySlot;
        if (!QDir().mkpath(second + QStringLiteral("/data"))
            || !writeDriveInfo(second, name, kSecondarySlot, drive, identity.model))
            return fail(QStringLiteral("cannot create the secondary volume"));
    }
    if (options.mapVolume) {
        const QString map = staging + QLatin1Char('/') + kMapSlot;
        QFile temp(map + QStringLiteral("/data/mapsinfo/temp.xml"));
        if (!QDir().mkpath(map + QStringLiteral("/data/mapengine"))
            || !QDir().mkpath(map + QStringLiteral("/data/mapsinfo")) || !temp.open(QIODevice::WriteOnly)
            || temp.write("<maps/>") != 7 || !writeDriveInfo(map, name, kMapSlot, drive, identity.model))
            return fail(QStringLiteral("cannot create the map volume"));
        QSettings(map + QLatin1Char('/') + VHSimLayout::kDriveInfo, QSettings::IniFormat)
            .setValue(QStringLiteral("label"), QStringLiteral("pacer60map"));
    }
    return commit(staging, name, QStringLiteral("pacer50"));
}

bool VHDevSim::createScsi(const QString &name, const ScsiIdentity &identity)
{
    if (!validNewName(name))
        return false;
    const QString staging = stagingFolder();
    if (staging.isEmpty() || !writeFlashFiles(staging, identity))
        return fail(QStringLiteral("cannot create flash files"));
    return commit(staging, name, QStringLiteral("scsi"));
}

QByteArray VHDevSim::pacer40LanguageArea(const QByteArray &version, const QStringList &codes)
{
    QList<QByteArray> fonts;
    for (const QString &code : codes)
        fonts.append(makeFont(code, 1, 256));
    const QByteArray base = makeImage(QStringLiteral("OS"), QString::fromLatin1(version), QByteArray(1000, 'B'));
    QByteArray area;
    if (!VHPSFLanguageImage::build(base, fonts, area))
        return {};
    return area;
}

bool VHDevSim::createPacer40(const QString &name, const VHSimPacer40Options &options)
{
    ScsiIdentity identity;
    identity.product = "Pacer40";
    identity.productTag = options.productTag;
    identity.iapTag = options.iapTag;
    identity.identification = "LINDEN";
    identity.uuid = options.uuid;
    identity.internalSize = 0x100000;
    identity.externalSize = VHPSFLayout::kFlashSize;
    VHPSFStoreBuilder::Options store;
    store.layout = options.layoutB ? VHPSFStoreBuilder::Layout::B : VHPSFStoreBuilder::Layout::A;
    QByteArray internal = pacer40LanguageArea(options.productTag, {QStringLiteral("eng"), QStringLiteral("deu")});
    internal.append(QByteArray(identity.internalSize - internal.size(), char(0xFF)));
    return createScsi(name, identity) && setFlash(name, Flash::External, VHPSFStoreBuilder::image(store))
           && setFlash(name, Flash::Internal, internal);
}

bool VHDevSim::remove(const QString &name)
{
    if (!validName(name) || !QFileInfo(deviceFolder(name)).isDir())
        return fail(QStringLiteral("no such device: ") + name);
    unplug(name);
    return QDir(deviceFolder(name)).removeRecursively() || fail(QStringLiteral("cannot remove ") + name);
}

bool VHDevSim::usesScsiNow(const QString &name) const
{
    const QString deviceKind = kind(name);
    return deviceKind == QLatin1String("scsi")
           || (deviceKind == QLatin1String("gal")
               && recordValue(name, QStringLiteral("Device/mode")) == QLatin1String("iap"));
}

bool VHDevSim::isPlugged(const QString &name) const
{
    return QFileInfo(VHSimLayout::scsiLinkPath(m_root, name)).isSymLink() || QFileInfo(drivePath(name)).isDir();
}

bool VHDevSim::plugVolume(const QString &name, const QString &slot, const QString &drive)
{
    const QString volume = deviceFolder(name) + QLatin1Char('/') + slot;
    if (!QFileInfo(volume).isDir())
        return true;
    if (QFileInfo::exists(drive))
        return fail(QStringLiteral("drive folder is taken: ") + drive);
    {
        // A new plug id: moving the same folder out and in again reads as a new device.
        QSettings info(volume + QLatin1Char('/') + VHSimLayout::kDriveInfo, QSettings::IniFormat);
        info.setValue(QStringLiteral("plugId"),
                      QStringLiteral("%1-%2")
                          .arg(QDateTime::currentMSecsSinceEpoch())
                          .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
    }
    return QDir().rename(volume, drive) || fail(QStringLiteral("cannot plug ") + drive);
}

bool VHDevSim::unplugVolume(const QString &name, const QString &slot, const QString &drive)
{
    if (!QFileInfo(drive).isDir())
        return true;
    const QString volume = deviceFolder(name) + QLatin1Char('/') + slot;
    if (QFileInfo::exists(volume))
        return fail(QStringLiteral("volume slot is taken: ") + volume);
    return QDir().rename(drive, volume) || fail(QStringLiteral("cannot unplug ") + drive);
}

bool VHDevSim::plug(const QString &name)
{
    if (!validName(name) || !QFileInfo(deviceFolder(name)).isDir())
        return fail(QStringLiteral("no such device: ") + name);
    forgetEject(name);
    if (usesScsiNow(name)) {
        const QString link = VHSimLayout::scsiLinkPath(m_root, name);
        if (QFileInfo(link).isSymLink())
            return true;
        return QFile::link(QStringLiteral("../") + VHSimLayout::kDevicesFolder + QLatin1Char('/') + name, link)
               || fail(QStringLiteral("cannot plug ") + name);
    }
    // The secondary volume first: when the primary appears, the device is whole.
    return plugVolume(name, kSecondarySlot, secondaryDrivePath(name)) && plugVolume(name, kMapSlot, mapDrivePath(name))
           && plugVolume(name, kVolumeSlot, drivePath(name));
}

bool VHDevSim::unplug(const QString &name)
{
    if (!validName(name) || !QFileInfo(deviceFolder(name)).isDir())
        return fail(QStringLiteral("no such device: ") + name);
    const QString link = VHSimLayout::scsiLinkPath(m_root, name);
    if (QFileInfo(link).isSymLink() && !QFile::remove(link))
        return fail(QStringLiteral("cannot unplug ") + name);
    return unplugVolume(name, kVolumeSlot, drivePath(name))
           && unplugVolume(name, kSecondarySlot, secondaryDrivePath(name))
           && unplugVolume(name, kMapSlot, mapDrivePath(name));
}

QString VHDevSim::volumePath(const QString &name) const
{
    if (QFileInfo(drivePath(name)).isDir())
        return drivePath(name);
    const QString volume = deviceFolder(name) + QLatin1Char('/') + kVolumeSlot;
    return QFileInfo(volume).isDir() ? volume : QString();
}

QString VHDevSim::identityFile(const QString &name) const
{
    const QString volume = volumePath(name);
    if (volume.isEmpty())
        return {};
    if (kind(name) == QLatin1String("fit")) {
        const QString system = existingEntry(volume, QStringLiteral("System"));
        const QString file = system.isEmpty() ? QString() : existingEntry(system, QStringLiteral("device.txt"));
        return file.isEmpty() ? volume + QStringLiteral("/System/device.txt") : file;
    }
    const QString file = existingEntry(volume, QStringLiteral("device.ini"));
    return file.isEmpty() ? volume + QStringLiteral("/device.ini") : file;
}

QByteArray VHDevSim::makeImage(const QString &kind, const QString &version, const QByteArray &payload)
{
    return kImageMagic + " Kind=" + kind.toUtf8() + " Version=" + version.toUtf8() + '\n' + payload;
}

bool VHDevSim::readImageHeader(const QByteArray &start, QString &kind, QString &version)
{
    if (!start.startsWith(kImageMagic + ' '))
        return false;
    const qsizetype end = start.indexOf('\n');
    if (end < 0 || end > 512)
        return false;
    kind.clear();
    version.clear();
    for (const QByteArray &token : start.left(end).split(' ')) {
        if (token.startsWith("Kind="))
            kind = QString::fromUtf8(token.mid(5));
        else if (token.startsWith("Version="))
            version = QString::fromUtf8(token.mid(8));
    }
    // The kind becomes an INI group name.
    static const QRegularExpression group(QStringLiteral("^[A-Za-z0-9_]+$"));
    return group.match(kind).hasMatch() && !version.isEmpty();
}

bool VHDevSim::installImage(const QString &imagePath, const QString &identityPath, QStringList &changes)
{
    QString imageKind, version;
    if (!readImageHeader(readStart(imagePath, 600), imageKind, version))
        return false;
    recordVersion(identityPath, imageKind, version, changes);
    QFile::remove(imagePath);
    return true;
}

bool VHDevSim::bootFit(const QString &name, QStringList &changes)
{
    const QString volume = volumePath(name);
    const QString instruction = existingEntry(volume, QStringLiteral("update.ini"));
    if (instruction.isEmpty())
        return true;
    const QString identity = identityFile(name);
    const QFileInfoList files = QDir(volume).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &file : files) {
        if (file.absoluteFilePath() != instruction)
            installImage(file.absoluteFilePath(), identity, changes);
    }
    return QFile::remove(instruction) || fail(QStringLiteral("cannot remove ") + instruction);
}

void VHDevSim::installFromFlash(const QString &name, QStringList &changes)
{
    const QByteArray image = flash(name, Flash::External);
    const QString identity = identityFile(name);
    for (qint64 offset = 0; offset + qint64(kImageMagic.size()) <= image.size(); offset += kSectorSize) {
        if (!image.mid(offset, kImageMagic.size()).startsWith(kImageMagic))
            continue;
        QString imageKind, version;
        if (readImageHeader(image.mid(offset, 600), imageKind, version))
            recordVersion(identity, imageKind, version, changes);
    }
}

bool VHDevSim::bootGal(const QString &name, QStringList &changes)
{
    const QString statePath = deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kDeviceState;
    if (usesScsiNow(name)) {
        // Back to the volume only after the updater said the flash is complete.
        QSettings state(statePath, QSettings::IniFormat);
        if (state.value(QStringLiteral("State/iapNotified")).toInt() != 1)
            return true;
        state.remove(QStringLiteral("State/iapNotified"));
        state.sync();
        installFromFlash(name, changes);
        setRecordValue(name, QStringLiteral("Device/mode"), kVolumeSlot);
        return true;
    }
    const QString volume = volumePath(name);
    const QString instruction = existingEntry(volume, QStringLiteral("update.ini"));
    if (instruction.isEmpty())
        return true;
    const QString identity = identityFile(name);
    const int method = QSettings(identity, QSettings::IniFormat).value(QStringLiteral("IMG/UpdateMethod"), 1).toInt();
    QFile::remove(instruction);
    if (method == 2) {
        QSettings(statePath, QSettings::IniFormat).remove(QStringLiteral("State/iapNotified"));
        setRecordValue(name, QStringLiteral("Device/mode"), QStringLiteral("iap"));
        return true;
    }
    for (const QString &file : {QStringLiteral("IMG.bin"), QStringLiteral("iap.bin")}) {
        const QString path = existingEntry(volume, file);
        if (!path.isEmpty() && !installImage(path, identity, changes))
            QFile::remove(path);
    }
    const QString profile = existingEntry(volume, QStringLiteral("syncprofile.ini"));
    if (!profile.isEmpty())
        QFile::remove(profile);
    return true;
}

bool VHDevSim::bootFileSystem(const QString &name, QStringList &changes)
{
    const QString volume = volumePath(name);
    const QString instruction = existingEntry(volume, QStringLiteral("Update.ini"));
    if (instruction.isEmpty())
        return true;
    const QHash<QString, QString> update = VHSimLayout::readSmallIni(instruction);
    const QString named = update.value(QStringLiteral("Total/Name"));
    const QString prefix = QStringLiteral("/My Disk/");
    if (named.startsWith(prefix) && !named.contains(QLatin1String(".."))) {
        const QString image = volume + QLatin1Char('/') + named.mid(prefix.size());
        installImage(image, identityFile(name), changes);
        const QString folder = QFileInfo(image).absolutePath();
        if (folder != QDir::cleanPath(volume))
            QDir(folder).removeRecursively();
    }
    return QFile::remove(instruction) || fail(QStringLiteral("cannot remove ") + instruction);
}

bool VHDevSim::bootPacer50(const QString &name, QStringList &changes)
{
    const QString volume = volumePath(name);
    const QString format = existingEntry(volume, QStringLiteral("format.ini"));
    if (!format.isEmpty()) {
        // The volume is formatted; the device writes its identity anew.
        const QString identity = identityFile(name);
        const QStringList keep = {QFileInfo(identity).fileName(), VHSimLayout::kDriveInfo};
        const QFileInfoList entries =
            QDir(volume).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries) {
            if (keep.contains(entry.fileName()))
                continue;
            if (entry.isDir() && !entry.isSymLink() ? !QDir(entry.absoluteFilePath()).removeRecursively()
                                                    : !QFile::remove(entry.absoluteFilePath()))
                return fail(QStringLiteral("cannot format ") + entry.absoluteFilePath());
        }
        changes.append(QStringLiteral("formatted"));
    }
    const QString instruction = existingEntry(volume, QStringLiteral("Update.ini"));
    if (instruction.isEmpty())
        return true;
    const QString checksums = VHSimLayout::readSmallIni(instruction).value(QStringLiteral("Total/CRC"));
    const QString prefix = QStringLiteral("/My Disk/");
    const bool complete = checksums.startsWith(prefix) && !checksums.contains(QLatin1String(".."))
                          && QFileInfo(volume + QLatin1Char('/') + checksums.mid(prefix.size())).isFile();
    if (complete)
        return bootFileSystem(name, changes);
    return QFile::remove(instruction) || fail(QStringLiteral("cannot remove ") + instruction);
}

void VHDevSim::bootScsi(const QString &name)
{
    QSettings state(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kDeviceState, QSettings::IniFormat);
    state.setValue(QStringLiteral("State/mode"), QStringLiteral("normal"));
    // The program in internal flash tells the version the device reports.
    QString kind, version;
    ScsiIdentity identity = VHSimScsiDevice::readIdentity(deviceFolder(name));
    const ScsiIdentity before = identity;
    if (readImageHeader(flash(name, Flash::Internal).left(256), kind, version))
        identity.productTag = version.toLatin1().left(4);
    // So does the loader in its own flash.
    if (readImageHeader(flash(name, Flash::Loader).left(256), kind, version))
        identity.iapTag = version.toLatin1().left(4);
    if (identity.productTag != before.productTag || identity.iapTag != before.iapTag)
        VHSimScsiDevice::writeIdentity(deviceFolder(name), identity);
}

bool VHDevSim::boot(const QString &name, QStringList *changes)
{
    if (!validName(name) || !QFileInfo(deviceFolder(name)).isDir())
        return fail(QStringLiteral("no such device: ") + name);
    if (isPlugged(name))
        return fail(QStringLiteral("unplug the device before starting it: ") + name);
    QStringList installed;
    const QString deviceKind = kind(name);
    bool ok = true;
    if (deviceKind == QLatin1String("fit"))
        ok = bootFit(name, installed);
    else if (deviceKind == QLatin1String("gal"))
        ok = bootGal(name, installed);
    else if (deviceKind == QLatin1String("fs"))
        ok = bootFileSystem(name, installed);
    else if (deviceKind == QLatin1String("pacer50"))
        ok = bootPacer50(name, installed);
    else
        bootScsi(name);
    if (changes)
        *changes = installed;
    return ok;
}

bool VHDevSim::restart(const QString &name, int pauseMs, QStringList *changes)
{
    if (!unplug(name))
        return false;
    if (pauseMs > 0)
        QThread::msleep(ulong(pauseMs));
    return boot(name, changes) && plug(name);
}

void VHDevSim::forgetEject(const QString &name)
{
    QFile::remove(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kEjectMarker);
}

VHDevSim::SelfStart VHDevSim::selfStart(const QString &name) const
{
    if (kind(name) != QLatin1String("gal"))
        return SelfStart::None;
    const QString marker = deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kEjectMarker;
    if (QFileInfo::exists(marker) && !isPlugged(name)) {
        const bool powered = VHSimLayout::readSmallIni(marker).value(QStringLiteral("power")) == QLatin1String("keep");
        const QString volume = deviceFolder(name) + QLatin1Char('/') + kVolumeSlot;
        const bool instructed = !existingEntry(volume, QStringLiteral("update.ini")).isEmpty();
        return powered && instructed ? SelfStart::AfterEject : SelfStart::StaysAway;
    }
    if (usesScsiNow(name) && isPlugged(name)) {
        const QHash<QString, QString> state =
            VHSimLayout::readSmallIni(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kDeviceState);
        if (state.value(QStringLiteral("State/iapNotified")) == QLatin1String("1"))
            return SelfStart::AfterNotification;
    }
    return SelfStart::None;
}

QStringList VHDevSim::commandLog(const QString &name) const
{
    QFile file(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kCommandLog);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void VHDevSim::clearCommandLog(const QString &name)
{
    QFile file(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kCommandLog);
    // Truncated in place: a service keeps appending to the same file.
    if (file.open(QIODevice::ReadWrite))
        file.resize(0);
}

VHSimFaults VHDevSim::faults(const QString &name) const
{
    return VHSimFaults::read(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kDeviceRecord);
}

bool VHDevSim::setFaults(const QString &name, const VHSimFaults &faults)
{
    if (!validName(name) || !QFileInfo(deviceFolder(name)).isDir())
        return fail(QStringLiteral("no such device: ") + name);
    const QString deviceKind = kind(name);
    if (faults.hasScsiRules() && deviceKind != QLatin1String("scsi") && deviceKind != QLatin1String("gal"))
        return fail(QStringLiteral("not a device with SCSI commands: ") + name);
    faults.write(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kDeviceRecord);
    return true;
}

VHSimStorageFaults VHDevSim::dataFolderFaults() const
{
    return VHSimStorageFaults::readDataFolder(m_root + QLatin1Char('/') + VHSimLayout::kDataFolderRules);
}

bool VHDevSim::setDataFolderFaults(const VHSimStorageFaults &faults)
{
    if (!QDir().mkpath(m_root))
        return fail(QStringLiteral("cannot make the simulation root ") + m_root);
    faults.writeDataFolder(m_root + QLatin1Char('/') + VHSimLayout::kDataFolderRules);
    return true;
}

namespace {
QStringList logLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

QStringList VHDevSim::volumeLog(const QString &name) const
{
    return logLines(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kVolumeLog);
}

void VHDevSim::clearVolumeLog(const QString &name)
{
    QFile::remove(deviceFolder(name) + QLatin1Char('/') + VHSimLayout::kVolumeLog);
}

QStringList VHDevSim::dataFolderLog() const
{
    return logLines(m_root + QLatin1Char('/') + VHSimLayout::kDataFolderLog);
}

void VHDevSim::clearDataFolderLog() { QFile::remove(m_root + QLatin1Char('/') + VHSimLayout::kDataFolderLog); }

QByteArray VHDevSim::flash(const QString &name, Flash which) const
{
    QFile file(deviceFolder(name) + QLatin1Char('/') + flashFileName(which));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool VHDevSim::setFlash(const QString &name, Flash which, const QByteArray &bytes)
{
    QFile file(deviceFolder(name) + QLatin1Char('/') + flashFileName(which));
    if (!file.open(QIODevice::ReadWrite) || bytes.size() > file.size())
        return fail(QStringLiteral("flash too small or missing for ") + name);
    return file.write(bytes) == bytes.size() || fail(QStringLiteral("cannot write flash of ") + name);
}
