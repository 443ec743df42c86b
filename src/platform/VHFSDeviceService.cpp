#include "VHFSDeviceService.h"

#include "VHIniText.h"

#include <QSettings>

VHFSDeviceService::VHFSDeviceService(const QString &rootDrive, const VHModelInfo &model,
                                     const QString &identityFile)
    : m_rootDrive(rootDrive), m_model(model), m_identityFile(identityFile)
{
}

bool VHFSDeviceService::getUUID(QString &uuid)
{
    if (m_identityFile.isEmpty())
        return false;
    QSettings ini(m_identityFile, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("UUID"));
    ini.setValue(QStringLiteral("VH"), QStringLiteral("1"));
    uuid = vhIniText(ini, QStringLiteral("UUID"));
    ini.endGroup();
    ini.sync();
    return !uuid.isEmpty();
}
