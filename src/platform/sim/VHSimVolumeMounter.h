#pragma once

#include "VHVolumeMounter.h"

// The simulation root's drives that are present but not mounted: folders in
// <root>/.unmounted. Mounting moves one into the root, where it is a drive; a
// "mountRefusal" text in its .simdrive makes the mount fail with that reason.
class VHSimVolumeMounter : public VHVolumeMounter
{
    Q_OBJECT

public:
    explicit VHSimVolumeMounter(const QString &root, QObject *parent = nullptr);

    QList<VHUnmountedVolume> unmountedVolumes() override;
    void mount(const QString &node) override;

private:
    void finish(const QString &node, bool ok, const QString &text);

    QString m_root;
};
