#pragma once

#include "GHEventBroadcaster.h"
#include "VHDeviceDetector.h"
#include "VHPlatformInterface.h"

#include <QObject>

#include <functional>
#include <memory>

class VHClientInterface;
class VHDeviceManagerInterface;
class VHDeviceService;
class VHDeviceWatcher;
class VHPlatform;

// Turns device-change codes into plug-in and unplug events for the device
// manager: it filters bursts, ignores removals while an update expects the
// device to vanish, and decides by rescanning what a code means.
class VHPlatformDeviceDetector : public QObject,
                                 public VHDeviceDetector,
                                 public GHEventBroadcaster<VHDeviceDetectorListener>
{
    Q_OBJECT

public:
    // Milliseconds since system start, wrapping at 2^32.
    using TickSource = std::function<quint32()>;

    // Scans through the given platform, which outlives the detector.
    VHPlatformDeviceDetector(VHDeviceManagerInterface *manager, VHPlatform *platform, QObject *parent = nullptr);
    ~VHPlatformDeviceDetector() override;

    // Connects DeviceChange(quint32) of the application's event source, or of a
    // watcher of the platform's own, to the slot of the same name.
    [[nodiscard]] bool start() override;
    // Accepted and ignored: every device found by a rescan is considered.
    void setVendorFilter(const QStringList &) override {}
    void addListener(VHDeviceDetectorListener *listener) override;
    void removeListener(VHDeviceDetectorListener *listener) override;

    void setTickSource(TickSource source) { m_tick = std::move(source); }
    quint32 lastEventTick() const { return m_lastEventTick; }
    VHDeviceWatcher *watcher() const { return m_watcher.get(); }
    static quint32 systemTickCount();

    // Bursts of node changes within this many milliseconds of the last event
    // passed on cause no rescan.
    static constexpr quint32 kBurstIntervalMs = 1000;

public slots:
    void DeviceChange(quint32 deviceEvent);

private:
    // `late`: the rescan of a change dropped by the burst filter, not filtered again.
    void onNodesChanged(bool late = false);
    // One rescan when the burst window of a dropped node change ends: the
    // change may have been the device leaving or arriving.
    void scheduleRescan(quint32 sinceLastEvent);
    void onArrival();
    void onRemoveComplete();
    bool isCurrentDevice(VHClientInterface *device, VHDeviceService &service) const;
    // The service among `services` that reaches `device` (by UUID), taken out; null when none does.
    std::unique_ptr<VHDeviceService> takeServiceOf(VHClientInterface *device, VHServiceList &services) const;
    static bool expectsToVanish(VHClientInterface *device);
    void sendPlugin(std::unique_ptr<VHDeviceService> service);
    void sendUnplug();
    quint32 tick() const;

    VHDeviceManagerInterface *m_manager;
    VHPlatform *m_platform;
    std::unique_ptr<VHDeviceWatcher> m_watcher;
    TickSource m_tick;
    quint32 m_lastEventTick = 0;
    bool m_rescanPending = false;
};
