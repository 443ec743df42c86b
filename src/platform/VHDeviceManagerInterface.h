#pragma once

#include "VHModelInfo.h"

class VHClientInterface;

// What the drive scan and the detector need of the device manager.
class VHDeviceManagerInterface
{
public:
    virtual ~VHDeviceManagerInterface() = default;
    virtual VHModelTable &models() = 0;
    virtual void registerModel(const VHModelInfo &model, bool atFront) = 0;
    // Bit 4 set: drives are identified by "/System/device.txt" (FIT), else by "/device.ini" (GAL).
    virtual int deviceClassFlags() const = 0;
    virtual VHClientInterface *currentClient() const = 0;
};
