#include "OrlaRecovery.h"

#include "VHClient.h"
#include "VHGalRecovery.h"
#include "VHLog.h"
#include "VHUpdatesFolder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("OrlaRecovery", text); }

VHResult refused(const QString &reason) { return VHResult::failure(0, reason); }

} // namespace

QString OrlaRecovery::waitingLine() { return tr_("Waiting to finish its update"); }

QString OrlaRecovery::recoveringLine() { return tr_("Finishing the update ..."); }

VHResult OrlaRecovery::start(VHClient *device, const VHUpdatesFolder &folder)
{
    if (!device)
        return refused(tr_("The device is no longer connected."));
    if (!device->waitsInIapMode() || !device->offeredJobs().testFlag(VHJob::Recover))
        return refused(tr_("The device is not waiting to finish an update."));
    const QString package = folder.isValid() ? folder.file(VHUpdatesFolder::kPackage) : QString();
    if (package.isEmpty() || !QFileInfo(package).isFile())
        return refused(tr_("The software package for the device has not been downloaded yet."));
    QString uuid;
    device->getUUID(uuid);
    const VHGalRecovery::Plan plan = VHGalRecovery::plan(uuid, package, QString());
    vhDebug() << "recover " << uuid << " from " << package << " in " << plan.language << " ("
              << VHGalRecovery::sourceName(plan.languageSource) << ")";
    return VHGalRecovery::start(*device, plan);
}
