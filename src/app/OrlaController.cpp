#include "OrlaController.h"

#include "OrlaApp.h"
#include "OrlaBackupsForm.h"
#include "OrlaForm.h"
#include "OrlaLanguageForm.h"
#include "OrlaModelChooser.h"
#include "OrlaRecovery.h"
#include "SoftUpdateForm.h"
#include "VHClient.h"
#include "VHClientPackageCheck.h"
#include "VHDaemon.h"
#include "VHDeviceManager.h"
#include "VHEnv.h"
#include "VHGalStranded.h"
#include "VHHistory.h"
#include "VHLog.h"
#include "VHMinisign.h"
#include "VHPSFLanguagePack.h"
#include "VHRestoreFetcher.h"
#include "VHUpdateDecision.h"
#include "VHUpdatesFolder.h"
#include "recover_complete_form.h"
#include "recover_fail_form.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>

#include <algorithm>

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("orlacontroller", text); }

QString trResult(const char *text) { return QCoreApplication::translate("recover_complete_form", text); }

// The same line the failure window shows.
QString logLine()
{
    return QCoreApplication::translate("recover_fail_form", "Details are in the log: %1")
        .arg(VHEnv::instance()->logFilePath());
}

} // namespace

OrlaController::OrlaController(const QString &appVersion) : m_appVersion(appVersion)
{
    // Only the main window is made before the event loop runs: building every
    // window with its style sheet held the thread before the first paint.
    m_mainWindow = std::make_unique<OrlaForm>(this, isBeta());
    VHClient *device = currentDevice();
    m_completeFormForBike = device && device->deviceKind() == 1;
    m_updateClient = std::make_unique<VeloraApiClient>(this);
    m_assistClient = std::make_unique<ReduzeduClient>(this);
    m_restoreFetcher = std::make_unique<VHRestoreFetcher>();
    m_packReader.setMaxThreadCount(1);
    connectRestartWatch();
    watchClosing(m_mainWindow.get());
    deviceManager()->addListener(this);
}

OrlaController::~OrlaController()
{
    // A pack read under way ends first; its result, posted to this object, is dropped with it.
    m_packReader.waitForDone();
    deviceManager()->removeListener(this);
    stopProgress();
    // A child of the main window: gone before it.
    m_modelChooser.reset();
    m_mainWindow.reset();
    m_completeForm.reset();
    m_failForm.reset();
    m_softUpdateForm.reset();
    m_assistClient.reset();
    m_restoreFetcher.reset();
    m_updateClient.reset();
    qDeleteAll(m_openBoxes);
}

void OrlaController::watchClosing(QWidget *window) { window->installEventFilter(this); }

SoftUpdateForm *OrlaController::softUpdateForm()
{
    if (!m_softUpdateForm) {
        m_softUpdateForm = std::make_unique<SoftUpdateForm>(this);
        watchClosing(m_softUpdateForm.get());
    }
    return m_softUpdateForm.get();
}

recover_complete_form *OrlaController::completeForm()
{
    if (!m_completeForm) {
        m_completeForm = std::make_unique<recover_complete_form>(m_completeFormForBike);
        watchClosing(m_completeForm.get());
    }
    return m_completeForm.get();
}

recover_fail_form *OrlaController::failForm()
{
    if (!m_failForm) {
        m_failForm = std::make_unique<recover_fail_form>(this);
        watchClosing(m_failForm.get());
    }
    return m_failForm.get();
}

void OrlaController::hideIfMade(QWidget *window)
{
    if (window)
        window->hide();
}

bool OrlaController::softUpdateFormVisible() const { return m_softUpdateForm && m_softUpdateForm->isVisible(); }

VHDeviceManager *OrlaController::deviceManager() const { return VHDaemon::instance()->deviceManager(); }

VHClient *OrlaController::currentDevice() const { return deviceManager()->currentDevice(); }

QString OrlaController::currentModel() const
{
    QString model;
    if (VHClient *device = currentDevice())
        device->getModelName(model);
    return model;
}

VHUpdatesFolder OrlaController::updatesFolder() const
{
    // A name read from the device that cannot name a folder gives none:
    // nothing is read or written for the device.
    return VHUpdatesFolder(VHEnv::instance()->dataFolder(), currentModel());
}

