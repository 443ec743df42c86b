#pragma once

#include "ReduzeduClient.h"
#include "VHDevctlChecks.h"
#include "VHDevctlInventory.h"
#include "VHDeviceManagerListener.h"
#include "VHGalRecovery.h"
#include "VeloraApiClient.h"

#include <QJsonObject>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QSocketNotifier;
class VHClient;
struct VHHistoryEntry;
class VHPSFDevice;
class VHPacer30;
class VHScsiFlashClient;
class VHUpdatesFolder;

// velora-devctl: starts the device runtime on the real or the simulated
// platform, runs one command on one device and exits with its result.
class VHDevctl : public QObject,
                 public VHDeviceManagerListener,
                 public VeloraApiClientDelegate,
                 public ReduzeduClientDelegate
{
    Q_OBJECT

public:
    enum Exit { Done = 0, Failed = 1, BadUsage = 2, NoDevice = 3, NothingToDo = 4 };

    struct Command
    {
        const char *name;
        const char *arguments; // for the help text
        const char *summary;
        int minArguments;
        int maxArguments;
        bool needsDevice;
        int (VHDevctl::*run)();
    };
    static const QList<Command> &commands();
    static QString helpText();
    // One history entry as "history" prints it: old -> new version, result and reason.
    static QString historyLine(const VHHistoryEntry &entry);

    VHDevctl();
    ~VHDevctl() override;

    // Parses the arguments, runs the command and prints its result.
    int run(const QStringList &arguments);

    void onDeviceConnected(VHClient *) override {}
    void onDeviceDisconnected(VHClient *device) override;
    void onDeviceChanged(VHClient *) override {}
    void onActionDone(VHClient *device, int action) override;
    void onUpdateFinished(bool ok) override;
    void onDownloadProgress(qint64 received, qint64 total) override;
    void onReduzeduFinished(bool ok) override;

private:
    // ---- the commands: one function each -------------------------------------
    int runList();
    int runInfo();
    int runCheck();
    int runUpdate();
    int runRestore();
    int runGps();
    int runWorkouts();
    int runHistory();
    int runRecover();
    int recoverUpdate(VHClient *client, const QString &package, const QString &language);
    int recoverRestore(VHClient *client, const QString &folder);
    void sayRestoreResumed(const QString &folder, const QString &language);
    int runRecovery(VHClient *client, const VHGalRecovery::Plan &plan, const QString &doneText);
    int runFinalize();
    int runLanguages();
    int runBackup();
    int listBackups(VHScsiFlashClient *flash);
    int restoreBackup(VHScsiFlashClient *flash);
    // A failed write-back names the backup that brings the flash back.
    int withRestoreHint(VHScsiFlashClient *flash, int code);
    // The device when it keeps a flash store.
    VHPSFDevice *flashStoreDevice();
    // ---- the 1 MiB-family watches (VHDevctlPacer30.cpp) ------------------------------
    VHPacer30 *pacer30Device();
    int runLoader();
    int runPacer30Finalize(VHPacer30 *pacer);
    // The data commands (DevctlData.cpp).
    int runRecords();
    int runDelete();
    int runProfile();
    int runProfileSet();
    int runExportLog();
    int runExportRaw();
    // Runs a data operation that is no action on a thread of its own (the
    // device's databases are never opened on this one); its result.
    bool runOnWorker(const std::function<bool()> &work);

    // ---- start-up ------------------------------------------------------------------
    int parse(const QStringList &arguments);
    void prepareEnvironment();
    int chooseDevice(VHDevctlDevice &chosen);
    int startRuntime(const VHDevctlDevice &chosen);
    VHClient *device() const;
    VHUpdatesFolder updatesFolder() const;

    // ---- waiting ---------------------------------------------------------------------
    int queryServer();
    int runAction(int action, const std::function<bool()> &start);
    // ---- before and after a write ---------------------------------------------------------
    // The package against the device (refused unless --force), then the
    // question on a terminal (unless -y); Done when the write may go on.
    int checkPackage(const QString &package);
    // Done, or Failed with errorCode 9 when the signature policy refuses `package`.
    int checkSignature(const QString &package);
    int checkBeforeWriting(const QString &package, const VHDevctlChecks::Device &device,
                           const VHPackageIdentity &identity);
    bool userAgrees(const QString &package, const QString &version);
    // The version the device's packages are compared with.
    static QString softwareVersionOf(VHClient *client);
    // A write that had nothing to write ends as "already up to date".
    int finishWrite(int code, const QString &doneText);
    // The last action on the current device wrote nothing (read from the device, which keeps its outcome).
    bool lastActionChangedNothing() const;
    int upToDate(QString why);
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);
    // Waits for the device to come back as a new object after a restart; it becomes the device.
    int waitForReturn(VHClient *before);
    // Progress is shown per phase ("download", "unpack", "write", "verify",
    // "waiting for the device to restart") with its bytes, as the device counts
    // them; totalBytes -1 when the phase's size is not known.
    static QString phaseName(int phase);
    void onPhaseProgress(int phase, qint64 done, qint64 total);
    void beginPhase(const QString &phase, qint64 totalBytes);
    // The line that the device restarts, once per wait.
    void sayWaiting();
    void showBytes(qint64 done, qint64 total);
    void showProgress(int percent, bool final);
    QString progressLine(int percent) const;
    void installStopSignals();
    void onStopSignal();

    // ---- output -------------------------------------------------------------------------
    void say(const QString &line);
    int fail(int code, const QString &message);
    // The result's common fields, and the log's path on stderr after a failure.
    void finishResult(int code);
    // Puts the device's description into the result; the device itself back.
    VHClient *putDevice(VHClient *device);

    QJsonObject m_result;
    QString m_command;
    QStringList m_arguments;
    bool m_json = false;
    bool m_fitFlag = false;
    bool m_restoreFlag = false;
    bool m_force = false;
    bool m_allowUnsigned = false;
    bool m_yes = false;
    QString m_deviceUuid;
    QString m_simRoot;
    QString m_server;
    QString m_modelOverride;
    int m_timeoutMs = 600000;
    std::unique_ptr<VeloraApiClient> m_updateClient;
    std::unique_ptr<ReduzeduClient> m_assistClient;
    bool m_queryDone = false;
    bool m_assistDone = false;
    bool m_assistOk = false;
    int m_doneAction = -2;
    int m_waitedAction = -2;
    bool m_actionRunning = false;
    bool m_stopRequested = false;
    bool m_deviceLeft = false;
    bool m_terminal = false;
    int m_shownPercent = -1;
    QString m_phase;
    bool m_waitingSaid = false;
    qint64 m_phaseBytes = -1;
    qint64 m_phaseDone = 0;
    bool m_progressShown = false;
    // The command's outcome beyond its exit code.
    QString m_errorText;
    int m_errorCode = 0;
    bool m_changed = false;
    std::unique_ptr<QSocketNotifier> m_stopNotifier;
};
