#include "VHPSFDevice.h"

#include "VHArchiveFiles.h"
#include "VHEnv.h"
#include "VHLanguageMap.h"
#include "VHLanguageUpdate.h"
#include "VHLog.h"
#include "VHPSFContainer_1_5.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePack.h"
#include "VHSCSIDeviceService.h"
#include "VHSafeFolder.h"
#include "VHScsiCommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QWaitCondition>

#include <utility>
#include <vector>

namespace {

QMutex g_hookMutex;
VHPSFDevice::ImagePathHook g_imagePathHook;

} // namespace

void VHPSFDevice::setImagePathHook(ImagePathHook hook)
{
    QMutexLocker lock(&g_hookMutex);
    g_imagePathHook = std::move(hook);
}

VHPSFDevice::ImagePathHook VHPSFDevice::imagePathHook()
{
    QMutexLocker lock(&g_hookMutex);
    return g_imagePathHook;
}

VHPSFDevice::VHPSFDevice() : m_source(*this), m_store(m_source) {}

VHPSFDevice::~VHPSFDevice() = default;

// ---- flash access -------------------------------------------------------

bool VHPSFDevice::FlashSource::readBlocks(int firstBlock, int count, QByteArray &out)
{
    if (m_served) {
        out = m_served->mid(qsizetype(firstBlock) * kExternalBlock, qsizetype(count) * kExternalBlock);
        return out.size() == qsizetype(count) * kExternalBlock;
    }
    // What the store reads is written back by finalize: every read is checked.
    return m_device.readFlashChecked(out, ReadExternal, qint64(count) * kExternalBlock, kExternalBlock, firstBlock);
}

bool VHPSFDevice::FlashSource::readBack(int firstBlock, int count, QByteArray &out)
{
    return m_device.readFlashBlocks(out, ReadExternal, qint64(count) * kExternalBlock, kExternalBlock, firstBlock);
}

bool VHPSFDevice::FlashSource::writeBlocks(int firstBlock, const QByteArray &data)
{
    VHSCSIDeviceService *service = m_device.scsi();
    return service && service->writeFlashBlocks(data, WriteExternal, data.size(), kExternalBlock, firstBlock);
}

bool VHPSFDevice::eraseExtFlash()
{
    VHSCSIDeviceService *service = scsi();
    if (!service || !service->openClient())
        return false;
    const std::uint8_t cdb[10] = {0x2A, 0, 0, 0, 0, 0, EraseExternal, 0, 1, 0};
    const std::vector<std::uint8_t> zeros(VHScsiCommands::kEraseDataLength, 0);
    bool result = service->sendWrite(cdb, 10, zeros.data(), int(zeros.size()));
    if (result)
        result = waitFlash(60000, 10000);
    service->closeClient();
    // What is written next relies on an erased flash: an erase that kept data failed.
    return result && externalFlashErased(VHPSFLayout::kFlashSize);
}

bool VHPSFDevice::waitFlash(int totalMs, int stepMs) { return waitFlashReady(totalMs, stepMs); }

// ---- the store ------------------------------------------------------------

VHResult VHPSFDevice::save()
{
    VHResult result = m_store.save();
    if (!result)
        vhCritical() << "save of the external flash failed:" << result.reason;
    return result;
}

bool VHPSFDevice::initial()
{
    QString model;
    getModelName(model);
    if (VHResult result = m_store.attach(model == QLatin1String("Pacer40"), m_container); !result) {
        vhCritical() << "VHPSFDevice::initial failed:" << result.reason;
        return false;
    }
    return true;
}

bool VHPSFDevice::getInternalStorage(quint64 &total, quint64 &free)
{
    qsizetype offset = 0;
    VHPSFRegionFields tracks;
    if (!m_store.getHeader(offset) || !m_store.flashHeader().regionFields(VHPSFRegion::TrackSeg, tracks))
        return false;
    total = m_store.flashHeader().word(VHPSFFlashHeader::TrackCapacity);
    free = tracks.free;
    return true;
}

void VHPSFDevice::forgetStore()
{
    m_container.reset();
    m_store.forget();
    m_storeBackedUp = false;
}