QString OrlaController::modelUpdatesDir() const { return updatesFolder().path(); }

QString OrlaController::restoreFolder() const
{
    const VHUpdatesFolder folder = updatesFolder();
    return folder.isValid() ? folder.file(VHUpdatesFolder::kRestoreFolder) : QString();
}

VHJobs OrlaController::currentJobs() const
{
    VHClient *device = currentDevice();
    return device ? device->offeredJobs() : VHJobs();
}

// ---- the device manager ---------------------------------------------------------

void OrlaController::onDeviceConnected(VHClient *)
{
    VHClient *device = currentDevice();
    // Back from a restart in the middle of its job: the window in front stays.
    if (!device || !m_restartWatch->onDeviceConnected(device))
        refreshMainWindow(false);
    if (!device)
        return;
    const QString model = currentModel();
    if (modelUpdatesDir().isEmpty()) {
        vhCritical() << "model name can not name a folder, device not queried: " << ("\"" + model + "\"");
        device->getVersion(m_deviceVersion);
        // Never asked: nothing is known about a newer version.
        m_updateQueryFailed = true;
        return;
    }
    queryPackageFor(device);
    if (offers(VHJob::AssistData))
        updateAlp(false);
}

void OrlaController::queryPackageFor(VHClient *device)
{
    m_updateQueryFailed = false;
    if (!offers(VHJob::SoftwareUpdate)) {
        // A device waiting in its loader has no software to compare.
        device->getVersion(m_deviceVersion);
        return;
    }
    m_mainWindow->showChecking();
    m_updateClient->queryUpdate(currentModel(), modelUpdatesDir(), isBeta());
}

void OrlaController::onDeviceDisconnected(VHClient *device)
{
    // Gone to restart in the middle of its job, or after it: the window in front stays.
    const bool followed = m_restartWatch->onDeviceDisconnected(device);
    m_serverVersion.clear();
    m_deviceVersion.clear();
    m_updateQueryFailed = false;
    m_note = QStringLiteral("empty");
    m_alpExpiry = 0;
    m_jobs.forgetOwed();
    if (followed)
        return;
    // The simulated progress belongs to the device that went away.
    stopProgress();
    m_mainWindow->setProgress(-1);
    refreshMainWindow(true);
}

void OrlaController::onActionDone(VHClient *device, int action)
{
    const auto finished = m_jobs.finish(device, action);
    // A job that goes on, or ends, after the device's restart is shown by the watch.
    const bool followed = m_restartWatch->onActionDone(device, action);
    if (!followed && finished)
        finishJob(*finished);
    else if (!followed && !finishFlashStoreJob(device, action))
        finishUntracked(device, action);
    if (m_quitWhenIdle) {
        finishQuitIfIdle();
        return;
    }
    startOwedJobs();
    keepEmptyWindowDisabled();
    QString uuid;
    if (VHClient *current = currentDevice())
        current->getUUID(uuid);
    showLastResult(uuid);
}

void OrlaController::onDeviceRestarting(VHClient *device) { m_restartWatch->onDeviceRestarting(device); }

void OrlaController::connectRestartWatch()
{
    m_restartWatch = std::make_unique<OrlaRestartWatch>();
    connect(m_restartWatch.get(), &OrlaRestartWatch::waiting, this, &OrlaController::showWaitingText);
    connect(m_restartWatch.get(), &OrlaRestartWatch::passStarted, this,
            [this](VHClient *device) { startProgress(!softUpdateFormVisible(), device); });
    connect(m_restartWatch.get(), &OrlaRestartWatch::finished, this, &OrlaController::showFollowedResult);
    connect(m_restartWatch.get(), &OrlaRestartWatch::gaveUp, this, [this](const QString &details) {
        stopProgress();
        showFailForm(0, details);
    });
}

void OrlaController::showWaitingText(const QString &text)
{
    if (softUpdateFormVisible()) {
        softUpdateForm()->showWaitText(text);
        return;
    }
    if (!m_mainWindow->isVisible())
        showInstead(m_mainWindow.get());
    m_mainWindow->showStatusLine(text);
}

