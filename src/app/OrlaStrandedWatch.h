#pragma once

#include "VHGalStranded.h"

#include <QObject>
#include <QThreadPool>

#include <functional>

class VHDeviceManager;
class VHPlatform;

// Finds the GAL watches waiting in IAP mode that nothing in this run names,
// when the window starts and whenever a device node comes or goes, and
// registers their rows, so the detector makes their device objects and the
// window shows them with Recover. The SCSI reads run on a worker: a device
// that is slow to answer must not hold the window. A result is used only
// when no node changed while it was read (the device may have left; the scan
// runs again) and never after this object is gone.
class OrlaStrandedWatch : public QObject
{
    Q_OBJECT

public:
    // The scan run on the worker; tests put their own in.
    using Scan = std::function<QList<VHGalStranded::Waiting>(const VHModelTable &known)>;

    // Both outlive the watch.
    OrlaStrandedWatch(VHPlatform &platform, VHDeviceManager &manager, QObject *parent = nullptr);
    // Waits for a running scan; its result is dropped.
    ~OrlaStrandedWatch() override;

    // Scans now, and again at each node change that `events` (an object with
    // the signal DeviceChange(quint32)) reports; without one, only now.
    void start(QObject *events);
    void setScan(Scan scan) { m_scan = std::move(scan); }
    bool isScanning() const { return m_scanning; }

    // What reports the device changes to the manager's detector: the
    // platform's event source, else the detector's own watcher.
    static QObject *eventSourceOf(VHDeviceManager &manager);

signals:
    // A scan's result was used: how many devices it registered.
    void scanned(int adopted);

public slots:
    void DeviceChange(quint32 deviceEvent);

private:
    void scan();
    void onScanned(quint64 generation, const QList<VHGalStranded::Waiting> &found);
    int adopt(const QList<VHGalStranded::Waiting> &found);
    bool isKnown(const VHGalStranded::Waiting &waiting) const;
    // The detector looks again, now that the table names the device.
    void askDetectorToRescan();

    VHDeviceManager &m_manager;
    Scan m_scan;
    // Counts node changes: a result read before the last one is stale.
    quint64 m_generation = 0;
    bool m_scanning = false;
    // Last member: it is destroyed (waiting for the scan) before the rest.
    QThreadPool m_pool;
};
