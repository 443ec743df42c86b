#pragma once

#include <QString>

// What the platform layer reads of a device object (the detector's view of the
// current device). VHClient implements it.
class VHClientInterface
{
public:
    virtual ~VHClientInterface() = default;
    // 0 ready, 1 software update in progress, 2 out of service, 3 factory restore, 4 model-defined.
    virtual int state() = 0;
    // The service's type, or -1 when the object has no service.
    virtual int serviceType() = 0;
    virtual bool getUUID(QString &uuid) = 0;
};