void OrlaController::showFollowedResult(bool ok, int code, const QString &reason)
{
    stopProgress();
    if (!ok) {
        showFailForm(code, reason.isEmpty() ? tr_("The device gave no reason.") : reason);
        return;
    }
    hideIfMade(m_softUpdateForm.get());
    m_mainWindow->hide();
    softUpdateForm()->setProgress(100);
    showInstead(completeForm());
}

void OrlaController::recoverDevice()
{
    VHClient *device = currentDevice();
    if (!OrlaRecovery::needsModelChoice(device)) {
        recoverAs(currentModel());
        return;
    }
    // Nothing is kept for the device: the user names its model, and only a confirmed choice is used.
    if (!m_modelChooser) {
        m_modelChooser = std::make_unique<OrlaModelChooser>(m_mainWindow.get());
        connect(m_modelChooser.get(), &OrlaModelChooser::chosen, this, &OrlaController::recoverAs);
    }
    m_modelChooser->offer(VHGalStranded::galModels(), currentModel());
    m_modelChooser->open();
}

void OrlaController::recoverAs(const QString &model)
{
    VHClient *device = currentDevice();
    bool restoring = false;
    const VHUpdatesFolder folder(VHEnv::instance()->dataFolder(), model);
    if (const VHResult started = OrlaRecovery::start(device, folder, &restoring); !started) {
        showFailForm(0, started.reason);
        return;
    }
    m_jobs.start(device, restoring ? Job::FactoryRestore : Job::SoftwareUpdate);
    m_restartWatch->followPass(device);
    startProgress(true, device);
    m_mainWindow->showStatusLine(OrlaRecovery::recoveringLine());
}

void OrlaController::keepEmptyWindowDisabled()
{
    // Ending a job enables its button again; with no device there is nothing
    // to press it for.
    if (!currentDevice())
        m_mainWindow->setDevice(QString(), QString(), QStringList());
}

// ---- the network clients ------------------------------------------------------

void OrlaController::onUpdateFinished(bool)
{
    vhDebug() << "onQureyUpdateFinished";
    m_serverVersion.clear();
    m_deviceVersion.clear();
    // "Nothing newer" only when the server really answered.
    m_updateQueryFailed = m_updateClient->lastQueryFailed();
    VHClient *device = currentDevice();
    if (!device) {
        m_mainWindow->hideUpdateIndicators();
        return;
    }
    device->getVersion(m_deviceVersion);
    bool noticeShown = false;
    const QString version = updatesFolder().version();
    if (!version.isNull()) {
        m_serverVersion = version;
        if (VHUpdateDecision::offersUpdate(m_deviceVersion, m_serverVersion)) {
            m_mainWindow->showUpdateNotice();
            noticeShown = true;
        }
    }
    if (offers(VHJob::Workouts))
        checkWorkoutSupport();
    if (offers(VHJob::FactoryRestore))
        fetchRestoreFiles();
    if (!noticeShown)
        m_mainWindow->hideUpdateIndicators();
}

void OrlaController::onReduzeduFinished(bool ok)
{
    vhDebug() << "onReduzeduFinished";
    if (!ok)
        showMessage(Message::GpsDownloadFailed, tr_("Download GPS data failed."),
                    tr_("Check the netwrok and try again."));
    m_alpExpiry = 0;
    const int expiry = readAlpExpiry();
    VHClient *device = currentDevice();
    if (device && device->getAlpDate() < expiry)
        writeAlpToDevice(device, expiry);
    else
        m_mainWindow->setGpsUpdating(false);
    keepEmptyWindowDisabled();
}

// ---- the windows ------------------------------------------------------------------

