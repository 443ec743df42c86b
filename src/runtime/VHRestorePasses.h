#pragma once

#include "VHResult.h"

#include <QString>

class VHClient;

// A factory restore that has the device format itself leaves its first pass
// with the device asked to do so at its next start (state 4); the restore is
// done only once a second pass has run on the restarted device. Every front
// end follows the device through that restart the same way.
namespace VHRestorePasses {

// True when the restore just ended waits for the device's restart.
bool awaitsSecondPass(VHClient &client);
// Starts the second pass on the device that came back; an empty folder means
// the one the first pass remembered for the device.
bool startSecondPass(VHClient &client, const QString &folder);
// After the second pass's action ended well: a device still asked to format
// itself came back without doing so, and nothing was restored.
VHResult secondPassOutcome(VHClient &client);

} // namespace VHRestorePasses
