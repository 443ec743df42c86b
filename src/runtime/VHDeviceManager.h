#pragma once

#include "GHEventBroadcaster.h"
#include "VHDeviceDetector.h"
#include "VHDeviceManagerInterface.h"
#include "VHDeviceManagerListener.h"

#include "VHClient.h"

#include <functional>
#include <memory>

class VHDeviceService;
class VHPlatform;

// Knows the device models, turns a found device service into the one live
// device object, and tells its listeners when a device is connected, removed
// or has finished an action. Runs on the GUI thread.
class VHDeviceManager : public VHDeviceDetectorListener,
                        public GHEventBroadcaster<VHDeviceManagerListener>,
                        public VHDeviceManagerInterface
{
public:
    using Clock = std::function<qint64()>; // seconds since 1970, UTC

    // Scans and detects through the given platform, which outlives the manager.
    explicit VHDeviceManager(VHPlatform *platform = nullptr);
    ~VHDeviceManager() override;

    // Looks for a device already present, then starts the detector. False
    // without a platform or when the detector does not start.
    [[nodiscard]] bool start();

    VHPlatform *platform() const { return m_platform; }

    void registerModel(const VHModelInfo &model, bool atFront) override;
    VHModelTable &models() override { return m_models; }
    VHClient *currentDevice() const { return m_current.get(); }
    VHClient *previousDevice() const { return m_previous.get(); }
    VHClientInterface *currentClient() const override;
    void setDeviceClassFlags(int flags) { m_deviceClassFlags = flags; }
    int deviceClassFlags() const override { return m_deviceClassFlags; }
    qint64 lastRemovalTime() const { return m_lastRemoval; }
    VHDeviceDetector *detector() const { return m_detector.get(); }
    // A GUI front end asks for this before start(): the detector then scans
    // a plugged volume on a worker thread (see VHDeviceDetector).
    void setScanOnWorker(bool onWorker) { m_scanOnWorker = onWorker; }

    void onDevicePlugin(std::unique_ptr<VHDeviceService> service) override;
    void onDeviceUnplug() override;
    void onDeviceChanged() override;

    // Called when an action of a device made by this manager ends. The
    // listeners hear of the device that ran it, which after a removal is no
    // longer the current one.
    void notifyActionDone(VHClient *device, int action);
    // Called when a pass of a device's job ends and the job goes on after the
    // device's restart; the listeners hear of it while it is the current one.
    void notifyRestarting(VHClient *device);
    // The current device did not come back from the restart in the middle of
    // its job: the job fails (its end reaches the listeners) and the object is
    // let go, so that this or another device can connect again.
    void abandonRestart();

    void setClock(Clock clock) { m_clock = std::move(clock); }

private:
    VHClientPtr createDevice(std::unique_ptr<VHDeviceService> service);
    // The current device becomes the previous one (the former previous is deleted).
    void parkCurrent();
    // Tells the listeners the current device is gone, notes when, and parks it.
    void disconnectCurrent();
    void makeCurrent(VHClientPtr device, const char *logText);
    void resumeUpdate(std::unique_ptr<VHDeviceService> service);
    qint64 now() const;

    VHPlatform *m_platform;
    VHModelTable m_models;
    std::unique_ptr<VHDeviceDetector> m_detector;
    VHClientPtr m_current;
    VHClientPtr m_previous;
    qint64 m_lastRemoval = 0;
    // The current device left during its update and has not come back: when
    // its action ends it is disconnected, or it would stay current over a
    // service that is gone and no plug would connect it again.
    bool m_awayDuringUpdate = false;
    int m_deviceClassFlags = 3;
    bool m_scanOnWorker = false;
    Clock m_clock;
};
