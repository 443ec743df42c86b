#include "VHFSDeviceService.h"

#include "VHIniDocument.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHSafeFolder.h"

VHFSDeviceService::VHFSDeviceService(const QString &rootDrive, const VHModelInfo &model, const QString &identityFile)
    : m_rootDrive(rootDrive), m_model(model), m_identityFile(identityFile)
{}

bool VHFSDeviceService::getUUID(QString &uuid)
{
    uuid.clear();
    QByteArray bytes;
    if (m_identityFile.isEmpty() || !readIdentity(m_rootDrive, m_identityFile, bytes))
        return false;
    uuid = VHIniDocument(bytes).value(QStringLiteral("UUID"), QStringLiteral("UUID"));
    if (uuid.isEmpty())
        return false;
    // The marker is written for the companion product; the UUID stands without it (writeMarker logs why).
    (void)writeMarker(m_rootDrive, m_identityFile, bytes);
    return true;
}

bool VHFSDeviceService::readIdentity(const QString &root, const QString &path, QByteArray &bytes)
{
    return VHSafeFolder::readFileBelow(root, path, VHPlatform::kMaxIdentityFileSize, bytes);
}

bool VHFSDeviceService::writeMarker(const QString &root, const QString &path, const QByteArray &bytes)
{
    const QByteArray marked =
        VHIniDocument(bytes).withValue(QStringLiteral("UUID"), QStringLiteral("VH"), QStringLiteral("1"));
    if (marked == bytes)
        return true;
    // Past the cap the file would no longer be taken for an identity file.
    if (marked.size() > VHPlatform::kMaxIdentityFileSize) {
        vhWarning() << "identity file too close to its size limit, no marker written: " << path;
        return false;
    }
    if (!VHSafeFolder::writeFileBelow(root, path, marked, VHSafeFolder::Durable)) {
        vhWarning() << "can not write the marker into " << path;
        return false;
    }
    return true;
}
