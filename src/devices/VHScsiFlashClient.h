#pragma once

#include "VHClient.h"

#include <QMutex>
#include <QString>

class VHSCSIDeviceService;

// What the watches reached only through vendor SCSI commands share: their
// identity comes from the SCSI service (model record, product and loader
// tags) and their UUID is asked once, then kept.
class VHScsiFlashClient : public VHClient
{
    Q_OBJECT

public:
    using VHClient::VHClient;

    bool getModelName(QString &name) override;
    // Asked by the window's thread and the worker alike.
    bool getUUID(QString &uuid) override;
    bool getImageVersion(QString &text) override;
    bool getIAPVersion(QString &text) override;

protected:
    VHSCSIDeviceService *scsi() const;

private:
    QMutex m_uuidMutex;
    QString m_uuid;
};
