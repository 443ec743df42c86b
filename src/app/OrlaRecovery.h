#pragma once

#include "VHResult.h"

#include <QString>

class VHClient;
class VHUpdatesFolder;

// The window's Recover: a device left waiting in its loader gets the rest of
// its update from the package downloaded for its model, in the language its
// first pass remembered, as the command-line recover does.
class OrlaRecovery
{
public:
    // The main window's line for such a device, and while it is recovered.
    static QString waitingLine();
    static QString recoveringLine();

    // Starts the device's second pass; the reason in words when it can not.
    static VHResult start(VHClient *device, const VHUpdatesFolder &folder);
};
