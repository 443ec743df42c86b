#pragma once

#include "VHModelInfo.h"

class VHDeviceRegistry;

// The device families of this build register their factories by role, and the
// built-in model rows whose family is registered, in the device registry.
namespace VHDeviceFamilies {

void registerAll();
// The built-in table's rows whose role has a factory in the registry, in table order.
VHModelTable builtInModels(const VHDeviceRegistry &registry);
// Every row of the built-in table in table order, without factories: what
// tools describing the table (the udev rule generator) read.
VHModelTable tableRows();

} // namespace VHDeviceFamilies