void VHPSFDevice::formatDevice()
{
    forgetStore();
    if (!eraseExtFlash())
        vhCritical() << "fail to erase external flash";
}

// ---- backup ---------------------------------------------------------------

bool VHPSFDevice::isSoundFlash(const QByteArray &flash)
{
    VHPSFImageSource source(flash);
    VHPSFFlashStore store(source);
    std::unique_ptr<VHPSFContainer_1_5> container;
    QString model;
    getModelName(model);
    VHResult result = store.attach(model == QLatin1String("Pacer40"), container);
    if (result)
        result = store.flashHeader().checkRecord();
    if (result)
        result = store.loadAll();
    if (!result)
        vhWarning() << "the flash holds no sound store:" << result.reason;
    return result.ok;
}

void VHPSFDevice::saveExtFlashToFile(const QString &path) { backupExtFlash(path); }

void VHPSFDevice::addLogFiles(const QString &, QStringList &list)
{
    QByteArray flash;
    if (takeCheckedBackup(flash) == Backup::Kept)
        list.append(QFileInfo(latestBackup()).fileName());
}

bool VHPSFDevice::_finalize() { return finish(writeBack()); }

VHResult VHPSFDevice::writeBack()
{
    QByteArray flash;
    const Backup backup = takeCheckedBackup(flash);
    // A sound flash is erased only with its backup kept; an erased or half-written
    // one only when this object holds the whole store it read before, backed up.
    if (backup == Backup::Kept) {
        // The rest of the store comes from the flash just read twice and kept.
        m_source.serveFrom(&flash);
        const VHResult loaded = m_store.loadAll();
        m_source.serveFrom(nullptr);
        if (!loaded)
            return VHResult::failure(Failed, "finalize stopped before the erase: the store could not be read ("
                                                 + loaded.reason + ")");
        m_storeBackedUp = true;
    } else if (backup == Backup::Unreadable) {
        return VHResult::failure(NoDevice, "finalize stopped before the erase: the external flash did not read "
                                           "back the same twice. "
                                               + restoreHint());
    } else if (backup != Backup::NotSound || !m_storeBackedUp) {
        return VHResult::failure(NoBackup, "finalize stopped before the erase: no backup of the external flash "
                                           "could be kept. "
                                               + restoreHint());
    }
    // No second copy after the save: the write is verified frame by frame,
    // and a copy of what the device now holds would only push an older good
    // generation out.
    if (const VHResult saved = save(); !saved)
        return VHResult::failure(NotVerified,
                                 "the data was not written back whole (" + saved.reason + "); " + restoreHint());
    return VHResult::success();
}

bool VHPSFDevice::writeWholeFlash(const QByteArray &flash)
{
    // Whatever was read before is the old flash's: it is never written back over this one.
    forgetStore();
    if (!eraseExtFlash()) {
        vhCritical() << "fail to erase external flash for the backup";
        return false;
    }
    constexpr int kChunkBlocks = 32;
    const int blocks = int(flash.size() / kExternalBlock);
    // Written in chunks: the chunks count together, the read-back counts by itself.
    setFlashBlocksCounted(false);
    for (int first = 0; first < blocks; first += kChunkBlocks) {
        const int count = qMin(kChunkBlocks, blocks - first);
        if (!m_source.writeBlocks(first,
                                  flash.mid(qsizetype(first) * kExternalBlock, qsizetype(count) * kExternalBlock))) {
            vhCritical() << "fail to write the backup at block" << first;
            setFlashBlocksCounted(true);
            return false;
        }
        reportProgress(VHPhase::Write, qint64(first + count) * kExternalBlock, qint64(blocks) * kExternalBlock);
    }
    setFlashBlocksCounted(true);
    QByteArray readBack;
    if (!readFlashBlocks(readBack, ReadExternal, flash.size(), kExternalBlock, 0) || readBack != flash) {
        vhCritical() << "the backup does not read back as written";
        return false;
    }
    // The store in memory is now what the device holds.
    if (VHResult taken = m_store.loadFromBytes(flash); !taken) {
        vhCritical() << taken.reason;
        return false;
    }
    return initial();
}

