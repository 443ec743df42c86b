#include "VHGalDevice.h"

#include "VHCorvoLock.h"
#include "VHDaemon.h"
#include "VHDeviceManager.h"
#include "VHDeviceRegistry.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHFileOps.h"
#include "VHGalPackage.h"
#include "VHGalPending.h"
#include "VHIniDocument.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHSCSIDeviceService.h"
#include "VHScsiCommands.h"
#include "VHSysCalls.h"
#include "VHUtility.h"
#include "VHVolumeSync.h"

#include "corvolib.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kUpdateIni = QStringLiteral("update.ini");
const QString kImageFile = QStringLiteral("IMG.bin");
const QString kIapFile = QStringLiteral("iap.bin");
const QString kSyncProfile = QStringLiteral("syncprofile.ini");
const QString kLangFolder = QStringLiteral("Lang");
const QString kReleaseIni = QStringLiteral("release.ini");
constexpr VHSafeFolder::Options kVolumeFiles = VHSafeFolder::FatNames | VHSafeFolder::Durable;
constexpr int kFlashBlock = 4096;
constexpr std::uint8_t kExternalSelector = 15;
constexpr std::uint8_t kInternalSelector = 12;
constexpr std::uint8_t kExternalReadSelector = 0x10;
constexpr std::uint8_t kInternalReadSelector = 0x0D;
constexpr int kInternalBlock = 2048;
constexpr qint64 kMaxPackageFile = VHGalPackage::kMaxFileSize;
constexpr qint64 kMaxProfileIni = 1024 * 1024;

VHResult fail(const QString &reason) { return VHResult::failure(VHGalDevice::Failed, reason); }

VHGalWait::Sleeper &sleeper()
{
    static VHGalWait::Sleeper value;
    return value;
}

// Reads the file back from the device, not from the page cache: its pages are
// flushed and dropped first. True when it holds exactly `expected`.
bool readsBack(VHSafeFolder &folder, const QString &name, const QByteArray &expected, bool &opened)
{
    const QByteArray entry = VHFileOps::encodeName(folder.entryName(name));
    VHFileOps::UniqueFd file(::openat(folder.handle(), entry.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    opened = file.isValid();
    struct stat st;
    if (!opened || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != expected.size())
        return false;
    if (VHSys::fsync(file.get()) != 0)
        return false;
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_DONTNEED);
    QByteArray bytes(expected.size(), Qt::Uninitialized);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = VHSys::pread(file.get(), bytes.data() + done, size_t(bytes.size() - done), done);
        if (n <= 0)
            return false;
        done += n;
    }
    return bytes == expected;
}

QString withSeparator(const QString &folder)
{
    const QString separator = VHEnv::instance()->nativeSeparator();
    return folder.isEmpty() || folder.endsWith(separator) ? folder : folder + separator;
}

} // namespace

// ---- waits ------------------------------------------------------------------------

void VHGalWait::setSleeper(Sleeper value) { sleeper() = std::move(value); }

void VHGalWait::sleep(int ms)
{
    if (sleeper())
        sleeper()(ms);
    else
        QThread::msleep(ulong(ms));
}

bool VHGalWait::until(const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    for (int waited = 0;; waited += kPauseMs) {
        if (done())
            return true;
        if (waited >= kReadBackTimeoutMs || clock.elapsed() >= kReadBackTimeoutMs)
            return false;
        sleep(kPauseMs);
    }
}

// ---- device information ---------------------------------------------------------------

VHGalDevice::VHGalDevice() = default;

QString VHGalDevice::workFolder() { return VHEnv::instance()->tempFolder() + QStringLiteral("/langpack"); }

VHSafeFolder VHGalDevice::volume()
{
    const QString root = volumeRoot();
    return root.isEmpty() ? VHSafeFolder() : VHSafeFolder::open(root, QString(), kVolumeFiles);
}

bool VHGalDevice::readDeviceInfo(Info &info)
{
    const QString root = volumeRoot();
    QByteArray bytes;
    if (root.isEmpty()
        || !VHFSDeviceService::identityTextOf(dynamic_cast<VHFSDeviceService *>(deviceService()),
                                              &VHUtility::findDeviceIni, bytes)) {
        vhCritical() << "can not read the device information of " << root;
        return false;
    }
    const VHIniDocument ini(bytes);
    info.uuid = ini.value(QStringLiteral("UUID"), QStringLiteral("UUID"));
    info.imageVersion = ini.value(QStringLiteral("OS"), QStringLiteral("Version"));
    info.companionVersion = ini.value(QStringLiteral("VH"), QStringLiteral("Version"));
    info.iapVersion = ini.value(QStringLiteral("BootLoader"), QStringLiteral("Version"));
    if (ini.contains(QStringLiteral("IMG"), QStringLiteral("UpdateMethod")))
        info.updateMethod = ini.value(QStringLiteral("IMG"), QStringLiteral("UpdateMethod")).trimmed().toUInt();
    info.langVersion = ini.value(QStringLiteral("IMG"), QStringLiteral("LangVersion"));
    info.capability = ini.value(QStringLiteral("CAP"), QStringLiteral("COM"));
    info.launchSecVersion = ini.value(QStringLiteral("LaunchSec"), QStringLiteral("Version"));
    if (info.launchSecVersion.isEmpty())
        info.launchSecVersion = QStringLiteral("0.0.0.0");
    info.iapName = ini.value(QStringLiteral("IAP"), QStringLiteral("NAME")).trimmed();
    return true;
}

