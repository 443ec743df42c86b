#pragma once

#include "VHLinuxPaths.h"
#include "VHVolumeMounter.h"

class VHUDisks2Client;

// Unmounted file systems of USB mass-storage disks: the partitions (or the
// whole disk when it has none) that udev found a file system on and that the
// mount table does not list. Mounting goes through UDisks2.
class VHLinuxVolumeMounter : public VHVolumeMounter
{
    Q_OBJECT

public:
    // client: the UDisks2 client to mount with (owned); a client on the system bus when null.
    explicit VHLinuxVolumeMounter(const VHLinuxPaths &paths = VHLinuxPaths(), VHUDisks2Client *client = nullptr);
    ~VHLinuxVolumeMounter() override;

    QList<VHUnmountedVolume> unmountedVolumes() override;
    void mount(const QString &node) override;

private:
    VHLinuxPaths m_paths;
    VHUDisks2Client *m_client;
    QString m_pendingNode;
};
