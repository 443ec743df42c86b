#include "VHPlatformDeviceDetector.h"

#include "VHClientInterface.h"
#include "VHDeviceEvents.h"
#include "VHDeviceManagerInterface.h"
#include "VHDeviceService.h"
#include "VHDeviceWatcher.h"
#include "VHLog.h"
#include "VHPlatform.h"

#include <QTimer>

#include <optional>

#include <ctime>

// One scan on the worker: what it reads of the manager is a copy of its
// model table and flags; rows the drive scan registers for unknown models are
// recorded and registered with the real manager on the detector's thread.
struct VHDeviceScan final : VHDeviceManagerInterface
{
    VHDeviceScan(const VHModelTable &table, int flags) : table(table), flags(flags) {}
    VHModelTable &models() override { return table; }
    void registerModel(const VHModelInfo &model, bool atFront) override
    {
        atFront ? table.prepend(model) : table.append(model);
        registered.append({model, atFront});
    }
    int deviceClassFlags() const override { return flags; }
    VHClientInterface *currentClient() const override { return nullptr; }

    // What tells whether the result still fits: the current device as the scan began.
    struct Device
    {
        VHClientInterface *client = nullptr;
        int state = 0;
        int serviceType = -1;
        bool operator==(const Device &) const = default;
        static Device of(VHClientInterface *client)
        {
            return client ? Device{client, client->state(), client->serviceType()} : Device();
        }
    };

    VHModelTable table;
    const int flags;
    int what = 0;
    // The SCSI devices' UUIDs are asked on the worker too when a current
    // device has to be found among them.
    bool readUuids = false;
    QList<QPair<VHModelInfo, bool>> registered;
    VHServiceList scsi;
    QStringList scsiUuids;
    VHServiceList volumes;
    // Used on the detector's thread only.
    Device before;
    std::optional<quint32> staleEvent;
    bool staleLate = false;
    std::function<void(VHDeviceScan &)> then;
};

VHPlatformDeviceDetector::VHPlatformDeviceDetector(VHDeviceManagerInterface *manager, VHPlatform *platform,
                                                   QObject *parent)
    : QObject(parent), m_manager(manager), m_platform(platform)
{
    m_scanner.setMaxThreadCount(1);
}

// The pool (last member) waits for a running scan first; its result, posted
// to this object, is dropped with it.
VHPlatformDeviceDetector::~VHPlatformDeviceDetector() { m_scanner.waitForDone(); }

quint32 VHPlatformDeviceDetector::systemTickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return quint32(quint64(now.tv_sec) * 1000u + quint64(now.tv_nsec) / 1000000u);
}

quint32 VHPlatformDeviceDetector::tick() const { return m_tick ? m_tick() : systemTickCount(); }

bool VHPlatformDeviceDetector::start()
{
    QObject *source = m_platform->deviceEventSource();
    if (!source) {
        if (!m_watcher)
            m_watcher = m_platform->createDeviceWatcher();
        source = m_watcher.get();
    }
    if (!source)
        return false;
    return bool(
        connect(source, SIGNAL(DeviceChange(quint32)), this, SLOT(DeviceChange(quint32)), Qt::UniqueConnection));
}

void VHPlatformDeviceDetector::addListener(VHDeviceDetectorListener *listener)
{
    GHEventBroadcaster<VHDeviceDetectorListener>::addListener(listener);
}

void VHPlatformDeviceDetector::removeListener(VHDeviceDetectorListener *listener)
{
    GHEventBroadcaster<VHDeviceDetectorListener>::removeListener(listener);
}

void VHPlatformDeviceDetector::DeviceChange(quint32 deviceEvent)
{
    if (!m_manager)
        return;
    handle({deviceEvent, false});
}

void VHPlatformDeviceDetector::handle(Event event)
{
    // Behind a running scan, as behind one on this thread; once is enough:
    // the scan it waits for sees what it saw.
    if (isScanning()) {
        if (!m_waiting.contains(event))
            m_waiting.append(event);
        return;
    }
    switch (event.code) {
    case VHDeviceEvent::NodesChanged:
        onNodesChanged(event.late);
        break;
    case VHDeviceEvent::Arrival:
        onArrival();
        break;
    case VHDeviceEvent::RemoveComplete:
        onRemoveComplete();
        break;
    default:
        break;
    }
}

bool VHPlatformDeviceDetector::expectsToVanish(VHClientInterface *device)
{
    // A software update or a factory restore makes the device drop off and come back.
    const int state = device->state();
    return state == 1 || state == 3;
}

