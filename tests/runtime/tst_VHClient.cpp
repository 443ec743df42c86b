#include "VHClient.h"
#include "VHDeviceManager.h"
#include "VHEnv.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"

#include <QDomDocument>
#include <QMetaMethod>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// Records what the manager reports.
struct ActionRecorder : VHDeviceManagerListener
{
    QList<int> actions;
    QList<VHClient *> devices;
    void onDeviceConnected(VHClient *) override {}
    void onDeviceDisconnected(VHClient *) override {}
    void onDeviceChanged(VHClient *) override {}
    void onActionDone(VHClient *device, int action) override
    {
        devices << device;
        actions << action;
    }
};

// Spies on every Done signal of a client.
class DoneSignals
{
public:
    explicit DoneSignals(VHClient *client)
    {
        const QMetaObject &meta = VHClient::staticMetaObject;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QMetaMethod method = meta.method(i);
            if (method.methodType() == QMetaMethod::Signal && method.name().endsWith("Done"))
                m_spies.push_back(std::make_unique<QSignalSpy>(client, method));
        }
    }

    qsizetype signalCount() const { return qsizetype(m_spies.size()); }

    // The signals emitted so far, once each.
    QStringList emitted() const
    {
        QStringList names;
        for (const auto &spy : m_spies) {
            if (!spy->isEmpty())
                names << QString::fromLatin1(spy->signal());
        }
        return names;
    }

private:
    std::vector<std::unique_ptr<QSignalSpy>> m_spies;
};

__attribute__((no_sanitize("null", "undefined"))) bool dereferenceNull()
{
    volatile int *volatile pointer = nullptr;
    *pointer = 42;
    return true;
}

} // namespace

class TestVHClient : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    VHModelInfo m_row = fakeModelRow(QStringLiteral("1234"), QStringLiteral("Pacer40"));

    using FakePtr = std::unique_ptr<FakeDevice, VHClientDeleter>;
    FakePtr makeDevice()
    {
        FakePtr device(new FakeDevice);
        device->model = QStringLiteral("Pacer40");
        return device;
    }

    void writeModelSettings(const QString &model, const QList<QPair<QString, QString>> &values)
    {
        QSettings ini(VHEnv::instance()->settingsPath(), QSettings::IniFormat);
        ini.remove(model);
        for (const auto &value : values)
            ini.setValue(model + QLatin1Char('/') + value.first, value.second);
    }

