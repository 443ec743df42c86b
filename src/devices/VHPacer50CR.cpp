#include "VHPacer50CR.h"

#include "GHDbModel.h"
#include "VHDaemon.h"
#include "VHFSDeviceService.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHVolumeSync.h"

bool VHPacer50CR::eject()
{
    VHPlatform *platform = VHDaemon::instance()->platform();
    const QString root = rootPath();
    if (root.isEmpty())
        return true;
    // No database file of this thread stays open on a volume about to go.
    closeDeviceDatabases();
    if (!VHVolumeSync::flush({}, root))
        vhWarning() << "can not flush " << root;
    auto *service = dynamic_cast<VHFSDeviceService *>(deviceService());
    const QString secondary = service ? service->secondaryDrive() : QString();
    // The second volume is ejected only when it still is this device's.
    const QString device = platform->getPhysicalDevice(root);
    const bool ownSecondary =
        !secondary.isEmpty() && !device.isEmpty() && platform->getPhysicalDevice(secondary) == device;
    if (!platform->ejectDevice(root))
        vhWarning() << "eject failed: " << root;
    if (ownSecondary && !platform->ejectDevice(secondary))
        vhWarning() << "eject failed: " << secondary;
    else if (!secondary.isEmpty() && !ownSecondary)
        vhWarning() << "not ejected, not this device's volume: " << secondary;
    return true;
}