VHGalDevice::Info VHGalDevice::info()
{
    QMutexLocker lock(&m_infoMutex);
    if (!m_infoLoaded && !inIapMode())
        m_infoLoaded = readDeviceInfo(m_info);
    return m_info;
}

bool VHGalDevice::hasInfo()
{
    info();
    QMutexLocker lock(&m_infoMutex);
    return m_infoLoaded;
}

bool VHGalDevice::getUUID(QString &uuid)
{
    uuid = info().uuid;
    // An object made in IAP mode never read the volume: the device tells it.
    if (uuid.isEmpty() && inIapMode() && deviceService())
        deviceService()->getUUID(uuid);
    return !uuid.isEmpty();
}

bool VHGalDevice::getRootPath(QString &path)
{
    path = inIapMode() ? QString() : volumeRoot();
    return !path.isEmpty();
}

VHJobs VHGalDevice::offeredJobs()
{
    if (inIapMode())
        return VHJob::Recover;
    VHJobs jobs = VHJob::SoftwareUpdate;
    if (hasInfo() && info().updateMethod == 2)
        jobs |= VHJob::FactoryRestore;
    return jobs;
}

bool VHGalDevice::getImageVersion(QString &text)
{
    text = info().imageVersion;
    return !text.isEmpty();
}

bool VHGalDevice::getIAPVersion(QString &text)
{
    text = info().iapVersion;
    return !text.isEmpty();
}

bool VHGalDevice::getLaunchSecVersion(QString &text)
{
    text = info().launchSecVersion;
    return !text.isEmpty();
}

QString VHGalDevice::getMinAppVersion()
{
    const QString version = info().companionVersion;
    return version.isEmpty() ? VHClient::getMinAppVersion() : version;
}

QString VHGalDevice::getCapability()
{
    const QString capability = info().capability;
    return capability.isEmpty() ? VHClient::getCapability() : capability;
}

bool VHGalDevice::getLanguageOnDevice(QStringList &list)
{
    if (inIapMode()) {
        list.append(m_languages);
        return true;
    }
    m_languages.clear();
    const QString root = volumeRoot();
    if (root.isEmpty())
        return false;
    vhDebug() << "getLanguageOnDevice: GAL_GetProfile";
    const QString iniPath = VHEnv::instance()->tempFolder() + QStringLiteral("/pfread.ini");
    QFile::remove(iniPath);
    const int written = vhCorvoCall("GetProfile", [&] {
        SetPathDirect("/");
        return GetProfile(QFile::encodeName(root + QLatin1Char('/')).constData(),
                          QFile::encodeName(iniPath).constData());
    });
    if (!written) {
        vhCritical() << "getLanguageOnDevice: the profile could not be read";
        return false;
    }
    QByteArray bytes;
    if (!VHSafeFolder::readFileBelow(QString(), iniPath, kMaxProfileIni, bytes))
        return false;
    QString code;
    for (const QByteArray &line : bytes.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("Sys-langCode="))
            code = QString::fromLatin1(trimmed.mid(13)).trimmed();
    }
    if (code.isEmpty()) {
        vhCritical() << "no language on device , set to english";
        code = QStringLiteral("eng");
    }
    m_languages = {code};
    list.append(m_languages);
    return true;
}

VHImageMetaInfo VHGalDevice::getImageMetaInfo(const QString &releaseIni)
{
    vhDebug() << "getImageMetaInfo from " << releaseIni;
    QString model;
    getModelName(model);
    QByteArray bytes;
    if (!VHSafeFolder::readFileBelow(QString(), releaseIni, VHGalPackage::kMaxReleaseIniSize, bytes))
        return VHGalPackage::defaultImageInfo(model);
    return VHGalPackage::imageInfo(bytes);
}

bool VHGalDevice::eject()
{
    vhDebug() << "VHGalDevice::eject()";
    // The manager that made this object knows the platform it came through.
    VHDeviceManager *manager = deviceManager();
    if (inIapMode() || !manager || !manager->platform() || manager->currentDevice() != this)
        return false;
    const QString root = volumeRoot();
    if (root.isEmpty())
        return false;
    if (!VHVolumeSync::flush({}, root))
        vhWarning() << "can not flush the volume " << root;
    // The device restarts in its update mode: its port must keep its power.
    return manager->platform()->ejectDevice(root, VHEjectMode::KeepPower);
}

