#include "OrlaRestartWatch.h"

#include "VHClient.h"
#include "VHDeviceManager.h"
#include "VHEnv.h"
#include "VHLog.h"
#include "VHRestorePasses.h"

#include <QCoreApplication>

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("OrlaRestartWatch", text); }

bool endsAJob(int action) { return action == VHClient::ActionUpdateTotal || action == VHClient::ActionRestoreFactory; }

} // namespace

OrlaRestartWatch::OrlaRestartWatch()
{
    bool ok = false;
    const int seconds = VHEnv::instance()
                            ->settingValue(QStringLiteral("restarttimeout"), QString::number(kDefaultTimeoutSeconds))
                            .toInt(&ok);
    if (ok && seconds > 0)
        m_timeoutMs = seconds * 1000;
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &OrlaRestartWatch::onTimeout);
}

QString OrlaRestartWatch::restartingText() { return tr_("The watch restarts. Keep it connected."); }

QString OrlaRestartWatch::replugText()
{
    return tr_("The watch formats itself when it restarts. Unplug it and plug it in again.");
}

QString OrlaRestartWatch::timeoutDetails(int seconds, Hint hint)
{
    QString details = tr_("The watch did not come back within %1 s.").arg(seconds) + QLatin1Char('\n');
    switch (hint) {
    case Hint::Recover:
        return details + tr_("If it waits to finish its update, plug it in again and press Recover.");
    case Hint::RestoreAgain:
        return details + tr_("Unplug the watch, plug it in again and start the factory restore again.");
    case Hint::UpdateAgain:
        break;
    }
    return details + tr_("Unplug the watch, plug it in again and start the update again.");
}

QString OrlaRestartWatch::uuidOf(VHClient *device)
{
    QString uuid;
    if (device)
        device->getUUID(uuid);
    return uuid;
}

void OrlaRestartWatch::follow(VHClient *device, Phase phase, const QString &text)
{
    if (m_followed != device || m_uuid.isEmpty())
        m_uuid = uuidOf(device);
    m_followed = device;
    m_phase = phase;
    m_heldUuid.clear();
    vhDebug() << "following the device " << m_uuid << " through its restart, phase " << int(phase);
    m_timer.start(m_timeoutMs);
    emit waiting(text);
}

bool OrlaRestartWatch::onDeviceRestarting(VHClient *device)
{
    // Between the passes: the manager keeps the object through the restart and resumes its action.
    m_secondPass = false;
    follow(device, Phase::Away, restartingText());
    return true;
}

bool OrlaRestartWatch::onDeviceDisconnected(VHClient *device)
{
    if (!device)
        return false;
    if (!m_heldUuid.isEmpty() && uuidOf(device) == m_heldUuid)
        return true;
    if (m_phase == Phase::AskedToRestart && device == m_followed) {
        follow(device, Phase::Away, restartingText());
        return true;
    }
    if (m_phase != Phase::Idle)
        return false;
    const bool formats = VHRestorePasses::awaitsSecondPass(*device);
    // Neither in an update or restore nor asked to restart: an ordinary removal.
    if (!formats && !endsAJob(device->currentAction()))
        return false;
    if (uuidOf(device).isEmpty())
        return false;
    m_secondPass = formats;
    m_secondPassRan = false;
    follow(device, Phase::Away, restartingText());
    return true;
}

bool OrlaRestartWatch::onDeviceConnected(VHClient *device)
{
    const QString uuid = uuidOf(device);
    if (!m_heldUuid.isEmpty()) {
        // Back from the restart that installs what the job wrote.
        const bool same = uuid == m_heldUuid;
        m_heldUuid.clear();
        return same;
    }
    if (m_phase != Phase::Away)
        return false;
    if (uuid.isEmpty() || uuid != m_uuid) {
        vhWarning() << "another device came while " << m_uuid << " restarts; no longer waiting for it";
        m_timer.stop();
        m_phase = Phase::Idle;
        m_followed = nullptr;
        return false;
    }
    if (m_secondPass)
        startSecondPass(device);
    // Otherwise the action of the object that left still has to end.
    return true;
}

void OrlaRestartWatch::startSecondPass(VHClient *device)
{
    m_timer.stop();
    m_followed = device;
    m_phase = Phase::Finishing;
    m_secondPass = false;
    m_secondPassRan = true;
    // The folder the first pass remembered for the device.
    if (!VHRestorePasses::startSecondPass(*device, QString())) {
        m_phase = Phase::Idle;
        hold();
        emit finished(false, 0, tr_("The watch came back but did not start the rest of the factory restore."));
        return;
    }
    emit passStarted(device);
}

bool OrlaRestartWatch::onActionDone(VHClient *device, int action)
{
    if (!device || !endsAJob(action))
        return false;
    if (device == m_abandoned) {
        // Given up on already, and the failure is shown.
        m_abandoned = nullptr;
        return true;
    }
    if (m_phase == Phase::Idle) {
        int code = 0;
        if (action != VHClient::ActionRestoreFactory || device->actionFailed(code)
            || !VHRestorePasses::awaitsSecondPass(*device))
            return false;
        m_secondPass = true;
        m_secondPassRan = false;
        follow(device, Phase::AskedToRestart, replugText());
        return true;
    }
    if (device != m_followed)
        return false;
    finish(device);
    return true;
}

void OrlaRestartWatch::finish(VHClient *device)
{
    m_timer.stop();
    m_phase = Phase::Idle;
    m_followed = nullptr;
    int code = 0;
    bool ok = !device->actionFailed(code);
    QString reason = device->errorText();
    if (ok && m_secondPassRan) {
        const VHResult outcome = VHRestorePasses::secondPassOutcome(*device);
        ok = outcome.ok;
        code = outcome.code;
        reason = outcome.reason;
    }
    m_secondPassRan = false;
    hold();
    emit finished(ok, code, reason);
}

void OrlaRestartWatch::followPass(VHClient *device)
{
    m_followed = device;
    m_uuid = uuidOf(device);
    m_phase = Phase::Finishing;
    m_secondPass = false;
    m_secondPassRan = false;
    m_heldUuid.clear();
}

void OrlaRestartWatch::hold() { m_heldUuid = m_uuid; }

void OrlaRestartWatch::release() { m_heldUuid.clear(); }

void OrlaRestartWatch::onTimeout()
{
    if (m_phase != Phase::AskedToRestart && m_phase != Phase::Away)
        return;
    VHClient *device = m_followed.data();
    const bool inLoader = device && device->isBetweenPasses();
    const bool restoring = m_secondPass || (device && device->state() == VHClient::STATE_RESTORING);
    vhWarning() << "the device " << m_uuid << " did not come back within " << m_timeoutMs / 1000 << " s";
    m_phase = Phase::Idle;
    m_followed = nullptr;
    hold();
    const Hint hint = inLoader ? Hint::Recover : restoring ? Hint::RestoreAgain : Hint::UpdateAgain;
    const QString details = timeoutDetails((m_timeoutMs + 999) / 1000, hint);
    emit gaveUp(details);
    // The manager would keep waiting for it, refusing every other device.
    if (inLoader && device->deviceManager()) {
        m_abandoned = device;
        device->deviceManager()->abandonRestart();
    }
}
