#pragma once

#include <QObject>

// Turns the operating system's device notifications into DeviceChange codes
// (VHDeviceEvents.h). Created by a platform backend; lives on the GUI thread.
class VHDeviceWatcher : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~VHDeviceWatcher() override;

signals:
    void DeviceChange(quint32 deviceEvent);
};
