#include "VHDeviceFamilies.h"

#include "VHDaemon.h"
#include "VHFitDevice.h"
#include "VHPlatform.h"

namespace VHDeviceFamilies {

void registerAll()
{
    // Only families with a class in this build register; the built-in table's
    // rows all name families that are not part of it yet.
    VHPlatform::setDeviceFactories(&vhCreateDevice<VHFitDevice>, nullptr, nullptr);
    VHDaemon::setBuiltInModels({});
}

} // namespace VHDeviceFamilies
