#pragma once

// Fakes of what the platform layer sees of the runtime and a scripted
// backend, so the platform can be tested without the runtime.

#include "VHClientInterface.h"
#include "VHDeviceDetector.h"
#include "VHDeviceManagerInterface.h"
#include "VHEnvInterface.h"
#include "VHPlatformInterface.h"
#include "VHSCSIDeviceService.h"
#include "VHTestFiles.h"
#include "VHTestLog.h"
#include "VHTestServices.h"

#include <QHash>
#include <QMutex>
#include <QSignalSpy>
#include <QStringList>
#include <QThread>

#include <functional>

// The first argument of every signal a spy caught, such as device event codes.
inline QList<quint32> codes(const QSignalSpy &spy)
{
    QList<quint32> list;
    for (const QList<QVariant> &arguments : spy)
        list.append(arguments.first().toUInt());
    return list;
}

class FakeClient : public VHClientInterface
{
public:
    int state() override { return clientState; }
    int serviceType() override { return type; }
    bool getUUID(QString &value) override
    {
        value = uuid;
        return !value.isEmpty();
    }
    int clientState = 0;
    int type = VHDeviceService::DEVICE_FS;
    QString uuid;
};

// A manager that records detector events and, like the real one, makes a
// plugged device current.
class FakeManager : public VHDeviceManagerInterface, public VHDeviceDetectorListener
{
public:
    VHModelTable &models() override { return table; }
    void registerModel(const VHModelInfo &model, bool atFront) override
    {
        atFront ? table.prepend(model) : table.append(model);
    }
    int deviceClassFlags() const override { return flags; }
    VHClientInterface *currentClient() const override { return current; }

    void onDevicePlugin(std::unique_ptr<VHDeviceService> service) override
    {
        events << (service ? QStringLiteral("plugin %1").arg(serviceUuid(*service)) : QStringLiteral("plugin none"));
        if (service && makeCurrentOnPlugin && !current) {
            plugged.uuid = serviceUuid(*service);
            plugged.type = service->type();
            current = &plugged;
        }
    }
    void onDeviceUnplug() override
    {
        events << QStringLiteral("unplug");
        if (clearOnUnplug)
            current = nullptr;
    }
    void onDeviceChanged() override { events << QStringLiteral("changed"); }

    static QString serviceUuid(VHDeviceService &service)
    {
        QString uuid;
        service.getUUID(uuid);
        return uuid;
    }

    VHModelTable table;
    int flags = 4;
    VHClientInterface *current = nullptr;
    FakeClient plugged;
    bool makeCurrentOnPlugin = true;
    bool clearOnUnplug = true;
    QStringList events;
};

// A backend whose scans return what the test scripts and count how often they ran.
class ScriptedPlatform : public VHPlatformInterface
{
public:
    struct Script
    {
        std::function<VHServiceList()> scsi;
        QStringList drives;
        QHash<QString, QString> vendors;
        int scsiScans = 0;
        int driveScans = 0;
        // Scans made on the thread that wrote the script (a test's), not on a worker.
        QThread *caller = QThread::currentThread();
        int scansOnCaller = 0;
        QList<VHEjectMode> ejectModes;
        std::function<std::unique_ptr<VHDeviceWatcher>()> watcher;
    };

    explicit ScriptedPlatform(Script *script) : m_script(script) {}

    bool getDiskSpace(const QString &, quint64 &, quint64 &) override { return false; }
    std::unique_ptr<VHEnvInterface> createEnv() override { return nullptr; }
    void getRemovableDrives(QStringList &drives, const QString &, int) override
    {
        ++m_script->driveScans;
        m_script->scansOnCaller += QThread::currentThread() == m_script->caller;
        drives = m_script->drives;
    }
    QString getDriveVendorName(const QString &drive) override { return m_script->vendors.value(drive); }
    bool ejectDevice(const QString &) override { return false; }
    bool ejectDeviceInMode(const QString &, VHEjectMode mode) override
    {
        m_script->ejectModes.append(mode);
        return true;
    }
    VHServiceList findSCSIDevices(const VHModelTable &) override
    {
        ++m_script->scsiScans;
        m_script->scansOnCaller += QThread::currentThread() == m_script->caller;
        return m_script->scsi ? m_script->scsi() : VHServiceList();
    }
    std::unique_ptr<VHDeviceDetector> createDetector(VHDeviceManagerInterface *, VHPlatform *) override
    {
        return nullptr;
    }
    std::unique_ptr<VHDeviceWatcher> createDeviceWatcher() override
    {
        return m_script->watcher ? m_script->watcher() : nullptr;
    }

private:
    Script *m_script;
};

inline VHServiceList serviceList(std::unique_ptr<VHDeviceService> service)
{
    VHServiceList list;
    list.push_back(std::move(service));
    return list;
}
