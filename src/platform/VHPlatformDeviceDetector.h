#pragma once

#include "GHEventBroadcaster.h"
#include "VHDeviceDetector.h"
#include "VHPlatformInterface.h"

#include <QList>
#include <QObject>
#include <QThreadPool>

#include <functional>
#include <memory>

class VHClientInterface;
class VHDeviceManagerInterface;
class VHDeviceService;
class VHDeviceWatcher;
class VHPlatform;
struct VHDeviceScan;

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
    // On: every scan an event calls for (the SCSI devices, the drives and
    // their identity files) runs on a worker thread and its result is acted
    // on here when it comes back; events arriving meanwhile wait their turn,
    // as they would behind a scan on this thread. A slow drive or SCSI device
    // must not hold a GUI thread. Off: every scan at once, on this thread.
    void setScanOnWorker(bool onWorker) override { m_scanOnWorker = onWorker; }
    bool scanOnWorker() const { return m_scanOnWorker; }
    // True while a scan runs on the worker.
    bool isScanning() const { return m_scansRunning > 0; }
    quint32 lastEventTick() const { return m_lastEventTick; }
    VHDeviceWatcher *watcher() const { return m_watcher.get(); }
    static quint32 systemTickCount();

    // Bursts of node changes within this many milliseconds of the last event
    // passed on cause no rescan.
    static constexpr quint32 kBurstIntervalMs = 1000;

public slots:
    void DeviceChange(quint32 deviceEvent);

private:
    struct Event
    {
        quint32 code = 0;
        bool late = false; // the rescan of a node change the burst filter dropped
        bool operator==(const Event &) const = default;
    };
    // What a scan is asked for; the worker's side is VHDeviceScan (in the source).
    enum ScanWhat { ScanScsi = 1, ScanVolumes = 2 };
    using ScanThen = std::function<void(VHDeviceScan &scan)>;

    void handle(Event event);
    // `late`: the rescan of a change dropped by the burst filter, not filtered again.
    void onNodesChanged(bool late = false);
    void onNodesScanned(VHDeviceScan &scan);
    // One rescan when the burst window of a dropped node change ends: the
    // change may have been the device leaving or arriving.
    void scheduleRescan(quint32 sinceLastEvent);
    void onArrival();
    void onRemoveComplete();
    // Plugs the first volume found, when no device is current.
    void plugFirstVolume();
    // Runs `then` with what `what` found: at once, or on this thread after
    // the worker's scan. With `event`, a result that the current device's
    // change made stale is not acted on: the event is handled again.
    void scan(int what, const ScanThen &then, const Event *event = nullptr);
    void startScanOnWorker(const std::shared_ptr<VHDeviceScan> &scan);
    void onScanned(const std::shared_ptr<VHDeviceScan> &scan);
    // The next event that waited for a scan, when none runs.
    void handleWaitingEvent();
    bool isCurrentDevice(VHClientInterface *device, VHDeviceService &service) const;
    // The service among `services` that reaches `device` (by UUID), taken
    // out; null when none does. `uuids`: the services' UUIDs as the scan read
    // them, when it did.
    std::unique_ptr<VHDeviceService> takeServiceOf(VHClientInterface *device, VHServiceList &services,
                                                   const QStringList &uuids = {}) const;
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
    int m_scansRunning = 0;
    // Events that came while an event's scan ran, each once, in order.
    QList<Event> m_waiting;
    // Last member: the destructor waits for a running scan before the rest goes.
    QThreadPool m_scanner;
};
