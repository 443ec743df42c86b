#include "VHFSDeviceService.h"

#include "VHIniDocument.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHSafeFolder.h"

VHFSDeviceService::VHFSDeviceService(const QString &rootDrive, const VHModelInfo &model, const QString &identityFile,
                                     const QByteArray &identityText)
    : m_rootDrive(rootDrive), m_model(model), m_identityFile(identityFile), m_identityText(identityText)
{}

bool VHFSDeviceService::identityText(QByteArray &bytes) const
{
    if (!m_identityText.isEmpty()) {
        bytes = m_identityText;
        return true;
    }
    return !m_identityFile.isEmpty() && readIdentity(m_rootDrive, m_identityFile, bytes);
}

bool VHFSDeviceService::identityTextOf(const VHFSDeviceService *service, QString (*find)(const QString &),
                                       QByteArray &bytes)
{
    if (!service)
        return false;
    if (!service->identityFile().isEmpty() || !service->m_identityText.isEmpty())
        return service->identityText(bytes);
    const QString found = find(service->rootPath());
    return !found.isEmpty() && readIdentity(service->rootPath(), found, bytes);
}

bool VHFSDeviceService::getUUID(QString &uuid)
{
    uuid.clear();
    QByteArray bytes;
    if (!identityText(bytes))
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

bool VHFSDeviceService::writeMarker(const QString &root, const QString &path, QByteArray &bytes)
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
    // The file is rewritten from `bytes`: a read the link corrupted would
    // become the device's file for good.
    QByteArray current;
    if (!readIdentity(root, path, current) || current != bytes) {
        vhWarning() << "identity file reads differently each time, no marker written: " << path;
        return false;
    }
    if (!VHSafeFolder::writeFileBelow(root, path, marked, VHSafeFolder::Durable)) {
        vhWarning() << "can not write the marker into " << path;
        return false;
    }
    bytes = marked;
    return true;
}
