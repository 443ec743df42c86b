#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class VHClient;

// Follows a device that leaves in the middle of its job and comes back: a
// software update or factory restore that continues in the device's loader
// (the device manager keeps the object and resumes the action), a factory
// restore whose device formats itself (the second pass runs on the device
// that comes back), or a device pulled while its update or restore runs.
// While it follows, the window in front stays and says what happens; the job
// ends with the completion or the failure window, or, when the device stays
// away too long, with the failure window and what to do. The result stays in front
// through the device's own restart after the job.
class OrlaRestartWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultTimeoutSeconds = 180;
    enum class Phase {
        Idle,
        AskedToRestart, // the device formats itself at its next start; the user restarts it
        Away,           // the device left; waiting for the same UUID
        Finishing,      // the job's last pass runs
    };
    Q_ENUM(Phase)

    // The time-out is the setting "restarttimeout" (seconds) of the settings file.
    OrlaRestartWatch();

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    int timeoutMs() const { return m_timeoutMs; }
    Phase phase() const { return m_phase; }
    bool isFollowing() const { return m_phase != Phase::Idle; }

    // The device manager's news. Each returns true when the watch has taken
    // the event over: the window in front stays as it is.
    bool onDeviceRestarting(VHClient *device);
    bool onDeviceDisconnected(VHClient *device);
    bool onDeviceConnected(VHClient *device);
    bool onActionDone(VHClient *device, int action);

    // A pass started from the window on a device waiting in its loader: its
    // end is shown like a resumed one.
    void followPass(VHClient *device);
    // The user left the result window: the next events are ordinary again.
    void release();

    // The texts the windows show while the watch follows a device.
    static QString restartingText();
    static QString replugText();
    // What the failure window says when the device stayed away, and what to do.
    enum class Hint { Recover, RestoreAgain, UpdateAgain };
    static QString timeoutDetails(int seconds, Hint hint);

signals:
    void waiting(const QString &text);
    void passStarted(VHClient *device);
    void finished(bool ok, int code, const QString &reason);
    void gaveUp(const QString &details);

private:
    void follow(VHClient *device, Phase phase, const QString &text);
    void onTimeout();
    void finish(VHClient *device);
    void startSecondPass(VHClient *device);
    void hold();
    static QString uuidOf(VHClient *device);

    Phase m_phase = Phase::Idle;
    QPointer<VHClient> m_followed;
    QString m_uuid;
    // The device formats itself: the controller runs the restore's second pass on its return.
    bool m_secondPass = false;
    bool m_secondPassRan = false;
    // The result window stays through this device's own restart.
    QString m_heldUuid;
    // A pass given up on: its end is already shown.
    QPointer<VHClient> m_abandoned;
    QTimer m_timer;
    int m_timeoutMs = kDefaultTimeoutSeconds * 1000;
};
