#include "VHDevSimWatch.h"

VHDevSimWatch::VHDevSimWatch(const QString &root, int pauseMs, QObject *parent)
    : QObject(parent), m_sim(root), m_pauseMs(qMax(pauseMs, 0))
{
    m_clock.start();
}

VHDevSimWatch::~VHDevSimWatch() { stop(); }

void VHDevSimWatch::start(int intervalMs)
{
    if (m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_stopMutex);
        m_stop = false;
    }
    m_thread = std::thread([this, intervalMs] { run(qMax(intervalMs, 1)); });
}

void VHDevSimWatch::stop()
{
    {
        std::lock_guard lock(m_stopMutex);
        m_stop = true;
    }
    m_stopped.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void VHDevSimWatch::run(int intervalMs)
{
    std::unique_lock lock(m_stopMutex);
    while (!m_stop) {
        lock.unlock();
        poll();
        lock.lock();
        m_stopped.wait_for(lock, std::chrono::milliseconds(intervalMs), [this] { return m_stop; });
    }
}

QStringList VHDevSimWatch::poll()
{
    std::lock_guard lock(m_pollMutex);
    QStringList lines;
    const qint64 now = m_clock.elapsed();
    const QStringList names = m_sim.devices();
    for (auto it = m_seen.begin(); it != m_seen.end();)
        it = names.contains(it.key()) ? std::next(it) : m_seen.erase(it);
    for (const QString &name : names) {
        const VHDevSim::SelfStart rule = m_sim.selfStart(name);
        if (rule == VHDevSim::SelfStart::None) {
            m_seen.remove(name);
            continue;
        }
        if (rule == VHDevSim::SelfStart::StaysAway) {
            m_sim.forgetEject(name);
            m_seen.remove(name);
            lines.append(name + QStringLiteral(": ejected; stays away until plugged"));
            continue;
        }
        // The pause counts from the first pass that saw this rule.
        const auto seen = m_seen.constFind(name);
        if (seen == m_seen.cend() || seen->first != rule) {
            m_seen.insert(name, {rule, now});
            if (m_pauseMs > 0)
                continue;
        } else if (now - seen->second < m_pauseMs) {
            continue;
        }
        m_seen.remove(name);
        lines.append(act(name, rule));
    }
    return lines;
}

QString VHDevSimWatch::act(const QString &name, VHDevSim::SelfStart rule)
{
    QStringList changes;
    bool ok = false;
    if (rule == VHDevSim::SelfStart::AfterEject) {
        m_sim.forgetEject(name);
        ok = m_sim.boot(name, &changes) && m_sim.plug(name);
    } else {
        ok = m_sim.restart(name, 0, &changes);
    }
    const QString reason =
        rule == VHDevSim::SelfStart::AfterEject ? QStringLiteral("eject") : QStringLiteral("IAP notification");
    if (!ok)
        return name + QStringLiteral(": restart after ") + reason + QStringLiteral(" failed: ") + m_sim.lastError();
    emit restarted(name, changes);
    QString line = name + QStringLiteral(": restarted after ") + reason;
    if (!changes.isEmpty())
        line += QStringLiteral(" (installed ") + changes.join(QLatin1Char(' ')) + QLatin1Char(')');
    return line;
}
