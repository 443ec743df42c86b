#include "VHScsiFlashClient.h"

#include "VHEnv.h"
#include "VHLanguageUpdate.h"
#include "VHLog.h"
#include "VHSCSIDeviceService.h"

#include "VHSafeFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>
#include <QWaitCondition>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// The UUID as it may stand in a file name.
QString keepAlphanumeric(const QString &text)
{
    QString kept;
    for (const QChar c : text) {
        if (c.isLetterOrNumber() && c.unicode() < 0x80)
            kept.append(c);
    }
    return kept;
}

const QString kNoUuid = QStringLiteral("nouuid");
const QString kStampFormat = QStringLiteral("yyyyMMdd'T'HHmmsszzz");

// The time a backup was taken: from a name of the three-generation scheme,
// else (older names) the file's time, in the same sortable form.
QString backupStamp(const QFileInfo &file)
{
    const QStringList parts = file.completeBaseName().split(QLatin1Char('-'));
    if (parts.size() >= 3) {
        const QString stamp = parts.at(parts.size() - 2);
        if (QDateTime::fromString(stamp, kStampFormat).isValid())
            return stamp;
    }
    return file.lastModified().toUTC().toString(kStampFormat);
}

} // namespace

VHSCSIDeviceService *VHScsiFlashClient::scsi() const { return dynamic_cast<VHSCSIDeviceService *>(deviceService()); }

bool VHScsiFlashClient::finish(const VHResult &result)
{
    setOutcome(result.code, result.reason, result.changed);
    if (!result)
        vhCritical() << result.reason;
    return result.ok;
}

bool VHScsiFlashClient::getModelName(QString &name)
{
    VHSCSIDeviceService *service = scsi();
    if (!service)
        return false;
    name = service->modelInfo().modelName;
    return !name.isEmpty();
}

bool VHScsiFlashClient::getUUID(QString &uuid)
{
    QMutexLocker lock(&m_uuidMutex);
    if (m_uuid.isEmpty()) {
        VHSCSIDeviceService *service = scsi();
        QString asked;
        if (!service || !service->getUUID(asked)) {
            uuid.clear();
            return false;
        }
        m_uuid = asked;
    }
    uuid = m_uuid;
    return true;
}

bool VHScsiFlashClient::getImageVersion(QString &text)
{
    VHSCSIDeviceService *service = scsi();
    if (!service)
        return false;
    text = QString::fromLatin1(service->productTag());
    return true;
}

bool VHScsiFlashClient::getIAPVersion(QString &text)
{
    VHSCSIDeviceService *service = scsi();
    if (!service)
        return false;
    text = QString::fromLatin1(service->iapTag());
    return true;
}

bool VHScsiFlashClient::readFlashBlocks(QByteArray &buffer, std::uint8_t selector, qint64 size, int blockSize,
                                        int startBlock)
{
    VHSCSIDeviceService *service = scsi();
    return service && service->readFlashBlocks(buffer, selector, size, blockSize, startBlock);
}

bool VHScsiFlashClient::readFlashChecked(QByteArray &buffer, std::uint8_t selector, qint64 size, int blockSize,
                                         int startBlock)
{
    QByteArray second;
    if (!readFlashBlocks(buffer, selector, size, blockSize, startBlock)
        || !readFlashBlocks(second, selector, size, blockSize, startBlock))
        return false;
    if (buffer != second) {
        vhCritical() << "two reads of the flash differ: nothing read is trusted";
        return false;
    }
    return true;
}

bool VHScsiFlashClient::waitFlashReady(int totalMs, int stepMs)
{
    VHSCSIDeviceService *service = scsi();
    if (!service || stepMs <= 0)
        return false;
    const std::uint8_t cdb[10] = {0x28, 0, 0, 0, 0, 0, FlashStatus, 0, 8, 0};
    std::vector<std::uint8_t> status(kExternalBlock, 0);
    for (int round = 0; round < totalMs / stepMs; ++round) {
        pauseFor(stepMs);
        const bool answered = service->sendRead(cdb, 10, status.data(), int(status.size()));
        vhDebug() << "check flash ready return value=" << int(status[0]);
        if (answered && status[0] == 0)
            return true;
    }
    return false;
}

bool VHScsiFlashClient::externalFlashErased(qint64 size)
{
    QByteArray flash;
    if (!readFlashBlocks(flash, ReadExternal, size, kExternalBlock, 0) || flash.size() < size) {
        vhCritical() << "the erased flash can not be read back";
        return false;
    }
    const auto kept = std::find_if(flash.cbegin(), flash.cbegin() + size, [](char c) { return c != char(0xFF); });
    if (kept != flash.cbegin() + size) {
        vhCritical() << "the erase kept data at" << (kept - flash.cbegin());
        return false;
    }
    return true;
}

void VHScsiFlashClient::sleepFor(int ms)
{
    QMutex mutex;
    QWaitCondition never;
    QMutexLocker lock(&mutex);
    never.wait(&mutex, ms);
}

// ---- backup ---------------------------------------------------------------