private slots:
    void initTestCase() { initTestEnv(m_root.path()); }

    void refusesASecondActionWhileOneRuns()
    {
        auto device = makeDevice();
        QSemaphore release;
        device->genericBody = [&] {
            release.acquire();
            return true;
        };
        QVERIFY(device->readData());
        QVERIFY(device->isBusy());
        QCOMPARE(device->currentAction(), int(VHClient::ActionReadData));
        QVERIFY(!device->updateTotal(QStringLiteral("a.zip"), QString()));
        QVERIFY(!device->makeUploadZip());
        QVERIFY(!device->batch(QString(), QString(), QString()));
        QVERIFY(!device->updateAlp(QStringLiteral("x.alp"), 1));
        release.release();
        QSignalSpy done(device.get(), &VHClient::readDataDone);
        QVERIFY(done.wait(5000));
        QVERIFY(!device->isBusy());
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        QCOMPARE(device->progress(), -1.0f);
        QVERIFY(readTestLog().contains(QStringLiteral("Busy when Action_MakeUploadZip 7")));
    }

    void doneSignalAndNotificationFollowTheState()
    {
        VHDeviceManager manager;
        ActionRecorder recorder;
        manager.addListener(&recorder);
        auto device = makeDevice();
        device->setDeviceManager(&manager);
        QSignalSpy done(device.get(), &VHClient::updateTotalDone);

        // A model that leaves state 1 behind expects the device to come back: no report.
        device->updateTotalBody = [&](const QString &, const QString &) {
            return device->setStateWithMatch(VHClient::STATE_OUT_OF_SERVICE, VHClient::STATE_UPDATING);
        };
        QVERIFY(device->updateTotal(QStringLiteral("Total.zip"), QStringLiteral("eng")));
        QVERIFY(waitUntilIdle(*device));
        QTest::qWait(50);
        QCOMPARE(done.count(), 0);
        QVERIFY(recorder.actions.isEmpty());
        QCOMPARE(device->state(), int(VHClient::STATE_UPDATING));
        QVERIFY(readTestLog().contains(QStringLiteral("reset in service failed, action= 0")));

        // The resumed update runs in state 1 and, back at 0, reports as usual.
        device->updateTotalBody = [&](const QString &, const QString &) {
            return device->setStateWithMatch(VHClient::STATE_UPDATING, VHClient::STATE_OUT_OF_SERVICE);
        };
        QVERIFY(device->updateTotal(QString(), QString()));
        QVERIFY(done.wait(5000));
        QCOMPARE(recorder.actions, QList<int>{VHClient::ActionUpdateTotal});
        // The device that ran the action is reported, current or not.
        QCOMPARE(recorder.devices, QList<VHClient *>{device.get()});
        QCOMPARE(device->updateTotalCalls, (QStringList{QStringLiteral("Total.zip|eng"), QStringLiteral("|")}));
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        manager.removeListener(&recorder);
    }

    void notificationRulesPerActionCode()
    {
        VHDeviceManager manager;
        ActionRecorder recorder;
        manager.addListener(&recorder);
        auto device = makeDevice();
        device->setDeviceManager(&manager);
        DoneSignals done(device.get());
        QCOMPARE(done.signalCount(), 11);

        QVERIFY(device->startRaw(VHClient::ActionNeverNotified));
        QVERIFY(waitUntilIdle(*device));
        QTest::qWait(20);
        QVERIFY(recorder.actions.isEmpty());
        QVERIFY(device->errorFlag()); // no implementation for the code

        // 17 to 21 tell the manager and emit no Done signal; each leaves its results.
        const struct
        {
            std::function<bool()> start;
            QVariantList results;
        } actions[] = {{[&] { return device->exportTrack(QStringLiteral("track1")); }, {QStringLiteral("track1.gpx")}},
                       {[&] { return device->makeUploadZip(); }, {QString()}},
                       {[&] { return device->importDownloadZip(QStringLiteral("share.zip")); }, {}},
                       {[&] { return device->readProfile(QStringLiteral("p.xml")); }, {false}},
                       {[&] { return device->writeProfile(QStringLiteral("MHR-BV=180")); }, {false}}};
        for (std::size_t i = 0; i < std::size(actions); ++i) {
            QVERIFY(actions[i].start() && waitUntilIdle(*device));
            QCOMPARE(device->resultList(), actions[i].results);
            QCOMPARE(device->errorFlag(), i > 0); // only the export succeeds on this fake
        }
        QTRY_COMPARE(recorder.actions, (QList<int>{VHClient::ActionExportTrack, VHClient::ActionMakeUploadZip,
                                                   VHClient::ActionImportDownloadZip, VHClient::ActionReadProfile,
                                                   VHClient::ActionWriteProfile}));
        QCOMPARE(done.emitted(), QStringList());

        // The spies do see a Done signal where one belongs.
        QVERIFY(device->readData());
        QVERIFY(waitUntilIdle(*device));
        QTRY_COMPARE(done.emitted(), QStringList{"readDataDone()"});
        QCOMPARE(recorder.actions.last(), int(VHClient::ActionReadData));
        manager.removeListener(&recorder);
    }

    // A fault or an exception inside an action fails it; the object runs the next one normally.
    void aFaultingActionFailsAndTheProgramGoesOn_data()
    {
        QTest::addColumn<bool>("crash");
        QTest::newRow("null dereference") << true;
        QTest::newRow("exception") << false;
    }
    void aFaultingActionFailsAndTheProgramGoesOn()
    {
        QFETCH(bool, crash);
        auto device = makeDevice();
        device->genericBody = [crash]() -> bool {
            if (crash)
                return dereferenceNull();
            throw std::runtime_error("bad record");
        };
        QSignalSpy done(device.get(), &VHClient::finalizeDone);
        QVERIFY(device->finalize());
        QVERIFY(done.wait(5000));
        int code = -1;
        QVERIFY(device->actionFailed(code));
        QCOMPARE(device->state(), int(VHClient::STATE_READY));
        QVERIFY(readTestLog().contains(QStringLiteral("wrong data exception")));

        device->genericBody = [] { return true; };
        QVERIFY(device->finalize());
        QVERIFY(done.wait(5000));
        QVERIFY(!device->actionFailed(code));
    }

    void componentArgumentsAreReordered()
    {
        struct ComponentDevice : FakeDevice
        {
            QStringList seen;
            bool _updateComponent(const QString &a, const QString &b, const QString &c, const QString &d) override
            {
                seen = {a, b, c, d};
                return true;
            }
        } device;
        QSignalSpy done(&device, &VHClient::updateComponentDone);
        QVERIFY(
            device.updateComponent(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")));
        QVERIFY(done.wait(5000));
        QCOMPARE(device.seen, (QStringList{"b", "d", "c", "a"}));
    }

    void mapArgumentIsResetAfterTheCall()
    {
        struct MapDevice : FakeDevice
        {
            QList<int> imported;
            QList<int> deleted;
            bool _importMap(int value) override
            {
                imported << value;
                return true;
            }
            bool _deleteMap(int value) override
            {
                deleted << value;
                return true;
            }
        } device;
        QSignalSpy importDone(&device, &VHClient::importMapDone);
        QVERIFY(device.importMap(7));
        QVERIFY(waitUntilIdle(device));
        // The generic starter stores no argument: the action sees what the field holds now.
        QVERIFY(device.startRaw(VHClient::ActionImportMap));
        QVERIFY(waitUntilIdle(device));
        QVERIFY(device.deleteMap(9));
        QVERIFY(waitUntilIdle(device));
        QVERIFY(device.startRaw(VHClient::ActionDeleteMap));
        QVERIFY(waitUntilIdle(device));
        QCOMPARE(device.imported, (QList<int>{7, 0}));
        QCOMPARE(device.deleted, (QList<int>{9, 0}));
        QCOMPARE(importDone.count(), 2);
    }

    void capabilityComesFromTheLibraryTable()
    {
        auto device = makeDevice();
        device->model = QStringLiteral("Pacer50");
        QCOMPARE(device->getCapability(), QStringLiteral("0,101,102,1001,1002,1003,1004"));
        device->model = QStringLiteral("Unknown9");
        QCOMPARE(device->getCapability(), QString());
        QVERIFY(readTestLog().contains(QStringLiteral("call ProjSwCapability failed")));
    }

    void firmwareTooOldCheck_data()
    {
        QTest::addColumn<QString>("iap");
        QTest::addColumn<QString>("minImage");
        QTest::addColumn<QString>("minIap");
        QTest::addColumn<bool>("tooOld");
        QTest::newRow("R9 is older than R10 in natural order") << "R010"
                                                               << "R10"
                                                               << "" << true;
        QTest::newRow("older IAP") << "R010"
                                   << "R9"
                                   << "R011" << true;
        QTest::newRow("IAP version not reported, not compared") << ""
                                                                << "R9"
                                                                << "R011" << false;
    }
    void firmwareTooOldCheck()
    {
        QFETCH(QString, iap);
        QFETCH(QString, minImage);
        QFETCH(QString, minIap);
        QFETCH(bool, tooOld);
        VHEnv *env = VHEnv::instance();
        auto device = makeDevice();
        device->imageVersion = QStringLiteral("R9");
        device->iapVersion = iap;
        writeModelSettings(QStringLiteral("Pacer40"),
                           {{QStringLiteral("MinImgVer"), minImage}, {QStringLiteral("MinIapVer"), minIap}});
        env->setFirmwareTooOld(false);
        device->loadSettings(env);
        QCOMPARE(env->firmwareTooOld(), tooOld);
    }

    void applicationTooOldCheck_data()
    {
        QTest::addColumn<QString>("minimum");
        QTest::addColumn<bool>("tooOld");
        QTest::newRow("newer minimum") << "2.9.0.0" << true;
        QTest::newRow("numerically newer build") << "2.8.0.100" << true;
        QTest::newRow("equal") << "2.8.0.99" << false;
        QTest::newRow("older minor") << "2.7.9.999" << false;
        QTest::newRow("other shape not compared") << "3.0" << false;
        QTest::newRow("empty") << "" << false;
    }
    void applicationTooOldCheck()
    {
        QFETCH(QString, minimum);
        QFETCH(bool, tooOld);
        VHEnv *env = VHEnv::instance();
        writeModelSettings(QStringLiteral("Pacer40"), {{QStringLiteral("MinVHVer"), minimum}});
        auto device = makeDevice();
        QCOMPARE(device->getMinAppVersion(), minimum);
        env->setAppTooOld(false);
        device->loadSettings(env);
        QCOMPARE(env->appTooOld(), tooOld);
        env->setAppTooOld(false);
    }

    void modelOptions()
    {
        auto device = makeDevice();
        writeModelSettings(QStringLiteral("Pacer40"), {});
        QVERIFY(!device->dontCheckUploaded());
        QVERIFY(device->languageFilter());
        writeModelSettings(QStringLiteral("Pacer40"), {{QStringLiteral("dontcheckuploaded"), QStringLiteral("1")},
                                                       {QStringLiteral("psflanguagefilter"), QStringLiteral("0")}});
        QVERIFY(device->dontCheckUploaded());
        QVERIFY(!device->languageFilter());
        device->model.clear();
        QCOMPARE(device->modelSetting(QStringLiteral("dontcheckuploaded"), QStringLiteral("x")), QStringLiteral("x"));
    }

    void versionListLeavesOutEmptyTexts()
    {
        struct TwoVersions : FakeDevice
        {
            QString second;
            QString secondComponentVersion() override { return second; }
        } device;
        device.imageVersion = QStringLiteral("1.2.3");
        device.second = QStringLiteral("2.0");
        QCOMPARE(device.versionList(), (QStringList{"1.2.3", "2.0"}));
        device.imageVersion.clear();
        QCOMPARE(device.versionList(), QStringList{"2.0"});
    }

    void flashFilesGoThroughTheService()
    {
        auto device = makeDevice();
        auto *service = new FakeSCSIService(QStringLiteral("1234ABCD00000001"), m_row);
        device->setDeviceService(service);
        const QString folder = m_root.path() + QStringLiteral("/flash");
        QByteArray bytes(1000, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i % 251);
        QVERIFY(writeFile(folder + QStringLiteral("/boot.bin"), bytes));

        QVERIFY(device->writeInternalFlash(folder, QStringLiteral("boot"), 0x21, 512));
        QCOMPARE(service->commands.size(), 2);
        QCOMPARE(service->commands[0].cdb, QByteArray::fromHex("2a000000000021000100"));
        QCOMPARE(service->commands[1].cdb, QByteArray::fromHex("2a000000000121000100"));
        QCOMPARE(service->commands[0].data, bytes.left(512));
        QCOMPARE(service->commands[1].data, bytes.mid(512) + QByteArray(24, '\xff'));

        QVERIFY(!device->writeExternalFlash(folder, QStringLiteral("boot"), 0x22, 512));
        QVERIFY(device->errorFlag());
        QVERIFY(readTestLog().contains(QStringLiteral("can not open file: ")));

        service->failAtCommand = 3;
        QVERIFY(!device->writeInternalFlash(folder, QStringLiteral("boot"), 0x21, 512));
        QVERIFY(readTestLog().contains(QStringLiteral("fail to write internal flash for  \"boot\"")));
    }

    void anActionOnADeviceWhoseServiceIsGone()
    {
        auto device = makeDevice();
        device->setDeviceService(new FakeSCSIService(QStringLiteral("x"), m_row));
        device->setDeviceService(nullptr);
        QCOMPARE(device->serviceType(), -1);
        QString uuid;
        QVERIFY(!device->getUUID(uuid));
        const QString folder = m_root.path() + QStringLiteral("/flash2");
        QVERIFY(writeFile(folder + QStringLiteral("/a.bin"), QByteArray(600, 'a')));
        QVERIFY(!device->writeInternalFlash(folder, QStringLiteral("a"), 0x21, 512));
        QVERIFY(device->errorFlag());
    }

    void serviceOwnership()
    {
        const int before = liveFakeServices();
        {
            auto device = makeDevice();
            auto *service = new FakeFSService(QStringLiteral("u"), m_row);
            device->setDeviceService(service);
            device->setDeviceService(service); // the same again deletes nothing
            QCOMPARE(liveFakeServices(), before + 1);
            QCOMPARE(device->serviceType(), int(VHDeviceService::DEVICE_FS));
            device->setDeviceService(new FakeSCSIService(QStringLiteral("u"), m_row));
            QCOMPARE(liveFakeServices(), before + 1);
            QCOMPARE(device->serviceType(), int(VHDeviceService::DEVICE_SCSI));
        }
        QCOMPARE(liveFakeServices(), before);
        // A factory whose device cannot be opened discards it with its service.
        QVERIFY(!createFailingDevice(new FakeFSService(QStringLiteral("u"), m_row)));
        QCOMPARE(liveFakeServices(), before);
    }

    void logFilesOfTheDevice()
    {
        FakeFlashDevice device;
        device.model = QStringLiteral("Pacer40");
        QStringList list;
        const QString folder = m_root.path();
        device.addLogFiles(folder, list);
        QCOMPARE(list, QStringList{QStringLiteral("Pacer40flash.dat")});
        auto plain = makeDevice();
        QFile::remove(folder + QStringLiteral("/Pacer40flash.dat"));
        list.clear();
        plain->addLogFiles(folder, list);
        QVERIFY(list.isEmpty());

        // A model name from the device never reaches outside the folder.
        const QString logs = folder + QStringLiteral("/logs");
        QVERIFY(QDir().mkpath(logs));
        const QString outside = folder + QStringLiteral("/outsideflash.dat");
        QVERIFY(writeFile(outside, "keep"));
        device.model = QStringLiteral("../outside");
        device.addLogFiles(logs, list);
        QVERIFY(list.isEmpty());
        QCOMPARE(readFile(outside), QByteArray("keep"));
    }

    void stopWaitsTwentySecondsThenTerminates()
    {
        auto device = makeDevice();
        std::atomic<bool> entered{false};
        device->genericBody = [&] {
            entered = true;
            for (;;)
                QThread::msleep(50);
            return true;
        };
        QVERIFY(device->readData());
        QTRY_VERIFY(entered.load());
        QElapsedTimer timer;
        timer.start();
        device.reset();
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= 19900 && elapsed < 25000, qPrintable(QString::number(elapsed)));
        QVERIFY(readTestLog().contains(QStringLiteral("Client thread stop in time and  terminate")));
    }
};

QTEST_GUILESS_MAIN(TestVHClient)
#include "tst_VHClient.moc"
