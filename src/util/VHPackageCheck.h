#pragma once

#include "VHPackageIdentity.h"

#include <QString>

// Whether a package may be written to a device, decided from what the package
// says about itself and what the device reports. The command line and the
// updater window ask the same question, so they refuse the same packages.
namespace VHPackageCheck {

struct Target
{
    QString model;
    QString version; // the software version the package's is compared with
};

// Why the package must not be written: made for another model, or older than
// what the device runs. Empty when nothing is wrong. What the package does not
// name, and versions of different forms, are left to the device's own checks.
QString refusal(const Target &target, const VHPackageIdentity &package);

} // namespace VHPackageCheck
