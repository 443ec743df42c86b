#include "VHPacer30.h"

#include "VHArchiveFiles.h"
#include "VHByteReader.h"
#include "VHEnv.h"
#include "VHIniDocument.h"
#include "VHLanguageMap.h"
#include "VHLanguageUpdate.h"
#include "VHLog.h"
#include "VHPSF.h"
#include "VHPSFDevice.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePack.h"
#include "VHPSFLayout.h"
#include "VHPSFRecord.h"
#include "VHPacer30Package.h"
#include "VHProfileData.h"
#include "VHSCSIDeviceService.h"
#include "VHSafeFolder.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

#include <vector>

namespace {

// The current management record of the journal: the slot before the first
// free one (the last slot when the first is free), passing over the commit
// word at 0x1000. -1 when there is none.
qsizetype currentRecord(const QByteArray &image)
{
    const qsizetype candidate = VHPSF::currentRecordOffset(image);
    return candidate >= 0 && VHPSFRecord::marker(image, candidate) == VHPSFLayout::kRecordMarker ? candidate : -1;
}

void putCommitWord(QByteArray &image)
{
    VHByteWriter(image, VHPSFLayout::kCommitWordOffset).u32(VHPSFLayout::kCommitWord);
}

// "ExData=no" in a restore folder's "release.ini" (outside a group or in [General]) leaves the external flash
// erased. Read from the bytes each time: a settings cache keyed by path, size and second could hand a second
// package written to the same place the first one's answer.
bool releaseSkipsExternalData(const QString &folder)
{
    constexpr qint64 kMaxReleaseIni = 64 * 1024;
    QFile file(folder + QStringLiteral("/release.ini"));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxReleaseIni)
        return false;
    const VHIniDocument release(file.read(kMaxReleaseIni));
    const QString general = release.value(QStringLiteral("General"), QStringLiteral("ExData"), QStringLiteral("yes"));
    return release.value(QString(), QStringLiteral("ExData"), general) == QLatin1String("no");
}

} // namespace

VHPacer30::VHPacer30() : m_headerRecord(kHeaderRecordSize, '\0') {}

VHPacer30::~VHPacer30() = default;

QString VHPacer30::flashTempPath() { return VHEnv::instance()->tempFolder() + QStringLiteral("/Pacer30flash.tmp"); }

// ---- identity -----------------------------------------------------------------

QString VHPacer30::modelName()
{
    QString model;
    getModelName(model);
    return model;
}

int VHPacer30::imageVersion()
{
    QString text;
    getImageVersion(text);
    return VHPacer30Package::imageVersion(text);
}

bool VHPacer30::deviceAnswers()
{
    VHSCSIDeviceService *service = scsi();
    QString uuid;
    return service && service->getUUID(uuid) && !uuid.isEmpty();
}

// ---- block transfer -------------------------------------------------------------

bool VHPacer30::writeBuffer(const QByteArray &buffer, std::uint8_t selector, int blockSize, qint64 size)
{
    QByteArray bytes = size < 0 ? buffer : buffer.left(size);
    if (size < 0)
        bytes.resize(VHPacer30Layout::kFlashSize, char(0xFF));
    const QString path = flashTempPath();
    // Written by a temporary name and renamed: an old file or a link of that name is replaced, never followed.
    if (!VHSafeFolder::writeFileBelow(QString(), path, bytes)) {
        vhCritical() << "can not write" << path;
        return false;
    }
    return writeFileToFlash(path, selector, blockSize);
}

bool VHPacer30::sendBlock(VHSCSIDeviceService &service, const QByteArray &block, int number, std::uint8_t selector,
                          int blockSize)
{
    const std::uint8_t cdb[10] = {0x2A,
                                  0,
                                  0,
                                  0,
                                  std::uint8_t(number >> 8),
                                  std::uint8_t(number & 0xFF),
                                  selector,
                                  0,
                                  std::uint8_t(blockSize / 512),
                                  0};
    return service.sendWrite(cdb, 10, reinterpret_cast<const std::uint8_t *>(block.constData()), blockSize);
}

