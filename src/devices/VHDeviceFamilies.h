#pragma once

// The device families of this build hand their factories to the layers below:
// the drive scan's dynamic rows and the daemon's built-in model table.
namespace VHDeviceFamilies {

void registerAll();

} // namespace VHDeviceFamilies
