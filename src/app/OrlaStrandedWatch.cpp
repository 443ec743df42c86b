#include "OrlaStrandedWatch.h"

#include "VHDeviceEvents.h"
#include "VHDeviceManager.h"
#include "VHDeviceRegistry.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHPlatformDeviceDetector.h"

OrlaStrandedWatch::OrlaStrandedWatch(VHPlatform &platform, VHDeviceManager &manager, QObject *parent)
    : QObject(parent), m_manager(manager),
      m_scan([&platform](const VHModelTable &known) { return VHGalStranded::findWaiting(platform, known); })
{
    m_pool.setMaxThreadCount(1);
}

OrlaStrandedWatch::~OrlaStrandedWatch() { m_pool.waitForDone(); }

void OrlaStrandedWatch::start(QObject *events)
{
    if (events)
        connect(events, SIGNAL(DeviceChange(quint32)), this, SLOT(DeviceChange(quint32)), Qt::UniqueConnection);
    scan();
}

QObject *OrlaStrandedWatch::eventSourceOf(VHDeviceManager &manager)
{
    if (QObject *source = manager.platform() ? manager.platform()->deviceEventSource() : nullptr)
        return source;
    auto *detector = dynamic_cast<VHPlatformDeviceDetector *>(manager.detector());
    return detector ? detector->watcher() : nullptr;
}

void OrlaStrandedWatch::DeviceChange(quint32 deviceEvent)
{
    // A device in IAP mode has no volume: it comes and goes as a node.
    if (deviceEvent != VHDeviceEvent::NodesChanged)
        return;
    ++m_generation;
    scan();
}

void OrlaStrandedWatch::scan()
{
    if (m_scanning)
        return; // the running scan's result is stale now: it scans again
    m_scanning = true;
    // The table as it is now, and the built-in rows: the first scan starts before the daemon registers them.
    const VHModelTable known = m_manager.models() + VHDeviceRegistry::instance().builtInModels();
    const quint64 generation = m_generation;
    m_pool.start([this, known, generation] {
        const QList<VHGalStranded::Waiting> found = m_scan(known);
        QMetaObject::invokeMethod(
            this, [this, generation, found] { onScanned(generation, found); }, Qt::QueuedConnection);
    });
}

void OrlaStrandedWatch::onScanned(quint64 generation, const QList<VHGalStranded::Waiting> &found)
{
    m_scanning = false;
    if (generation != m_generation) {
        vhDebug() << "device nodes changed during the IAP scan: scanning again";
        scan();
        return;
    }
    const int adopted = adopt(found);
    if (adopted > 0 && !m_manager.currentDevice())
        askDetectorToRescan();
    emit scanned(adopted);
}

int OrlaStrandedWatch::adopt(const QList<VHGalStranded::Waiting> &found)
{
    int adopted = 0;
    for (const VHGalStranded::Waiting &waiting : found) {
        if (!waiting.row.factory || isKnown(waiting))
            continue;
        // At the front, so the detector's scan matches it before any built-in row.
        m_manager.registerModel(waiting.row, true);
        ++adopted;
    }
    return adopted;
}

bool OrlaStrandedWatch::isKnown(const VHGalStranded::Waiting &waiting) const
{
    // Registered by another scan or by a first pass since this scan began, or the device already served.
    for (const VHModelInfo &row : std::as_const(m_manager.models())) {
        if (row.identification == waiting.row.identification && row.factory == waiting.row.factory)
            return true;
    }
    QString uuid;
    VHClient *current = m_manager.currentDevice();
    return current && current->getUUID(uuid) && !uuid.isEmpty() && uuid == waiting.device.uuid;
}

void OrlaStrandedWatch::askDetectorToRescan()
{
    auto *detector = dynamic_cast<VHPlatformDeviceDetector *>(m_manager.detector());
    if (!detector) {
        vhWarning() << "no device detector runs: a device waiting in IAP mode is registered but not connected";
        return;
    }
    detector->DeviceChange(VHDeviceEvent::NodesChanged);
}