bool VHPacer30::writeFileToFlash(const QString &path, std::uint8_t selector, int blockSize)
{
    VHSCSIDeviceService *service = scsi();
    QByteArray file;
    if (!VHSafeFolder::readFileBelow(QString(), path, kMaxFlashFile, file)) {
        vhCritical() << "can not read" << path;
        return false;
    }
    if (file.isEmpty()) {
        vhCritical() << "nothing to write in" << path;
        return false;
    }
    const qint64 fullBlocks = blockSize > 0 ? file.size() / blockSize : 0;
    const qint64 rest = blockSize > 0 ? file.size() % blockSize : 0;
    // Block numbers travel in two bytes: a larger file would wrap onto the flash's start.
    if (!VHSCSIDeviceService::isAddressable(fullBlocks + (rest ? 1 : 0), blockSize, 0)) {
        vhCritical() << "can not address" << path << "in blocks of" << blockSize;
        return false;
    }
    if (!service || !service->openClient()) {
        vhCritical() << "open client failed";
        return false;
    }
    bool result = true;
    for (qint64 n = 0; n < fullBlocks && result; ++n) {
        result = sendBlock(*service, file.mid(n * blockSize, blockSize), int(n), selector, blockSize);
        if (!result)
            vhCritical() << "write client failed at block" << n;
        else
            reportProgress(VHPhase::Write, (n + 1) * blockSize, file.size());
    }
    if (rest > 0 && result) {
        QByteArray last = file.mid(fullBlocks * blockSize);
        last.append(QByteArray(blockSize - rest, '\0'));
        result = sendBlock(*service, last, int(fullBlocks), selector, blockSize);
        if (!result)
            vhCritical() << "write client failed at the last block";
        else
            reportProgress(VHPhase::Write, file.size(), file.size());
    }
    service->closeClient();
    return result;
}

bool VHPacer30::controlCommand(std::uint8_t selector)
{
    return writeBuffer(QByteArray(kControlBlock, '\0'), selector, kControlBlock, kControlBlock);
}

bool VHPacer30::eraseExtFlash()
{
    // The caller's next write relies on an erased flash: a failed erase, or one
    // that kept data, is a failure.
    return sendErase() && externalFlashErased(VHPacer30Layout::kFlashSize);
}

bool VHPacer30::sendErase()
{
    VHSCSIDeviceService *service = scsi();
    if (!service || !service->openClient())
        return false;
    const std::uint8_t cdb[10] = {0x2A, 0, 0, 0, 0, 0, EraseExternal, 0, 1, 0};
    const std::vector<std::uint8_t> zeros(kControlBlock, 0);
    const bool result = service->sendWrite(cdb, 10, zeros.data(), int(zeros.size()));
    service->closeClient();
    pauseFor(kEraseWaitMs);
    return result;
}

void VHPacer30::forgetData()
{
    m_image.clear();
    m_psf.reset();
    m_profile.reset();
    m_dataChanged = false;
    m_profileChanged = false;
    m_imageBackedUp = false;
    m_imageIsFlash = false;
}

void VHPacer30::formatDevice()
{
    // What was read is the old flash's: a later write-back must not bring it back.
    forgetData();
    if (!eraseExtFlash())
        vhCritical() << "fail to erase external flash";
}

// ---- start-up -------------------------------------------------------------------

bool VHPacer30::profileBlock(QByteArray &block)
{
    // The profile is written back by finalize: its read is checked.
    return readFlashChecked(block, ReadExternal, VHPacer30Layout::kProfileSize, kExternalBlock,
                            int(VHPacer30Layout::kProfileOffset / kExternalBlock));
}

bool VHPacer30::initial()
{
    QByteArray block;
    if (!profileBlock(block)) {
        vhDebug() << " read profile from flash failed";
        return false;
    }
    return isInitialised(modelName(), block);
}

bool VHPacer30::isInitialised(const QString &model, const QByteArray &block) const
{
    constexpr qsizetype kInitialisedByte = 967;
    if (model == QLatin1String("Pacer30"))
        return block.size() > kInitialisedByte && block[kInitialisedByte] != '\0';
    return true;
}

// ---- reading the data -----------------------------------------------------------

bool VHPacer30::ensureImage()
{
    if (m_image.size() == VHPacer30Layout::kFlashSize)
        return true;
    m_imageIsFlash = readFlashChecked(m_image, ReadExternal, VHPacer30Layout::kFlashSize, kExternalBlock);
    if (!m_imageIsFlash)
        m_image.clear();
    return m_imageIsFlash;
}

bool VHPacer30::_readData()
{
    if (readPSF())
        return finish(VHResult::success());
    return finish(VHResult::failure(m_image.isEmpty() ? NoDevice : Failed, m_readFailure));
}

