#pragma once

#include "VHModelInfo.h"

#include <QHash>

#include <functional>
#include <memory>

class VHPlatformInterface;

// What the layers below the device families create devices and backends
// with, filled once at start-up: the factory of each device family by role,
// the built-in model rows in table order, and the backend new platforms get.
class VHDeviceRegistry
{
public:
    using BackendFactory = std::function<std::unique_ptr<VHPlatformInterface>()>;

    // The roles the drive scan asks for when it registers a row of its own.
    static inline const QString kFitRole = QStringLiteral("fit");
    static inline const QString kGalRole = QStringLiteral("gal");
    static inline const QString kPacer60Role = QStringLiteral("pacer60");

    static VHDeviceRegistry &instance();

    // A null factory removes the role: its family is not part of this build.
    void setFactory(const QString &role, VHDeviceFactory factory);
    VHDeviceFactory factory(const QString &role) const { return m_factories.value(role, nullptr); }

    void setBuiltInModels(const VHModelTable &rows) { m_builtInModels = rows; }
    const VHModelTable &builtInModels() const { return m_builtInModels; }

    // Replaces the backend of platforms made from now on (tests). An empty
    // factory restores the default choice of VHPlatform::createDefaultBackend.
    void setBackendFactory(BackendFactory factory) { m_backendFactory = std::move(factory); }
    std::unique_ptr<VHPlatformInterface> createBackend() const;

private:
    QHash<QString, VHDeviceFactory> m_factories;
    VHModelTable m_builtInModels;
    BackendFactory m_backendFactory;
};