// ---- file-based steps ----------------------------------------------------------------

VHResult VHGalDevice::writeVolumeFile(VHSafeFolder &folder, const QString &subFolder, const QString &name,
                                      const QByteArray &bytes)
{
    if (!folder.isValid())
        return fail("can not open the folder for " + name);
    if (!folder.writeFile(name, bytes) || !folder.sync())
        return fail("can not write " + folder.filePath(name));
    qint64 written = 0;
    for (const WrittenFile &file : std::as_const(m_unchecked))
        written += file.bytes.size();
    m_unchecked.append({subFolder, name, bytes});
    reportProgress(VHPhase::Write, written + bytes.size(), m_volumeBytes);
    return VHResult::success();
}

VHResult VHGalDevice::checkVolumeFiles()
{
    const QList<WrittenFile> files = std::exchange(m_unchecked, {});
    qint64 total = 0;
    for (const WrittenFile &file : files)
        total += file.bytes.size();
    // Fonts the device already had were planned but not written: the writing is over all the same.
    if (m_volumeBytes > 0)
        reportProgress(VHPhase::Write, m_volumeBytes, m_volumeBytes);
    qint64 checked = 0;
    for (const WrittenFile &file : files) {
        VHSafeFolder folder =
            file.subFolder.isEmpty() ? volume() : VHSafeFolder::open(volumeRoot(), file.subFolder, kVolumeFiles);
        bool opened = true;
        const bool whole = folder.isValid() && VHGalWait::until([&] {
                               if (readsBack(folder, file.name, file.bytes, opened))
                                   return true;
                               if (!opened)
                                   vhCritical() << "open " << file.name << " failed";
                               vhDebug() << "wait for completion of " << file.name;
                               return false;
                           });
        if (!whole)
            return fail((file.name == kIapFile ? QStringLiteral("copy iap.bin failed: ") : QString())
                        + folder.filePath(file.name) + " did not read back whole");
        checked += file.bytes.size();
        reportProgress(VHPhase::Verify, checked, total);
    }
    return VHResult::success();
}

VHResult VHGalDevice::writeUpdateIni()
{
    VHSafeFolder root = volume();
    vhDebug() << "write update.ini";
    if (!root.isValid() || !root.writeFile(kUpdateIni, QByteArray()) || !root.sync()
        || !VHVolumeSync::flush({}, volumeRoot()))
        return fail("can not write " + volumeRoot() + QLatin1Char('/') + kUpdateIni);
    return VHResult::success();
}

VHResult VHGalDevice::copyLangFiles(const QList<VHGalPackage::LanguageFile> &fonts, const QStringList &languages)
{
    const int chosen = VHGalPackage::chooseLanguageFile(fonts, languages);
    if (chosen < 0)
        return fail(QStringLiteral("can not open the language file for the device"));
    const VHGalPackage::LanguageFile &font = fonts.at(chosen);
    VHSafeFolder lang = VHSafeFolder::open(volumeRoot(), kLangFolder, kVolumeFiles | VHSafeFolder::Create);
    if (!lang.isValid())
        return fail("can not open " + volumeRoot() + QLatin1Char('/') + kLangFolder);
    lang.removeLeftovers();
    QByteArray present;
    if (lang.kindOf(font.fileName) == VHSafeFolder::Kind::File && lang.readFile(font.fileName, kMaxPackageFile, present)
        && present.left(4) == font.bytes.left(4))
        return VHResult::success();
    // A new font generation: the device's fonts that the package also has are replaced too.
    for (const VHGalPackage::LanguageFile &file : fonts) {
        if (file.fileName != font.fileName && lang.kindOf(file.fileName) != VHSafeFolder::Kind::File)
            continue;
        if (VHResult written = writeVolumeFile(lang, kLangFolder, file.fileName, file.bytes); !written)
            return written;
    }
    return VHResult::success();
}

VHResult VHGalDevice::readRelease(const QString &folder, QByteArray &bytes)
{
    if (!VHSafeFolder::readFileBelow(folder, folder + QLatin1Char('/') + kReleaseIni, VHGalPackage::kMaxReleaseIniSize,
                                     bytes))
        return fail(QStringLiteral("release.ini not found"));
    return VHResult::success();
}

