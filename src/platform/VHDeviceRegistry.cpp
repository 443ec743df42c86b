#include "VHDeviceRegistry.h"

#include "VHPlatform.h"

VHDeviceRegistry &VHDeviceRegistry::instance()
{
    static VHDeviceRegistry registry;
    return registry;
}

void VHDeviceRegistry::setFactory(const QString &role, VHDeviceFactory factory)
{
    if (factory)
        m_factories.insert(role, factory);
    else
        m_factories.remove(role);
}

std::unique_ptr<VHPlatformInterface> VHDeviceRegistry::createBackend() const
{
    return m_backendFactory ? m_backendFactory() : VHPlatform::createDefaultBackend();
}
