#pragma once

#include "VHClientInterface.h"
#include "VHClientTypes.h"
#include "VHExceptionHandler.h"
#include "VHHistoryRecorder.h"
#include "VHPhaseProgress.h"

#include <QByteArray>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QVariantList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class VHDeviceManager;
class VHDeviceService;
class VHEnv;

// A device object: the model-specific logic of one connected device. It runs
// exactly one action at a time on its own worker thread, started anew per
// action; a busy device refuses a second action. The end of an action is
// reported on the thread that owns the object (the GUI thread) through a Done
// signal and the device manager's notifyActionDone.
class VHClient;

// Deletes a device object after stopping its worker thread.
struct VHClientDeleter
{
    void operator()(VHClient *client) const;
};

class VHClient : public QThread, public VHExceptionTask, public VHClientInterface
{
    Q_OBJECT

public:
    enum Action {
        ActionIdle = -1,
        ActionUpdateTotal = 0,
        ActionUpdateAP = 2,
        ActionUpdateBootLoader = 3,
        ActionImportMap = 4,
        ActionDeleteMap = 5,
        ActionFinalize = 6,
        ActionReadData = 7,
        ActionGetShareDataList = 8,
        ActionGetShareData = 9,
        ActionUpdateComponent = 10,
        ActionBatch = 16,
        ActionExportTrack = 17,
        ActionMakeUploadZip = 18,
        ActionImportDownloadZip = 19,
        ActionReadProfile = 20,
        ActionWriteProfile = 21,
        ActionRestoreFactory = 22,
        ActionNeverNotified = 23,
        ActionUpdateMapData = 24,
        ActionUpdateAlp = 25,
    };

    enum State {
        STATE_READY = 0,
        STATE_UPDATING = 1,       // software update; the device may vanish and come back
        STATE_OUT_OF_SERVICE = 2, // an action runs
        STATE_RESTORING = 3,      // factory restore; the device may vanish and come back
        STATE_MODEL = 4,          // set by models
    };

    // Batch item codes.
    enum BatchItem {
        BatchDataList = 8,
        BatchDevice = 11,
        BatchComponents = 12,
        BatchProfile = 13,
        BatchLanguages = 15
    };

    explicit VHClient(QObject *parent = nullptr);
    ~VHClient() override;

    // ---- queries ---------------------------------------------------------
    virtual bool initial() { return true; }
    virtual bool isBusy() const { return m_action.load() != ActionIdle; }
    int state() override;
    [[nodiscard]] bool setStateWithMatch(int expected, int value);
    // An update or factory restore that goes on once the device comes back (state 1 or 3).
    bool isBetweenPasses();
    int serviceType() override { return -1; }
    virtual int deviceKind() { return 1; }
    // The jobs the updater window offers for this device (a software update unless the family says more).
    virtual VHJobs offeredJobs() { return VHJob::SoftwareUpdate; }
    // True for a device of a volume family reached in its loader: it waits for the second pass of an update.
    virtual bool waitsInIapMode() { return false; }
    virtual bool getRootPath(QString &) { return false; }
    virtual bool getSharePath(QString &) { return false; }
    bool getUUID(QString &) override { return false; }
    virtual bool getInternalStorage(quint64 &, quint64 &) { return false; }
    virtual bool getVersion(QString &text) { return getImageVersion(text); }
    virtual bool getIAPVersion(QString &) { return true; }
    virtual bool getImageVersion(QString &) { return false; }
    virtual bool getLaunchSecVersion(QString &) { return false; }
    virtual bool getAPVersion(QString &) { return false; }
    virtual int getAlpDate() { return 0; }
    virtual QString getMinAppVersion();
    virtual bool getModelName(QString &name) = 0;
    virtual bool languageFilter();
    virtual bool prepareUploadData(QString &path, bool dontCheck) = 0;
    virtual void getPOIs(QVariantList &) {}
    virtual void getRoutes(QVariantList &) {}
    virtual void getTracks(QVariantList &) {}
    virtual void getWorkouts(QVariantList &) {}
    virtual bool deletePOIs(const QVariantList &) { return false; }
    virtual bool deleteRoutes(const QVariantList &) { return false; }
    virtual bool deleteTracks(const QVariantList &) { return false; }
    virtual bool deleteWorkouts(const QVariantList &) { return false; }
    virtual bool saveProfile(const QByteArray &) { return false; }
    virtual void removeUpdatePackage() {}
    virtual bool updateLaunchsec(const QString &) { return false; }
    virtual void formatDevice() {}
    virtual bool eject() { return false; }
    // Emits progressChanged when the whole percentage changes (from the worker thread).
    virtual void setProgress(float value);
    virtual float progress() const { return m_progress; }
    virtual void resetProgress() { m_progress = 0.0f; }
    virtual void clearProgress() { m_progress = -1.0f; }
    // The running action's bytes in its current phase (worker thread). Passed
    // on throttled through phaseProgressChanged; the overall fraction follows.
    void reportProgress(VHPhase phase, qint64 done, qint64 total);
    virtual bool prepareUploadProfile(const QString &) { return false; }
    virtual void exportLog(const QString &) {}
    virtual bool setShareData(const QString &) { return false; }
    virtual bool dontCheckUploaded();
    virtual bool getLanguageOnDevice(QStringList &) { return false; }
    virtual bool setDefLanguage(const QStringList &) { return false; }
    virtual bool LanguageListXml(const QString &path);
    virtual QString getComponentVersion(const QString &) { return QStringLiteral("not support"); }
    virtual void clearBatchItems() { m_batchItems.clear(); }
    virtual void addBatchItem(int code) { m_batchItems.append(code); }
    virtual QStringList _exportTrack(const QString &arg) = 0;
    virtual void loadSettings(VHEnv *env);
    virtual QString getCapability();
    virtual void saveExtFlashToFile(const QString &) {}
    virtual void addLogFiles(const QString &folder, QStringList &list);
    virtual VHImageMetaInfo getImageMetaInfo(const QString &) { return {}; }
    virtual VHDeviceService *deviceService() const { return nullptr; }
    // Takes the service. A client that keeps none deletes it; VHDeviceImpl keeps it.
    virtual void setDeviceService(VHDeviceService *service);
    // A model's second version text shown beside the software version (none by default).
    virtual QString secondComponentVersion() { return QString(); }