VHResult VHGalDevice::readParts(const QString &work, const QString &imageName, VHGalPackage::Parts &parts)
{
    VHSafeFolder folder = VHSafeFolder::open(work, QString(), VHSafeFolder::FatNames);
    if (!folder.isValid())
        return fail("can not open " + work);
    QStringList names;
    if (!VHFileOps::forEachEntry(folder.handle(), [&names](const QByteArray &name, unsigned char) {
            names.append(QFile::decodeName(name));
        }))
        return fail("can not list " + work);
    const auto read = [&folder](const QString &name, std::optional<QByteArray> &into) {
        QByteArray bytes;
        if (folder.kindOf(name) != VHSafeFolder::Kind::File)
            return true;
        if (!folder.readFile(name, kMaxPackageFile, bytes))
            return false;
        into = bytes;
        return true;
    };
    const QString image = VHGalPackage::imageFileName(names, imageName);
    if ((!image.isEmpty() && !read(image, parts.image)) || !read(QStringLiteral("header.bin"), parts.header))
        return fail("can not read the package in " + work);
    for (const QString &name : std::as_const(names)) {
        if (!name.endsWith(QLatin1String(".bft"), Qt::CaseInsensitive)
            || folder.kindOf(name) != VHSafeFolder::Kind::File)
            continue;
        VHGalPackage::LanguageFile font{name, {}};
        if (!folder.readFile(name, kMaxPackageFile, font.bytes))
            return fail("can not read " + folder.filePath(name));
        parts.languages.append(font);
    }
    parts.languages = VHGalPackage::inNameOrder(parts.languages);
    return VHResult::success();
}

int VHGalDevice::updateProfile(const QString &work)
{
    const QString map = work + QStringLiteral("/ProfileMap.txt");
    const QString bin = work + QStringLiteral("/Profile.bin");
    if (!QFile::exists(map) || !QFile::exists(bin)) {
        vhDebug() << "not profile bin exist";
        return 0;
    }
    const int result = vhCorvoCall("UpdateProfile", [&] {
        SetPathDirect("/");
        return UpdateProfile(QFile::encodeName(withSeparator(volumeRoot())).constData(),
                             QFile::encodeName(map).constData(), QFile::encodeName(bin).constData());
    });
    if (result == 0)
        vhCritical() << "UpdateProfile() return failed";
    return result;
}

// ---- the two passes of method 2 ----------------------------------------------------------

VHResult VHGalDevice::prepareFlash(const QString &work, const QStringList &languages,
                                   const VHGalPackage::Release &release, const std::optional<QByteArray> &profile)
{
    VHGalPackage::Parts parts;
    if (VHResult read = readParts(work, release.info.name, parts); !read)
        return read;
    parts.profile = profile;
    // In IAP mode the device information is not read again: the name was
    // checked in the first pass.
    const QString iapName = inIapMode() ? QStringLiteral("IAP") : info().iapName;
    VHGalPackage::FlashPlan plan = VHGalPackage::flashPlan(release, parts, languages, iapName);
    for (const QString &name : std::as_const(plan.leftOutLanguages))
        vhWarning() << "no place for the language file " << name;
    if (!plan.result)
        return fail("prepare GAL image failed " + plan.result.reason);
    m_image = plan.image;
    m_langBinary = plan.language;
    m_imageBlock = plan.imageBlock;
    m_langBlock = plan.langBlock;
    return VHResult::success();
}

void VHGalDevice::announceIapIdentity()
{
    VHDeviceManager *manager = deviceManager();
    const VHDeviceFactory factory = VHDeviceRegistry::instance().factory(VHDeviceRegistry::kGalRole);
    const Info device = info();
    QString model;
    getModelName(model);
    VHModelInfo row{device.uuid.size() == 16 ? device.uuid.left(4) : QString(), model, device.iapName, factory};
    vhDebug() << "register IAP device " << row.code << " " << model << " " << row.identification;
    if (!manager)
        return;
    // The manager's table is read on its own thread.
    const auto add = [manager, row] { manager->registerModel(row, true); };
    if (QThread::currentThread() == thread())
        add();
    else
        QMetaObject::invokeMethod(this, add, Qt::BlockingQueuedConnection);
}

VHResult VHGalDevice::enterIapMode(int fromState, int toState)
{
    if (!setStateWithMatch(fromState, toState))
        return fail(QStringLiteral("the device is not in service"));
    announceIapIdentity();
    if (VHResult written = writeUpdateIni(); !written) {
        if (!setStateWithMatch(toState, fromState))
            vhCritical() << "can not set the state back";
        return written;
    }
    // Said before the device leaves: the rest runs once it is back in IAP mode.
    reportProgress(VHPhase::Waiting, 0, 0);
    if (!eject())
        vhWarning() << "the volume was not ejected; the device restarts when it is unplugged";
    return VHResult::success();
}

VHResult VHGalDevice::recallFirstPass(const QString &language, std::optional<QByteArray> &profile)
{
    if (!language.isEmpty() && !VHUtility::isLanguageCode(language))
        return fail("\"" + language + "\" is no language code");
    QString uuid;
    getUUID(uuid);
    VHGalPending::Record record;
    const bool remembered = VHGalPending::ofDataFolder().load(uuid, record);
    if (remembered)
        profile = record.profile;
    if (!m_languages.isEmpty())
        return VHResult::success();
    if (!language.isEmpty())
        m_languages = {language};
    else if (remembered)
        m_languages = {record.language};
    else {
        vhWarning() << "no language remembered for the device " << uuid << "; the image gets English (eng)";
        m_languages = {QStringLiteral("eng")};
    }
    vhDebug() << "language for the image: " << m_languages.first()
              << (profile ? " with the carried profile" : " without a carried profile");
    return VHResult::success();
}

