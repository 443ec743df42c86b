#include "VHClient.h"

#include "VHDeviceManager.h"
#include "VHDeviceService.h"
#include "VHEnv.h"
#include "VHIniText.h"
#include "VHLog.h"
#include "VHSCSIDeviceService.h"
#include "VHUtility.h"
#include "VHVersion.h"
#include "corvolib.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QSettings>

#include <utility>

VHClient::VHClient(QObject *parent) : QThread(parent)
{
    qRegisterMetaType<VHClientShareDataList>();
    qRegisterMetaType<VHClientShareData>();
    connect(this, &QThread::finished, this, &VHClient::thread_done);
}

VHClient::~VHClient()
{
    // The finished handler must not run on a half-destroyed object.
    disconnect(this, &QThread::finished, this, &VHClient::thread_done);
    stop();
}

void VHClient::stop()
{
    if (isRunning() && !wait(kStopTimeoutMs)) {
        terminate();
        wait();
        vhWarning() << "Client thread stop in time and  terminate";
    }
}

void VHClientDeleter::operator()(VHClient *client) const
{
    if (!client)
        return;
    client->stop();
    delete client;
}

int VHClient::state()
{
    QMutexLocker lock(&m_mutex);
    return m_state;
}

bool VHClient::setStateWithMatch(int expected, int value)
{
    QMutexLocker lock(&m_mutex);
    if (m_state != expected)
        return false;
    m_state = value;
    return true;
}

bool VHClient::isBetweenPasses()
{
    const int current = state();
    return current == STATE_UPDATING || current == STATE_RESTORING;
}

QString VHClient::errorText() const
{
    QMutexLocker lock(&m_errorTextMutex);
    return m_errorText;
}

void VHClient::setErrorText(const QString &text)
{
    QMutexLocker lock(&m_errorTextMutex);
    m_errorText = text;
}

bool VHClient::actionFailed(int &code) const
{
    code = m_errorCode;
    return m_errorFlag;
}

QStringList VHClient::versionList()
{
    QStringList versions;
    QString version;
    if (getVersion(version) && !version.isEmpty())
        versions << version;
    const QString second = secondComponentVersion();
    if (!second.isEmpty())
        versions << second;
    return versions;
}

void VHClient::setDeviceService(VHDeviceService *service) { delete service; }

// ---- starters ---------------------------------------------------------------

bool VHClient::startAction(int code)
{
    int idle = ActionIdle;
    if (!m_action.compare_exchange_strong(idle, code))
        return false;
    const bool component = code == ActionUpdateComponent;
    m_history.begin(*this, code, component ? m_componentArgs[1] : QString(),
                    component ? m_componentArgs[3] : m_firstArg);
    start(QThread::InheritPriority);
    return true;
}

bool VHClient::startIdle(int code, const std::function<void()> &takeArguments)
{
    if (isBusy())
        return false;
    takeArguments();
    return startAction(code);
}

bool VHClient::updateTotal(const QString &file, const QString &changedLang)
{
    vhDebug() << "update total: file=" << file << ", changedLang=" << changedLang;
    return startIdle(ActionUpdateTotal, [&] {
        m_firstArg = file;
        m_secondArg = changedLang;
    });
}

bool VHClient::updateBootLoader(const QString &file)
{
    return startIdle(ActionUpdateBootLoader, [&] { m_firstArg = file; });
}

bool VHClient::updateAP(const QString &file)
{
    return startIdle(ActionUpdateAP, [&] { m_firstArg = file; });
}

bool VHClient::finalize() { return !isBusy() && startAction(ActionFinalize); }

bool VHClient::readData() { return !isBusy() && startAction(ActionReadData); }

bool VHClient::getShareData(const QString &a, const QString &b, const QString &c)
{
    return startIdle(ActionGetShareData, [&] { m_shareDataArgs = {a, b, c}; });
}