    // ---- action starters: false when another action runs ----------------
    virtual bool updateTotal(const QString &file, const QString &changedLang);
    virtual bool updateBootLoader(const QString &file);
    virtual bool updateAP(const QString &file);
    virtual bool finalize();
    virtual bool getShareData(const QString &a, const QString &b, const QString &c);
    virtual bool getShareDataList(const QString &a, const QString &b, const QString &c);
    virtual bool batch(const QString &a, const QString &b, const QString &c);
    virtual bool updateAlp(const QString &file, int flag);
    virtual bool readData();
    virtual bool importMap(int value);
    virtual bool deleteMap(int value);
    virtual bool restoreFactory(const QString &arg);
    virtual bool updateMapData(const QString &arg);
    virtual bool updateComponent(const QString &a, const QString &b, const QString &c, const QString &d);
    virtual bool exportTrack(const QString &arg);
    virtual bool makeUploadZip();
    virtual bool importDownloadZip(const QString &arg);
    virtual bool readProfile(const QString &arg);
    virtual bool writeProfile(const QString &arg);

    // ---- action implementations, run on the worker thread ----------------
    virtual bool _updateAlp(const QString &, int) { return true; }
    virtual bool _updateTotal(const QString &, const QString &) { return true; }
    virtual bool _updateBootLoader(const QString &) { return true; }
    virtual bool _updateAP(const QString &) { return true; }
    virtual bool _importMap(int) { return true; }
    virtual bool _deleteMap(int) { return true; }
    virtual bool _finalize() { return true; }
    virtual bool _readData() { return true; }
    virtual bool _getShareDataList();
    virtual bool _getShareData();
    virtual bool _updateComponent(const QString &, const QString &, const QString &, const QString &) { return true; }
    virtual bool _batch();
    virtual bool _restoreFactory(const QString &) { return false; }
    virtual bool _updateMapData(const QString &) { return false; }

    // ---- results ---------------------------------------------------------
    // The error flag of the last action, with its reason in code.
    bool actionFailed(int &code) const;
    bool errorFlag() const { return m_errorFlag; }
    int errorCode() const { return m_errorCode; }
    // The last action's reason in words: why it failed, or why it wrote nothing; empty otherwise.
    QString errorText() const;
    // False when the last action succeeded without writing anything (already up to date).
    bool actionChanged() const { return m_changed; }
    int currentAction() const { return m_action; }
    QVariantList resultList() const { return m_results; }
    // The software version followed by the second component version, empty texts left out.
    QStringList versionList();
    // The four lists read by the common share-data body (POIs, routes, tracks, workouts).
    QVariantList shareDataLists() const { return m_shareDataLists; }
    QList<int> batchItems() const { return m_batchItems; }

    // Flash files for the models: folder/name.bin and folder/nameExData.bin.
    bool writeInternalFlash(const QString &folder, const QString &name, std::uint8_t selector, int blockSize);
    bool writeExternalFlash(const QString &folder, const QString &name, std::uint8_t selector, int blockSize);

    // Per-model option from the model's group of the settings file.
    QString modelSetting(const QString &key, const QString &defaultValue);