VHResult VHGalDevice::upgradeInIAPMode(const QString &archive, const QString &language)
{
    if (m_image.isEmpty() || m_langBinary.isEmpty()) {
        std::optional<QByteArray> profile;
        if (VHResult recalled = recallFirstPass(language, profile); !recalled)
            return recalled;
        QStringList languages;
        getLanguageOnDevice(languages);
        QStringList supported;
        const auto unpacked = [this](qint64 done, qint64 total) { reportProgress(VHPhase::Unpack, done, total); };
        if (!archive.isEmpty() && !VHUtility::getSupportLanguage(archive, workFolder(), supported, unpacked))
            return fail("can not unpack " + archive);
        vhDebug() << "prepare GAL image";
        QByteArray bytes;
        if (VHResult read = readRelease(workFolder(), bytes); !read)
            return read;
        if (VHResult prepared = prepareFlash(workFolder(), languages, VHGalPackage::readRelease(bytes), profile);
            !prepared)
            return prepared;
    }
    // Both areas are written before either is read back: each step runs once, in order,
    // and the device is told to start only after both read back as written.
    const qint64 whole = m_image.size() + m_langBinary.size();
    vhDebug() << "erase img startBlock = " << m_imageBlock << ", size= " << m_image.size();
    countFlashBlocksWithin(0, whole);
    VHResult flashed = flashArea(m_image, m_imageBlock, QStringLiteral("GAL image"));
    vhDebug() << "erase language startBlock = " << m_langBlock << ", size= " << m_langBinary.size();
    countFlashBlocksWithin(m_image.size(), whole);
    if (flashed)
        flashed = flashArea(m_langBinary, m_langBlock, QStringLiteral("language binary"));
    countFlashBlocksWithin(0, whole);
    if (flashed)
        flashed = verifyFlash(kExternalReadSelector, m_image, kFlashBlock, int(m_imageBlock), "GAL image");
    countFlashBlocksWithin(m_image.size(), whole);
    if (flashed)
        flashed = verifyFlash(kExternalReadSelector, m_langBinary, kFlashBlock, int(m_langBlock), "language binary");
    countFlashBlocksWithin(0, 0);
    return flashed ? notifyIAPUpdate() : flashed;
}

VHResult VHGalDevice::flashArea(const QByteArray &bytes, quint32 block, const QString &what)
{
    auto *service = dynamic_cast<VHSCSIDeviceService *>(deviceService());
    if (!service)
        return fail(QStringLiteral("the device is not in IAP mode"));
    if (!service->eraseFlashBlocks(bytes.size(), kFlashBlock, int(block)))
        return fail("erase " + what + " failed");
    if (!service->writeFlashBlocks(bytes, kExternalSelector, bytes.size(), kFlashBlock, int(block)))
        return fail("write " + what + " failed");
    return VHResult::success();
}

VHResult VHGalDevice::verifyFlash(std::uint8_t selector, const QByteArray &bytes, int blockSize, int block,
                                  const QString &what)
{
    auto *service = dynamic_cast<VHSCSIDeviceService *>(deviceService());
    QByteArray back;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!service || !service->readFlashBlocks(back, selector, bytes.size(), blockSize, block))
            return fail("can not read back the " + what);
        if (back == bytes)
            return VHResult::success();
        vhWarning() << "the " << what << " read back differs from what was written";
    }
    return fail("the " + what + " in the flash differs from what was written");
}

VHResult VHGalDevice::notifyIAPUpdate()
{
    auto *service = dynamic_cast<VHSCSIDeviceService *>(deviceService());
    if (!service || !service->openClient())
        return fail(QStringLiteral("notify IAP update failed: the device can not be opened"));
    const VHScsiCommands::Cdb10 cdb = VHScsiCommands::iapNotify();
    QByteArray answer(VHScsiCommands::kIapNotifyLength, '\0');
    const bool sent = service->readClient(cdb.data(), int(cdb.size()), reinterpret_cast<std::uint8_t *>(answer.data()),
                                          int(answer.size()));
    service->closeClient();
    return sent ? VHResult::success() : fail(QStringLiteral("notify IAP update failed"));
}

