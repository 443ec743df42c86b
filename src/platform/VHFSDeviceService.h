#pragma once

#include "VHDeviceService.h"

// A device reached through its mounted volume and its identity file.
class VHFSDeviceService : public VHDeviceService
{
public:
    VHFSDeviceService(const QString &rootDrive, const VHModelInfo &model, const QString &identityFile);

    // Writes the "VH" marker into the identity file's "UUID" group, then reads
    // the UUID from it; false when the UUID is empty or there is no identity file.
    bool getUUID(QString &uuid) override;
    VHModelInfo modelInfo() const override { return m_model; }
    int type() const override { return DEVICE_FS; }

    QString rootPath() const { return m_rootDrive; }
    QString secondaryDrive() const { return m_secondaryDrive; }
    void setSecondaryDrive(const QString &drive) { m_secondaryDrive = drive; }
    QString identityFile() const { return m_identityFile; }

private:
    QString m_rootDrive;
    QString m_secondaryDrive;
    VHModelInfo m_model;
    QString m_identityFile;
};