void OrlaController::offerSoftwareUpdate()
{
    if (m_deviceVersion.isEmpty() && m_serverVersion.isEmpty()) {
        showMessage(Message::CheckingNewVersion, tr_("Checking new version now"), QString(), m_mainWindow.get());
    } else if (VHUpdateDecision::offersUpdate(m_deviceVersion, m_serverVersion)) {
        softUpdateForm()->setData(m_serverVersion, m_deviceVersion, QString());
        showInstead(softUpdateForm());
        m_mainWindow->hide();
        hideIfMade(m_failForm.get());
    } else if (m_updateQueryFailed) {
        // A server that answered (an error page, a cut package, a refused certificate or signature) was reached:
        // the details say what was wrong with its answer.
        const QString headline =
            m_updateClient->serverUnreachable()
                ? tr_("Could not reach the update server. Check your network connection and try again.")
                : tr_("The update server's answer could not be used.");
        showMessage(Message::UpdateServerUnreachable, headline, queryFailureText(), m_mainWindow.get());
    } else {
        showMessage(Message::SoftwareUpToDate, tr_("Your software is up-to-date."), QString(), m_mainWindow.get());
    }
}

void OrlaController::startSoftwareUpdate()
{
    VHClient *device = currentDevice();
    const VHUpdatesFolder folder = updatesFolder();
    // With the general reason: the window must not show a stale or empty one.
    if (!device) {
        showFailForm(0, tr_("The device is no longer connected."));
        return;
    }
    if (!folder.isValid()) {
        showFailForm(0, tr_("The device's model name can not name a folder, so it has no package."));
        return;
    }
    if (!QFileInfo(folder.file(VHUpdatesFolder::kPackage)).isFile()) {
        showFailForm(0, tr_("The software package has not been downloaded."));
        return;
    }
    const QString package = folder.file(VHUpdatesFolder::kPackage);
    if (const QString refusal = packageRefusal(device, package); !refusal.isEmpty()) {
        showFailForm(0, refusal);
        return;
    }
    // No language named: a flash-store watch keeps the languages it has.
    if (!device->updateTotal(package, QString())) {
        showFailForm(0, tr_("The device is busy and did not start the update."));
        return;
    }
    m_jobs.start(device, Job::SoftwareUpdate);
    startProgress(false, device);
}

QString OrlaController::packageRefusal(VHClient *device, const QString &package) const
{
    const QString refusal = VHClientPackageCheck::refusal(device, package);
    if (!refusal.isEmpty())
        vhCritical() << "package refused:" << package << refusal;
    return refusal.isEmpty() ? QString() : tr_("The package was not written: %1.").arg(refusal);
}

void OrlaController::offerFactoryRestore()
{
    QString model;
    if (VHClient *device = currentDevice())
        device->getModelName(model);
    m_lastMessage = Message::ConfirmFactoryRestore;
    emit messageShown(Message::ConfirmFactoryRestore);
    auto *box = new QMessageBox(m_mainWindow.get());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Velora Update"));
    box->setIcon(QMessageBox::Warning);
    box->setText(tr_("Restore the factory software of the %1?").arg(model));
    box->setInformativeText(tr_("Everything stored on the device is lost: activities, routes, workouts, settings "
                                "and installed languages. The device may restart during the restore."));
    box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box->button(QMessageBox::Ok)->setText(tr_("Restore"));
    // Losing the data takes a deliberate choice.
    box->setDefaultButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::finished, this, [this](int result) {
        if (result == QMessageBox::Ok)
            startFactoryRestore();
    });
    m_openBoxes.removeAll(nullptr);
    m_openBoxes.append(box);
    box->open();
}

void OrlaController::fetchRestoreFiles()
{
    const QString version = m_updateClient->restoreVersion();
    const VHUpdatesFolder folder = updatesFolder();
    if (folder.isValid() && VHRestoreFetcher::isNeeded(folder.path(), version))
        m_restoreFetcher->fetch(m_updateClient->restoreAddress(), m_updateClient->restoreMd5hash(), version,
                                folder.path());
}

void OrlaController::startFactoryRestore()
{
    VHClient *device = currentDevice();
    if (!device) {
        showFailForm(0, tr_("The device is no longer connected."));
        return;
    }
    if (m_restoreFetcher->isUnpacking()) {
        // The restore folder is being swapped for fresh files this moment.
        showMessage(Message::Busy, tr_("Busy. Please try again later."), QString(), m_mainWindow.get());
        return;
    }
    const QString folder = restoreFolder();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        const QString why = m_restoreFetcher->errorText();
        showMessage(Message::NoRestoreFiles, tr_("The factory software for this device has not been downloaded."),
                    why.isEmpty() ? folder : why, m_mainWindow.get());
        return;
    }
    if (const QString refusal = packageRefusal(device, folder); !refusal.isEmpty()) {
        showFailForm(0, refusal);
        return;
    }
    if (!device->restoreFactory(folder)) {
        showFailForm(0, tr_("The device is busy and did not start the restore."));
        return;
    }
    m_jobs.start(device, Job::FactoryRestore);
    startProgress(true, device);
}