bool VHClient::getShareDataList(const QString &a, const QString &b, const QString &c)
{
    return startIdle(ActionGetShareDataList, [&] { m_shareDataListArgs = {a, b, c}; });
}

bool VHClient::batch(const QString &a, const QString &b, const QString &c)
{
    return startIdle(ActionBatch, [&] { m_shareDataArgs = {a, b, c}; });
}

bool VHClient::updateAlp(const QString &file, int flag)
{
    vhDebug() << "updateAlp: file=" << file;
    return startIdle(ActionUpdateAlp, [&] {
        m_firstArg = file;
        m_alpFlag = flag;
    });
}

bool VHClient::importMap(int value)
{
    return startIdle(ActionImportMap, [&] { m_mapArg = value; });
}

bool VHClient::deleteMap(int value)
{
    return startIdle(ActionDeleteMap, [&] { m_mapArg = value; });
}

bool VHClient::restoreFactory(const QString &arg)
{
    VHEnv::instance()->setFirmwareTooOld(false);
    return startIdle(ActionRestoreFactory, [&] { m_restoreArg = arg; });
}

bool VHClient::updateMapData(const QString &arg)
{
    return startIdle(ActionUpdateMapData, [&] { m_mapDataArg = arg; });
}

bool VHClient::updateComponent(const QString &a, const QString &b, const QString &c, const QString &d)
{
    return startIdle(ActionUpdateComponent, [&] {
        m_componentArgs[0] = b;
        m_componentArgs[1] = d;
        m_componentArgs[2] = c;
        m_componentArgs[3] = a;
    });
}

bool VHClient::startWithArguments(int code, const QVariantList &args, const char *busyMessage)
{
    if (isBusy()) {
        vhWarning() << busyMessage << m_action.load();
        return false;
    }
    m_arguments = args;
    return startAction(code);
}

bool VHClient::exportTrack(const QString &arg)
{
    return startWithArguments(ActionExportTrack, {arg}, "Busy when Action_ExportTrack");
}

bool VHClient::makeUploadZip() { return startWithArguments(ActionMakeUploadZip, {}, "Busy when Action_MakeUploadZip"); }

bool VHClient::importDownloadZip(const QString &arg)
{
    return startWithArguments(ActionImportDownloadZip, {arg}, "Busy when Action_ImportDownloadZip");
}

bool VHClient::readProfile(const QString &arg)
{
    return startWithArguments(ActionReadProfile, {arg}, "Busy when Action_ReadProfile");
}

bool VHClient::writeProfile(const QString &arg)
{
    return startWithArguments(ActionWriteProfile, {arg}, "Busy when Action_WriteProfile");
}

// ---- the worker thread ------------------------------------------------------

void VHClient::run()
{
    if (!isBetweenPasses() && !setStateWithMatch(STATE_READY, STATE_OUT_OF_SERVICE)) {
        vhCritical() << "VHClient::run() : device is busy in action=" << m_action.load();
        setErrorText(QStringLiteral("the device is busy with another action"));
        m_errorFlag = true;
        return;
    }
    setTerminationEnabled(true);
    setOutcome(0, QString(), true);
    resetProgress();
    m_phaseProgress.reset();
    m_history.hashPackage();
    watchFlashBlocks(true);
    VHLinuxExceptionHandler handler;
    const bool result = handler.execute(this);
    watchFlashBlocks(false);
    if (!setStateWithMatch(STATE_OUT_OF_SERVICE, STATE_READY))
        vhCritical() << "reset in service failed, action=" << m_action.load();
    m_errorFlag = !result;
}

