#pragma once

#include "OrlaApp.h"
#include "OrlaJobLedger.h"
#include "OrlaRestartWatch.h"
#include "OrlaWindowActions.h"
#include "ReduzeduClient.h"
#include "VHDeviceManagerListener.h"
#include "VeloraApiClient.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class OrlaForm;
class QMessageBox;
class QWidget;
class SoftUpdateForm;
class VHClient;
class VHDeviceManager;
class VHUpdatesFolder;
class recover_complete_form;
class recover_fail_form;

// Decides everything the updater does: listens to the device manager, asks
// the update server for the newest package and the assist-data server for
// fresh GPS data, starts the device actions that write them, and switches
// between the main window, the software-update dialog and the two result
// windows. Runs on the GUI thread.
class OrlaController : public QObject,
                       public OrlaWindowActions,
                       public VHDeviceManagerListener,
                       public VeloraApiClientDelegate,
                       public ReduzeduClientDelegate
{
    Q_OBJECT

public:
    static constexpr int kProgressIntervalMs = 5000;
    static constexpr int kAlpDays = 14;

    // What a message box told the user; recorded so that callers check what
    // happened, never a translated text.
    enum class Message {
        None,
        CheckingNewVersion,
        SoftwareUpToDate,
        UpdateServerUnreachable,
        GpsDataUpToDate,
        Busy,
        GpsDownloadFailed,
        WorkoutsInstalled,
        WorkoutsFailed,
        WaitForDeviceWrite,
    };
    Q_ENUM(Message)

    // The version decides the beta look; tests pass their own.
    explicit OrlaController(const QString &appVersion = QLatin1String(OrlaApp::appVersion));
    ~OrlaController() override;

    // ---- the device manager ---------------------------------------------------
    void onDeviceConnected(VHClient *device) override;
    void onDeviceDisconnected(VHClient *device) override;
    void onDeviceChanged(VHClient *) override {}
    void onActionDone(VHClient *device, int action) override;
    void onDeviceRestarting(VHClient *device) override;

    // ---- the network clients ---------------------------------------------------
    void onUpdateFinished(bool ok) override;
    void onReduzeduFinished(bool ok) override;

    // ---- the windows -----------------------------------------------------------
    void offerSoftwareUpdate() override;
    void updateAlp(bool interactive) override;
    void installWorkouts() override;
    bool refuseIfBusy() override;
    void startSoftwareUpdate() override;
    void refreshMainWindow(bool disconnected) override;
    // A device waiting in its loader gets the rest of its update.
    void recoverDevice() override;
    QString note() override;
    bool isBeta() const;
    // True with four dot-separated parts whose fourth is an odd number (not
    // a number counts as 0), and with any other number of parts.
    static bool isBetaVersion(const QString &version);
    // Brings whichever of the windows is shown to the front (a second start).
    void raiseVisibleWindow();

    // ---- for the windows' owners and tests -------------------------------------
    OrlaForm *mainWindow() const { return m_mainWindow.get(); }
    SoftUpdateForm *softUpdateForm() const { return m_softUpdateForm.get(); }
    recover_complete_form *completeForm() const { return m_completeForm.get(); }
    recover_fail_form *failForm() const { return m_failForm.get(); }
    ReduzeduClient *assistClient() const { return m_assistClient.get(); }
    QString modelUpdatesDir() const;
    QString serverVersion() const { return m_serverVersion; }
    QString deviceVersion() const { return m_deviceVersion; }
    bool progressRunning() const { return m_progressTimer.isActive(); }
    bool workoutCheckPending() const { return m_jobs.isPending(OrlaJobLedger::Job::WorkoutCheck); }
    Message lastMessage() const { return m_lastMessage; }
    OrlaRestartWatch *restartWatch() const { return m_restartWatch.get(); }

    // True while an action writes the device: the program must not end then.
    bool isWritingDevice() const;
    // Ends the program as soon as no action writes the device (at once when
    // none does), by emitting readyToQuit.
    void quitWhenIdle();

signals:
    void messageShown(OrlaController::Message message);
    void readyToQuit();

public slots:
    void run();

protected:
    // Refuses closing a window while the device is written.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using Job = OrlaJobLedger::Job;

    VHDeviceManager *deviceManager() const;
    VHClient *currentDevice() const;
    QString currentModel() const;
    VHUpdatesFolder updatesFolder() const;

    void checkWorkoutSupport();
    void writeAlpToDevice(VHClient *device, int expiry);
    int readAlpExpiry();
    static int alpLimit();
    void startProgress(bool onMainWindow, VHClient *device);
    void stopProgress();
    void showProgress(int value);
    void onDeviceProgress(float value);

    void finishJob(const OrlaJobLedger::Entry &finished);
    void finishSoftwareUpdate(VHClient *device);
    void finishWorkoutInstall(VHClient *device);
    void finishUntracked(VHClient *device, int action);
    void startOwedJobs();
    void keepEmptyWindowDisabled();
    void showFailForm(int code, const QString &details);
    void connectRestartWatch();
    void showWaitingText(const QString &text);
    void showFollowedResult(bool ok, int code, const QString &reason);
    // The reason a device gave for its last action, or why there is none.
    static QString actionReason(VHClient *device);
    // Why the last update query failed, and for an unreachable server how to name another.
    QString queryFailureText() const;
    // On the main window's help label: the last recorded action of the device with this UUID.
    void showLastResult(const QString &uuid);

    void finishQuitIfIdle();
    bool refuseCloseWhileWriting();

    void showMessage(Message message, const QString &text, const QString &informative, QWidget *parent = nullptr);
    void showInstead(QWidget *window);
    QWidget *visibleWindow() const;

    std::unique_ptr<OrlaForm> m_mainWindow;
    std::unique_ptr<recover_complete_form> m_completeForm;
    std::unique_ptr<recover_fail_form> m_failForm;
    std::unique_ptr<SoftUpdateForm> m_softUpdateForm;
    std::unique_ptr<VeloraApiClient> m_updateClient;
    std::unique_ptr<ReduzeduClient> m_assistClient;
    QTimer m_progressTimer;
    int m_progressValue = 0;
    // The running job's device has reported a figure of its own: the timer's
    // ticks no longer move the bar.
    bool m_deviceReportsProgress = false;
    QMetaObject::Connection m_deviceProgress;
    QString m_serverVersion;
    QString m_deviceVersion;
    QString m_note = QStringLiteral("empty");
    int m_alpExpiry = 0;
    bool m_progressOnMainWindow = false;
    QString m_appVersion;
    // The last update query ended without learning the server's version.
    bool m_updateQueryFailed = false;
    Message m_lastMessage = Message::None;
    bool m_quitWhenIdle = false;
    OrlaJobLedger m_jobs;
    // Follows a device through the restart in the middle of its job.
    std::unique_ptr<OrlaRestartWatch> m_restartWatch;
    // Boxes still open; a box without a parent would outlive the controller.
    QList<QPointer<QMessageBox>> m_openBoxes;
};