VHResult VHGalDevice::updateFlashes(const QString &folder)
{
    QString model;
    getModelName(model);
    vhDebug() << "model for the device manager: " << model;
    QByteArray bytes;
    if (VHResult read = readRelease(folder, bytes); !read)
        return read;
    const QString name = VHGalPackage::restoreName(bytes);
    if (name.isEmpty())
        return fail(QStringLiteral("release.ini names no image"));
    // What is verified is what the files held when read here, capped.
    QByteArray internal, external;
    if (!VHSafeFolder::readFileBelow(folder, folder + QLatin1Char('/') + name + QStringLiteral(".bin"), kMaxPackageFile,
                                     internal)
        || !VHSafeFolder::readFileBelow(folder, folder + QLatin1Char('/') + name + QStringLiteral("ExData.bin"),
                                        kMaxPackageFile, external))
        return fail("can not read the restore files of " + name);
    if (!writeInternalFlash(folder, name, kInternalSelector, kInternalBlock))
        return fail("fail to write internal flash for " + name);
    if (VHResult verified = verifyFlash(kInternalReadSelector, internal, kInternalBlock, 0, "internal flash");
        !verified)
        return verified;
    auto *service = dynamic_cast<VHSCSIDeviceService *>(deviceService());
    if (!service || !service->eraseFlashBlocks(external.size(), kFlashBlock, 0))
        return fail("fail to erase external flash for " + name);
    if (!writeExternalFlash(folder, name, kExternalSelector, kFlashBlock))
        return fail("fail to write external flash for " + name);
    if (VHResult verified = verifyFlash(kExternalReadSelector, external, kFlashBlock, 0, "external flash"); !verified)
        return verified;
    // Like an update, the restore ends with the notification: without it the
    // device stays in IAP mode, waiting.
    return notifyIAPUpdate();
}

bool VHGalDevice::restoreFactoryMethod2(const QString &packageFolder)
{
    if (state() == STATE_RESTORING) {
        if (!inIapMode()) {
            vhCritical() << "fail to enter IAP mode";
            setErrorFlag(true);
            return false;
        }
        // An object made in IAP mode (recover) never saw the first pass: the folder given stands in.
        const VHResult flashed = updateFlashes(m_restoreFolder.isEmpty() ? packageFolder : m_restoreFolder);
        if (!setStateWithMatch(STATE_RESTORING, STATE_OUT_OF_SERVICE))
            vhCritical() << "restoreFactory: setStateWithMatch to STATE_OUT_OF_SERVICE failed";
        if (!flashed)
            setErrorFlag(true);
        else
            forgetFirstPass();
        return finish(flashed);
    }
    QByteArray bytes;
    if (VHResult read = readRelease(packageFolder, bytes); !read)
        return finish(read);
    const QString name = VHGalPackage::restoreName(bytes);
    if (name.isEmpty())
        return finish(fail(QStringLiteral("release.ini names no image")));
    for (const QString &file : {name + QStringLiteral(".bin"), name + QStringLiteral("ExData.bin")}) {
        if (VHSafeFolder::open(packageFolder, QString()).kindOf(file) != VHSafeFolder::Kind::File)
            return finish(fail("the restore package has no " + file));
    }
    if (info().iapName.isEmpty())
        return finish(fail(QStringLiteral("the device names no IAP identity")));
    m_restoreFolder = packageFolder;
    // A Recover in a later run restores from the same folder.
    QStringList languages;
    getLanguageOnDevice(languages);
    if (VHResult remembered = rememberForIapMode(languages, std::nullopt, QFileInfo(packageFolder).absoluteFilePath());
        !remembered)
        return finish(remembered);
    if (VHResult entered = enterIapMode(STATE_OUT_OF_SERVICE, STATE_RESTORING); !entered) {
        forgetFirstPass();
        return finish(entered);
    }
    setCurrentAction(ActionNeverNotified);
    return finish(VHResult::success());
}

// ---- the actions ----------------------------------------------------------------------

qint64 VHGalDevice::VolumeFiles::size() const
{
    qint64 total = bootLoader.value_or(QByteArray()).size() + image.value_or(QByteArray()).size();
    for (const VHGalPackage::LanguageFile &font : fonts)
        total += font.bytes.size();
    return total;
}

bool VHGalDevice::removeOurFiles()
{
    VHSafeFolder root = volume();
    bool removed = root.isValid();
    for (const QString &name : {kUpdateIni, kImageFile, kIapFile, kSyncProfile})
        removed = root.isValid() && root.removeFile(name) && removed;
    return root.isValid() && root.sync() && removed;
}

VHGalDevice::Route VHGalDevice::routeFor(const Info &device, const VHImageMetaInfo &meta)
{
    QString model;
    getModelName(model);
    const bool sameSoftware = (meta.imageVersion.isEmpty() || meta.imageVersion == device.imageVersion)
                              && (meta.langVersion.isEmpty() || meta.langVersion == device.langVersion);
    const bool newLoader = !meta.bootLoaderVersion.isEmpty() && meta.bootLoaderVersion != device.iapVersion;
    if (device.iapVersion == QLatin1String("R001") && model == QLatin1String("Pacer20plus"))
        return Route::BootLoader;
    // A flash-based device takes its boot loader only through IAP mode, which
    // would be entered for nothing: the instruction is not written.
    if (sameSoftware)
        return newLoader && device.updateMethod == 1 ? Route::BootLoader : Route::Nothing;
    return device.updateMethod == 1 ? Route::Image : Route::Flash;
}

