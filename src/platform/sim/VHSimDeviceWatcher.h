#pragma once

#include "VHDeviceWatcher.h"

#include <QSet>
#include <QString>

class QFileSystemWatcher;

// Device notifications of a simulation root, event driven through inotify: a
// drive folder appearing gives 0x8000, one vanishing 0x8004, a SCSI device
// plugged or unplugged 0x0007, and so does a drive appearing or vanishing unmounted.
class VHSimDeviceWatcher : public VHDeviceWatcher
{
    Q_OBJECT

public:
    explicit VHSimDeviceWatcher(const QString &root, QObject *parent = nullptr);
    ~VHSimDeviceWatcher() override;

public slots:
    void rescan();

private:
    QSet<QString> driveKeys() const;
    QSet<QString> scsiKeys() const;
    void watchFolders();

    QString m_root;
    QFileSystemWatcher *m_watcher;
    QSet<QString> m_drives;
    QSet<QString> m_scsi;
    QStringList m_unmounted;
};