QString VHScsiFlashClient::deviceKey()
{
    QString uuid;
    getUUID(uuid);
    const QString key = keepAlphanumeric(uuid);
    return key.isEmpty() ? kNoUuid : key;
}

QString VHScsiFlashClient::newBackupPath()
{
    const QString folder = VHEnv::instance()->dataFolder() + QLatin1Char('/');
    const QString head = backupFamily() + QStringLiteral("flash.vh") + VHEnv::applicationVersion() + QLatin1Char('-');
    QDateTime time = QDateTime::currentDateTimeUtc();
    QString path;
    // Two backups in one millisecond must not share a name.
    do {
        path = folder + head + time.toString(kStampFormat) + QLatin1Char('-') + deviceKey() + QStringLiteral(".dat");
        time = time.addMSecs(1);
    } while (QFileInfo::exists(path));
    return path;
}

QString VHScsiFlashClient::ownBackupPattern()
{
    return backupFamily() + QStringLiteral("flash.vh*-") + deviceKey() + QStringLiteral(".dat");
}

bool VHScsiFlashClient::isOwnBackup(const QString &fileName)
{
    const QString head = backupFamily() + QStringLiteral("flash.vh");
    const QString tail = QStringLiteral(".dat");
    if (!fileName.startsWith(head) || !fileName.endsWith(tail) || fileName.size() <= head.size() + tail.size())
        return false;
    const QString key = deviceKey();
    if (fileName.endsWith(QLatin1Char('-') + key + tail))
        return true;
    // Written before devices without a UUID had a name of their own: no device part at all.
    const QString middle = fileName.mid(head.size(), fileName.size() - head.size() - tail.size());
    return key == kNoUuid && !middle.contains(QLatin1Char('-'));
}

QStringList VHScsiFlashClient::ownBackups()
{
    const QDir folder(VHEnv::instance()->dataFolder());
    std::vector<std::pair<QString, QString>> found; // stamp, path
    for (const QFileInfo &file : folder.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Name)) {
        if (isOwnBackup(file.fileName()))
            found.emplace_back(backupStamp(file), file.absoluteFilePath());
    }
    std::sort(found.begin(), found.end());
    QStringList paths;
    for (const auto &[stamp, path] : found)
        paths.append(path);
    return paths;
}

QList<VHScsiFlashClient::BackupEntry> VHScsiFlashClient::ownBackupEntries()
{
    QList<BackupEntry> entries;
    for (const QString &path : ownBackups()) {
        const QFileInfo file(path);
        QDateTime taken = QDateTime::fromString(backupStamp(file), kStampFormat);
        taken.setTimeZone(QTimeZone::utc());
        entries.append({path, taken, file.size()});
    }
    return entries;
}

QString VHScsiFlashClient::latestBackup()
{
    const QStringList all = ownBackups();
    return all.isEmpty() ? QString() : all.last();
}

QString VHScsiFlashClient::restoreHint()
{
    const QString latest = latestBackup();
    if (latest.isEmpty())
        return QStringLiteral("the external flash may be erased or half written and no backup of it is kept");
    return QStringLiteral("the external flash may be erased or half written; write the last good backup back with: "
                          "velora-devctl backup --restore ")
           + latest;
}

VHScsiFlashClient::Backup VHScsiFlashClient::takeCheckedBackup(QByteArray &flash)
{
    if (!readFlashChecked(flash, ReadExternal, externalFlashSize(), kExternalBlock)) {
        vhCritical() << "fail to read the external flash for a backup";
        return Backup::Unreadable;
    }
    return keepCheckedFlash(flash);
}

VHScsiFlashClient::Backup VHScsiFlashClient::keepCheckedFlash(const QByteArray &flash)
{
    // An erased or half-written flash never pushes a good backup out.
    if (!isSoundFlash(flash)) {
        vhCritical() << "the external flash holds no sound store: no backup is taken of it";
        return Backup::NotSound;
    }
    QString path;
    return keepBackup(flash, path) ? Backup::Kept : Backup::NotWritten;
}

bool VHScsiFlashClient::keepBackup(const QByteArray &flash, QString &path)
{
    path = newBackupPath();
    if (!VHSafeFolder::writeFileBelow(QString(), path, flash, VHSafeFolder::Durable)) {
        vhCritical() << "fail to write file for saveExtFlashToFile" << path;
        QFile::remove(path);
        return false;
    }
    dropOldBackups();
    return true;
}

void VHScsiFlashClient::dropOldBackups()
{
    QStringList all = ownBackups();
    for (const QString &path : all) {
        if (QFileInfo(path).size() > kMaxBackupFile && QFile::remove(path))
            all.removeOne(path);
    }
    while (all.size() > kBackupGenerations) {
        if (!QFile::remove(all.first()))
            vhWarning() << "can not remove the old backup" << all.first();
        all.removeFirst();
    }
}

bool VHScsiFlashClient::backupExtFlash(const QString &path)
{
    QByteArray flash;
    if (!readFlashChecked(flash, ReadExternal, externalFlashSize(), kExternalBlock)) {
        vhCritical() << "fail to readFlashBlocks for saveExtFlashToFile";
        return false;
    }
    // A temporary name renamed over the old file, never through a link: never half a copy.
    if (!VHSafeFolder::writeFileBelow(QString(), path, flash, VHSafeFolder::Durable)) {
        vhCritical() << "fail to write file for saveExtFlashToFile";
        return false;
    }
    return true;
}