// ---- restore ----------------------------------------------------------------

bool VHPSFDevice::_restoreFactory(const QString &folder)
{
    VHSCSIDeviceService *service = scsi();
    if (!service)
        return finish(VHResult::failure(NoDevice, QStringLiteral("the device is not connected")));
    const QString name = service->modelInfo().identification;
    if (!writeInternalFlash(folder, name, WriteInternal, kInternalBlock)) {
        setErrorFlag(true);
        return finish(VHResult::failure(Failed, "the program image " + name + ".bin in " + folder
                                                    + " could not be written to the internal flash"));
    }
    m_languageCache.clear();
    forgetStore();
    if (!eraseExtFlash()) {
        vhCritical() << "fail to erase external flash for " << name;
        return finish(VHResult::failure(Failed, QStringLiteral("the external flash could not be erased")));
    }
    // Success only with the external image written too.
    if (!writeExternalFlash(folder, name, WriteExternal, kExternalBlock))
        return finish(VHResult::failure(Failed, "the data image " + name + "ExData.bin in " + folder
                                                    + " could not be written to the external flash"));
    return finish(VHResult::success());
}

// ---- languages ----------------------------------------------------------------

QString VHPSFDevice::languageFolder() { return VHEnv::instance()->tempFolder() + QStringLiteral("/langpack"); }

VHResult VHPSFDevice::unpackLanguagePack(const QString &packageFile, QStringList &languages)
{
    const QString folder = languageFolder();
    // Emptied first: a refused package must not leave an earlier pack to be written.
    if (QDir dir(folder); (dir.exists() && !dir.removeRecursively()) || !QDir().mkpath(folder))
        return VHResult::failure(Failed, "can not empty the language folder " + folder);
    VHArchiveFiles::Files files;
    if (VHResult read = VHArchiveFiles::read(packageFile, files); !read)
        return VHResult::failure(BadPackage, "the language pack can not be used: " + read.reason);
    VHPSFLanguagePack pack;
    if (VHResult parsed = VHPSFLanguagePack::parse(files, pack); !parsed)
        return parsed;
    // The pack stays in the folder for setDefLanguage and for its release.ini.
    VHSafeFolder kept = VHSafeFolder::open(folder, QString());
    for (const QString &name : VHArchiveFiles::topLevel(files)) {
        if (!kept.isValid() || !kept.writeFile(name, files.value(name)))
            return VHResult::failure(Failed, "can not keep " + name + " of the language pack in " + folder);
    }
    if (!kept.sync())
        return VHResult::failure(Failed, "can not keep the language pack in " + folder);
    languages.append(pack.languageNames(VHLanguageMap()));
    return VHResult::success();
}

VHResult VHPSFDevice::readLanguagePack(qsizetype areaSize, VHPSFLanguagePack &pack)
{
    const QString folder = languageFolder();
    if (!QFileInfo(folder).isDir()) {
        vhCritical() << "do not exist langpack folder";
        return VHResult::failure(BadPackage, QStringLiteral("no language pack was unpacked"));
    }
    VHArchiveFiles::Files files;
    if (VHResult read = VHArchiveFiles::readFolder(folder, files); !read)
        return VHResult::failure(BadPackage, "the unpacked language pack can not be read: " + read.reason);
    VHResult parsed = VHPSFLanguagePack::parse(files, pack, areaSize);
    if (!parsed && pack.baseName().isEmpty())
        vhCritical() << " image is empty";
    return parsed;
}

bool VHPSFDevice::readLanguageArea(QByteArray &area)
{
    m_languageCache.clear();
    if (!readFlashBlocks(area, ReadInternal, VHPSFLanguageImage::kAreaSize, kInternalBlock, 0))
        return false;
    m_languageCache = area;
    return true;
}

