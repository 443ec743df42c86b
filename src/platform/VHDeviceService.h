#pragma once

#include "VHModelInfo.h"

#include <QString>

// The transport to one physical device: a mounted volume or a SCSI
// pass-through handle.
class VHDeviceService
{
public:
    enum Type { DEVICE_FS = 0, DEVICE_SCSI = 1 };

    virtual ~VHDeviceService() = default;
    virtual bool getUUID(QString &uuid) = 0;
    // The model-table row the service was created for.
    virtual VHModelInfo modelInfo() const = 0;
    virtual int type() const = 0;
};
