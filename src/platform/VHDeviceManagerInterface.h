#pragma once

#include "VHModelInfo.h"

class VHClientInterface;

// What the drive scan and the detector need of the device manager.
class VHDeviceManagerInterface
{
public:
    // Bits of deviceClassFlags(). Neither set: drives are identified by "/device.ini" and an unknown model is a
    // GAL device. kIdentifyByDeviceTxt: by "/System/device.txt", an unknown model is a FIT device.
    // kIdentifyByEitherFile (wins over the other): "/System/device.txt" first, then "/device.ini", an unknown
    // model taking the family of the file that named it, so one scan finds every family's volume.
    static constexpr int kIdentifyByDeviceTxt = 4;
    static constexpr int kIdentifyByEitherFile = 8;

    virtual ~VHDeviceManagerInterface() = default;
    virtual VHModelTable &models() = 0;
    virtual void registerModel(const VHModelInfo &model, bool atFront) = 0;
    virtual int deviceClassFlags() const = 0;
    virtual VHClientInterface *currentClient() const = 0;
};