void OrlaController::installWorkouts()
{
    VHClient *device = currentDevice();
    const VHUpdatesFolder folder = updatesFolder();
    // The workouts come from the package: it must be authentic like an update. Read only when it can be used.
    if (device && folder.isValid()) {
        if (const VHResult signature = VHClientPackageCheck::signatureRefusal(folder.file(VHUpdatesFolder::kPackage));
            !signature) {
            showFailForm(0, tr_("The package was not written: %1.").arg(signature.reason));
            return;
        }
    }
    m_mainWindow->setWorkoutInstalling(true);
    if (!device || !folder.isValid()
        || !device->updateComponent(folder.file(VHUpdatesFolder::kPackage), QString(), QString(),
                                    QStringLiteral("1"))) {
        // Nothing runs: the window must not keep showing an installation.
        m_mainWindow->setWorkoutInstalling(false);
        showFailForm(0, device ? tr_("The device is busy and did not start the installation.")
                               : tr_("The device is no longer connected."));
        return;
    }
    m_jobs.start(device, Job::WorkoutInstall);
    startProgress(true, device);
}

void OrlaController::checkWorkoutSupport()
{
    VHClient *device = currentDevice();
    const VHUpdatesFolder folder = updatesFolder();
    if (!device || !folder.isValid())
        return;
    const bool started =
        device->updateComponent(folder.file(VHUpdatesFolder::kPackage), QString(), QString(), QStringLiteral("0"));
    if (started)
        m_jobs.start(device, Job::WorkoutCheck);
    // A busy device is asked again when its action ends.
    m_jobs.setOwed(Job::WorkoutCheck, !started);
}

void OrlaController::refreshMainWindow(bool disconnected)
{
    QString model, uuid;
    QStringList versions;
    VHClient *device = currentDevice();
    if (!disconnected && device) {
        device->getModelName(model);
        device->getUUID(uuid);
        versions = device->versionList();
    }
    m_mainWindow->setDevice(model, uuid, versions);
    if (!disconnected && device)
        m_mainWindow->setJobs(device->offeredJobs());
    // The user is back at the main window: a result kept in front is done with.
    m_restartWatch->release();
    if (!disconnected && device && device->waitsInIapMode())
        m_mainWindow->showStatusLine(OrlaRecovery::waitingLine());
    showLastResult(uuid);
    showInstead(m_mainWindow.get());
    hideIfMade(m_softUpdateForm.get());
    hideIfMade(m_failForm.get());
    hideIfMade(m_completeForm.get());
    hideFlashStoreWindows();
}

QString OrlaController::note()
{
    if (m_note == QLatin1String("empty")) {
        const QString text = updatesFolder().note();
        if (!text.isNull())
            m_note = text;
    }
    return m_note;
}

bool OrlaController::isBeta() const { return isBetaVersion(m_appVersion); }

bool OrlaController::isBetaVersion(const QString &version) { return VHUpdateDecision::isBetaVersion(version); }

bool OrlaController::refuseIfBusy()
{
    VHClient *device = currentDevice();
    const bool busy = m_assistClient->isDownloading() || !device || device->isBusy();
    if (busy)
        showMessage(Message::Busy, tr_("Busy. Please try again later."), QString(), m_mainWindow.get());
    return busy;
}

// ---- assist data ------------------------------------------------------------------

int OrlaController::alpLimit() { return VHUpdateDecision::alpLimit(QDate::currentDate(), kAlpDays); }

int OrlaController::readAlpExpiry()
{
    if (m_alpExpiry == 0)
        m_alpExpiry = updatesFolder().alpExpiry();
    return m_alpExpiry;
}