VHResult VHGalDevice::planVolumeFiles(const QString &work, Route route, const QStringList &languages,
                                      const VHImageMetaInfo &meta, const VHGalPackage::Parts &parts, VolumeFiles &files)
{
    const Info device = info();
    if (!meta.bootLoaderVersion.isEmpty() && meta.bootLoaderVersion != device.iapVersion) {
        const QString source = work + QLatin1Char('/') + kIapFile;
        QByteArray bytes;
        if (!VHSafeFolder::readFileBelow(work, source, kMaxPackageFile, bytes) || bytes.isEmpty())
            return fail(QStringLiteral("IAP file %1 is not found").arg(source));
        files.bootLoader = bytes;
    }
    if (route != Route::Image)
        return VHResult::success();
    // The same checks the flash-based update makes: the fonts usable, the parts within Size.
    const int font = VHGalPackage::chooseLanguageFile(parts.languages, languages);
    if (!parts.header || font < 0)
        return fail(QStringLiteral("prepare GAL image failed: the package lacks header.bin or a font"));
    const VHGalPackage::LangBinary fonts = VHGalPackage::langBinary(parts.languages);
    const QByteArray &chosen = parts.languages.at(font).bytes;
    if (!fonts.ok() || chosen.size() < VHGalPackage::kMinLanguageFileSize)
        return fail(QStringLiteral("prepare GAL image failed: the package has no usable language file"));
    const VHGalPackage::Binary image = VHGalPackage::imageBinary(*parts.image, *parts.header, chosen, meta);
    if (!image.ok())
        return fail("prepare GAL image failed " + image.refusal);
    files.image = image.bytes;
    files.fonts = parts.languages;
    return VHResult::success();
}

VHResult VHGalDevice::checkFreeSpace(qint64 needed)
{
    const QString root = volumeRoot();
    quint64 total = 0, free = 0;
    // Unknown is no shortage: a write that does not fit fails and is removed.
    if (!VHDaemon::instance()->platform()->getDiskSpace(root, total, free)) {
        vhWarning() << "can not get the free space of " << root;
        return VHResult::success();
    }
    vhDebug() << QStringLiteral("copied file size=%1, free size=%2").arg(needed).arg(free);
    if (free < quint64(needed))
        return VHResult::failure(NoSpace,
                                 QStringLiteral("not enough free space: %1 needed, %2 free").arg(needed).arg(free));
    return VHResult::success();
}

VHResult VHGalDevice::rememberForIapMode(const QStringList &languages, const std::optional<QByteArray> &profile,
                                         const QString &restoreFolder)
{
    VHGalPending::Record record;
    record.language = languages.value(0);
    if (!VHUtility::isLanguageCode(record.language)) {
        vhWarning() << "the device's language \"" << record.language << "\" is no code; English is kept";
        record.language = QStringLiteral("eng");
    }
    record.profile = profile;
    getModelName(record.model);
    record.restoreFolder = restoreFolder;
    QString error;
    if (!VHGalPending::ofDataFolder().store(info().uuid, record, &error))
        return fail("can not remember the update for the device's restart: " + error);
    return VHResult::success();
}

void VHGalDevice::forgetFirstPass()
{
    // Flashed and verified: a later recover has nothing of this job to carry.
    QString uuid;
    if (getUUID(uuid) && !VHGalPending::ofDataFolder().remove(uuid))
        vhWarning() << "can not forget the finished job of " << uuid;
}

VHResult VHGalDevice::writeFirstPass(Route route, const VolumeFiles &files, const QStringList &languages,
                                     const std::optional<QByteArray> &profile)
{
    VHSafeFolder root = volume();
    m_unchecked.clear();
    m_volumeBytes = files.size();
    if (files.bootLoader) {
        vhDebug() << "copy iap bin";
        if (VHResult written = writeVolumeFile(root, QString(), kIapFile, *files.bootLoader); !written)
            return fail("copy iap.bin failed: " + written.reason);
    }
    const Info device = info();
    vhDebug() << "device iap version=" << device.iapVersion;
    if (route == Route::BootLoader) {
        vhDebug() << "write update.ini for only bootloader: device imgver=" << device.imageVersion
                  << ", langVer=" << device.langVersion;
        if (VHResult checked = checkVolumeFiles(); !checked)
            return checked;
        return writeUpdateIni();
    }
    if (route == Route::Image) {
        // The fonts go first and the instruction file last: the firmware installs
        // only when everything it needs is on the volume.
        if (VHResult fonts = copyLangFiles(files.fonts, languages); !fonts)
            return fonts;
        if (VHResult written = writeVolumeFile(root, QString(), kImageFile, *files.image); !written)
            return written;
        // Everything is read back before the instruction file names it.
        if (VHResult checked = checkVolumeFiles(); !checked)
            return checked;
        return writeUpdateIni();
    }
    if (VHResult checked = checkVolumeFiles(); !checked)
        return checked;
    if (profile && !root.writeFile(kSyncProfile, QByteArray()))
        return fail("can not write " + root.filePath(kSyncProfile));
    if (VHResult remembered = rememberForIapMode(languages, profile); !remembered)
        return remembered;
    return enterIapMode(STATE_OUT_OF_SERVICE, STATE_UPDATING);
}

