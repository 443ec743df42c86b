#pragma once

#include "OrlaApp.h"
#include "OrlaJobLedger.h"
#include "OrlaRestartWatch.h"
#include "OrlaWindowActions.h"
#include "ReduzeduClient.h"
#include "VHClientTypes.h"
#include "VHDeviceManagerListener.h"
#include "VHResult.h"
#include "VeloraApiClient.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <memory>

class OrlaBackupsForm;
class OrlaForm;
class OrlaLanguageForm;
class OrlaModelChooser;
class QMessageBox;
class QWidget;
class SoftUpdateForm;
class VHClient;
class VHDeviceManager;
class VHPSFLanguagePack;
class VHScsiFlashClient;
class VHRestoreFetcher;
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
        NothingWritten,
        ConfirmFactoryRestore,
        NoRestoreFiles,
        RestoreNeedsRestart,
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
    // Asks before anything is lost, then starts the restore from the model's restore folder.
    void offerFactoryRestore() override;
    void refreshMainWindow(bool disconnected) override;
    // A device waiting in its loader gets the rest of its job; asks for its
    // model first when nothing says which it is.
    void recoverDevice() override;
    QString note() override;
    // The languages and backups of flash-store watches (OrlaControllerFlashStore.cpp).
    void chooseLanguages() override;
    void manageBackups() override;
    bool isBeta() const;
    // True with four dot-separated parts whose fourth is an odd number (not
    // a number counts as 0), and with any other number of parts.
    static bool isBetaVersion(const QString &version);
    // Brings whichever of the windows is shown to the front (a second start).
    void raiseVisibleWindow();

    // ---- for the windows' owners and tests -------------------------------------
    OrlaForm *mainWindow() const { return m_mainWindow.get(); }
    // The windows besides the main one are made when first asked for.
    SoftUpdateForm *softUpdateForm();
    recover_complete_form *completeForm();
    recover_fail_form *failForm();
    OrlaLanguageForm *languageForm() const { return m_languageForm.get(); }
    OrlaBackupsForm *backupsForm() const { return m_backupsForm.get(); }
    ReduzeduClient *assistClient() const { return m_assistClient.get(); }
    VHRestoreFetcher *restoreFetcher() const { return m_restoreFetcher.get(); }
    QString modelUpdatesDir() const;
    // Where the factory restore of the current model is made from.
    QString restoreFolder() const;
    QString serverVersion() const { return m_serverVersion; }
    QString deviceVersion() const { return m_deviceVersion; }
    bool progressRunning() const { return m_progressRunning; }
    bool workoutCheckPending() const { return m_jobs.isPending(OrlaJobLedger::Job::WorkoutCheck); }
    Message lastMessage() const { return m_lastMessage; }
    OrlaRestartWatch *restartWatch() const { return m_restartWatch.get(); }
    OrlaModelChooser *modelChooser() const { return m_modelChooser.get(); }

    // True while an action writes the device: the program must not end then.
    bool isWritingDevice() const;
    // Ends the program as soon as no action writes the device (at once when
    // none does), by emitting readyToQuit.
    void quitWhenIdle();

signals:
    void messageShown(OrlaController::Message message);
    void readyToQuit();

