#include "VHSimDeviceWatcher.h"

#include "VHDeviceEvents.h"
#include "VHLog.h"
#include "VHSimLayout.h"

#include <QDir>
#include <QFileSystemWatcher>

VHSimDeviceWatcher::VHSimDeviceWatcher(const QString &root, QObject *parent)
    : VHDeviceWatcher(parent), m_root(QDir::cleanPath(QDir(root).absolutePath())),
      m_watcher(new QFileSystemWatcher(this))
{
    QDir().mkpath(m_root + QLatin1Char('/') + VHSimLayout::kScsiFolder);
    watchFolders();
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &VHSimDeviceWatcher::rescan);
    m_drives = driveKeys();
    m_scsi = scsiKeys();
    m_unmounted = VHSimLayout::unmountedDriveNames(m_root);
}

VHSimDeviceWatcher::~VHSimDeviceWatcher() = default;

void VHSimDeviceWatcher::watchFolders()
{
    const QString scsi = m_root + QLatin1Char('/') + VHSimLayout::kScsiFolder;
    QStringList wanted{m_root, scsi, m_root + QLatin1Char('/') + VHSimLayout::kUnmountedFolder};
    for (const QString &folder : std::as_const(wanted)) {
        if (!m_watcher->directories().contains(folder) && QDir(folder).exists())
            m_watcher->addPath(folder);
    }
}

QSet<QString> VHSimDeviceWatcher::driveKeys() const
{
    QSet<QString> keys;
    for (const QString &drive : VHSimLayout::driveFolders(m_root))
        keys.insert(VHSimLayout::driveKey(drive));
    return keys;
}

QSet<QString> VHSimDeviceWatcher::scsiKeys() const
{
    QSet<QString> keys;
    for (const QString &name : VHSimLayout::scsiDeviceNames(m_root))
        keys.insert(VHSimLayout::scsiKey(m_root, name));
    return keys;
}

void VHSimDeviceWatcher::rescan()
{
    // The SCSI folder may have been removed and made again, the unmounted one made late.
    watchFolders();
    const QSet<QString> drives = driveKeys();
    const QSet<QString> scsi = scsiKeys();
    const bool removed = !(m_drives - drives).isEmpty();
    const bool added = !(drives - m_drives).isEmpty();
    const QStringList unmounted = VHSimLayout::unmountedDriveNames(m_root);
    const bool nodesChanged = scsi != m_scsi || unmounted != m_unmounted;
    m_drives = drives;
    m_scsi = scsi;
    m_unmounted = unmounted;
    if (removed)
        emit DeviceChange(VHDeviceEvent::RemoveComplete);
    if (added)
        emit DeviceChange(VHDeviceEvent::Arrival);
    if (nodesChanged)
        emit DeviceChange(VHDeviceEvent::NodesChanged);
}