VHResult VHGalDevice::firstPass(const QString &archive)
{
    const QString work = workFolder();
    vhDebug() << "getSupportLanguage";
    QStringList supported;
    const auto unpacked = [this](qint64 done, qint64 total) { reportProgress(VHPhase::Unpack, done, total); };
    if (!VHUtility::getSupportLanguage(archive, work, supported, unpacked))
        return fail("can not unpack " + archive);
    VHSafeFolder root = volume();
    if (!root.isValid())
        return VHResult::failure(NoVolume, QStringLiteral("can not get mounted drive"));
    if (!hasInfo())
        return fail(QStringLiteral("can not read the device information"));
    // What an earlier attempt left would be installed at the next start: its
    // instruction with this one's half-written files, or a refused package's
    // image or boot loader with the next update.
    root.removeLeftovers();
    if (!removeOurFiles())
        return fail(QStringLiteral("can not remove the files of an earlier update"));
    vhDebug() << "getLanguageOnDevice";
    QStringList languages;
    getLanguageOnDevice(languages);
    const QString releaseIni = work + QLatin1Char('/') + kReleaseIni;
    QByteArray releaseBytes;
    // Nothing says what the package holds: there is nothing to install.
    if (VHResult read = readRelease(work, releaseBytes); !read)
        return fail(releaseIni + " not exist");
    const VHImageMetaInfo meta = getImageMetaInfo(releaseIni);
    VHGalPackage::Parts parts;
    if (VHResult read = readParts(work, meta.name, parts); !read)
        return read;
    // Another family's package (a language pack, say) has no image of ours.
    if (!parts.image)
        return fail("the package holds no GAL image named like \"" + meta.name + "\"");
    const Info device = info();
    if (device.updateMethod != 1 && device.updateMethod != 2)
        return fail(QStringLiteral("unknown update method %1").arg(device.updateMethod));
    const Route route = routeFor(device, meta);
    if (route == Route::Nothing)
        return VHResult::unchanged(QStringLiteral("already up to date: the device runs image %1, language %2 "
                                                  "and boot loader %3 of the package")
                                       .arg(device.imageVersion, device.langVersion, device.iapVersion));
    VolumeFiles files;
    if (VHResult planned = planVolumeFiles(work, route, languages, meta, parts, files); !planned)
        return planned;
    std::optional<QByteArray> profile;
    if (route == Route::Flash) {
        QByteArray carried;
        if (updateProfile(work) == 2) {
            if (!VHSafeFolder::readFileBelow(work, work + QStringLiteral("/Profile.bin"), VHGalPending::kMaxProfileSize,
                                             carried))
                return fail(QStringLiteral("can not read the carried Profile.bin"));
            profile = carried;
        }
        if (VHResult prepared = prepareFlash(work, languages, VHGalPackage::readRelease(releaseBytes), profile);
            !prepared)
            return prepared;
    }
    if (VHResult space = checkFreeSpace(files.size()); !space)
        return space;
    const VHResult written = writeFirstPass(route, files, languages, profile);
    // What the first pass chose is forgotten only once no instruction can
    // send the device into IAP mode: a volume pulled after "/update.ini" may.
    if (!written && removeOurFiles())
        VHGalPending::ofDataFolder().remove(device.uuid);
    else if (!written)
        vhWarning() << "files of the failed update may be left on the volume; a later update removes them";
    return written;
}

bool VHGalDevice::_updateTotal(const QString &archive, const QString &changedLanguage)
{
    vhDebug() << QStringLiteral("_updateTotal state=%1").arg(state());
    setErrorCode(NoError);
    if (state() != STATE_UPDATING) {
        const VHResult done = firstPass(archive);
        if (!done) {
            m_image.clear();
            m_langBinary.clear();
        }
        return finish(done);
    }
    VHResult result = inIapMode() ? upgradeInIAPMode(archive, changedLanguage)
                                  : fail(QStringLiteral("the device is not in IAP mode"));
    if (result) {
        vhDebug() << "complete upgradeInIAPMode";
        QString model;
        getModelName(model);
        vhDebug() << "model for the device manager: " << model;
        forgetFirstPass();
    }
    m_image.clear();
    m_langBinary.clear();
    if (!setStateWithMatch(STATE_UPDATING, STATE_OUT_OF_SERVICE))
        vhCritical() << "_updateTotal: setStateWithMatch to STATE_OUT_OF_SERVICE failed";
    return finish(result);
}

bool VHGalDevice::_restoreFactory(const QString &packageFolder)
{
    const uint method = state() == STATE_RESTORING ? 2 : info().updateMethod;
    if (method == 1) {
        VHEnv::instance()->setRestorePending(true);
        return false;
    }
    if (method == 2)
        return restoreFactoryMethod2(packageFolder);
    return false;
}