bool VHPlatformDeviceDetector::isCurrentDevice(VHClientInterface *device, VHDeviceService &service) const
{
    QString deviceUuid, serviceUuid;
    device->getUUID(deviceUuid);
    service.getUUID(serviceUuid);
    return deviceUuid == serviceUuid;
}

std::unique_ptr<VHDeviceService> VHPlatformDeviceDetector::takeServiceOf(VHClientInterface *device,
                                                                         VHServiceList &services,
                                                                         const QStringList &uuids) const
{
    const bool known = !uuids.isEmpty() && uuids.size() == qsizetype(services.size());
    QString deviceUuid;
    if (known)
        device->getUUID(deviceUuid);
    for (size_t i = 0; i < services.size(); ++i) {
        std::unique_ptr<VHDeviceService> &service = services[i];
        if (!service)
            continue;
        if (known ? uuids[qsizetype(i)] == deviceUuid : isCurrentDevice(device, *service))
            return std::move(service);
    }
    return nullptr;
}

void VHPlatformDeviceDetector::sendPlugin(std::unique_ptr<VHDeviceService> service)
{
    // The first listener takes the service; the others are told with none.
    const QList<VHDeviceDetectorListener *> snapshot = listeners();
    for (VHDeviceDetectorListener *listener : snapshot)
        listener->onDevicePlugin(std::move(service));
    m_lastEventTick = tick();
}

void VHPlatformDeviceDetector::sendUnplug()
{
    broadcast(&VHDeviceDetectorListener::onDeviceUnplug);
    m_lastEventTick = tick();
}

void VHPlatformDeviceDetector::onNodesChanged(bool late)
{
    vhDebug() << "ALL DBT_DEVNODES_CHANGED";
    VHClientInterface *device = m_manager->currentClient();
    const bool fsDevice = device && device->serviceType() == VHDeviceService::DEVICE_FS;
    if (fsDevice && !expectsToVanish(device)) {
        vhDebug() << "ignore event: device=" << static_cast<const void *>(device);
        return;
    }
    const quint32 now = tick();
    vhDebug() << "tickcount=" << now << m_lastEventTick;
    if (!late && quint32(now - m_lastEventTick) <= kBurstIntervalMs) {
        scheduleRescan(quint32(now - m_lastEventTick));
        return;
    }
    const Event event{VHDeviceEvent::NodesChanged, true};
    scan(
        ScanScsi, [this](VHDeviceScan &scan) { onNodesScanned(scan); }, &event);
}

void VHPlatformDeviceDetector::onNodesScanned(VHDeviceScan &scan)
{
    VHClientInterface *device = m_manager->currentClient();
    const bool fsDevice = device && device->serviceType() == VHDeviceService::DEVICE_FS;
    VHServiceList &services = scan.scsi;
    vhDebug() << "handle event : services=" << services.size();
    if (!fsDevice) {
        if (services.empty() || device) {
            // Other devices may stay plugged beside it: only its own absence unplugs it.
            if (device && !takeServiceOf(device, services, scan.scsiUuids))
                sendUnplug();
        } else {
            vhDebug() << "send onDevicePlugin event";
            sendPlugin(std::move(services.front()));
        }
    } else if (!services.empty()) {
        // A file-system device in its update comes back over SCSI; with
        // several plugged, the one with its UUID is it.
        std::unique_ptr<VHDeviceService> own = takeServiceOf(device, services, scan.scsiUuids);
        vhDebug() << "send onDevicePlugin event";
        sendPlugin(own ? std::move(own) : std::move(services.front()));
    }
    vhDebug() << "DBT_DEVNODES_CHANGED";
}

void VHPlatformDeviceDetector::scheduleRescan(quint32 sinceLastEvent)
{
    if (m_rescanPending)
        return;
    m_rescanPending = true;
    const int delay = int(kBurstIntervalMs - qMin(sinceLastEvent, kBurstIntervalMs)) + 1;
    QTimer::singleShot(delay, this, [this] {
        m_rescanPending = false;
        handle({VHDeviceEvent::NodesChanged, true});
    });
}