void OrlaController::updateAlp(bool interactive)
{
    const QString folder = modelUpdatesDir();
    if (folder.isEmpty()) {
        // No folder to keep the data in for this device.
        if (interactive)
            showMessage(Message::GpsDownloadFailed, tr_("Download GPS data failed."),
                        tr_("Check the netwrok and try again."));
        return;
    }
    const int expiry = readAlpExpiry();
    if (expiry < alpLimit()) {
        vhDebug() << "start downloading AssitOff.alp";
        m_assistClient->download(folder, VHUpdatesFolder::kAlpData, kAlpDays);
        m_mainWindow->setGpsUpdating(true);
        return;
    }
    VHClient *device = currentDevice();
    if (!device)
        return;
    if (device->getAlpDate() < expiry)
        writeAlpToDevice(device, expiry);
    else if (interactive)
        showMessage(Message::GpsDataUpToDate, tr_("GPS data on device is up-to-date"), QString());
}

void OrlaController::writeAlpToDevice(VHClient *device, int expiry)
{
    if (m_quitWhenIdle) {
        // The program is ending: no new write may start.
        m_mainWindow->setGpsUpdating(false);
        return;
    }
    m_mainWindow->setGpsUpdating(true);
    const bool started = device->updateAlp(VHUpdatesFolder::kAlpData, expiry);
    if (started)
        m_jobs.start(device, Job::AlpWrite);
    // Busy with another action: written when that one ends; the GPS display
    // stays on until then.
    m_jobs.setOwed(Job::AlpWrite, !started);
}

// ---- progress ---------------------------------------------------------------------

void OrlaController::startProgress(bool onMainWindow, VHClient *device)
{
    stopProgress();
    m_progressOnMainWindow = onMainWindow;
    m_progressValue = 0;
    m_progressRunning = true;
    showPhase(QString());
    // The bar moves only with the bytes the device reports: a guess made the
    // bar stand at 99 for minutes. Queued from the worker, so in order.
    m_deviceProgress =
        connect(device, &VHClient::phaseProgressChanged, this, &OrlaController::onDeviceProgress, Qt::QueuedConnection);
}

void OrlaController::stopProgress()
{
    m_progressRunning = false;
    disconnect(m_deviceProgress);
}

void OrlaController::showProgress(int value)
{
    // Never backwards, and 100 only once the action has ended.
    value = std::min(value, 99);
    if (value <= m_progressValue)
        return;
    m_progressValue = value;
    if (m_progressOnMainWindow)
        m_mainWindow->setProgress(m_progressValue);
    else
        softUpdateForm()->setProgress(m_progressValue);
}

QString OrlaController::phaseWord(int phase)
{
    switch (VHPhase(phase)) {
    case VHPhase::Unpack:
        return tr_("Unpacking");
    case VHPhase::Write:
        return tr_("Writing");
    case VHPhase::Verify:
        return tr_("Checking");
    case VHPhase::Waiting:
        return tr_("Waiting for the watch");
    }
    return QString();
}

void OrlaController::showPhase(const QString &word)
{
    if (m_progressOnMainWindow)
        m_mainWindow->setPhase(word);
    else
        softUpdateForm()->setPhase(word);
}

void OrlaController::onDeviceProgress(int phase, qint64 done, qint64 total)
{
    if (!m_progressRunning)
        return;
    showPhase(phaseWord(phase));
    showProgress(qRound(VHPhaseProgress::overallFraction({VHPhase(phase), done, total}) * 100.0f));
}

// ---- the end of device actions ----------------------------------------------------

void OrlaController::finishJob(const OrlaJobLedger::Entry &finished)
{
    VHClient *device = finished.device.data();
    const bool current = device && device == currentDevice();
    switch (finished.job) {
    case Job::SoftwareUpdate:
        stopProgress();
        // A device that went away mid-update still gets its result shown,
        // unless another device has been connected meanwhile.
        if (current || !currentDevice())
            finishSoftwareUpdate(device);
        break;
    case Job::WorkoutInstall:
        stopProgress();
        finishWorkoutInstall(device);
        break;
    case Job::WorkoutCheck: {
        int code = 0;
        if (current && !device->actionFailed(code))
            m_mainWindow->allowWorkouts();
        break;
    }
    case Job::AlpWrite:
        if (!m_jobs.isPending(Job::AlpWrite))
            m_mainWindow->setGpsUpdating(false);
        break;
    case Job::FactoryRestore:
        stopProgress();
        m_mainWindow->setProgress(-1);
        if (current || !currentDevice())
            finishFactoryRestore(device);
        break;
    }
}