bool VHPacer30::readPSF()
{
    m_readFailure = QStringLiteral("the external flash did not read back the same twice");
    vhDebug() << "start read psf";
    m_image.clear();
    m_psf.reset();
    m_imageBackedUp = false;
    m_imageIsFlash = false;
    QByteArray read;
    // The image is what finalize writes back: read twice and compared.
    if (!readFlashChecked(read, ReadExternal, VHPacer30Layout::kFlashSize, kExternalBlock)) {
        vhWarning() << "failed read flash";
        return false;
    }
    vhDebug() << "read psf done";
    const QString copy = VHEnv::instance()->tempFolder() + QStringLiteral("/flash.tmp");
    // The copy is what the rest reads: a file that does not come back whole and unchanged is no image.
    if (!VHSafeFolder::writeFileBelow(QString(), copy, read)
        || !VHSafeFolder::readFileBelow(QString(), copy, VHPacer30Layout::kFlashSize, m_image) || m_image != read) {
        vhWarning() << "can not keep the flash image in" << copy;
        m_readFailure = "the flash image could not be kept in " + copy;
        m_image.clear();
        return false;
    }
    m_imageIsFlash = true;
    const qsizetype record = currentRecord(m_image);
    if (record >= 0)
        m_headerRecord = m_image.mid(record, kHeaderRecordSize);
    if (!loadProfile())
        vhWarning() << "load profile failed";
    const QString model = modelName();
    const int version = imageVersion();
    const bool firstUsePage =
        (model == QLatin1String("Pacer20") && version >= 8) || (model == QLatin1String("Pulsar35") && version >= 3);
    if (firstUsePage && m_image[VHPacer30Layout::kProfileOffset + 1194] == '\0') {
        vhWarning() << " in first use page";
        m_readFailure = QStringLiteral("the device shows its first-use page: finish its set-up on the device first");
        return false;
    }
    QString reason;
    std::unique_ptr<VHPSF> psf =
        record < 0 ? nullptr : VHPSF::fromImage(m_image, record, VHPacer30Layout::kRegionTable, m_dataVersion, &reason);
    if (!psf || !psf->checkIntegrity(&reason)) {
        vhWarning() << "checkIntegrity failed" << reason;
        m_readFailure = "the data on the device is not a sound store: " + reason;
        return false;
    }
    m_psf = std::move(psf);
    readUserValues();
    return true;
}

bool VHPacer30::dataChanged() const { return m_dataChanged || (m_psf && m_psf->dataChanged()); }

void VHPacer30::setDataChanged(bool on)
{
    m_dataChanged = on;
    if (m_psf)
        m_psf->setDataChanged(on);
}

void VHPacer30::readUserValues()
{
    m_userValues.clear();
    if (!m_profile)
        return;
    for (const char *key : {"User Height.Metric", "User Weight.Metric", "User MHR", "User Birthday", "User MLSS"})
        m_userValues.insert(QLatin1String(key), m_profile->value(QLatin1String(key)));
    const QString sex = m_profile->value(QStringLiteral("User Sex"));
    m_userValues.insert(QStringLiteral("User Sex"),
                        sex == QLatin1String("1") ? QStringLiteral("Male") : QStringLiteral("Female"));
}

bool VHPacer30::loadProfile()
{
    QByteArray block;
    if (!profileBlock(block))
        return false;
    auto profile = std::make_unique<VHProfileData>(block, VHProfileData::readerTypeFor(modelName(), block));
    if (!profile->read())
        return false;
    m_profile = std::move(profile);
    return true;
}

// ---- languages --------------------------------------------------------------------

bool VHPacer30::readLanguageArea(QByteArray &area)
{
    m_languageCache.clear();
    if (!readFlashBlocks(area, ReadInternal, VHPacer30Layout::kLanguageImageSize, kInternalBlock))
        return false;
    m_languageCache = area;
    return true;
}

bool VHPacer30::getLanguageOnDevice(QStringList &languages)
{
    QByteArray area = m_languageCache;
    if (area.isEmpty() && !readLanguageArea(area))
        return false;
    QStringList codes;
    if (VHLanguageUpdate::listing(area, VHPacer30Layout::kLanguageDirectoryLimit, codes)
        != VHLanguageUpdate::Area::Listed)
        return false;
    languages.append(codes);
    return true;
}

bool VHPacer30::setDefLanguage(const QStringList &languages)
{
    m_languageCache.clear();
    QByteArray image;
    if (VHResult built = buildLanguageImage(languages, image); !built) {
        vhCritical() << built.reason;
        return false;
    }
    return writeOrSaveLanguageImage(image);
}

