#pragma once

#include <QList>
#include <QObject>
#include <QString>

// A file system on a USB mass-storage device that nobody has mounted.
struct VHUnmountedVolume
{
    QString node;  // what mount() takes: "/dev/sdb1", or the simulated drive's name
    QString label; // what the user recognises: the file-system label, else the disk's vendor and model
};

// Finds unmounted device volumes and mounts one when the user asks. Only the
// user's click mounts anything; the answer always comes from the event loop.
class VHVolumeMounter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual QList<VHUnmountedVolume> unmountedVolumes() = 0;
    // Starts mounting; ends with mountFinished. The system may ask the user
    // for authorisation meanwhile.
    virtual void mount(const QString &node) = 0;

signals:
    // ok with the mount point, or the refusal's reason.
    void mountFinished(const QString &node, bool ok, const QString &mountPointOrReason);
};