void OrlaController::finishSoftwareUpdate(VHClient *device)
{
    int code = 0;
    if (!device || device->actionFailed(code)) {
        showFailForm(code, actionReason(device));
        return;
    }
    softUpdateForm()->setProgress(100);
    showCompletion(device->actionChanged());
}

void OrlaController::finishFactoryRestore(VHClient *device)
{
    int code = 0;
    if (!device || device->actionFailed(code)) {
        showFailForm(code, actionReason(device));
        return;
    }
    if (device->state() == VHClient::STATE_MODEL) {
        // Only the first pass is done and the restart watch could not follow the device (it names no UUID).
        refreshMainWindow(false);
        showMessage(Message::RestoreNeedsRestart,
                    tr_("The device formats itself when it restarts. Unplug it and plug it in again; the restore then "
                        "finishes."),
                    QString(), m_mainWindow.get());
        return;
    }
    showCompletion(device->actionChanged());
}

void OrlaController::showCompletion(bool changed)
{
    hideIfMade(m_softUpdateForm.get());
    m_mainWindow->hide();
    completeForm()->showResult(changed);
    showInstead(completeForm());
}

void OrlaController::finishWorkoutInstall(VHClient *device)
{
    m_mainWindow->setWorkoutInstalling(false);
    int code = 0;
    if (!device || device->actionFailed(code))
        showMessage(Message::WorkoutsFailed, trResult("Fail. Please try again later."),
                    actionReason(device) + QLatin1Char('\n') + logLine());
    else
        showMessage(Message::WorkoutsInstalled, trResult("Completion"), QString());
}

void OrlaController::finishUntracked(VHClient *device, int action)
{
    // An action this controller did not start, such as an update the device
    // manager resumed: judged by its code.
    stopProgress();
    switch (action) {
    case VHClient::ActionUpdateTotal:
        finishSoftwareUpdate(device);
        break;
    case VHClient::ActionUpdateAlp:
        m_mainWindow->setGpsUpdating(false);
        break;
    case VHClient::ActionUpdateComponent:
        m_mainWindow->setWorkoutInstalling(false);
        break;
    case VHClient::ActionRestoreFactory:
        m_mainWindow->setProgress(-1);
        finishFactoryRestore(device);
        break;
    default:
        showFailForm(0, actionReason(device));
        break;
    }
}

void OrlaController::startOwedJobs()
{
    VHClient *device = currentDevice();
    if (!device || device->isBusy())
        return;
    if (m_jobs.isOwed(Job::AlpWrite)) {
        const int expiry = readAlpExpiry();
        if (device->getAlpDate() < expiry) {
            writeAlpToDevice(device, expiry);
            return;
        }
        m_jobs.setOwed(Job::AlpWrite, false);
        if (!m_jobs.isRunning(Job::AlpWrite))
            m_mainWindow->setGpsUpdating(false);
    }
    if (m_jobs.isOwed(Job::WorkoutCheck))
        checkWorkoutSupport();
}

void OrlaController::showLastResult(const QString &uuid)
{
    VHHistoryEntry last;
    if (!VHHistory::ofDataFolder().lastFor(uuid, last)) {
        m_mainWindow->setLastResult(QString());
        return;
    }
    const QString when = QLocale().toString(last.time.toLocalTime(), QLocale::ShortFormat);
    QString text =
        tr_("Last %1 on this device: %2, %3").arg(last.action, last.ok ? tr_("succeeded") : tr_("failed"), when);
    if (!last.trustedComment.isEmpty())
        text += QLatin1Char('\n') + tr_("Package signature: %1").arg(last.trustedComment);
    m_mainWindow->setLastResult(text);
}

QString OrlaController::actionReason(VHClient *device)
{
    if (!device)
        return tr_("The device was disconnected before the action ended.");
    const QString reason = device->errorText();
    return reason.isEmpty() ? tr_("The device gave no reason.") : reason;
}