bool VHScsiFlashClient::restoreBackup(const QString &path)
{
    const QFileInfo file(path);
    // Another device's flash would overwrite this one's data with foreign data.
    if (!isOwnBackup(file.fileName())) {
        vhCritical() << "not a backup of this device:" << path;
        return false;
    }
    if (isBusy())
        return false;
    m_backupToRestore = file.absoluteFilePath();
    if (startAction(ActionRestoreFactory))
        return true;
    m_backupToRestore.clear();
    return false;
}

bool VHScsiFlashClient::execute()
{
    if (currentAction() == ActionReadData) {
        switch (std::exchange(m_readJob, ReadJob::Data)) {
        case ReadJob::Backup:
            return _makeBackup();
        case ReadJob::Languages:
            return _readLanguages();
        case ReadJob::Data:
            break;
        }
    }
    if (currentAction() != ActionRestoreFactory || m_backupToRestore.isEmpty())
        return VHClient::execute();
    return _restoreBackup(std::exchange(m_backupToRestore, QString()));
}

bool VHScsiFlashClient::startRead(ReadJob job)
{
    if (isBusy())
        return false;
    m_readJob = job;
    if (startAction(ActionReadData))
        return true;
    m_readJob = ReadJob::Data;
    return false;
}

bool VHScsiFlashClient::makeBackup() { return startRead(ReadJob::Backup); }

bool VHScsiFlashClient::_makeBackup()
{
    QByteArray flash;
    if (!readFlashWithProgress(flash))
        return finish(VHResult::failure(NoDevice, QStringLiteral("the external flash could not be read twice alike: "
                                                                 "no backup was taken")));
    switch (keepCheckedFlash(flash)) {
    case Backup::Kept:
        return finish(VHResult::success());
    case Backup::NotSound:
        return finish(VHResult::failure(NoBackup, QStringLiteral("the external flash holds no sound store: it is not "
                                                                 "kept, so the last good backups stay")));
    case Backup::Unreadable:
    case Backup::NotWritten:
        break;
    }
    return finish(VHResult::failure(Failed, QStringLiteral("the backup could not be written to the data folder ")
                                                + VHEnv::instance()->dataFolder()));
}

bool VHScsiFlashClient::readFlashWithProgress(QByteArray &flash)
{
    // In pieces, each read twice and compared, so the bar moves while 1 or 2 MiB come in.
    constexpr int kPieceBlocks = 32;
    const int blocks = int(externalFlashSize() / kExternalBlock);
    flash.clear();
    for (int first = 0; first < blocks; first += kPieceBlocks) {
        const int count = qMin(kPieceBlocks, blocks - first);
        QByteArray piece;
        if (!readFlashChecked(piece, ReadExternal, qint64(count) * kExternalBlock, kExternalBlock, first)
            || piece.size() != qsizetype(count) * kExternalBlock)
            return false;
        flash.append(piece);
        setProgress(float(first + count) / float(blocks));
    }
    return flash.size() == externalFlashSize();
}

bool VHScsiFlashClient::readLanguages() { return startRead(ReadJob::Languages); }

bool VHScsiFlashClient::_readLanguages()
{
    QStringList codes;
    const bool read = getLanguageOnDevice(codes);
    if (!read) {
        QString uuid;
        getUUID(uuid);
        codes = VHLanguageUpdate::storedListing(uuid);
    }
    {
        QMutexLocker lock(&m_languagesMutex);
        m_languagesRead = codes;
    }
    if (!read && codes.isEmpty())
        return finish(VHResult::failure(Failed, QStringLiteral("the language area can not be read or holds no "
                                                               "directory, and no listing of its languages was kept")));
    return finish(VHResult::unchanged(QString()));
}

QStringList VHScsiFlashClient::languagesRead() const
{
    QMutexLocker lock(&m_languagesMutex);
    return m_languagesRead;
}

bool VHScsiFlashClient::_restoreBackup(const QString &path)
{
    if (!isOwnBackup(QFileInfo(path).fileName()))
        return finish(VHResult::failure(BadBackup, "not a backup of this device: " + path));
    const qint64 size = externalFlashSize();
    QFile file(path);
    QByteArray flash;
    // Exactly one whole flash, read in one go: a short or grown file is no backup.
    if (file.open(QIODevice::ReadOnly) && file.size() == size)
        flash = file.read(size + 1);
    if (flash.size() != size)
        return finish(VHResult::failure(BadBackup, "the backup is not one whole external flash: " + path));
    // A file of the right size that holds no store (a damaged copy) would only erase the device.
    if (!isSoundFlash(flash))
        return finish(VHResult::failure(BadBackup, "the backup holds no sound store: " + path));
    if (!writeWholeFlash(flash))
        return finish(
            VHResult::failure(NotVerified, "the backup was not written back and read back equal: " + restoreHint()));
    return finish(VHResult::success());
}