VHResult VHPacer30::buildLanguageImage(const QStringList &languages, QByteArray &image)
{
    VHPSFLanguagePack pack;
    VHResult result = VHPSFDevice::readLanguagePack(VHPacer30Layout::kLanguageImageSize, pack);
    if (result)
        result = pack.buildImage(languages, image);
    return result;
}

bool VHPacer30::writeOrSaveLanguageImage(const QByteArray &image)
{
    if (modelSetting(QStringLiteral("savelangeageimage"), QStringLiteral("0")) != QLatin1String("0"))
        return VHPSFDevice::saveLanguageImageToFile(image);
    return writeLanguageImage(image);
}

bool VHPacer30::writeLanguageImage(const QByteArray &image)
{
    for (int attempt = 0; attempt < kLanguageAttempts; ++attempt) {
        if (!writeBuffer(image, WriteInternal, kInternalBlock, image.size())) {
            vhCritical() << "write aspens image failed, retry" << attempt;
            continue;
        }
        QByteArray readBack;
        if (readFlashBlocks(readBack, ReadInternal, VHPacer30Layout::kLanguageImageSize, kInternalBlock)
            && readBack == image) {
            m_languageCache = image;
            return true;
        }
    }
    return false;
}

bool VHPacer30::_updateTotal(const QString &packageFile, const QString &changedLang)
{
    return finish(updateLanguages(packageFile, changedLang));
}

VHResult VHPacer30::updateLanguages(const QString &packageFile, const QString &changedLang)
{
    QStringList names;
    // A pack that did not unpack whole writes nothing.
    if (VHResult unpacked = VHPSFDevice::unpackLanguagePack(packageFile, names); !unpacked)
        return unpacked;
    QString uuid;
    getUUID(uuid);
    VHLanguageUpdate::Family family;
    family.areaSize = VHPacer30Layout::kLanguageImageSize;
    family.directoryReach = VHPacer30Layout::kLanguageDirectoryLimit;
    family.defaultLanguage = m_defaultLanguage;
    family.readArea = [this](QByteArray &area) { return readLanguageArea(area); };
    family.buildImage = [this](const QStringList &codes, QByteArray &image) {
        return buildLanguageImage(codes, image);
    };
    family.writeImage = [this](const QByteArray &image) { return writeOrSaveLanguageImage(image); };
    family.imageToFile = modelSetting(QStringLiteral("savelangeageimage"), QStringLiteral("0")) != QLatin1String("0");
    // A language the user names replaces the device's, as on the 2 MiB family.
    VHResult result = VHLanguageUpdate::run(family, uuid, changedLang);
    if (!result)
        return result;
    const QString ini = VHPSFDevice::languageFolder() + QStringLiteral("/release.ini");
    const QString model = modelName();
    if (QFileInfo::exists(ini) && !model.isEmpty())
        VHEnv::instance()->updateMinVersion(model, ini);
    return result;
}

// ---- loader ---------------------------------------------------------------------

bool VHPacer30::waitUntilAnswering()
{
    for (int poll = 0; poll < kReadyPolls; ++poll) {
        pauseFor(kRestartWaitMs);
        if (deviceAnswers())
            return true;
    }
    return false;
}

bool VHPacer30::writeLoader(const QString &name, const QByteArray &bytes, std::uint8_t selector, const QString &what)
{
    // Through the family's temporary file, block by block, as every write.
    if (writeBuffer(bytes, selector, kInternalBlock, bytes.size()))
        return true;
    vhWarning() << "write " + what + " failed " + name;
    return false;
}

bool VHPacer30::updateLaunchsec(const QString &file) { return finish(updateLoader(file)); }

