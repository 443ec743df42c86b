#pragma once

#include "VHClient.h"
#include "VHDeviceService.h"

#include <memory>

// Common base of the GAL and FIT models.
class VHDeviceServiceClient : public VHClient
{
    Q_OBJECT

public:
    using VHClient::VHClient;
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
