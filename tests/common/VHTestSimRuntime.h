#pragma once

// The runtime over the device simulator with every family registered and the
// built-in model table, as the road tests of the SCSI-only families run it.

#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHTestEnv.h"
#include "VHTestEvents.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

struct VHTestSimRuntime
{
    std::unique_ptr<VHDevSim> sim;
    std::unique_ptr<VHDaemon> daemon;
    VHTestEvents events;
    qint64 now = 1700000000; // the manager's clock after startIn(): each plug a minute on, never one burst

    // start() with the simulator in "sim" and the data in "xdg" of `work`, the manager on `now`.
    bool startIn(const QTemporaryDir &work)
    {
        const QString simRoot = work.filePath(QStringLiteral("sim"));
        if (!work.isValid() || !QDir().mkpath(simRoot) || !start(simRoot, work.filePath(QStringLiteral("xdg"))))
            return false;
        daemon->deviceManager()->setClock([this] { return now; });
        return true;
    }

    VHClient *device() const { return daemon ? daemon->currentDevice() : nullptr; }
    template <typename Client>
    Client *current() const
    {
        return qobject_cast<Client *>(device());
    }

    // Waits for a device of the class; it waits without sleeping, as the simulated device answers at once.
    template <typename Client>
    bool waitForCurrent()
    {
        if (!QTest::qWaitFor([this] { return current<Client>() != nullptr; }, 5000))
            return false;
        current<Client>()->setWait([](int) {});
        return true;
    }
    qsizetype count(const QString &event) const { return events.list.count(event); }

    // Plugs the device a minute after the last event and waits until the manager connected it.
    bool plug(const QString &name)
    {
        const qsizetype before = count(QStringLiteral("connected"));
        now += 60;
        if (!sim->plug(name)) {
            qWarning("plug %s: %s", qPrintable(name), qPrintable(sim->lastError()));
            return false;
        }
        return QTest::qWaitFor([&] { return count(QStringLiteral("connected")) > before && device(); }, 5000);
    }

    // Unplugs the device (`mayBeGone`: a fault may have pulled it already) and waits until it is gone.
    bool unplug(const QString &name, bool mayBeGone = false)
    {
        return ((mayBeGone && !sim->isPlugged(name)) || sim->unplug(name))
               && QTest::qWaitFor([&] { return !device(); }, 5000);
    }

    // The firmware's start: unplugged, booted, plugged again; what it installed, or why it did not start.
    QStringList restart(const QString &name, bool mayBeGone = false)
    {
        QStringList changes;
        if (!unplug(name, mayBeGone) || !sim->boot(name, &changes) || !plug(name))
            changes << QStringLiteral("restart failed: ") + sim->lastError();
        return changes;
    }

    bool start(const QString &simRoot, const QString &dataRoot)
    {
        qputenv("VELORA_SIM_ROOT", simRoot.toUtf8());
        initTestEnv(dataRoot);
        VHDeviceFamilies::registerAll();
        sim = std::make_unique<VHDevSim>(simRoot);
        daemon = std::make_unique<VHDaemon>();
        // The built-in rows; no drive scan of the file-based families.
        daemon->deviceManager()->setDeviceClassFlags(3);
        daemon->deviceManager()->addListener(&events);
        return daemon->start(true);
    }

    void stop()
    {
        if (daemon)
            daemon->deviceManager()->removeListener(&events);
        daemon.reset();
    }

    ~VHTestSimRuntime() { stop(); }
};
