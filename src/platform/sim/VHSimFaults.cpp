#include "VHSimFaults.h"

#include "VHSimLayout.h"

#include <QSettings>

namespace {

const QString kGroup = QStringLiteral("Faults/");

int number(const QHash<QString, QString> &ini, const char *key, int fallback)
{
    bool ok = false;
    const int value = ini.value(kGroup + QLatin1String(key)).toInt(&ok, 0);
    return ok ? value : fallback;
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
    faults.corruptAfter = qMax(number(ini, "corruptAfter", 0), 0);
    faults.flashNeverReady = number(ini, "flashNeverReady", 0) != 0;
    faults.eraseKeepsData = number(ini, "eraseKeepsData", 0) != 0;
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
        if (corruptAfter > 0)
            add("corruptAfter", corruptAfter);
    }
    if (flashNeverReady)
        add("flashNeverReady", 1);
    if (eraseKeepsData)
        add("eraseKeepsData", 1);
    return rules;
}

void VHSimFaults::write(const QString &recordPath) const
{
    QSettings ini(recordPath, QSettings::IniFormat);
    ini.remove(QStringLiteral("Faults"));
    for (const QString &rule : describe())
        ini.setValue(kGroup + rule.section(QLatin1Char('='), 0, 0), rule.section(QLatin1Char('='), 1).toInt());
}

void VHSimFaultPlan::reset(const VHSimFaults &faults)
{
    m_faults = faults;
    m_commands = 0;
    m_selectorCommands = 0;
    m_corrupted = 0;
    m_selectorReads = 0;
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
    if (++m_selectorReads <= m_faults.corruptAfter)
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
