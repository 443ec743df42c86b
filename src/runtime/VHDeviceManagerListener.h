#pragma once

class VHClient;

// What the device manager tells its listeners (the daemon, the front end).
class VHDeviceManagerListener
{
public:
    virtual ~VHDeviceManagerListener() = default;
    virtual void onDeviceConnected(VHClient *device) = 0;
    virtual void onDeviceDisconnected(VHClient *device) = 0;
    virtual void onDeviceChanged(VHClient *device) = 0;
    virtual void onActionDone(VHClient *device, int action) = 0;
    // The current device left between the passes of its job (state 1 or 3):
    // it is kept, and its job goes on when it comes back.
    virtual void onDeviceAway(VHClient *) {}
};