QString OrlaController::queryFailureText() const
{
    if (!m_updateClient->serverUnreachable())
        return m_updateClient->errorText() + QLatin1Char('\n') + logLine();
    return tr_("The update server %1 could not be reached.").arg(m_updateClient->serverAddress()) + QLatin1Char('\n')
           + tr_("Another update server can be set with the key \"updateurl\" in the group \"VeloraHub\" of %1.")
                 .arg(VHEnv::instance()->dataFolder() + QLatin1Char('/') + VHEnv::instance()->settingsFileName())
           + QLatin1Char('\n') + logLine();
}

void OrlaController::showFailForm(int code, const QString &details)
{
    hideIfMade(m_softUpdateForm.get());
    m_mainWindow->hide();
    hideFlashStoreWindows();
    failForm()->setReason(code, details);
    showInstead(failForm());
}

// ---- ending the program ---------------------------------------------------------------

bool OrlaController::isWritingDevice() const { return m_jobs.isWritingDevice(currentDevice()); }

void OrlaController::quitWhenIdle()
{
    if (!m_quitWhenIdle)
        vhDebug() << "asked to end; the device is being written:" << isWritingDevice();
    m_quitWhenIdle = true;
    finishQuitIfIdle();
}

void OrlaController::finishQuitIfIdle()
{
    if (m_quitWhenIdle && !isWritingDevice())
        emit readyToQuit();
}

bool OrlaController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && watched->isWidgetType()
        && (refuseCloseWhileWriting() || !closeLikeItsButton(static_cast<QWidget *>(watched)))) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool OrlaController::closeLikeItsButton(QWidget *window)
{
    // The dialogs' title-bar X is their own Cancel or Back button: it brings
    // the main window back, and does nothing while that button is disabled.
    const bool dialog =
        window == m_softUpdateForm.get() || window == m_languageForm.get() || window == m_backupsForm.get();
    if (!dialog)
        return true;
    auto *button = window->findChild<QPushButton *>(QStringLiteral("cancel_button"));
    if (!button)
        button = window->findChild<QPushButton *>(QStringLiteral("back_button"));
    if (!button || !button->isEnabled())
        return false;
    button->click();
    return true;
}

bool OrlaController::refuseCloseWhileWriting()
{
    if (!isWritingDevice())
        return false;
    // Ending now would cut the write off and could leave the device unusable.
    showMessage(Message::WaitForDeviceWrite,
                tr_("The device is being updated. Please wait until the update has finished before closing "
                    "VeloraUpdate."),
                QString(), visibleWindow());
    return true;
}

// ---- windows and messages ------------------------------------------------------------

QWidget *OrlaController::visibleWindow() const
{
    for (QWidget *window :
         std::initializer_list<QWidget *>{m_mainWindow.get(), m_softUpdateForm.get(), m_completeForm.get(),
                                          m_failForm.get(), m_languageForm.get(), m_backupsForm.get()})
        if (window && window->isVisible())
            return window;
    return nullptr;
}

void OrlaController::showInstead(QWidget *window)
{
    // The four windows take each other's place on the screen.
    QWidget *shown = visibleWindow();
    if (shown && shown != window)
        window->move(shown->pos());
    window->show();
}

void OrlaController::raiseVisibleWindow()
{
    QWidget *window = visibleWindow();
    if (!window) {
        refreshMainWindow(false);
        window = m_mainWindow.get();
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}

void OrlaController::showMessage(Message message, const QString &text, const QString &informative, QWidget *parent)
{
    m_lastMessage = message;
    emit messageShown(message);
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Velora Update"));
    box->setText(text);
    if (!informative.isEmpty())
        box->setInformativeText(informative);
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    const QSize hint = box->sizeHint();
    box->move(m_mainWindow->x() + (m_mainWindow->width() - hint.width()) / 2,
              m_mainWindow->y() + (m_mainWindow->height() - hint.height()) / 2);
    // Shown without a nested event loop: no network or device callback may
    // run inside the caller while the box waits for its "OK".
    m_openBoxes.removeAll(nullptr);
    m_openBoxes.append(box);
    box->open();
}
