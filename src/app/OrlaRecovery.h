#pragma once

#include "VHResult.h"

#include <QString>

class VHClient;
class VHUpdatesFolder;

// The window's Recover: a device left waiting in its loader gets the rest of
// its job, as the command-line recover does: an update from the package
// downloaded for its model, in the language its first pass remembered; a
// factory restore from the folder it was started from. OrlaStrandedWatch
// finds such devices and has their objects made.
class OrlaRecovery
{
public:
    // The main window's line for such a device, and while it is recovered.
    static QString waitingLine();
    static QString recoveringLine();

    // True when nothing says what model the device is: Recover asks first.
    static bool needsModelChoice(VHClient *device);

    // Starts the device's second pass; the reason in words when it can not.
    // `restoring` tells whether the job resumed is a factory restore.
    static VHResult start(VHClient *device, const VHUpdatesFolder &folder, bool *restoring = nullptr);
};
