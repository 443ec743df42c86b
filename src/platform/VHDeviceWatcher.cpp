#include "VHDeviceWatcher.h"

VHDeviceWatcher::~VHDeviceWatcher() = default;