protected:
    // Refuses closing a window while the device is written.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using Job = OrlaJobLedger::Job;

    VHDeviceManager *deviceManager() const;
    VHClient *currentDevice() const;
    QString currentModel() const;
    VHUpdatesFolder updatesFolder() const;

    // The jobs the current device offers; none without a device.
    VHJobs currentJobs() const;
    bool offers(VHJob job) const { return currentJobs().testFlag(job); }
    void queryPackageFor(VHClient *device);
    // Why the package must not be written to the device; empty when it may.
    QString packageRefusal(VHClient *device, const QString &package) const;
    // Fetches the restore files the server named when a family restores from them.
    void fetchRestoreFiles();
    void startFactoryRestore();
    void finishFactoryRestore(VHClient *device);
    void showCompletion(bool changed);

    void checkWorkoutSupport();
    void writeAlpToDevice(VHClient *device, int expiry);
    int readAlpExpiry();
    static int alpLimit();
    void startProgress(bool onMainWindow, VHClient *device);
    void stopProgress();
    void showProgress(int value);
    // The bar follows the device's bytes: its phase in words beside it, the whole action's share on it.
    void onDeviceProgress(int phase, qint64 done, qint64 total);
    static QString phaseWord(int phase);
    void showPhase(const QString &word);

    void finishJob(const OrlaJobLedger::Entry &finished);
    void finishSoftwareUpdate(VHClient *device);
    void finishWorkoutInstall(VHClient *device);
    void finishUntracked(VHClient *device, int action);
    void startOwedJobs();
    void keepEmptyWindowDisabled();
    void showFailForm(int code, const QString &details);
    void connectRestartWatch();
    void showWaitingText(const QString &text);
    // Recover as `model`: the package comes from that model's folder.
    void recoverAs(const QString &model);
    void showFollowedResult(bool ok, int code, const QString &reason);
    // The reason a device gave for its last action, or why there is none.
    static QString actionReason(VHClient *device);
    // Why the last update query failed, and for an unreachable server how to name another.
    QString queryFailureText() const;
    // On the main window's help label: the last recorded action of the device with this UUID.
    void showLastResult(const QString &uuid);

    void finishQuitIfIdle();
    bool refuseCloseWhileWriting();
    // False when `window`'s close must be refused; a dialog's close does what its close button does.
    bool closeLikeItsButton(QWidget *window);

    // ---- languages and backups of flash-store watches (OrlaControllerFlashStore.cpp) ----
    enum class FlashJob { None, ReadLanguages, LanguageUpdate, MakeBackup, RestoreBackup };
    VHScsiFlashClient *flashStoreDevice() const;
    void makeFlashStoreWindows();
    // Reads the pack at `path` on a worker; onLanguagePackRead goes on with it.
    void readLanguagePack(VHScsiFlashClient *device, const QString &path);
    void onLanguagePackRead(const QPointer<VHScsiFlashClient> &device, quint64 reading, const QString &path,
                            const std::shared_ptr<VHPSFLanguagePack> &pack, VHResult result);
    void startLanguageUpdate(const QStringList &codes);
    QString languageChoiceRefusal(const QStringList &codes) const;
    void showBackups(const QString &message = QString());
    void makeBackup();
    void confirmRestore(const QString &path);
    void restoreBackup(const QString &path);
    bool startFlashJob(VHScsiFlashClient *device, FlashJob job, bool started);
    // True when `action` of `device` is the flash-store job running.
    bool finishFlashStoreJob(VHClient *device, int action);
    void finishLanguageRead(VHClient *device);
    void finishWrite(VHClient *device);
    void hideFlashStoreWindows();
    void showFlashStoreProgress(float value);

    void showMessage(Message message, const QString &text, const QString &informative, QWidget *parent = nullptr);
    void showInstead(QWidget *window);
    // A window not made yet is not shown: nothing to hide.
    void hideIfMade(QWidget *window);
    bool softUpdateFormVisible() const;
    void watchClosing(QWidget *window);
    QWidget *visibleWindow() const;

    std::unique_ptr<OrlaForm> m_mainWindow;
    std::unique_ptr<recover_complete_form> m_completeForm;
    std::unique_ptr<recover_fail_form> m_failForm;
    std::unique_ptr<SoftUpdateForm> m_softUpdateForm;
    // The completion window's picture follows the device present when the controller was made.
    bool m_completeFormForBike = false;
    std::unique_ptr<VeloraApiClient> m_updateClient;
    std::unique_ptr<ReduzeduClient> m_assistClient;
    std::unique_ptr<VHRestoreFetcher> m_restoreFetcher;
    bool m_progressRunning = false;
    int m_progressValue = 0;
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
    // Made when first asked for; the pack is the one the language window lists.
    std::unique_ptr<OrlaLanguageForm> m_languageForm;
    std::unique_ptr<OrlaBackupsForm> m_backupsForm;
    std::unique_ptr<VHPSFLanguagePack> m_languagePack;
    QString m_languagePackPath;
    quint64 m_packReading = 0; // counts pack reads: only the last one's result is taken
    QThreadPool m_packReader;
    QPointer<VHClient> m_flashJobDevice;
    FlashJob m_flashJob = FlashJob::None;
    QMetaObject::Connection m_flashProgress;
    // Follows a device through the restart in the middle of its job.
    std::unique_ptr<OrlaRestartWatch> m_restartWatch;
    // Asks the model of a device waiting in its loader that nothing names.
    std::unique_ptr<OrlaModelChooser> m_modelChooser;
    // Boxes still open; a box without a parent would outlive the controller.
    QList<QPointer<QMessageBox>> m_openBoxes;
};
