#pragma once

// Fakes of the platform layer and a configurable device model, so the
// runtime can be driven without hardware.

#include "VHDeviceDetector.h"
#include "VHDeviceImpl.h"
#include "VHDeviceService.h"
#include "VHEnvInterface.h"
#include "VHPlatformInterface.h"
#include "VHSCSIDeviceService.h"
#include "VHTestFiles.h"
#include "VHTestServices.h"

#include <QByteArray>
#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

// A device model whose answers and action bodies the test sets.
class FakeDevice : public VHDeviceImpl<FakeDevice, VHDeviceServiceClient>
{
public:
    QString model = QStringLiteral("FakeModel");
    QString imageVersion;
    QString iapVersion;
    QString apVersion;
    QString launchVersion;
    quint64 totalStorage = 0;
    quint64 freeStorage = 0;
    bool storageKnown = false;
    QString components = QStringLiteral("not support");
    QStringList languages;
    bool initialResult = true;
    std::function<bool(const QString &, const QString &)> updateTotalBody;
    std::function<bool()> genericBody;
    QStringList updateTotalCalls;
    QStringList restoreCalls;

    bool initial() override { return initialResult; }
    bool getModelName(QString &name) override { return answer(name, model); }
    bool getUUID(QString &uuid) override { return deviceService() ? deviceService()->getUUID(uuid) : false; }
    bool getImageVersion(QString &text) override { return answer(text, imageVersion); }
    bool getIAPVersion(QString &text) override { return answer(text, iapVersion); }
    bool getAPVersion(QString &text) override { return answer(text, apVersion); }
    bool getLaunchSecVersion(QString &text) override { return answer(text, launchVersion); }
    bool getInternalStorage(quint64 &total, quint64 &free) override
    {
        total = totalStorage;
        free = freeStorage;
        return storageKnown;
    }
    QString getComponentVersion(const QString &name) override
    {
        return name == QLatin1String("CYCLEROAD") ? components : QStringLiteral("not support");
    }
    bool getLanguageOnDevice(QStringList &list) override
    {
        list = languages;
        return true;
    }
    bool prepareUploadData(QString &, bool) override { return genericBody ? genericBody() : false; }
    QStringList _exportTrack(const QString &arg) override { return {arg + QStringLiteral(".gpx")}; }
    bool _updateTotal(const QString &file, const QString &lang) override
    {
        updateTotalCalls << file + QLatin1Char('|') + lang;
        return updateTotalBody ? updateTotalBody(file, lang) : true;
    }
    bool _restoreFactory(const QString &arg) override
    {
        restoreCalls << arg;
        return true;
    }
    bool _readData() override { return genericBody ? genericBody() : true; }
    bool _finalize() override { return genericBody ? genericBody() : true; }

    // A text the test set, as a query answers it: false when there is none.
    static bool answer(QString &out, const QString &value)
    {
        out = value;
        return !out.isEmpty();
    }

    // Exposes the generic starter for codes without one of their own.
    bool startRaw(int code) { return startAction(code); }
    using VHClient::setErrorCode;
};

// A device that leaves a copy of its flash, "flash", for the log archive.
struct FakeFlashDevice : FakeDevice
{
    void saveExtFlashToFile(const QString &path) override { writeFile(path, "flash"); }
};

// Waits until the client's action has ended and its finished handler has run.
inline bool waitUntilIdle(VHClient &client, int ms = 20000)
{
    return QTest::qWaitFor([&] { return !client.isBusy(); }, ms);
}

// The lists the share-data action hands out, or none when it did not end.
inline QVariantList shareDataLists(VHClient &client)
{
    QSignalSpy done(&client, &VHClient::getShareDataListDone);
    if (!client.getShareDataList(QString(), QString(), QString()) || !done.wait(30000))
        return {};
    return client.shareDataLists();
}

// Starts an action with `start` and waits for its end: whether it succeeded,
// with the device's error code in `code`.
inline bool runAction(VHClient &client, const std::function<bool()> &start, int *code = nullptr)
{
    if (!start() || !waitUntilIdle(client))
        return false;
    int error = 0;
    const bool failed = client.actionFailed(error);
    if (code)
        *code = error;
    return !failed;
}

// Makes the FakeDevice a model row's factory can create.
// The device reports the model name of the row its service was made for.
inline VHClient *createFakeDevice(VHDeviceService *service)
{
    const QString model = service ? service->modelInfo().modelName : QString();
    auto *device = static_cast<FakeDevice *>(vhCreateDevice<FakeDevice>(service));
    if (device && !model.isEmpty())
        device->model = model;
    return device;
}
inline VHClient *createFailingDevice(VHDeviceService *service)
{
    auto device = std::make_unique<FakeDevice>();
    device->initialResult = false;
    device->setDeviceService(service);
    return device->initial() ? device.release() : nullptr;
}

inline VHModelInfo fakeModelRow(const QString &code, const QString &name, VHDeviceFactory factory = createFakeDevice)
{
    return {code, name, QStringLiteral("FAKEDEV"), factory};
}

class FakeDetector : public VHDeviceDetector
{
public:
    bool start() override
    {
        started = true;
        return true;
    }
    void setVendorFilter(const QStringList &vendors) override { vendorFilter = vendors; }
    void addListener(VHDeviceDetectorListener *listener) override { listeners.append(listener); }
    void removeListener(VHDeviceDetectorListener *listener) override { listeners.removeAll(listener); }

    bool started = false;
    QStringList vendorFilter;
    QList<VHDeviceDetectorListener *> listeners;
};

// A platform whose scans hand out services prepared by the test.
class FakePlatform : public VHPlatformInterface
{
public:
    struct Script
    {
        std::function<VHServiceList(const VHModelTable &)> scsi;
        QStringList drives;
        bool withDetector = true;
        FakeDetector *lastDetector = nullptr;
        bool spaceKnown = false;
        quint64 totalSpace = 0;
        quint64 freeSpace = 0;
        QStringList ejected;
    };

    explicit FakePlatform(Script *script) : m_script(script) {}

    bool getDiskSpace(const QString &, quint64 &total, quint64 &free) override
    {
        total = m_script->totalSpace;
        free = m_script->freeSpace;
        return m_script->spaceKnown;
    }
    std::unique_ptr<VHEnvInterface> createEnv() override { return nullptr; }
    void getRemovableDrives(QStringList &drives, const QString &, int) override { drives = m_script->drives; }
    QString getDriveVendorName(const QString &) override { return QString(); }
    bool ejectDevice(const QString &drive) override
    {
        m_script->ejected << drive;
        return true;
    }
    VHServiceList findSCSIDevices(const VHModelTable &models) override
    {
        return m_script->scsi ? m_script->scsi(models) : VHServiceList();
    }
    std::unique_ptr<VHDeviceDetector> createDetector(VHDeviceManagerInterface *, VHPlatform *) override
    {
        if (!m_script->withDetector)
            return nullptr;
        auto detector = std::make_unique<FakeDetector>();
        m_script->lastDetector = detector.get();
        return detector;
    }

private:
    Script *m_script;
};