bool VHClient::execute()
{
    const QString firstArg = m_arguments.isEmpty() ? QString() : m_arguments.first().toString();
    switch (m_action.load()) {
    case ActionUpdateTotal:
        return _updateTotal(m_firstArg, m_secondArg);
    case ActionUpdateAP:
        return _updateAP(m_firstArg);
    case ActionUpdateBootLoader:
        return _updateBootLoader(m_firstArg);
    // The map value serves one call only: the generic starter stores none.
    case ActionImportMap:
        return _importMap(std::exchange(m_mapArg, 0));
    case ActionDeleteMap:
        return _deleteMap(std::exchange(m_mapArg, 0));
    case ActionFinalize: {
        const bool ok = _finalize();
        m_results.clear();
        return ok;
    }
    case ActionReadData:
        return _readData();
    case ActionGetShareDataList:
        return _getShareDataList();
    case ActionGetShareData:
        return _getShareData();
    case ActionUpdateComponent:
        return _updateComponent(m_componentArgs[0], m_componentArgs[1], m_componentArgs[2], m_componentArgs[3]);
    case ActionBatch:
        return _batch();
    case ActionExportTrack: {
        const QStringList files = _exportTrack(firstArg);
        m_results = QVariantList(files.cbegin(), files.cend());
        // An export that wrote nothing did not succeed.
        return !files.isEmpty();
    }
    case ActionMakeUploadZip: {
        QString path;
        if (!prepareUploadData(path, true))
            path.clear();
        m_results = {path};
        return !path.isEmpty();
    }
    case ActionImportDownloadZip: {
        const bool ok = setShareData(firstArg);
        m_results.clear();
        return ok;
    }
    case ActionReadProfile: {
        const bool ok = prepareUploadProfile(firstArg);
        m_results = {ok};
        return ok;
    }
    case ActionWriteProfile: {
        const bool ok = saveProfile(firstArg.toLatin1());
        m_results = {ok};
        return ok;
    }
    case ActionRestoreFactory:
        return _restoreFactory(m_restoreArg);
    case ActionUpdateMapData:
        return _updateMapData(m_mapDataArg);
    case ActionUpdateAlp:
        return _updateAlp(m_firstArg, m_alpFlag);
    default:
        return false;
    }
}

void VHClient::setProgress(float value)
{
    const float before = m_progress.exchange(value);
    if (int(before * 100.0f) != int(value * 100.0f))
        emit progressChanged(value);
}

void VHClient::reportProgress(VHPhase phase, qint64 done, qint64 total)
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    // A family that writes its blocks itself makes the reads after them checks too.
    m_flashWritten = m_flashWritten || phase == VHPhase::Write;
    const auto report = m_phaseProgress.take(phase, done, total, clock.elapsed());
    if (!report)
        return;
    emit phaseProgressChanged(int(report->phase), report->done, report->total);
    // The overall figure only grows: a later phase that starts small must not pull it back.
    const float overall = VHPhaseProgress::overallFraction(*report);
    if (overall > progress())
        setProgress(overall);
}

void VHClient::watchFlashBlocks(bool on)
{
    auto *service = dynamic_cast<VHSCSIDeviceService *>(deviceService());
    if (!service)
        return;
    m_flashWritten = false;
    m_flashBlocksCounted = true;
    countFlashBlocksWithin(0, 0);
    if (!on) {
        service->watchBlocks({});
        return;
    }
    service->watchBlocks([this](bool writing, qint64 done, qint64 total) {
        m_flashWritten = m_flashWritten || writing;
        // Reads before the first write load what the device holds; they are not a check.
        if (!m_flashBlocksCounted || !(writing || m_flashWritten))
            return;
        const VHPhase phase = writing ? VHPhase::Write : VHPhase::Verify;
        if (m_flashWhole > 0)
            reportProgress(phase, m_flashBefore + done, m_flashWhole);
        else
            reportProgress(phase, done, total);
    });
}

void VHClient::handleException() { vhCritical() << "wrong data exception"; }