    // The manager told when an action ends; set when the manager makes the object.
    void setDeviceManager(VHDeviceManager *manager) { m_manager = manager; }
    VHDeviceManager *deviceManager() const { return m_manager; }

    // Ends an update or restore that waits for its device to come back (state
    // 1 or 3) as failed: state 0, error flag set, its Done signal and the
    // manager told, as if its second pass had failed. False when none waits.
    bool failPendingUpdate();

    // Waits up to kStopTimeoutMs for a running action, then terminates it.
    // Call before deleting: a model's own members are gone by the time the
    // base destructor runs.
    void stop();

    // How long stop() waits for a running action before terminating it.
    static constexpr unsigned long kStopTimeoutMs = 20000;

signals:
    void updateTotalDone();
    void updateAPDone();
    void updateBootLoaderDone();
    void importMapDone();
    void deleteMapDone();
    void finalizeDone();
    void readDataDone();
    void getShareDataListDone(VHClientShareDataList list);
    void getShareDataDone(VHClientShareData data);
    void updateComponentDone();
    void batchDone(VHClientShareData data);
    // Every action's end, beside its own Done signal: the result with its reason, for every front end.
    void actionFinished(int action, bool ok, int errorCode, const QString &errorText);
    // The action's own progress, 0.0 to 1.0, as the model reports it.
    void progressChanged(float value);
    // The action's phase (a VHPhase) with its bytes done of total.
    void phaseProgressChanged(int phase, qint64 done, qint64 total);

protected:
    void run() override;
    bool execute() override;
    void handleException() override;

    // Stores the action code and starts the worker thread; false when busy.
    bool startAction(int code);
    void setErrorCode(int code) { m_errorCode = code; }
    void setErrorText(const QString &text);
    void setActionChanged(bool changed) { m_changed = changed; }
    // A family's result of the running action: code, reason and whether it wrote anything.
    void setOutcome(int code, const QString &reason, bool changed)
    {
        setErrorCode(code);
        setErrorText(reason);
        setActionChanged(changed);
    }
    void setErrorFlag(bool on) { m_errorFlag = on; }
    // A family that counts the blocks of a long write itself mutes the per-call counts meanwhile.
    void setFlashBlocksCounted(bool counted) { m_flashBlocksCounted = counted; }
    // The block calls that follow write or read one part of a larger whole: the
    // bytes of the parts before it are added, and the whole is the total. A
    // whole of 0 lets every call count by itself again.
    void countFlashBlocksWithin(qint64 before, qint64 whole)
    {
        m_flashBefore = before;
        m_flashWhole = whole;
    }
    // A first pass that hands its end to a later pass changes the action reported then.
    void setCurrentAction(int action) { m_action = action; }
    // The strings of the running action, for the models.
    QString firstArgument() const { return m_firstArg; }
    QString secondArgument() const { return m_secondArg; }

private slots:
    void thread_done();

private:
    bool writeFlashFile(const QString &path, const QString &name, std::uint8_t selector, int blockSize,
                        const char *failure);
    void emitDoneSignal(int action);
    // Flash blocks of a SCSI device count as the action's bytes: written ones
    // as writing, the ones read after a write as checking what was written.
    void watchFlashBlocks(bool on);
    // Stores the arguments and starts the action, only when none runs: a running one keeps its own.
    bool startIdle(int code, const std::function<void()> &takeArguments);
    // The same for the actions that read their argument list; a busy device logs busyMessage.
    bool startWithArguments(int code, const QVariantList &args, const char *busyMessage);

    std::atomic<bool> m_errorFlag{false};
    std::atomic<int> m_errorCode{0};
    std::atomic<bool> m_changed{true};
    mutable QMutex m_errorTextMutex;
    QString m_errorText;
    QString m_firstArg;
    QString m_secondArg;
    int m_alpFlag = 0;
    int m_mapArg = 0;
    int m_state = STATE_READY;
    std::atomic<int> m_action{ActionIdle};
    QMutex m_mutex;
    std::atomic<float> m_progress{-1.0f};
    VHPhaseProgress m_phaseProgress;  // the worker's alone
    bool m_flashWritten = false;      // the worker's alone
    bool m_flashBlocksCounted = true; // the worker's alone
    qint64 m_flashBefore = 0;         // the worker's alone
    qint64 m_flashWhole = 0;          // the worker's alone
    VHClientShareDataList m_shareDataListArgs;
    VHClientShareData m_shareDataArgs;
    QString m_componentArgs[4];
    QList<int> m_batchItems;
    QVariantList m_results;
    QVariantList m_arguments;
    QVariantList m_shareDataLists;
    QString m_restoreArg;
    QString m_mapDataArg;
    VHDeviceManager *m_manager = nullptr;
    VHHistoryRecorder m_history;
};

using VHClientPtr = std::unique_ptr<VHClient, VHClientDeleter>;
