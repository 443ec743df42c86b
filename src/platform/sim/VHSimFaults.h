#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>

// Faults of a simulated SCSI device, kept in the [Faults] group of its sim.ini
// (selectors in decimal or 0x hexadecimal):
//
//   vanishAfter=N        after N commands the device is pulled: its link goes and
//                        later commands fail; the rule goes with it (a cable is pulled once)
//   failCommand=N        the N-th READ/WRITE(10) with selector failSelector fails
//   failSelector=S
//   corruptReads=K       the first K reads with selector corruptSelector succeed with
//   corruptSelector=S    the middle byte of the answer inverted
//   flashNeverReady=1    the flash status (15h) always answers busy
//   eraseKeepsData=1     erases (18h, 0Eh) succeed and change nothing
//
// Commands are counted per connection from its opening or from the last
// change of the rules. A command a fault touched carries " fault=<what>" in the
// command log.
//
// Faults of the files on a device's volumes, in the same group (any device
// with a device folder; see VHSimFileFaults.h for how operations are counted):
//
//   volumeFailWrite=N    the N-th write fails with EIO
//   volumeFailFsync=N    the N-th fsync/fdatasync/syncfs fails with EIO
//   volumeFailRename=N   the N-th rename fails with EIO
//   volumeNoSpaceFrom=N  every write from the N-th on fails with ENOSPC
//   volumeVanishAt=N     the N-th operation of any kind pulls the device and
//                        fails with ENODEV, as do later ones on that plugging;
//                        the rule goes with it
//   volumeCorruptRead=N  the N-th read that gave bytes has its middle byte inverted
//
// The data folder's rules are the same but for the vanish, as keys
// dataFailWrite, dataFailFsync, dataFailRename, dataNoSpaceFrom and
// dataCorruptRead in the [Faults] group of <sim root>/.datafolder.ini.
struct VHSimStorageFaults
{
    int failWrite = 0;
    int failFsync = 0;
    int failRename = 0;
    int noSpaceFrom = 0;
    int vanishAt = 0;
    int corruptRead = 0;

    bool operator==(const VHSimStorageFaults &) const = default;
    bool isEmpty() const { return *this == VHSimStorageFaults(); }
    // "<prefix>FailWrite=N" ... of every rule set.
    QStringList describe(const QString &prefix) const;
    static VHSimStorageFaults fromIni(const QHash<QString, QString> &ini, const QString &prefix);

    // The data folder's rules file; writing an empty set removes the group.
    static VHSimStorageFaults readDataFolder(const QString &rulesPath);
    void writeDataFolder(const QString &rulesPath) const;
};

struct VHSimFaults
{
    int vanishAfter = -1;
    int failCommand = 0;
    int failSelector = -1;
    int corruptReads = 0;
    int corruptSelector = -1;
    bool flashNeverReady = false;
    bool eraseKeepsData = false;
    VHSimStorageFaults volume;

    bool operator==(const VHSimFaults &) const = default;
    bool isEmpty() const { return *this == VHSimFaults(); }
    bool hasScsiRules() const { return !withoutVolumeRules().isEmpty(); }
    VHSimFaults withoutVolumeRules() const;
    // "key=value" of every rule set.
    QStringList describe() const;

    static VHSimFaults read(const QString &recordPath);
    // Replaces the group; an empty set removes it.
    void write(const QString &recordPath) const;
};

// The rules applied to one connection's commands.
class VHSimFaultPlan
{
public:
    void reset(const VHSimFaults &faults);
    const VHSimFaults &faults() const { return m_faults; }

    // Before a READ/WRITE(10): whether this one is the command to fail.
    bool failsNow(int selector);
    // After a read that succeeded: inverts one byte when due.
    bool corrupt(int selector, std::uint8_t *buffer, int length);
    // After any command: whether the device vanishes now.
    bool vanishesNow();

private:
    VHSimFaults m_faults;
    int m_commands = 0;
    int m_selectorCommands = 0;
    int m_corrupted = 0;
};
