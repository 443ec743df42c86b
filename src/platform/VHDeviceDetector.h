#pragma once

#include <QStringList>

#include <memory>

class VHDeviceService;

// Events the detector sends to the device manager.
class VHDeviceDetectorListener
{
public:
    virtual ~VHDeviceDetectorListener() = default;
    // The listener takes the service; with several listeners only the first receives it.
    virtual void onDevicePlugin(std::unique_ptr<VHDeviceService> service) = 0;
    virtual void onDeviceUnplug() = 0;
    virtual void onDeviceChanged() = 0;
};

class VHDeviceDetector
{
public:
    virtual ~VHDeviceDetector() = default;
    [[nodiscard]] virtual bool start() = 0;
    virtual void setVendorFilter(const QStringList &vendors) = 0;
    virtual void addListener(VHDeviceDetectorListener *listener) = 0;
    virtual void removeListener(VHDeviceDetectorListener *listener) = 0;
    // On: a plugged volume is scanned off the calling thread and handed over
    // later. Detectors without a scan of their own ignore it.
    virtual void setScanOnWorker(bool) {}
};
