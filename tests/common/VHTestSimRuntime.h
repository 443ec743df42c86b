#pragma once

// The runtime over the device simulator with every family registered and the
// built-in model table, as the road tests of the SCSI-only families run it.

#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHTestEnv.h"
#include "VHTestEvents.h"

#include <memory>

struct VHTestSimRuntime
{
    std::unique_ptr<VHDevSim> sim;
    std::unique_ptr<VHDaemon> daemon;
    VHTestEvents events;

    bool start(const QString &simRoot, const QString &dataRoot)
    {
        qputenv("VELORA_SIM_ROOT", simRoot.toUtf8());
        initTestEnv(dataRoot);
        VHDeviceFamilies::registerAll();
        sim = std::make_unique<VHDevSim>(simRoot);
        daemon = std::make_unique<VHDaemon>();
        // The built-in rows; no drive scan of the file-based families.
        daemon->deviceManager()->setDeviceClassFlags(3);
        daemon->deviceManager()->addListener(&events);
        return daemon->start(true);
    }

    void stop()
    {
        if (daemon)
            daemon->deviceManager()->removeListener(&events);
        daemon.reset();
    }

    ~VHTestSimRuntime() { stop(); }
};
