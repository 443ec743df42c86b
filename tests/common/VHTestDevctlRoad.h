#pragma once

// The FIT road velora-devctl's tests stand on: the usual device and package
// (VHFitRoad::newerPackage) below a work folder, served signed over https, and
// the program of this build (DEVCTL_PROGRAM, defined per test) run on the
// road's simulated platform.

#include "VHFitRoad.h"
#include "VHTestProcess.h"

#include <QTemporaryDir>

#include <memory>

// Empty when the road stands, its device plugged when asked; else what failed.
inline QString startDevctlRoad(std::unique_ptr<VHFitRoad> &road, const QTemporaryDir &work, bool plugged = false)
{
    if (!work.isValid())
        return QStringLiteral("no work folder");
    road = std::make_unique<VHFitRoad>(VHFitRoad::newerPackage(work.path()));
    const bool standing = road->prepare() && road->startServer() && (!plugged || road->plug());
    return standing ? QString() : road->lastError();
}

#ifdef DEVCTL_PROGRAM
// velora-devctl to its end on the simulated platform below `simRoot`.
inline VHTestRun runDevctl(const QString &simRoot, const QStringList &arguments, int timeoutMs = 120000)
{
    return runTestProgram(QStringLiteral(DEVCTL_PROGRAM), QStringList{QStringLiteral("--sim"), simRoot} + arguments,
                          QString(), timeoutMs);
}
#endif
