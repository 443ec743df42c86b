#include "VHDeviceManager.h"

#include "VHClient.h"
#include "VHDeviceService.h"
#include "VHHistoryRecorder.h"
#include "VHLog.h"
#include "VHPlatform.h"

#include <QDateTime>

namespace {
bool isSlowReconnectingModel(const QString &model)
{
    // These models drop off the bus and come back within seconds after a removal.
    return model == QLatin1String("Pacer21") || model == QLatin1String("Pacer20plus");
}
} // namespace

VHDeviceManager::VHDeviceManager(VHPlatform *platform) : m_platform(platform) {}

VHDeviceManager::~VHDeviceManager()
{
    // The detector may still refer to the manager; it goes first.
    m_detector.reset();
    m_current.reset();
    m_previous.reset();
}

qint64 VHDeviceManager::now() const { return m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch(); }

VHClientInterface *VHDeviceManager::currentClient() const { return m_current.get(); }

void VHDeviceManager::registerModel(const VHModelInfo &model, bool atFront)
{
    if (atFront)
        m_models.prepend(model);
    else
        m_models.append(model);
}

VHClientPtr VHDeviceManager::createDevice(std::unique_ptr<VHDeviceService> service)
{
    if (!service)
        return nullptr;
    const VHDeviceFactory factory = service->modelInfo().factory;
    if (!factory)
        return nullptr; // the service is deleted here
    VHClientPtr device(factory(service.release()));
    if (device)
        device->setDeviceManager(this);
    return device;
}

void VHDeviceManager::parkCurrent()
{
    if (!m_current)
        return;
    m_previous = std::move(m_current);
}

void VHDeviceManager::disconnectCurrent()
{
    m_lastRemoval = now();
    broadcast(&VHDeviceManagerListener::onDeviceDisconnected, m_current.get());
    parkCurrent();
}

void VHDeviceManager::makeCurrent(VHClientPtr device, const char *logText)
{
    parkCurrent();
    m_current = std::move(device);
    m_awayDuringUpdate = false;
    if (m_current) {
        // Every front end records a returning device's version, before any listener shows the history.
        VHHistoryRecorder::noteArrival(*m_current);
        vhDebug() << logText;
        broadcast(&VHDeviceManagerListener::onDeviceConnected, m_current.get());
    }
}

bool VHDeviceManager::start()
{
    if (!m_platform)
        return false;
    VHServiceList services = m_platform->findSCSIDevices(m_models);
    if (services.empty())
        services = m_platform->findFSDevices(this);
    if (!services.empty()) {
        // One device at a time: further services are dropped.
        VHClientPtr device = createDevice(std::move(services.front()));
        makeCurrent(std::move(device), "start():send onDeviceConnected");
    }

    m_detector.reset();
    m_detector = m_platform->createDetector(this);
    if (!m_detector) {
        m_lastRemoval = 0;
        return false;
    }
    m_detector->setVendorFilter({QStringLiteral("Velora")});
    m_detector->setScanOnWorker(m_scanOnWorker);
    m_detector->addListener(this);
    return m_detector->start();
}

void VHDeviceManager::resumeUpdate(std::unique_ptr<VHDeviceService> service)
{
    QString serviceUuid, deviceUuid;
    service->getUUID(serviceUuid);
    m_current->getUUID(deviceUuid);
    if (service->type() != VHDeviceService::DEVICE_SCSI) {
        vhCritical() << "find device service DEVICE_FS for software update";
        // The device restarted without its update mode: the update cannot go
        // on, and the device would otherwise wait for it until the program ends.
        if (!deviceUuid.isEmpty() && deviceUuid == serviceUuid) {
            m_current->failPendingUpdate();
            makeCurrent(createDevice(std::move(service)), "send onDeviceConnected");
        }
        return;
    }
    vhDebug() << "devicePlugin for software update";
    if (deviceUuid.isEmpty() || deviceUuid != serviceUuid) {
        // Another device came back: the update cannot go on with it.
        parkCurrent();
        return;
    }
    auto *device = m_current.get();
    m_awayDuringUpdate = false;
    device->setDeviceService(service.release());
    const int state = device->state();
    if (state == VHClient::STATE_UPDATING) {
        vhDebug() << "updateTotal";
        device->updateTotal(QString(), QString());
    } else if (state == VHClient::STATE_RESTORING) {
        device->restoreFactory(QString());
    }
}

void VHDeviceManager::onDevicePlugin(std::unique_ptr<VHDeviceService> service)
{
    if (!service)
        return;
    if (m_current) {
        if (m_current->isBetweenPasses())
            resumeUpdate(std::move(service));
        // Otherwise one device at a time: the new service is deleted.
        return;
    }

    VHClientPtr device = createDevice(std::move(service));
    if (!device)
        return;
    QString model;
    device->getModelName(model);
    if (quint64(now() - m_lastRemoval) < 6 && isSlowReconnectingModel(model)) {
        vhDebug() << "plugin device in 5 seconds , do not connect the device";
        return;
    }
    makeCurrent(std::move(device), "send onDeviceConnected");
}

void VHDeviceManager::onDeviceUnplug()
{
    if (!m_current)
        return;
    // The device is expected to vanish during its own update.
    if (m_current->isBetweenPasses()) {
        m_awayDuringUpdate = true;
        return;
    }
    disconnectCurrent();
}

void VHDeviceManager::onDeviceChanged() { broadcast(&VHDeviceManagerListener::onDeviceChanged, m_current.get()); }

void VHDeviceManager::notifyRestarting(VHClient *device)
{
    if (device && device == m_current.get())
        broadcast(&VHDeviceManagerListener::onDeviceRestarting, device);
}

void VHDeviceManager::abandonRestart()
{
    if (!m_current || !m_current->isBetweenPasses())
        return;
    m_current->failPendingUpdate();
    // The failed end may already have let it go.
    if (m_current)
        disconnectCurrent();
}

void VHDeviceManager::notifyActionDone(VHClient *device, int action)
{
    broadcast(&VHDeviceManagerListener::onActionDone, device, action);
    if (!m_awayDuringUpdate || !device || device != m_current.get() || device->isBetweenPasses())
        return;
    m_awayDuringUpdate = false;
    disconnectCurrent();
}
