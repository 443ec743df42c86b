#include "OrlaJobLedger.h"

#include "VHClient.h"

#include <algorithm>

int OrlaJobLedger::actionOf(Job job)
{
    switch (job) {
    case Job::SoftwareUpdate:
        return VHClient::ActionUpdateTotal;
    case Job::WorkoutCheck:
    case Job::WorkoutInstall:
        return VHClient::ActionUpdateComponent;
    case Job::FactoryRestore:
        return VHClient::ActionRestoreFactory;
    case Job::AlpWrite:
        break;
    }
    return VHClient::ActionUpdateAlp;
}

void OrlaJobLedger::start(VHClient *device, Job job) { m_entries.append({device, job}); }

std::optional<OrlaJobLedger::Entry> OrlaJobLedger::finish(VHClient *device, int action)
{
    m_entries.removeIf([](const Entry &entry) { return entry.device.isNull(); });
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const Entry &entry = m_entries.at(i);
        if (actionOf(entry.job) == action && entry.device == device)
            return m_entries.takeAt(i);
    }
    return std::nullopt;
}

bool OrlaJobLedger::isRunning(Job job) const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(), [job](const Entry &entry) { return entry.job == job; });
}

void OrlaJobLedger::setOwed(Job job, bool owed)
{
    if (job == Job::AlpWrite)
        m_alpWriteOwed = owed;
    else if (job == Job::WorkoutCheck)
        m_workoutCheckOwed = owed;
}

bool OrlaJobLedger::isWritingDevice(const VHClient *current) const
{
    for (const Entry &entry : m_entries) {
        if (entry.job != Job::WorkoutCheck && entry.device && entry.device->isBusy())
            return true;
    }
    if (!current || !current->isBusy())
        return false;
    return !(current->currentAction() == VHClient::ActionUpdateComponent && isRunning(Job::WorkoutCheck));
}
