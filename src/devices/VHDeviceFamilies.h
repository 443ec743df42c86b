#pragma once

#include "VHModelInfo.h"

class VHDeviceRegistry;

// The device families of this build register their factories by role, and the
// built-in model rows whose family is registered, in the device registry.
namespace VHDeviceFamilies {

void registerAll();
// The built-in table's rows whose role has a factory in the registry, in table order.
VHModelTable builtInModels(const VHDeviceRegistry &registry);

} // namespace VHDeviceFamilies
