#pragma once

#include "GHEventBroadcaster.h"
#include "VHDeviceDetector.h"
#include "VHPlatformInterface.h"

#include <QObject>
#include <QThreadPool>

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
    // A plugged volume is then scanned and its identity read on a worker
    // thread, and its service handed to the listeners on this thread when
    // the scan ends: a slow drive must not hold a GUI thread. Off: at once.
    void setScanOnWorker(bool onWorker) override { m_scanOnWorker = onWorker; }
    bool scanOnWorker() const { return m_scanOnWorker; }
    // True while a volume scan runs on the worker.
    bool isScanning() const { return m_scanning; }
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
    // Plugs the first volume found, when no device is current.
    void plugFirstVolume();
    void scanVolumesOnWorker();
    void onVolumesScanned(const std::shared_ptr<struct VHVolumeScan> &scan);
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
    bool m_scanOnWorker = false;
    bool m_scanning = false;
    // An arrival seen while a scan ran: scanned again after it.
    bool m_scanAgain = false;
    // Last member: the destructor waits for a running scan before the rest goes.
    QThreadPool m_scanner;
};
