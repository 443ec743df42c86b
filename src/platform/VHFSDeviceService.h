#pragma once

#include "VHDeviceService.h"

// A device reached through its mounted volume and its identity file.
class VHFSDeviceService : public VHDeviceService
{
public:
    // `identityText`: the identity file's text as the drive scan read it, so
    // the device object does not read the file a second time; empty: read on use.
    VHFSDeviceService(const QString &rootDrive, const VHModelInfo &model, const QString &identityFile,
                      const QByteArray &identityText = {});

    // Reads the UUID from the identity file; false when it is empty or there
    // is no identity file. A file with a UUID gets the "VH" marker.
    bool getUUID(QString &uuid) override;
    VHModelInfo modelInfo() const override { return m_model; }
    int type() const override { return DEVICE_FS; }

    QString rootPath() const { return m_rootDrive; }
    QString secondaryDrive() const { return m_secondaryDrive; }
    void setSecondaryDrive(const QString &drive) { m_secondaryDrive = drive; }
    QString identityFile() const { return m_identityFile; }
    // The identity file's text: as the scan handed it on, else read now; false
    // without an identity file or when it can not be read.
    [[nodiscard]] bool identityText(QByteArray &bytes) const;
    // The same for a device object's service; one made without an identity
    // file looks for one on its volume with `find`.
    [[nodiscard]] static bool identityTextOf(const VHFSDeviceService *service, QString (*find)(const QString &),
                                             QByteArray &bytes);

    // The identity file at `path` on the volume at `root`, read once with the
    // size cap, through folder handles and never through a link (a file that
    // is a link is not the device's). `root` empty: `path`'s own folder.
    [[nodiscard]] static bool readIdentity(const QString &root, const QString &path, QByteArray &bytes);
    // Writes "VH=1" into the group "UUID" of a recognised identity file whose
    // text is `bytes`, changing no other byte, atomically; a file that the
    // marker would push past the size cap, or that no longer reads as `bytes`,
    // is left as it is. Once the file is marked, `bytes` is its new text.
    [[nodiscard]] static bool writeMarker(const QString &root, const QString &path, QByteArray &bytes);

private:
    QString m_rootDrive;
    QString m_secondaryDrive;
    VHModelInfo m_model;
    QString m_identityFile;
    QByteArray m_identityText;
};
