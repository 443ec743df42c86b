#pragma once

#include "VHPackageCheck.h"
#include "VHPackageIdentity.h"

#include <QString>

// What velora-devctl decides before it writes a package to a device, kept
// apart from the program so each rule can be tried on its own.
namespace VHDevctlChecks {

using Device = VHPackageCheck::Target;

struct Verdict
{
    bool allowed = true;
    bool forced = false; // refused but written because --force was given
    QString reason;      // why it is refused (or forced); empty when nothing is wrong
};

// A package made for another model, or older than what the device runs, is
// refused unless forced. What the package does not name, and versions of
// different forms, are left to the device's own checks.
Verdict comparePackage(const Device &device, const VHPackageIdentity &package, bool force);

// The question is asked only of a person: stdin and stderr on a terminal, no -y.
bool asksBeforeWriting(bool stdinIsTerminal, bool stderrIsTerminal, bool yes);
QString question(const QString &package, const QString &version, const QString &model, const QString &uuid);
// Only an explicit yes writes.
bool isYes(const QString &answer);

} // namespace VHDevctlChecks