void VHClient::thread_done()
{
    clearProgress();
    const int action = m_action.exchange(ActionIdle);
    // The update goes on after the device comes back; nothing is reported yet
    // but that it restarts.
    if (isBetweenPasses()) {
        if (m_manager)
            m_manager->notifyRestarting(this);
        return;
    }
    // Recorded before anyone hears of the end, so the history is complete for them.
    m_history.finish(*this);
    emitDoneSignal(action);
    if (action == ActionUpdateComponent) {
        for (QString &arg : m_componentArgs)
            arg.clear();
    }
    if (action != ActionNeverNotified && m_manager)
        m_manager->notifyActionDone(this, action);
}

bool VHClient::failPendingUpdate()
{
    // A first pass may still be ejecting the volume.
    wait();
    int action = ActionIdle;
    {
        QMutexLocker lock(&m_mutex);
        if (m_state == STATE_UPDATING)
            action = ActionUpdateTotal;
        else if (m_state == STATE_RESTORING)
            action = ActionRestoreFactory;
        else
            return false;
        m_state = STATE_READY;
    }
    m_action = ActionIdle;
    m_errorFlag = true;
    if (errorText().isEmpty())
        setErrorText(QStringLiteral("the device did not come back after its restart"));
    emitDoneSignal(action);
    if (m_manager)
        m_manager->notifyActionDone(this, action);
    return true;
}

void VHClient::emitDoneSignal(int action)
{
    using DoneSignal = void (VHClient::*)();
    static const QHash<int, DoneSignal> withoutData = {{ActionUpdateTotal, &VHClient::updateTotalDone},
                                                       {ActionUpdateAP, &VHClient::updateAPDone},
                                                       {ActionUpdateBootLoader, &VHClient::updateBootLoaderDone},
                                                       {ActionImportMap, &VHClient::importMapDone},
                                                       {ActionDeleteMap, &VHClient::deleteMapDone},
                                                       {ActionFinalize, &VHClient::finalizeDone},
                                                       {ActionReadData, &VHClient::readDataDone},
                                                       {ActionUpdateComponent, &VHClient::updateComponentDone}};
    if (const DoneSignal done = withoutData.value(action))
        emit(this->*done)();
    else if (action == ActionGetShareDataList)
        emit getShareDataListDone(m_shareDataListArgs);
    else if (action == ActionGetShareData)
        emit getShareDataDone(m_shareDataArgs);
    else if (action == ActionBatch)
        emit batchDone(m_shareDataArgs);
    emit actionFinished(action, !m_errorFlag, m_errorCode, errorText());
}

// ---- common bodies ----------------------------------------------------------

bool VHClient::_getShareDataList()
{
    QVariantList pois, routes, tracks, workouts;
    setProgress(0.05f);
    getPOIs(pois);
    setProgress(0.1f);
    getRoutes(routes);
    setProgress(0.4f);
    getTracks(tracks);
    setProgress(0.5f);
    getWorkouts(workouts);
    setProgress(0.7f);
    m_shareDataLists = {QVariant(pois), QVariant(routes), QVariant(tracks), QVariant(workouts)};
    setProgress(0.9f);
    return true;
}

bool VHClient::_getShareData()
{
    QString path = m_shareDataArgs.first;
    return prepareUploadData(path, dontCheckUploaded());
}

// ---- settings and versions --------------------------------------------------

QString VHClient::modelSetting(const QString &key, const QString &defaultValue)
{
    QString model;
    if (!getModelName(model) || model.isEmpty())
        return defaultValue;
    QSettings settings(VHEnv::instance()->settingsPath(), QSettings::IniFormat);
    settings.beginGroup(model);
    return vhIniText(settings, key, defaultValue);
}

bool VHClient::dontCheckUploaded()
{
    return modelSetting(QStringLiteral("dontcheckuploaded"), QStringLiteral("0")) != QLatin1String("0");
}

bool VHClient::languageFilter()
{
    return modelSetting(QStringLiteral("psflanguagefilter"), QStringLiteral("1")) != QLatin1String("0");
}

QString VHClient::getMinAppVersion() { return modelSetting(QStringLiteral("MinVHVer"), QString()); }

