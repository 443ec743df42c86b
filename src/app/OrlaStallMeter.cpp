#include "OrlaStallMeter.h"

#include "VHLog.h"

#include <QAbstractEventDispatcher>
#include <QFile>
#include <QMetaEnum>
#include <QThread>

namespace {

// Deeper nesting than this is counted, not described.
constexpr qsizetype kMaxTrackedDepth = 64;

} // namespace

OrlaStallMeter::OrlaStallMeter(QObject *parent) : QObject(parent)
{
    m_ticker.setTimerType(Qt::PreciseTimer);
    m_ticker.setInterval(kTickMs);
    connect(&m_ticker, &QTimer::timeout, this, &OrlaStallMeter::onTick);
}

OrlaStallMeter::~OrlaStallMeter() { stop(); }

std::unique_ptr<OrlaStallMeter> OrlaStallMeter::fromEnvironment()
{
    const QString path = qEnvironmentVariable(kLogVariable);
    if (path.isEmpty())
        return nullptr;
    auto meter = std::make_unique<OrlaStallMeter>();
    meter->m_logPath = path;
    meter->start();
    return meter;
}

void OrlaStallMeter::start()
{
    if (m_running)
        return;
    m_running = true;
    m_startUpMs = -1;
    m_clock.start();
    m_lastTickNs = 0;
    m_longestNs = -1;
    m_unmeasuredNs = 0;
    m_stretchOpen = false;
    switchActivity(0);
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &OrlaStallMeter::onLoopSleeps);
    m_ticker.start();
}

void OrlaStallMeter::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_ticker.stop();
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(thread()))
        disconnect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &OrlaStallMeter::onLoopSleeps);
}

void OrlaStallMeter::reset()
{
    m_worstMs = 0;
    m_worstPlace.clear();
    m_worstEnd = QTime();
    m_lastTickNs = m_clock.isValid() ? m_clock.nsecsElapsed() : 0;
    m_longestNs = -1;
    m_unmeasuredNs = 0;
    // What ran before is forgotten too: the stretch under way starts now.
    m_currentSinceNs = m_lastTickNs;
}

bool OrlaStallMeter::onMyThread() const { return m_running && QThread::currentThread() == thread(); }

void OrlaStallMeter::eventBegins(QObject *receiver, QEvent *event)
{
    if (!onMyThread())
        return;
    const QObject *owner = receiver->parent();
    enter({event->type(), receiver->metaObject(), owner ? owner->metaObject() : nullptr});
}

void OrlaStallMeter::eventEnds()
{
    if (onMyThread())
        leave();
}

OrlaStallMeter::Section::Section(OrlaStallMeter *meter, const char *name, Measured measured) : m_meter(meter)
{
    if (m_meter && m_meter->onMyThread())
        m_meter->enter({QEvent::None, nullptr, nullptr, name, measured == Measured::Yes});
}

OrlaStallMeter::Section::~Section()
{
    if (m_meter && m_meter->onMyThread())
        m_meter->leave();
}

void OrlaStallMeter::enter(const Activity &activity)
{
    if (m_events.size() >= kMaxTrackedDepth) {
        ++m_untrackedDepth;
        return;
    }
    m_events.append(activity);
    switchActivity(m_clock.nsecsElapsed());
}

void OrlaStallMeter::leave()
{
    if (m_untrackedDepth > 0) {
        --m_untrackedDepth;
        return;
    }
    // An event that began before start() ends without a begin here.
    if (m_events.isEmpty())
        return;
    m_events.removeLast();
    switchActivity(m_clock.nsecsElapsed());
}

void OrlaStallMeter::onLoopSleeps()
{
    // Waiting for events is not a stall: the stretch ends here, and the next
    // event begins a new one.
    switchActivity(m_clock.nsecsElapsed());
    m_stretchOpen = false;
}

void OrlaStallMeter::switchActivity(qint64 nowNs)
{
    if (m_stretchOpen && !m_current.measured)
        m_unmeasuredNs += nowNs - m_currentSinceNs;
    else if (m_stretchOpen && nowNs - m_currentSinceNs > m_longestNs) {
        m_longestNs = nowNs - m_currentSinceNs;
        m_longest = m_current;
    }
    m_current = m_events.isEmpty() ? Activity() : m_events.last();
    m_currentSinceNs = nowNs;
    m_stretchOpen = true;
}

void OrlaStallMeter::onTick()
{
    const qint64 now = m_clock.nsecsElapsed();
    // Time the thread spent on code that is not the updater's does not count.
    const qint64 lateMs = (now - m_lastTickNs - m_unmeasuredNs) / 1000000 - kTickMs;
    if (m_startUpMs < 0) {
        noteStartUp(qMax<qint64>(lateMs + kTickMs, 0));
        return;
    }
    if (lateMs >= kLogAtMs || lateMs > m_worstMs) {
        // The tick's own event began last and ended no stretch yet: what
        // ran before it is the stall.
        const QString place = describe(m_longestNs >= 0 ? m_longest : m_current);
        if (lateMs >= kLogAtMs)
            vhDebug() << "GUI stall: " << lateMs << " ms (" << place << ", longest stretch "
                      << qMax<qint64>(m_longestNs, 0) / 1000000 << " ms)";
        if (lateMs > m_worstMs) {
            m_worstMs = lateMs;
            m_worstEnd = QTime::currentTime();
            m_worstPlace = place;
        }
    }
    m_lastTickNs = now;
    m_longestNs = -1;
    m_unmeasuredNs = 0;
}

void OrlaStallMeter::noteStartUp(qint64 ms)
{
    m_startUpMs = ms;
    vhDebug() << "start-up before the event loop: " << ms << " ms";
    m_lastTickNs = m_clock.nsecsElapsed();
    m_longestNs = -1;
    m_unmeasuredNs = 0;
}

QString OrlaStallMeter::describe(const Activity &activity)
{
    if (activity.section)
        return QString::fromLatin1(activity.section);
    if (activity.type == QEvent::None || !activity.receiver)
        return QStringLiteral("code outside event dispatch");
    const char *name = QMetaEnum::fromType<QEvent::Type>().valueToKey(activity.type);
    const QString type = name ? QString::fromLatin1(name) : QStringLiteral("event %1").arg(int(activity.type));
    QString text = QStringLiteral("%1 to %2").arg(type, QString::fromLatin1(activity.receiver->className()));
    if (activity.owner)
        text += QStringLiteral(" in ") + QString::fromLatin1(activity.owner->className());
    return text;
}

QString OrlaStallMeter::summary() const
{
    QString text = QStringLiteral("worst GUI stall: %1 ms").arg(m_worstMs);
    if (!m_worstPlace.isEmpty())
        text +=
            QStringLiteral(" (%1, ended at %2)").arg(m_worstPlace, m_worstEnd.toString(QStringLiteral("hh:mm:ss.zzz")));
    if (m_startUpMs >= 0)
        text += QStringLiteral("; start-up before the event loop: %1 ms").arg(m_startUpMs);
    return text;
}

bool OrlaStallMeter::appendSummaryTo(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    const QByteArray line = summary().toUtf8() + '\n';
    return file.write(line) == line.size() && file.flush();
}
