#pragma once

#include <QList>
#include <QPointer>

#include <optional>

class VHClient;

// The device actions the controller started, each remembered until its end
// is reported (the device that ran it may have been removed since), and the
// work a busy device made it put off until the device is free.
class OrlaJobLedger
{
public:
    enum class Job { SoftwareUpdate, WorkoutCheck, WorkoutInstall, AlpWrite, FactoryRestore };
    struct Entry
    {
        QPointer<VHClient> device;
        Job job;
    };

    // The device action code a job runs as.
    static int actionOf(Job job);

    void start(VHClient *device, Job job);
    // Takes out the job `device` ran as `action`; none when it was not
    // started here. Jobs of deleted devices are dropped: they never end.
    std::optional<Entry> finish(VHClient *device, int action);
    bool isRunning(Job job) const;

    // Only a workout check and an assist-data write are put off.
    void setOwed(Job job, bool owed);
    bool isOwed(Job job) const { return job == Job::AlpWrite ? m_alpWriteOwed : m_workoutCheckOwed; }
    void forgetOwed() { m_alpWriteOwed = m_workoutCheckOwed = false; }

    bool isPending(Job job) const { return isRunning(job) || isOwed(job); }
    // True while a job started here writes its device, or while `current`
    // runs an action not started here (one the device manager resumed); the
    // silent workout check only reads the package.
    bool isWritingDevice(const VHClient *current) const;

private:
    QList<Entry> m_entries;
    bool m_alpWriteOwed = false;
    bool m_workoutCheckOwed = false;
};
