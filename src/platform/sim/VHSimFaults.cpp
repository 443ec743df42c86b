#include "VHSimFaults.h"

#include "VHSimLayout.h"

#include <QSettings>

#include <array>

namespace {

const QString kGroup = QStringLiteral("Faults/");

int number(const QHash<QString, QString> &ini, const QString &key, int fallback)
{
    bool ok = false;
    const int value = ini.value(kGroup + key).toInt(&ok, 0);
    return ok ? value : fallback;
}

int number(const QHash<QString, QString> &ini, const char *key, int fallback)
{
    return number(ini, QString::fromLatin1(key), fallback);
}

// The rule keys of the storage faults after their prefix, in describe() order.
const char *const kStorageKeys[] = {"FailWrite", "FailFsync", "FailRename", "NoSpaceFrom", "VanishAt", "CorruptRead"};

std::array<int *, 6> storageValues(VHSimStorageFaults &faults)
{
    return {&faults.failWrite,   &faults.failFsync, &faults.failRename,
            &faults.noSpaceFrom, &faults.vanishAt,  &faults.corruptRead};
}

void writeRules(const QString &recordPath, const QStringList &rules)
{
    QSettings ini(recordPath, QSettings::IniFormat);
    ini.remove(QStringLiteral("Faults"));
    for (const QString &rule : rules)
        ini.setValue(kGroup + rule.section(QLatin1Char('='), 0, 0), rule.section(QLatin1Char('='), 1).toInt());
}

} // namespace

VHSimFaults VHSimFaults::read(const QString &recordPath)
{
    const QHash<QString, QString> ini = VHSimLayout::readSmallIni(recordPath);
    VHSimFaults faults;
    faults.vanishAfter = qMax(number(ini, "vanishAfter", -1), -1);
    faults.failCommand = qMax(number(ini, "failCommand", 0), 0);
    faults.failSelector = number(ini, "failSelector", -1);
    faults.corruptReads = qMax(number(ini, "corruptReads", 0), 0);
    faults.corruptSelector = number(ini, "corruptSelector", -1);
    faults.flashNeverReady = number(ini, "flashNeverReady", 0) != 0;
    faults.eraseKeepsData = number(ini, "eraseKeepsData", 0) != 0;
    faults.volume = VHSimStorageFaults::fromIni(ini, QStringLiteral("volume"));
    return faults;
}

QStringList VHSimFaults::describe() const
{
    QStringList rules;
    const auto add = [&rules](const char *key, int value) {
        rules.append(QLatin1String(key) + QLatin1Char('=') + QString::number(value));
    };
    if (vanishAfter >= 0)
        add("vanishAfter", vanishAfter);
    if (failCommand > 0) {
        add("failCommand", failCommand);
        add("failSelector", failSelector);
    }
    if (corruptReads > 0) {
        add("corruptReads", corruptReads);
        add("corruptSelector", corruptSelector);
    }
    if (flashNeverReady)
        add("flashNeverReady", 1);
    if (eraseKeepsData)
        add("eraseKeepsData", 1);
    return rules + volume.describe(QStringLiteral("volume"));
}

VHSimFaults VHSimFaults::withoutVolumeRules() const
{
    VHSimFaults scsi = *this;
    scsi.volume = VHSimStorageFaults();
    return scsi;
}

void VHSimFaults::write(const QString &recordPath) const { writeRules(recordPath, describe()); }

VHSimStorageFaults VHSimStorageFaults::fromIni(const QHash<QString, QString> &ini, const QString &prefix)
{
    VHSimStorageFaults faults;
    const std::array<int *, 6> values = storageValues(faults);
    for (size_t i = 0; i < values.size(); ++i)
        *values[i] = qMax(number(ini, prefix + QLatin1String(kStorageKeys[i]), 0), 0);
    return faults;
}

QStringList VHSimStorageFaults::describe(const QString &prefix) const
{
    QStringList rules;
    VHSimStorageFaults copy = *this;
    const std::array<int *, 6> values = storageValues(copy);
    for (size_t i = 0; i < values.size(); ++i) {
        if (*values[i] > 0)
            rules.append(prefix + QLatin1String(kStorageKeys[i]) + QLatin1Char('=') + QString::number(*values[i]));
    }
    return rules;
}

VHSimStorageFaults VHSimStorageFaults::readDataFolder(const QString &rulesPath)
{
    VHSimStorageFaults faults = fromIni(VHSimLayout::readSmallIni(rulesPath), QStringLiteral("data"));
    faults.vanishAt = 0; // the data folder cannot be pulled
    return faults;
}

void VHSimStorageFaults::writeDataFolder(const QString &rulesPath) const
{
    VHSimStorageFaults rules = *this;
    rules.vanishAt = 0;
    writeRules(rulesPath, rules.describe(QStringLiteral("data")));
}

void VHSimFaultPlan::reset(const VHSimFaults &faults)
{
    m_faults = faults;
    m_commands = 0;
    m_selectorCommands = 0;
    m_corrupted = 0;
}

bool VHSimFaultPlan::failsNow(int selector)
{
    if (m_faults.failCommand <= 0 || selector != m_faults.failSelector)
        return false;
    return ++m_selectorCommands == m_faults.failCommand;
}

bool VHSimFaultPlan::corrupt(int selector, std::uint8_t *buffer, int length)
{
    if (selector != m_faults.corruptSelector || m_corrupted >= m_faults.corruptReads || length <= 0)
        return false;
    ++m_corrupted;
    buffer[length / 2] = std::uint8_t(~buffer[length / 2]);
    return true;
}

bool VHSimFaultPlan::vanishesNow()
{
    ++m_commands;
    return m_faults.vanishAfter >= 0 && m_commands >= m_faults.vanishAfter;
}