VHResult VHPacer30::updateLoader(const QString &file)
{
    VHArchiveFiles::Files files;
    if (VHResult read = VHArchiveFiles::read(file, files); !read) {
        vhWarning() << "uncompress iap package failed " + file + " to " + iapFolderName();
        return VHResult::failure(BadPackage, "the loader package can not be used: " + read.reason);
    }
    VHPacer30Package::LoaderFiles loader;
    // Checked before anything is written: the temporary loader alone would leave the device without one.
    if (VHResult checked = VHPacer30Package::parseLoader(files, loader); !checked)
        return checked;
    if (!writeLoader(loader.names.temporary, loader.temporary, WriteInternal, iapLogName() + QStringLiteral(" temp")))
        return VHResult::failure(Failed, "the temporary loader " + loader.names.temporary + " could not be written");
    if (!controlCommand(LoaderMode) || !waitUntilAnswering())
        return VHResult::failure(NoDevice, QStringLiteral("the device did not come back in loader mode"));
    if (!writeLoader(loader.names.loader, loader.loader, WriteLoader, iapLogName()))
        return VHResult::failure(Failed, "the loader " + loader.names.loader + " could not be written");
    // Restarting takes its time: it is polled as after the loader mode command.
    if (!controlCommand(NormalMode) || !waitUntilAnswering())
        return VHResult::failure(NoDevice, QStringLiteral("the device did not come back after the loader update"));
    return VHResult::success();
}

// ---- restore ----------------------------------------------------------------------

bool VHPacer30::_restoreFactory(const QString &folder)
{
    const bool skipExternal = releaseSkipsExternalData(folder);
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
    forgetData();
    if (!eraseExtFlash()) {
        vhCritical() << "fail to erase external flash for " + name;
        return finish(VHResult::failure(Failed, QStringLiteral("the external flash could not be erased")));
    }
    // Success only when every step that ran succeeded.
    if (!skipExternal && !writeExternalFlash(folder, name, WriteExternal, kExternalBlock))
        return finish(VHResult::failure(Failed, "the data image " + name + "ExData.bin in " + folder
                                                    + " could not be written to the external flash"));
    return finish(VHResult::success());
}

// ---- backup -----------------------------------------------------------------------

bool VHPacer30::isSoundFlash(const QByteArray &flash)
{
    const qsizetype record = currentRecord(flash);
    QString reason;
    std::unique_ptr<VHPSF> psf =
        record < 0 ? nullptr : VHPSF::fromImage(flash, record, VHPacer30Layout::kRegionTable, m_dataVersion, &reason);
    if (!psf || !psf->checkIntegrity(&reason)) {
        vhWarning() << "the flash holds no sound store:" << (record < 0 ? QStringLiteral("no current record") : reason);
        return false;
    }
    const QByteArray block = flash.mid(VHPacer30Layout::kProfileOffset, VHPacer30Layout::kProfileSize);
    VHProfileData profile(block, VHProfileData::readerTypeFor(modelName(), block));
    if (!profile.read() || !isInitialised(modelName(), block)) {
        vhWarning() << "the flash holds no profile of a device that was set up";
        return false;
    }
    return true;
}

void VHPacer30::saveExtFlashToFile(const QString &path) { backupExtFlash(path); }

bool VHPacer30::backUpBeforeErase()
{
    QByteArray flash;
    // The image just read twice is the flash: it need not be read again.
    const Backup backup = m_imageIsFlash ? keepCheckedFlash(m_image) : takeCheckedBackup(flash);
    // An erased or half-written flash is written over only from the whole
    // image this object read and backed up before.
    if (backup == Backup::Kept)
        m_imageBackedUp = true;
    else if (backup != Backup::NotSound || !m_imageBackedUp || m_image.size() != VHPacer30Layout::kFlashSize)
        return false;
    return true;
}

bool VHPacer30::writeWholeFlash(const QByteArray &flash)
{
    // What was read before is the old flash's: nothing of it may be written back over the backup.
    forgetData();
    m_image = flash;
    if (!eraseExtFlash() || !writeImageCommitLast()) {
        vhCritical() << "fail to write the backup to the external flash";
        m_image.clear();
        return false;
    }
    loadProfile();
    return true;
}

// ---- write-back -------------------------------------------------------------------

bool VHPacer30::writeImageCommitLast()
{
    // The first block (the head of the journal) goes last: a flash written
    // only in part has no current record and never passes for a store.
    QByteArray body = m_image;
    body.replace(0, kExternalBlock, QByteArray(kExternalBlock, char(0xFF)));
    QByteArray readBack;
    if (!writeBuffer(body, WriteExternal, kExternalBlock))
        return false;
    pauseFor(kSettleWaitMs);
    if (!readFlashBlocks(readBack, ReadExternal, VHPacer30Layout::kFlashSize, kExternalBlock) || readBack != body)
        return false;
    return writeBuffer(m_image, WriteExternal, kExternalBlock, kExternalBlock)
           && readFlashBlocks(readBack, ReadExternal, kExternalBlock, kExternalBlock)
           && readBack == m_image.left(kExternalBlock);
}

