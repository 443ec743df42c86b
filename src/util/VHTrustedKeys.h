#pragma once

#include "VHMinisign.h"

#include <QList>
#include <QString>
#include <QStringList>

// The public keys packages are trusted from: every "*.pub" in the key
// folders. A key file that does not parse is logged and skipped.
class VHTrustedKeys
{
public:
    // Installed with the program; VELORA_KEYS_DIR (':'-separated) replaces it.
    static inline const QString kSystemFolder = QStringLiteral("/usr/share/veloraupdate/keys");

    // The system folders (or VELORA_KEYS_DIR's), then the user's
    // "<config>/veloraupdate/keys".
    static QStringList folders();
    static VHTrustedKeys load(const QStringList &folders = VHTrustedKeys::folders());

    void add(const VHMinisign::PublicKey &key) { m_keys.append(key); }
    const VHMinisign::PublicKey *find(quint64 keyId) const;
    bool isEmpty() const { return m_keys.isEmpty(); }
    qsizetype size() const { return m_keys.size(); }

private:
    void loadFolder(const QString &folder);

    QList<VHMinisign::PublicKey> m_keys;
};
