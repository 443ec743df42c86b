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
    // A timed wait that no event of this program ends early: the default
    // pause before a flash or a restarted device answers.
    static void sleepFor(int ms);
    // The UUID as it may stand in a file name.
    static QString keepAlphanumeric(const QString &text);

private:
    QMutex m_uuidMutex;
    QString m_uuid;
};
