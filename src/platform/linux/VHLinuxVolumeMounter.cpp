#include "VHLinuxVolumeMounter.h"

#include "VHLog.h"
#include "VHMountTable.h"
#include "VHSysfs.h"
#include "VHUDisks2.h"

#include <QDir>
#include <QSet>
#include <QTimer>

namespace {

// udev's properties of a block device, "E:KEY=value" lines of its database file.
QString udevProperty(const QString &udevData, const QString &devNumber, const QString &key)
{
    const QByteArray text = VHSysfs::readAttribute(udevData + QStringLiteral("/b") + devNumber, 64 * 1024);
    const QByteArray prefix = "E:" + key.toLatin1() + '=';
    for (const QByteArray &line : text.split('\n')) {
        if (line.startsWith(prefix))
            return QString::fromUtf8(line.mid(prefix.size()));
    }
    return {};
}

// The folders of the disk's partitions, or the disk itself when it has none.
QStringList fileSystemFolders(const VHBlockDisk &disk)
{
    QStringList folders;
    const QDir diskDir(disk.sysPath);
    for (const QString &name : diskDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (QFileInfo::exists(diskDir.filePath(name) + QStringLiteral("/partition")))
            folders.append(diskDir.filePath(name));
    }
    if (folders.isEmpty())
        folders.append(disk.sysPath);
    return folders;
}

} // namespace

VHLinuxVolumeMounter::VHLinuxVolumeMounter(const VHLinuxPaths &paths, VHUDisks2Client *client)
    : m_paths(paths), m_client(client ? client : new VHUDisks2Client())
{
    m_client->setParent(this);
    connect(m_client, &VHUDisks2Client::mountFinished, this,
            [this](VHUDisks2Client::Result result, const QString &text) {
                emit mountFinished(std::exchange(m_pendingNode, QString()), result == VHUDisks2Client::Result::Mounted,
                                   text);
            });
}

VHLinuxVolumeMounter::~VHLinuxVolumeMounter() = default;

QList<VHUnmountedVolume> VHLinuxVolumeMounter::unmountedVolumes()
{
    QSet<QString> mounted;
    for (const VHMountEntry &entry : VHMountTable::parse(VHMountTable::readFile(m_paths.mountInfo)))
        mounted.insert(QStringLiteral("%1:%2").arg(entry.major).arg(entry.minor));
    QList<VHUnmountedVolume> volumes;
    for (const VHBlockDisk &disk : VHSysfs::listDisks(m_paths.sysRoot)) {
        if (!disk.isUsbMassStorage())
            continue;
        for (const QString &folder : fileSystemFolders(disk)) {
            const QString number = VHSysfs::readText(folder + QStringLiteral("/dev"));
            if (number.isEmpty() || mounted.contains(number)
                || udevProperty(m_paths.udevData, number, QStringLiteral("ID_FS_USAGE")) != QLatin1String("filesystem"))
                continue;
            const QString name = VHSysfs::ueventValue(folder, QStringLiteral("DEVNAME"));
            const QString label = udevProperty(m_paths.udevData, number, QStringLiteral("ID_FS_LABEL"));
            volumes.append({QStringLiteral("/dev/") + (name.isEmpty() ? QDir(folder).dirName() : name),
                            label.isEmpty()
                                ? (disk.vendor.trimmed() + QLatin1Char(' ') + disk.model.trimmed()).trimmed()
                                : label});
        }
    }
    return volumes;
}

void VHLinuxVolumeMounter::mount(const QString &node)
{
    if (!m_pendingNode.isEmpty() || m_client->isBusy()) {
        // The answer comes from the event loop, as every other one does.
        QTimer::singleShot(0, this, [this, node] { emit mountFinished(node, false, QStringLiteral("busy")); });
        return;
    }
    vhDebug() << "mount " << node << " on the user's request";
    m_pendingNode = node;
    m_client->mount(node);
}