void VHClient::loadSettings(VHEnv *env)
{
    if (!env)
        return;
    QString model, iap, image, ap;
    getModelName(model);
    getIAPVersion(iap);
    getImageVersion(image);
    getAPVersion(ap);

    QSettings settings(env->settingsPath(), QSettings::IniFormat);
    if (!model.isEmpty())
        settings.beginGroup(model);
    const QString minImage = model.isEmpty() ? QString() : vhIniText(settings, QStringLiteral("MinImgVer"));
    const QString minIap = model.isEmpty() ? QString() : vhIniText(settings, QStringLiteral("MinIapVer"));
    const QString minAp = model.isEmpty() ? QString() : vhIniText(settings, QStringLiteral("MinApVer"));

    if ((!minImage.isEmpty() && VHVersion::isOlder(image, minImage))
        || (!minIap.isEmpty() && !iap.isEmpty() && VHVersion::isOlder(iap, minIap))
        || (!minAp.isEmpty() && !ap.isEmpty() && VHVersion::isOlder(ap, minAp)))
        env->setFirmwareTooOld(true);

    // Only versions of the same shape are compared, part by part as numbers.
    const QString appVersion = VHEnv::applicationVersion();
    const QString minAppVersion = getMinAppVersion();
    if (!appVersion.isEmpty() && !minAppVersion.isEmpty()
        && appVersion.count(QLatin1Char('.')) == minAppVersion.count(QLatin1Char('.'))
        && VHVersion::isOlder(appVersion, minAppVersion))
        env->setAppTooOld(true);
}

QString VHClient::getCapability()
{
    QString model;
    getModelName(model);
    CorvoSwCapability capability = {};
    if (ProjSwCapability(model.toLatin1().constData(), &capability))
        return QString::fromLatin1(capability.capabilities);
    vhCritical() << "call ProjSwCapability failed";
    return QString();
}

// ---- flash files and log archive ---------------------------------------------

bool VHClient::writeFlashFile(const QString &path, const QString &name, std::uint8_t selector, int blockSize,
                              const char *failure)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        vhCritical() << "can not open file: " << ("\"" + path + "\"");
        setErrorText("can not open " + path);
        m_errorFlag = true;
        return false;
    }
    const QByteArray bytes = file.readAll();
    auto *service = dynamic_cast<VHSCSIDeviceService *>(deviceService());
    const bool written = service && service->writeFlashBlocks(bytes, selector, bytes.size(), blockSize, 0);
    if (!written) {
        vhCritical() << failure << ("\"" + name + "\"");
        setErrorText(QLatin1String(failure) + QLatin1Char(' ') + name);
        m_errorFlag = true;
    }
    return written;
}

bool VHClient::writeInternalFlash(const QString &folder, const QString &name, std::uint8_t selector, int blockSize)
{
    return writeFlashFile(folder + QLatin1Char('/') + name + QStringLiteral(".bin"), name, selector, blockSize,
                          "fail to write internal flash for ");
}

bool VHClient::writeExternalFlash(const QString &folder, const QString &name, std::uint8_t selector, int blockSize)
{
    return writeFlashFile(folder + QLatin1Char('/') + name + QStringLiteral("ExData.bin"), name, selector, blockSize,
                          "fail to write external flash for ");
}

void VHClient::addLogFiles(const QString &folder, QStringList &list)
{
    QString model;
    getModelName(model);
    const QString name = model + QStringLiteral("flash.dat");
    // The model name comes from the device: "../x" must not remove or write a file outside folder.
    if (!VHUtility::isSafePathComponent(name))
        return;
    const QString path = folder + QLatin1Char('/') + name;
    // A file left over would pass for the new one.
    if (!VHUtility::removeFile(path))
        return;
    saveExtFlashToFile(path);
    if (QFileInfo::exists(path))
        list.append(name);
}
