#include "VHTrustedKeys.h"

#include "VHLog.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

QStringList VHTrustedKeys::folders()
{
    const QString chosen = qEnvironmentVariable("VELORA_KEYS_DIR");
    QStringList folders =
        chosen.isEmpty() ? QStringList{kSystemFolder} : chosen.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!config.isEmpty())
        folders.append(config + QStringLiteral("/veloraupdate/keys"));
    return folders;
}

VHTrustedKeys VHTrustedKeys::load(const QStringList &folders)
{
    VHTrustedKeys keys;
    for (const QString &folder : folders)
        keys.loadFolder(folder);
    return keys;
}

void VHTrustedKeys::loadFolder(const QString &folder)
{
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.pub")}, QDir::Files, QDir::Name);
    for (const QFileInfo &info : files) {
        QFile file(info.filePath());
        VHMinisign::PublicKey key;
        const QByteArray text =
            file.open(QIODevice::ReadOnly) ? file.read(VHMinisign::kMaxSignatureSize + 1) : QByteArray();
        if (const VHResult parsed = VHMinisign::parsePublicKey(text, key); !parsed) {
            vhWarning() << "trusted key skipped:" << info.filePath() << parsed.reason;
            continue;
        }
        m_keys.append(key);
    }
}

const VHMinisign::PublicKey *VHTrustedKeys::find(quint64 keyId) const
{
    for (const VHMinisign::PublicKey &key : m_keys) {
        if (key.keyId == keyId)
            return &key;
    }
    return nullptr;
}
