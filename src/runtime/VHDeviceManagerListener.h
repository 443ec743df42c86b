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
    // The current device's job has ended its first pass and goes on after the
    // device's restart (state 1 or 3): the object is kept through the removal,
    // and the action resumes when the device comes back.
    virtual void onDeviceRestarting(VHClient *) {}
};
