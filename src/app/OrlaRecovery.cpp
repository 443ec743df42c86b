#include "OrlaRecovery.h"

#include "VHClient.h"
#include "VHDeviceManager.h"
#include "VHDeviceRegistry.h"
#include "VHGalRecovery.h"
#include "VHGalStranded.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHSCSIDeviceService.h"
#include "VHUpdatesFolder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("OrlaRecovery", text); }

VHResult refused(const QString &reason) { return VHResult::failure(0, reason); }

} // namespace

QString OrlaRecovery::waitingLine() { return tr_("Waiting to finish its update"); }

QString OrlaRecovery::recoveringLine() { return tr_("Finishing the update ..."); }

int OrlaRecovery::adoptStrandedDevices(VHPlatform &platform, VHDeviceManager &manager)
{
    const VHServiceList services =
        platform.findSCSIDevices(VHGalStranded::scanRows(VHDeviceRegistry::instance().builtInModels()));
    int adopted = 0;
    for (const auto &service : services) {
        auto *scsi = dynamic_cast<VHSCSIDeviceService *>(service.get());
        if (!scsi || !VHGalStranded::isStranded(*service))
            continue;
        const VHGalStranded::Device device = VHGalStranded::identify(*scsi);
        const VHModelInfo row = VHGalStranded::rowFor(device, VHGalStranded::modelFor(device, QString()));
        vhDebug() << "device " << device.uuid << " waits in IAP mode as \"" << device.identification << "\", model "
                  << row.modelName;
        if (!row.factory)
            continue;
        manager.registerModel(row, true);
        ++adopted;
    }
    return adopted;
}

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
    // An interrupted factory restore goes on from its own folder, never with an update package.
    QString source = VHGalRecovery::interruptedRestore(uuid);
    if (!source.isEmpty() && !QFileInfo(source).isDir())
        return refused(tr_("The restore files the device was being restored from are gone."));
    if (source.isEmpty()) {
        source = folder.isValid() ? folder.file(VHUpdatesFolder::kPackage) : QString();
        if (source.isEmpty() || !QFileInfo(source).isFile())
            return refused(tr_("The software package for the device has not been downloaded yet."));
    }
    const VHGalRecovery::Plan plan = VHGalRecovery::plan(uuid, source, QString());
    if (restoring)
        *restoring = plan.restoring;
    vhDebug() << "recover " << uuid << " from " << source << " in " << plan.language << " ("
              << VHGalRecovery::sourceName(plan.languageSource) << ")";
    return VHGalRecovery::start(*device, plan);
}
