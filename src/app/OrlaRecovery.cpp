#include "OrlaRecovery.h"

#include "VHClient.h"
#include "VHGalRecovery.h"
#include "VHGalStranded.h"
#include "VHLog.h"
#include "VHUpdatesFolder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("OrlaRecovery", text); }

VHResult refused(const QString &reason) { return VHResult::failure(0, reason); }

// The package the window downloaded for the device's model; empty when there is none.
QString downloadedPackage(const VHUpdatesFolder &folder)
{
    const QString package = folder.isValid() ? folder.file(VHUpdatesFolder::kPackage) : QString();
    return QFileInfo(package).isFile() ? package : QString();
}

} // namespace

QString OrlaRecovery::waitingLine() { return tr_("Waiting to finish its update"); }

QString OrlaRecovery::recoveringLine() { return tr_("Finishing the update ..."); }

bool OrlaRecovery::needsModelChoice(VHClient *device)
{
    QString uuid;
    return device && device->getUUID(uuid) && VHGalStranded::storedModel(uuid).isEmpty();
}

VHResult OrlaRecovery::start(VHClient *device, const VHUpdatesFolder &folder, bool *restoring)
{
    if (!device)
        return refused(tr_("The device is no longer connected."));
    if (!device->waitsInIapMode() || !device->offeredJobs().testFlag(VHJob::Recover))
        return refused(tr_("The device is not waiting to finish an update."));
    QString uuid;
    device->getUUID(uuid);
    const VHGalRecovery::Source source = VHGalRecovery::chooseSource(uuid, downloadedPackage(folder));
    if (source.refusal == VHGalRecovery::Source::Refusal::RestoreGone)
        return refused(tr_("The restore files the device was being restored from are gone."));
    if (!source)
        return refused(tr_("The software package for the device has not been downloaded yet."));
    const VHGalRecovery::Plan plan = VHGalRecovery::plan(uuid, source.path, QString());
    if (restoring)
        *restoring = plan.restoring;
    vhDebug() << "recover " << uuid << " from " << source.path << " in " << plan.language << " ("
              << VHGalRecovery::sourceName(plan.languageSource) << ")";
    return VHGalRecovery::start(*device, plan);
}
