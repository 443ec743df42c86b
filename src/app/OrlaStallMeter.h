#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>
#include <QVarLengthArray>

#include <memory>

// Measures how long the GUI thread could not answer: the worst stall of its
// event loop, when it ended and what the thread was doing.
//
// The measure is a 5 ms precise timer: a tick that comes N ms late means a
// click or repaint arriving then would also have waited N ms, whatever held
// the thread (an event handler, the caller of a nested loop). The first tick
// measures the start-up instead: until the loop first turns, no window is on
// screen for a click or repaint to reach, so that time is reported apart.
// It costs 200 wake-ups a second and nothing per event.
// Timing each event's dispatch alone would miss work done outside events,
// and an event filter sees where an event begins but not where it ends.
//
// To say where a stall sat, the application reports each event's begin and
// end (its notify()): the meter keeps what runs now (the innermost event
// under way, or code outside event dispatch) and, between two ticks, the
// longest stretch one of them ran without the loop going to sleep. That
// stretch names the stall.
//
// Switched on by VELORA_STALL_LOG=<file>: the application makes one meter
// and appends summary() to the file at its end.
class OrlaStallMeter : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTickMs = 5;
    // Stalls this long are written to the log one by one, with their place.
    static constexpr int kLogAtMs = 30;
    static constexpr const char *kLogVariable = "VELORA_STALL_LOG";

    explicit OrlaStallMeter(QObject *parent = nullptr);
    ~OrlaStallMeter() override;

    // A started meter when the environment names a stall log, else none.
    static std::unique_ptr<OrlaStallMeter> fromEnvironment();
    // The stall log the environment named when the meter was made.
    QString logPath() const { return m_logPath; }

    void start();
    void stop();
    // Forgets the worst stall seen so far.
    void reset();

    // Called around every event the application delivers; events of other
    // threads are ignored.
    void eventBegins(QObject *receiver, QEvent *event);
    void eventEnds();

    // Names code that runs outside event dispatch ("start-up", a demo
    // driver's step) while it lives, so a stall there says which; events
    // dispatched meanwhile still name themselves. A section of code that is
    // not the updater's own (`Measured::No`: a driver pressing its buttons)
    // holds the thread without that counting as a stall; events inside it
    // still count. Null meter: nothing.
    enum class Measured { Yes, No };
    class Section
    {
    public:
        Section(OrlaStallMeter *meter, const char *name, Measured measured = Measured::Yes);
        ~Section();
        Section(const Section &) = delete;
        Section &operator=(const Section &) = delete;

    private:
        OrlaStallMeter *const m_meter;
    };

    qint64 worstStallMs() const { return m_worstMs; }
    // How long the thread ran from start() to its event loop's first turn
    // (the program's start-up: no window is on screen before it); -1 before
    // that turn. Kept apart from the stalls, which a shown window suffers.
    qint64 startUpMs() const { return m_startUpMs; }
    // "Timer to QTimer in OrlaMountOffer", "MetaCall to VHFitDevice", a
    // section's name or "code outside event dispatch"; empty before any stall.
    QString worstStallPlace() const { return m_worstPlace; }
    // "worst GUI stall: N ms (place, ended at hh:mm:ss.zzz); start-up before
    // the event loop: M ms"
    QString summary() const;
    // Appends summary() as one line; false when the file cannot be written.
    bool appendSummaryTo(const QString &path) const;

private:
    struct Activity
    {
        QEvent::Type type = QEvent::None; // None: code outside event dispatch
        const QMetaObject *receiver = nullptr;
        const QMetaObject *owner = nullptr; // the receiver's parent: which QTimer, which reply
        const char *section = nullptr;      // a Section's name, for code outside event dispatch
        bool measured = true;
    };

    bool onMyThread() const;
    void enter(const Activity &activity);
    void leave();
    void onTick();
    // The first tick ends the start-up, which is kept apart from the stalls.
    void noteStartUp(qint64 ms);
    void onLoopSleeps();
    // Ends the current stretch (keeping it when it is the longest since the
    // last tick) and begins one for the activity now on top.
    void switchActivity(qint64 nowNs);
    static QString describe(const Activity &activity);

    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_lastTickNs = 0;
    QVarLengthArray<Activity, 16> m_events; // events and sections under way, innermost last
    int m_untrackedDepth = 0;               // events and sections nested past what m_events holds
    Activity m_current;
    qint64 m_currentSinceNs = 0;
    bool m_stretchOpen = false;
    Activity m_longest; // the longest stretch since the last tick
    qint64 m_longestNs = -1;
    qint64 m_unmeasuredNs = 0; // spent in unmeasured sections since the last tick
    qint64 m_worstMs = 0;
    qint64 m_startUpMs = -1;
    QString m_worstPlace;
    QTime m_worstEnd;
    bool m_running = false;
    QString m_logPath;
};
