#include "VHScsiFlashClient.h"

#include "VHEnv.h"
#include "VHLog.h"
#include "VHSCSIDeviceService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWaitCondition>

#include <utility>

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

} // namespace

VHSCSIDeviceService *VHScsiFlashClient::scsi() const { return dynamic_cast<VHSCSIDeviceService *>(deviceService()); }

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

void VHScsiFlashClient::sleepFor(int ms)
{
    QMutex mutex;
    QWaitCondition never;
    QMutexLocker lock(&mutex);
    never.wait(&mutex, ms);
}

// ---- backup ---------------------------------------------------------------

QString VHScsiFlashClient::backupPath()
{
    QString uuid;
    getUUID(uuid);
    const QString device = keepAlphanumeric(uuid);
    const QString name = backupFamily() + QStringLiteral("flash.vh") + VHEnv::applicationVersion()
                         + (device.isEmpty() ? QString() : QLatin1Char('-') + device) + QStringLiteral(".dat");
    return VHEnv::instance()->dataFolder() + QLatin1Char('/') + name;
}

QString VHScsiFlashClient::ownBackupPattern()
{
    const QString device = QFileInfo(backupPath()).completeBaseName().section(QLatin1Char('-'), -1);
    return backupFamily() + QStringLiteral("flash.vh*-") + device + QStringLiteral(".dat");
}

bool VHScsiFlashClient::restoreBackup(const QString &path)
{
    QString uuid;
    const QFileInfo file(path);
    // Another device's flash would overwrite this one's data with foreign data.
    if (!getUUID(uuid) || uuid.isEmpty() || !QDir::match(ownBackupPattern(), file.fileName())) {
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
    if (currentAction() != ActionRestoreFactory || m_backupToRestore.isEmpty())
        return VHClient::execute();
    return writeBackupToFlash(std::exchange(m_backupToRestore, QString()));
}

bool VHScsiFlashClient::writeBackupToFlash(const QString &path)
{
    const qint64 size = externalFlashSize();
    QFile file(path);
    QByteArray flash;
    // Exactly one whole flash, read in one go: a short or grown file is no backup.
    if (file.open(QIODevice::ReadOnly) && file.size() == size)
        flash = file.read(size + 1);
    if (flash.size() != size) {
        vhCritical() << "the backup is not one whole external flash:" << path;
        return false;
    }
    return writeWholeFlash(flash);
}
