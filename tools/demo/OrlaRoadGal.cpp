// The GAL road: a watch that updates by method 2 leaves in the middle of its
// update for its loader; the window follows it back by its UUID and shows the
// completion once the second pass has run there.

#include "OrlaController.h"
#include "OrlaForm.h"
#include "OrlaRestartWatch.h"
#include "OrlaRoad.h"
#include "SoftUpdateForm.h"
#include "VHClient.h"
#include "VHDevSim.h"
#include "recover_complete_form.h"
#include "recover_fail_form.h"

#include <QLabel>
#include <QPushButton>

namespace {

QString uuidOf(VHClient *device)
{
    QString uuid;
    if (device)
        device->getUUID(uuid);
    return uuid;
}

QString versionOf(VHClient *device)
{
    QString version;
    if (device)
        device->getVersion(version);
    return version;
}

} // namespace

bool OrlaRoad::runGalRoad()
{
    return plugGalAndOffer() && openDialog() && galUpdateRestartsTheWatch() && galSecondPassCompletes()
           && galStartsWithTheNewVersion();
}

bool OrlaRoad::plugGalAndOffer()
{
    return step(QStringLiteral("GAL watch shown, update offered"), [this](QString &detail) {
        VHSimGalIdentity identity;
        identity.os = galVersionBefore();
        identity.updateMethod = 2;
        m_uuidBefore = identity.uuid;
        OrlaForm *main = m_controller->mainWindow();
        if (!plugRoadDevice([&](VHDevSim &sim, const QString &name) { return sim.createGal(name, identity); }))
            return failWith(detail, QStringLiteral("the GAL watch was not found: ") + m_error);
        auto offered = [this, main] {
            return label(main, "uuid_info_label")->text() == m_uuidBefore && main->isVisible()
                   && label(main, "download_count_label")->isVisible() && deviceIdle();
        };
        if (!waitFor(offered))
            return failWith(detail, QStringLiteral("no update notice for the GAL watch"));
        shoot(QStringLiteral("update-offered"), main);
        return true;
    });
}

bool OrlaRoad::galUpdateRestartsTheWatch()
{
    return step(QStringLiteral("update started, the watch restarts"), [this](QString &detail) {
        SoftUpdateForm *dialog = m_controller->softUpdateForm();
        if (!click(dialog, "soft_update_button"))
            return failWith(detail, QStringLiteral("\"Update\" can not be pressed"));
        // The first pass sends the watch into its loader: it leaves the bus.
        OrlaRestartWatch *watch = m_controller->restartWatch();
        if (!waitFor([watch] { return watch->phase() == OrlaRestartWatch::Phase::Away; }))
            return failWith(detail, QStringLiteral("the watch did not leave for its loader"));
        if (!dialog->isVisible() || label(dialog, "remind_label")->text() != OrlaRestartWatch::restartingText())
            return failWith(detail, QStringLiteral("the dialog does not ask to keep the watch connected"));
        shoot(QStringLiteral("restarting"), dialog);
        return true;
    });
}

bool OrlaRoad::galSecondPassCompletes()
{
    return step(QStringLiteral("second pass in the loader, completion"), [this](QString &detail) {
        // The watch's own restart: it comes back in its loader, where the second pass runs.
        VHDevSim &sim = m_stage.sim();
        letTimePass();
        if (!sim.unplug(galName()) || !asDevice([&sim] { return sim.boot(galName()); }) || !sim.plug(galName()))
            return failWith(detail, sim.lastError());
        recover_complete_form *done = m_controller->completeForm();
        // Back in its loader under the same UUID, the second pass writing: the dialog is still in front.
        auto inLoader = [this] {
            VHClient *device = currentDevice();
            return device && device->waitsInIapMode() && uuidOf(device) == m_uuidBefore;
        };
        if (!waitFor([&] { return (inLoader() && currentDevice()->isBusy()) || done->isVisible(); }) || !inLoader())
            return failWith(detail, QStringLiteral("the second pass was not seen in the loader"));
        // A pass that ends between two looks leaves no picture of it running.
        if (!done->isVisible())
            shoot(QStringLiteral("second-pass"), m_controller->softUpdateForm());
        if (!waitFor([this, done] { return done->isVisible() || m_controller->failForm()->isVisible(); })
            || !done->isVisible())
            return failWith(detail, QStringLiteral("no completion window: ") + m_controller->failForm()->details());
        if (uuidOf(currentDevice()) != m_uuidBefore)
            return failWith(detail, QStringLiteral("another device came back: ") + uuidOf(currentDevice()));
        shoot(QStringLiteral("completion"), done);
        return true;
    });
}

bool OrlaRoad::galStartsWithTheNewVersion()
{
    return step(QStringLiteral("the watch starts with the new version"), [this](QString &detail) {
        VHDevSim &sim = m_stage.sim();
        // The user releases the cable; the watch installs what the loader wrote at its start.
        if (!sim.unplug(galName()) || !waitFor([this] { return currentDevice() == nullptr; }))
            return failWith(detail, QStringLiteral("the removal was not seen"));
        m_installed.clear();
        letTimePass();
        if (!asDevice([this, &sim] { return sim.boot(galName(), &m_installed); }) || !sim.plug(galName()))
            return failWith(detail, sim.lastError());
        auto back = [this] {
            VHClient *device = currentDevice();
            return device && !device->isBusy() && uuidOf(device) == m_uuidBefore;
        };
        if (!waitFor(back))
            return failWith(detail, QStringLiteral("the watch did not come back"));
        detail = m_installed.join(QStringLiteral(", "));
        const QString version = versionOf(currentDevice());
        if (version != galVersionAfter())
            return failWith(detail, QStringLiteral("the watch reports %1 (installed: %2)").arg(version, detail));
        // The result stays in front for the watch it belongs to.
        return m_controller->completeForm()->isVisible();
    });
}
