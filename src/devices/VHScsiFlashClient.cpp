#include "VHScsiFlashClient.h"

#include "VHSCSIDeviceService.h"

#include <QWaitCondition>

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

void VHScsiFlashClient::sleepFor(int ms)
{
    QMutex mutex;
    QWaitCondition never;
    QMutexLocker lock(&mutex);
    never.wait(&mutex, ms);
}

QString VHScsiFlashClient::keepAlphanumeric(const QString &text)
{
    QString kept;
    for (const QChar c : text) {
        if (c.isLetterOrNumber() && c.unicode() < 0x80)
            kept.append(c);
    }
    return kept;
}
