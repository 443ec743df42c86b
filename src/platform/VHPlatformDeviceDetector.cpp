#include "VHPlatformDeviceDetector.h"

#include "VHClientInterface.h"
#include "VHDeviceEvents.h"
#include "VHDeviceManagerInterface.h"
#include "VHDeviceService.h"
#include "VHDeviceWatcher.h"
#include "VHLog.h"
#include "VHPlatform.h"

#include <QTimer>

#include <ctime>

// What a volume scan on the worker reads of the manager: a copy of its model
// table and flags. Rows the scan registers for unknown models are recorded
// and registered with the real manager on the detector's thread.
struct VHVolumeScan final : VHDeviceManagerInterface
{
    VHVolumeScan(const VHModelTable &table, int flags) : table(table), flags(flags) {}
    VHModelTable &models() override { return table; }
    void registerModel(const VHModelInfo &model, bool atFront) override
    {
        atFront ? table.prepend(model) : table.append(model);
        registered.append({model, atFront});
    }
    int deviceClassFlags() const override { return flags; }
    VHClientInterface *currentClient() const override { return nullptr; }

    VHModelTable table;
    const int flags;
    QList<QPair<VHModelInfo, bool>> registered;
    VHServiceList found;
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
    switch (deviceEvent) {
    case VHDeviceEvent::NodesChanged:
        onNodesChanged();
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
                                                                         VHServiceList &services) const
{
    for (std::unique_ptr<VHDeviceService> &service : services) {
        if (service && isCurrentDevice(device, *service))
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

    VHServiceList services = m_platform->findSCSIDevices(m_manager->models());
    vhDebug() << "handle event : services=" << services.size();
    if (!fsDevice) {
        if (services.empty() || device) {
            // Other devices may stay plugged beside it: only its own absence unplugs it.
            if (device && !takeServiceOf(device, services))
                sendUnplug();
        } else {
            vhDebug() << "send onDevicePlugin event";
            sendPlugin(std::move(services.front()));
        }
    } else if (!services.empty()) {
        // A file-system device in its update comes back over SCSI; with
        // several plugged, the one with its UUID is it.
        std::unique_ptr<VHDeviceService> own = takeServiceOf(device, services);
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
        onNodesChanged(true);
    });
}

void VHPlatformDeviceDetector::onArrival()
{
    vhDebug() << "DBT_DEVICEARRIVAL";
    VHClientInterface *device = m_manager->currentClient();
    // A device sent away for its update may come back as a volume instead of
    // in its update mode: the manager decides what that means.
    if (device && expectsToVanish(device) && device->serviceType() == VHDeviceService::DEVICE_FS) {
        VHServiceList volumes = m_platform->findFSDevices(m_manager);
        if (!volumes.empty())
            sendPlugin(std::move(volumes.front()));
        return;
    }
    // A device reached over SCSI whose flash pass has ended may have left as a
    // SCSI device and come back as a volume before its removal was seen.
    if (device && device->serviceType() == VHDeviceService::DEVICE_SCSI && !expectsToVanish(device)) {
        VHServiceList scsi = m_platform->findSCSIDevices(m_manager->models());
        if (!takeServiceOf(device, scsi))
            sendUnplug();
    }
    plugFirstVolume();
}

void VHPlatformDeviceDetector::plugFirstVolume()
{
    if (m_manager->currentClient())
        return;
    if (m_scanOnWorker) {
        scanVolumesOnWorker();
        return;
    }
    VHServiceList services = m_platform->findFSDevices(m_manager);
    if (!services.empty())
        sendPlugin(std::move(services.front()));
}

void VHPlatformDeviceDetector::scanVolumesOnWorker()
{
    if (m_scanning) {
        m_scanAgain = true;
        return;
    }
    m_scanning = true;
    m_scanAgain = false;
    auto scan = std::make_shared<VHVolumeScan>(m_manager->models(), m_manager->deviceClassFlags());
    VHPlatform *platform = m_platform;
    m_scanner.start([this, platform, scan] {
        scan->found = platform->findFSDevices(scan.get());
        QMetaObject::invokeMethod(
            this, [this, scan] { onVolumesScanned(scan); }, Qt::QueuedConnection);
    });
}

void VHPlatformDeviceDetector::onVolumesScanned(const std::shared_ptr<VHVolumeScan> &scan)
{
    m_scanning = false;
    for (const auto &[row, atFront] : std::as_const(scan->registered))
        m_manager->registerModel(row, atFront);
    // A device may have connected meanwhile (over SCSI, or a rescan of a node change).
    if (!m_manager->currentClient() && !scan->found.empty())
        sendPlugin(std::move(scan->found.front()));
    if (m_scanAgain)
        plugFirstVolume();
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
    VHServiceList services = m_platform->findFSDevices(m_manager);
    if (services.empty() || !isCurrentDevice(device, *services.front()))
        sendUnplug();
}