bool VHPSFDevice::getLanguageOnDevice(QStringList &languages)
{
    QByteArray area = m_languageCache;
    if (area.isEmpty() && !readLanguageArea(area))
        return false;
    // Without a directory there are no languages to name, not the base image's bytes.
    QStringList codes;
    if (VHLanguageUpdate::listing(area, VHPSFLanguageImage::kDirectoryReach, codes) != VHLanguageUpdate::Area::Listed)
        return false;
    languages.append(codes);
    return true;
}

bool VHPSFDevice::setDefLanguage(const QStringList &languages) { return setDefLanguage(languages, false); }

bool VHPSFDevice::setDefLanguage(const QStringList &languages, bool)
{
    m_languageCache.clear();
    QByteArray image;
    if (VHResult built = buildLanguageImage(languages, image); !built) {
        vhCritical() << built.reason;
        return false;
    }
    return writeOrSaveLanguageImage(image);
}

VHResult VHPSFDevice::buildLanguageImage(const QStringList &languages, QByteArray &image)
{
    VHPSFLanguagePack pack;
    VHResult result = readLanguagePack(VHPSFLanguageImage::kAreaSize, pack);
    if (result)
        result = pack.buildImage(languages, image);
    return result;
}

bool VHPSFDevice::writeOrSaveLanguageImage(const QByteArray &image)
{
    if (modelSetting(QStringLiteral("savelangeageimage"), QStringLiteral("0")) != QLatin1String("0"))
        return saveLanguageImageToFile(image);
    return writeLanguageImage(image, languageFolder());
}

bool VHPSFDevice::saveLanguageImageToFile(const QByteArray &image)
{
    const ImagePathHook hook = imagePathHook();
    // The hook may wait for the user: it runs without the lock.
    const QString path = hook ? hook() : VHEnv::instance()->dataFolder() + QStringLiteral("/Aspens.bin");
    if (path.isEmpty())
        return true; // the user chose no file
    if (!VHSafeFolder::writeFileBelow(QString(), path, image, VHSafeFolder::Durable)) {
        vhCritical() << "can not write the language image to" << path;
        return false;
    }
    return true;
}

bool VHPSFDevice::writeLanguageImage(const QByteArray &image, const QString &basePath)
{
    VHSCSIDeviceService *service = scsi();
    for (int attempt = 0; service && attempt < kWriteAttempts; ++attempt) {
        if (!service->writeFlashBlocks(image, WriteInternal, image.size(), kInternalBlock, 0)) {
            vhCritical() << "write aspens image failed " << basePath << " retry " << attempt;
            continue;
        }
        QByteArray readBack;
        if (readFlashBlocks(readBack, ReadInternal, image.size(), kInternalBlock, 0) && readBack == image) {
            m_languageCache = image;
            return true;
        }
    }
    return false;
}

bool VHPSFDevice::_updateTotal(const QString &packageFile, const QString &changedLang)
{
    vhDebug() << "VHPSFDevice::_updateTotal" << packageFile << changedLang;
    QStringList names;
    QString uuid;
    getUUID(uuid);
    // A pack that did not unpack whole writes nothing.
    VHResult result = unpackLanguagePack(packageFile, names);
    if (result) {
        VHLanguageUpdate::Family family;
        family.areaSize = VHPSFLanguageImage::kAreaSize;
        family.directoryReach = VHPSFLanguageImage::kDirectoryReach;
        family.readArea = [this](QByteArray &area) { return readLanguageArea(area); };
        family.buildImage = [this](const QStringList &codes, QByteArray &image) {
            return buildLanguageImage(codes, image);
        };
        family.writeImage = [this](const QByteArray &image) { return writeOrSaveLanguageImage(image); };
        family.imageToFile =
            modelSetting(QStringLiteral("savelangeageimage"), QStringLiteral("0")) != QLatin1String("0");
        result = VHLanguageUpdate::run(family, uuid, changedLang);
    }
    const QString ini = VHEnv::instance()->tempFolder() + QStringLiteral("/langpack/release.ini");
    QString model;
    if (result && QFileInfo::exists(ini) && getModelName(model))
        VHEnv::instance()->updateMinVersion(model, ini);
    const bool ok = finish(result);
    vhCritical() << "VHPSFDevice: end of _updateTotal";
    return ok;
}
