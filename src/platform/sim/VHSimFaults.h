#pragma once

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
//   corruptAfter=M       ... counted after the first M reads with that selector
//   flashNeverReady=1    the flash status (15h) always answers busy
//   eraseKeepsData=1     erases (18h, 0Eh) succeed and change nothing
//
// Commands are counted per connection from its opening or from the last
// change of the rules. A command a fault touched carries " fault=<what>" in the
// command log.
struct VHSimFaults
{
    int vanishAfter = -1;
    int failCommand = 0;
    int failSelector = -1;
    int corruptReads = 0;
    int corruptSelector = -1;
    int corruptAfter = 0;
    bool flashNeverReady = false;
    bool eraseKeepsData = false;

    bool operator==(const VHSimFaults &) const = default;
    bool isEmpty() const { return *this == VHSimFaults(); }
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
    int m_selectorReads = 0;
};
