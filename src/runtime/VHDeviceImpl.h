#pragma once

#include "VHClient.h"
#include "VHDeviceService.h"
#include "VHFSDeviceService.h"
#include "VHLog.h"
#include "VHResult.h"

#include <memory>

// Common base of the GAL, FIT and Pacer50 models: volume devices whose model
// name is the one of the row their service was made for, and whose actions
// end in one result.
class VHDeviceServiceClient : public VHClient
{
    Q_OBJECT

public:
    using VHClient::VHClient;

    bool getModelName(QString &name) override
    {
        VHDeviceService *service = deviceService();
        name = service ? service->modelInfo().modelName : QString();
        return !name.isEmpty();
    }

protected:
    // The root of the volume; empty without a file-system service.
    QString volumeRoot() const
    {
        auto *service = dynamic_cast<VHFSDeviceService *>(deviceService());
        return service ? service->rootPath() : QString();
    }

    // The end of every action: code, reason and change kept for the front ends,
    // a failure's reason logged at critical level; whether it succeeded.
    bool finish(const VHResult &result)
    {
        setOutcome(result.code, result.reason, result.changed);
        if (!result)
            vhCritical() << result.reason;
        return result.ok;
    }
};

// The direct base of every concrete model class: joins a model base to the
// device service it owns.
template <typename Model, typename Base>
class VHDeviceImpl : public Base
{
public:
    using Base::Base;

    int serviceType() override { return m_service ? m_service->type() : -1; }
    VHDeviceService *deviceService() const override { return m_service.get(); }

    // Takes the service; the previous one is deleted (setting the same one again does nothing).
    void setDeviceService(VHDeviceService *service) override
    {
        if (service != m_service.get())
            m_service.reset(service);
    }

private:
    std::unique_ptr<VHDeviceService> m_service;
};

// The factory of a model row: hand the object the service, let it open the
// device, and discard it (with the service) when it cannot.
template <typename Model>
VHClient *vhCreateDevice(VHDeviceService *service)
{
    auto device = std::make_unique<Model>();
    device->setDeviceService(service);
    if (!device->initial())
        return nullptr;
    return device.release();
}