void VHPlatformDeviceDetector::onArrival()
{
    vhDebug() << "DBT_DEVICEARRIVAL";
    VHClientInterface *device = m_manager->currentClient();
    const Event event{VHDeviceEvent::Arrival};
    // A device sent away for its update may come back as a volume instead of
    // in its update mode: the manager decides what that means.
    if (device && expectsToVanish(device) && device->serviceType() == VHDeviceService::DEVICE_FS) {
        scan(
            ScanVolumes,
            [this](VHDeviceScan &scan) {
                if (!scan.volumes.empty())
                    sendPlugin(std::move(scan.volumes.front()));
            },
            &event);
        return;
    }
    // A device reached over SCSI whose flash pass has ended may have left as a
    // SCSI device and come back as a volume before its removal was seen.
    if (device && device->serviceType() == VHDeviceService::DEVICE_SCSI && !expectsToVanish(device)) {
        scan(
            ScanScsi,
            [this, device](VHDeviceScan &scan) {
                if (!takeServiceOf(device, scan.scsi, scan.scsiUuids))
                    sendUnplug();
                plugFirstVolume();
            },
            &event);
        return;
    }
    plugFirstVolume();
}

void VHPlatformDeviceDetector::plugFirstVolume()
{
    if (m_manager->currentClient())
        return;
    // Not stale when a device connected meanwhile: the volume is then dropped.
    scan(ScanVolumes, [this](VHDeviceScan &scan) {
        // A device may have connected meanwhile (over SCSI, or a rescan of a node change).
        if (!m_manager->currentClient() && !scan.volumes.empty())
            sendPlugin(std::move(scan.volumes.front()));
    });
}

void VHPlatformDeviceDetector::onRemoveComplete()
{
    vhDebug() << "DBT_DEVICEREMOVECOMPLETE";
    VHClientInterface *device = m_manager->currentClient();
    if (!device || expectsToVanish(device))
        return;
    // A device reached over SCSI has no volume: a volume going away is another
    // device's. Its own removal shows as a node change, which checks it by UUID.
    if (device->serviceType() == VHDeviceService::DEVICE_SCSI)
        return;
    const Event event{VHDeviceEvent::RemoveComplete};
    scan(
        ScanVolumes,
        [this, device](VHDeviceScan &scan) {
            if (scan.volumes.empty() || !isCurrentDevice(device, *scan.volumes.front()))
                sendUnplug();
        },
        &event);
}

// ---- the scans ------------------------------------------------------------------

void VHPlatformDeviceDetector::scan(int what, const ScanThen &then, const Event *event)
{
    if (!m_scanOnWorker) {
        VHDeviceScan scan(VHModelTable(), m_manager->deviceClassFlags());
        if (what & ScanScsi)
            scan.scsi = m_platform->findSCSIDevices(m_manager->models());
        if (what & ScanVolumes)
            scan.volumes = m_platform->findFSDevices(m_manager);
        then(scan);
        return;
    }
    auto job = std::make_shared<VHDeviceScan>(m_manager->models(), m_manager->deviceClassFlags());
    job->what = what;
    job->before = VHDeviceScan::Device::of(m_manager->currentClient());
    job->readUuids = job->before.client != nullptr;
    if (event) {
        job->staleEvent = event->code;
        job->staleLate = event->late;
    }
    job->then = then;
    startScanOnWorker(job);
}

void VHPlatformDeviceDetector::startScanOnWorker(const std::shared_ptr<VHDeviceScan> &scan)
{
    ++m_scansRunning;
    VHPlatform *platform = m_platform;
    m_scanner.start([this, platform, scan] {
        if (scan->what & ScanScsi) {
            scan->scsi = platform->findSCSIDevices(scan->table);
            for (size_t i = 0; scan->readUuids && i < scan->scsi.size(); ++i) {
                QString uuid;
                scan->scsi[i]->getUUID(uuid);
                scan->scsiUuids.append(uuid);
            }
        }
        if (scan->what & ScanVolumes)
            scan->volumes = platform->findFSDevices(scan.get());
        QMetaObject::invokeMethod(
            this, [this, scan] { onScanned(scan); }, Qt::QueuedConnection);
    });
}

void VHPlatformDeviceDetector::onScanned(const std::shared_ptr<VHDeviceScan> &scan)
{
    --m_scansRunning;
    for (const auto &[row, atFront] : std::as_const(scan->registered))
        m_manager->registerModel(row, atFront);
    if (scan->staleEvent && VHDeviceScan::Device::of(m_manager->currentClient()) != scan->before) {
        // The device changed while the scan ran: what the scan found is judged against it anew.
        vhDebug() << "the current device changed during the scan: scanned again";
        handle({*scan->staleEvent, scan->staleLate});
    } else {
        scan->then(*scan);
    }
    handleWaitingEvent();
}

void VHPlatformDeviceDetector::handleWaitingEvent()
{
    // The event just handled may have started the next scan of its own.
    while (!isScanning() && !m_waiting.isEmpty())
        handle(m_waiting.takeFirst());
}
