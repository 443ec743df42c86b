#include "VHPulsar30.h"

#include "VHEnv.h"
#include "VHLanguageUpdate.h"
#include "VHLog.h"
#include "VHPacer30Package.h"
#include "VHProfileData.h"
#include "VHSafeFolder.h"

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

bool VHPulsar30::eraseWithBackup()
{
    // The erase takes the user's data with it: a sound flash is erased only
    // with its copy kept in the data folder. An erased or half-written one
    // (a run before stopped behind its erase) holds nothing to keep, and the
    // last good backup stays as it is.
    QByteArray flash;
    const Backup backup = takeCheckedBackup(flash);
    if (backup != Backup::Kept && backup != Backup::NotSound) {
        vhCritical() << "no backup of the external flash: the image update stopped before the erase";
        return false;
    }
    forgetData();
    if (!eraseExtFlash()) {
        vhCritical() << "fail to erase external flash: " + restoreHint();
        return false;
    }
    return true;
}

bool VHPulsar30::writeImage(const QString &path, const QByteArray &file)
{
    const QByteArray image = VHPacer30Package::fitted(file, VHPacer30Layout::kLanguageImageSize);
    if (!writeBuffer(image, WriteInternal, kInternalBlock, image.size())) {
        vhWarning() << "write maple image failed " + path;
        return false;
    }
    QByteArray readBack;
    return readFlashBlocks(readBack, ReadInternal, VHPacer30Layout::kLanguageImageSize, kInternalBlock)
           && readBack.left(image.size()) == image;
}

bool VHPulsar30::_updateTotal(const QString &packageFile, const QString &)
{
    const QString folder = VHEnv::instance()->tempFolder() + QStringLiteral("/pulsar30image");
    QStringList files;
    QString image;
    // The package is checked whole before the device is touched.
    if (VHResult unpacked = VHPacer30Package::unpack(packageFile, folder, files); !unpacked) {
        vhWarning() << "unzip maple image failed " + packageFile + " to " + folder;
        return false;
    }
    const QString model = modelName();
    if (VHResult found = VHPacer30Package::imageFrom(files, model, image); !found) {
        vhWarning() << "maple image not found in unzipd folder " + folder;
        return false;
    }
    const QString path = folder + QLatin1Char('/') + image;
    QByteArray file, again;
    // Another family's image, a cut or a grown one never reaches the device;
    // nor one that reads differently twice (what is read is what is flashed).
    const bool read = VHSafeFolder::readFileBelow(QString(), path, kMaxImageFile, file)
                      && VHSafeFolder::readFileBelow(QString(), path, kMaxImageFile, again) && file == again;
    VHResult checked =
        read ? VHPacer30Package::checkImage(file, model)
             : VHResult::failure(1, QStringLiteral("can not read ") + path + QStringLiteral(" twice alike"));
    if (!checked) {
        vhWarning() << "write maple image failed " + path + ": " + checked.reason;
        return false;
    }
    if (VHPacer30Package::erasesBeforeImage(model, imageVersion()) && !eraseWithBackup())
        return false;
    return writeImage(path, file);
}

// ---- write-back -------------------------------------------------------------------

bool VHPulsar30::_finalize()
{
    if (!dataChanged() && !m_profileChanged)
        return true;
    if (!profileReadyForWriteBack())
        return false;
    if (!ensureImage() || !backUpBeforeErase()) {
        vhCritical() << "finalize stopped before the erase: " + restoreHint();
        return false;
    }
    const bool written = writeBackAttempts([this] {
        if (!sendErase())
            return Attempt::EraseFailed;
        if (!externalFlashErased(VHPacer30Layout::kFlashSize))
            return Attempt::Failed;
        m_image.replace(VHPacer30Layout::kProfileOffset, VHPacer30Layout::kProfileSize, m_profile->source());
        return writeImageCommitLast() ? Attempt::Done : Attempt::Failed;
    });
    if (!written)
        return false;
    setDataChanged(false);
    m_profileChanged = false;
    loadProfile();
    return true;
}
