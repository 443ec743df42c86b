#include "VHPulsar30.h"

#include "VHArchiveFiles.h"
#include "VHLanguageUpdate.h"
#include "VHLog.h"
#include "VHPacer30Package.h"
#include "VHProfileData.h"

#include <QFileInfo>

namespace {
const QString kLanguageKey = QStringLiteral("User Lang");
} // namespace

bool VHPulsar30::isInitialised(const QString &model, const QByteArray &block) const
{
    constexpr qsizetype kPulsar30Byte = 886;
    constexpr qsizetype kFirstUseByte = 1194;
    const auto set = [&](qsizetype at) { return block.size() > at && block[at] != '\0'; };
    if (model == QLatin1String("Pulsar30"))
        return set(kPulsar30Byte);
    if (model == QLatin1String("Pulsar35") || model == QLatin1String("Pacer20"))
        return set(kFirstUseByte);
    return true;
}

// ---- language ---------------------------------------------------------------------

bool VHPulsar30::getLanguageOnDevice(QStringList &languages)
{
    if (!m_profile && !loadProfile())
        return false;
    const QString language = m_profile->value(kLanguageKey);
    if (language.isEmpty())
        return false;
    languages.append(language);
    return true;
}

bool VHPulsar30::setDefLanguage(const QStringList &languages)
{
    // The profile takes a code of the language table, nothing else ("xyz", "../x").
    const QString code = VHLanguageUpdate::languageCode(languages.value(0));
    if (code.isEmpty()) {
        vhCritical() << "not a language code:" << languages.value(0);
        return false;
    }
    if (!m_profile && !loadProfile())
        return false;
    // A reader without the field would drop the value: no change is reported that is never stored.
    if (!m_profile->values().contains(kLanguageKey)) {
        vhWarning() << "the profile of this device has no language";
        return false;
    }
    m_profile->setValue(kLanguageKey, code);
    if (!m_profile->write())
        return false;
    m_profileChanged = true;
    return true;
}

// ---- program image ------------------------------------------------------------------

VHResult VHPulsar30::eraseWithBackup()
{
    // The erase takes the user's data with it: a sound flash is erased only
    // with its copy kept in the data folder. An erased or half-written one
    // (a run before stopped behind its erase) holds nothing to keep, and the
    // last good backup stays as it is.
    QByteArray flash;
    const Backup backup = takeCheckedBackup(flash);
    if (backup != Backup::Kept && backup != Backup::NotSound) {
        vhCritical() << "no backup of the external flash: the image update stopped before the erase";
        return VHResult::failure(NoBackup, QStringLiteral("no backup of the external flash could be kept: the image "
                                                          "update stopped before the erase, nothing was written"));
    }
    forgetData();
    if (!eraseExtFlash()) {
        vhCritical() << "fail to erase external flash: " + restoreHint();
        return VHResult::failure(Failed, "the external flash could not be erased; " + restoreHint());
    }
    return VHResult::success();
}

VHResult VHPulsar30::writeImage(const QString &path, const QByteArray &file)
{
    const QByteArray image = VHPacer30Package::fitted(file, VHPacer30Layout::kLanguageImageSize);
    if (!writeBuffer(image, WriteInternal, kInternalBlock, image.size())) {
        vhWarning() << "write maple image failed " + path;
        return VHResult::failure(Failed, "the program image " + QFileInfo(path).fileName() + " could not be written");
    }
    QByteArray readBack;
    if (!readFlashBlocks(readBack, ReadInternal, VHPacer30Layout::kLanguageImageSize, kInternalBlock)
        || readBack.left(image.size()) != image)
        return VHResult::failure(NotVerified, QStringLiteral("the program image did not read back as written"));
    return VHResult::success();
}

bool VHPulsar30::_updateTotal(const QString &packageFile, const QString &) { return finish(updateImage(packageFile)); }

VHResult VHPulsar30::updateImage(const QString &packageFile)
{
    VHArchiveFiles::Files files;
    // The package is checked whole before the device is touched.
    if (VHResult read = VHArchiveFiles::read(packageFile, files, imageLimits()); !read) {
        vhWarning() << "unzip maple image failed " + packageFile + " to memory";
        return VHResult::failure(BadPackage, "the package can not be used: " + read.reason);
    }
    const QString model = modelName();
    VHPacer30Package::Image image;
    // Another family's image, a cut or a grown one never reaches the device.
    if (VHResult parsed = VHPacer30Package::parseImage(files, model, image); !parsed) {
        vhWarning() << (image.name.isEmpty() ? "maple image not found in unzipd folder " + packageFile
                                             : "write maple image failed " + image.name + ": " + parsed.reason);
        return parsed;
    }
    if (VHPacer30Package::erasesBeforeImage(model, imageVersion())) {
        if (VHResult erased = eraseWithBackup(); !erased)
            return erased;
    } else if (alreadyFlashed(image.bytes)) {
        return VHResult::unchanged("already up to date: the device runs the image " + image.name);
    }
    return writeImage(image.name, image.bytes);
}

VHArchiveFiles::Limits VHPulsar30::imageLimits()
{
    VHArchiveFiles::Limits limits;
    limits.maxEntrySize = kMaxImageFile;
    return limits;
}

bool VHPulsar30::alreadyFlashed(const QByteArray &file)
{
    // One read of the image area: equal to the fitted image, nothing would change.
    const QByteArray image = VHPacer30Package::fitted(file, VHPacer30Layout::kLanguageImageSize);
    QByteArray area;
    return readFlashChecked(area, ReadInternal, VHPacer30Layout::kLanguageImageSize, kInternalBlock) && area == image;
}

// ---- write-back -------------------------------------------------------------------

bool VHPulsar30::_finalize() { return finish(writeProfileBack()); }

VHResult VHPulsar30::writeProfileBack()
{
    if (!dataChanged() && !m_profileChanged)
        return VHResult::unchanged(QStringLiteral("already up to date: nothing was changed on the device"));
    if (VHResult ready = profileReadyForWriteBack(); !ready)
        return ready;
    if (VHResult ready = readyToErase(); !ready)
        return ready;
    const bool written = writeBackAttempts([this] {
        if (!sendErase())
            return Attempt::EraseFailed;
        if (!externalFlashErased(VHPacer30Layout::kFlashSize))
            return Attempt::Failed;
        m_image.replace(VHPacer30Layout::kProfileOffset, VHPacer30Layout::kProfileSize, m_profile->source());
        return writeImageCommitLast() ? Attempt::Done : Attempt::Failed;
    });
    if (!written)
        return writeBackFailure();
    setDataChanged(false);
    m_profileChanged = false;
    loadProfile();
    return VHResult::success();
}