VHPacer30::Attempt VHPacer30::finalizeAttempt()
{
    if (!sendErase())
        return Attempt::EraseFailed;
    if (!externalFlashErased(VHPacer30Layout::kFlashSize))
        return Attempt::Failed;
    if (dataChanged()) {
        m_image.replace(0, VHPSFLayout::kHeaderSize, QByteArray(VHPSFLayout::kHeaderSize, char(0xFF)));
        m_image.replace(VHPacer30Layout::kSecondHeaderOffset, VHPacer30Layout::kSecondHeaderSize,
                        QByteArray(VHPacer30Layout::kSecondHeaderSize, char(0xFF)));
        m_image.replace(VHPacer30Layout::kProfileOffset, VHPacer30Layout::kProfileSize, m_profile->source());
    }
    putCommitWord(m_image);
    // The record goes whole, with its sum and check, to the first slot of the cleared journal.
    if (dataChanged())
        m_image.replace(0, m_recordSlot.size(), m_recordSlot);
    return writeImageCommitLast() ? Attempt::Done : Attempt::Failed;
}

bool VHPacer30::writeBackAttempts(const std::function<Attempt()> &attempt)
{
    m_imageIsFlash = false;
    for (int round = 0; round < kFinalizeAttempts; ++round) {
        const Attempt result = attempt();
        if (result == Attempt::Done)
            return true;
        // A flash that does not erase is not erased again and again.
        if (result == Attempt::EraseFailed)
            break;
        vhWarning() << "write-back attempt" << round + 1 << "failed";
    }
    m_restoreHint = restoreHint();
    vhCritical() << "the write-back failed: " + m_restoreHint;
    return false;
}

// Nothing is written when the model's option says the flash is handled
// elsewhere, or when the profile record cannot be built.
VHResult VHPacer30::profileReadyForWriteBack()
{
    if (modelSetting(QStringLiteral("specifyextflash"), QStringLiteral("0")) != QLatin1String("0"))
        return VHResult::failure(Failed, QStringLiteral("the option specifyextflash keeps the write-back off this "
                                                        "device: nothing was written"));
    if (!m_profile || !m_profile->write() || m_profile->source().size() != VHPacer30Layout::kProfileSize) {
        vhCritical() << "no profile record to write back";
        return VHResult::failure(Failed, QStringLiteral("the profile could not be built for the write-back: nothing "
                                                        "was written"));
    }
    return VHResult::success();
}

VHResult VHPacer30::readyToErase()
{
    if (!ensureImage())
        return VHResult::failure(NoDevice, "finalize stopped before the erase: the external flash did not read back "
                                           "the same twice. "
                                               + restoreHint());
    if (!backUpBeforeErase())
        return VHResult::failure(NoBackup, "finalize stopped before the erase: no backup of the external flash "
                                           "could be kept. "
                                               + restoreHint());
    return VHResult::success();
}

VHResult VHPacer30::writeBackFailure() const
{
    return VHResult::failure(NotVerified, "the write-back did not read back as written after "
                                              + QString::number(kFinalizeAttempts) + " attempts; " + m_restoreHint);
}

bool VHPacer30::_finalize() { return finish(writeBack()); }

VHResult VHPacer30::writeBack()
{
    if (!dataChanged() && !m_profileChanged)
        return VHResult::unchanged(QStringLiteral("already up to date: nothing was changed on the device"));
    if (VHResult ready = profileReadyForWriteBack(); !ready)
        return ready;
    if (VHResult ready = readyToErase(); !ready)
        return ready;
    if (dataChanged()) {
        // Only the regions whose records serialise are rebuilt; the user's
        // tracks, workouts and logs stay as read.
        QString error;
        if (!m_psf || m_image.size() != VHPacer30Layout::kFlashSize || !m_psf->writeInto(m_image, &error))
            return VHResult::failure(Failed, "the store could not be rebuilt for the write-back: " + error);
        m_recordSlot = m_image.left(VHPSFLayout::kSlotSize);
        m_headerRecord = m_recordSlot.left(kHeaderRecordSize);
    }
    m_image.replace(VHPacer30Layout::kProfileOffset, VHPacer30Layout::kProfileSize, m_profile->source());
    if (!writeBackAttempts([this] { return finalizeAttempt(); }))
        return writeBackFailure();
    setDataChanged(false);
    m_profileChanged = false;
    return VHResult::success();
}
