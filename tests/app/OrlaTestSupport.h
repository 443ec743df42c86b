#pragma once

// Helpers for driving the updater's windows in tests: a device model whose
// actions the test scripts and can hold, a catcher for the modal message
// boxes, and the controller over a fake platform and the local package server.

#include "OrlaController.h"
#include "OrlaForm.h"
#include "OrlaRoad.h"
#include "SoftUpdateForm.h"
#include "VHDaemon.h"
#include "VHDeviceManager.h"
#include "VHEnv.h"
#include "VHFitPackageBuilder.h"
#include "VHFitRoad.h"
#include "VHPackageServer.h"
#include "VHPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"
#include "recover_complete_form.h"
#include "recover_fail_form.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMutex>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>

// Holds an action on the worker thread until the test lets it go.
class ActionGate
{
public:
    void close() { m_closed = true; }
    void open()
    {
        m_closed = false;
        m_release.release(100);
    }
    void passThrough()
    {
        m_entered.release();
        if (m_closed)
            m_release.tryAcquire(1, 20000); // never hangs a test for ever
    }
    // Keeps the event loop running while it waits, so replies and ends still arrive.
    bool waitEntered(int ms = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_entered.tryAcquire(1)) {
            if (timer.elapsed() > ms)
                return false;
            QTest::qWait(5);
        }
        return true;
    }

private:
    std::atomic<bool> m_closed{false};
    QSemaphore m_release;
    QSemaphore m_entered;
};

// A device whose software update, component, assist-data actions and answers
// the test sets. Bodies run on the worker thread.
class AppFakeDevice : public FakeDevice
{
public:
    struct Script
    {
        bool updateTotalOk = true;
        int updateTotalCode = 0;
        QString updateTotalReason; // the failure's reason in words
        bool checkOk = true;       // updateComponent mode "0"
        bool installOk = true;     // updateComponent mode "1"
        bool alpOk = true;
        int kind = 0;
        int alpDate = 0;
        QString version; // the software version the device reports
        ActionGate *totalGate = nullptr;
        ActionGate *componentGate = nullptr;
        QMutex mutex;
        QStringList componentCalls; // "<mode>|<archive>"
        QStringList alpCalls;       // "<file>|<stamp>"
        QStringList totalCalls;
    };

    explicit AppFakeDevice(Script *script) : m_script(script)
    {
        imageVersion = script->version;
        updateTotalBody = [this](const QString &file, const QString &) {
            {
                QMutexLocker lock(&m_script->mutex);
                m_script->totalCalls << file;
            }
            if (m_script->totalGate)
                m_script->totalGate->passThrough();
            setErrorCode(m_script->updateTotalCode);
            if (!m_script->updateTotalOk)
                setErrorText(m_script->updateTotalReason);
            return m_script->updateTotalOk;
        };
    }

    int deviceKind() override { return m_script->kind; }
    // It stands for a FIT device, whose jobs the window offers.
    VHJobs offeredJobs() override { return VHJob::SoftwareUpdate | VHJob::AssistData | VHJob::Workouts; }
    int getAlpDate() override { return m_script->alpDate; }
    bool _updateComponent(const QString &, const QString &mode, const QString &, const QString &archive) override
    {
        {
            QMutexLocker lock(&m_script->mutex);
            m_script->componentCalls << mode + QLatin1Char('|') + archive;
        }
        if (m_script->componentGate)
            m_script->componentGate->passThrough();
        return mode == QLatin1String("1") ? m_script->installOk : m_script->checkOk;
    }
    bool _updateAlp(const QString &file, int stamp) override
    {
        QMutexLocker lock(&m_script->mutex);
        m_script->alpCalls << file + QLatin1Char('|') + QString::number(stamp);
        if (m_script->alpOk)
            m_script->alpDate = stamp;
        return m_script->alpOk;
    }

private:
    Script *m_script;
};

inline AppFakeDevice::Script *&currentDeviceScript()
{
    static AppFakeDevice::Script *script = nullptr;
    return script;
}

// The factory of the test's model rows: an AppFakeDevice on the current script.
inline VHClient *createAppFakeDevice(VHDeviceService *service)
{
    auto device = std::make_unique<AppFakeDevice>(currentDeviceScript());
    device->model = service->modelInfo().modelName;
    device->setDeviceService(service);
    return device.release();
}

// Closes every modal message box as soon as it shows and remembers it.
class MessageCatcher : public QObject
{
public:
    struct Box
    {
        QString text;
        QString informative;
        QPointer<QWidget> parent;
        QPoint position;
        QSize sizeHint;
        bool modal = false;
        int buttons = 0;
        bool okIsDefault = false;
    };

    // Boxes open without waiting: each is noted as it shows, so the call that
    // showed it has its box listed on return, and closed just after.
    MessageCatcher() { qApp->installEventFilter(this); }
    ~MessageCatcher() override { qApp->removeEventFilter(this); }

    QList<Box> boxes;
    QStringList texts() const
    {
        QStringList list;
        for (const Box &box : boxes)
            list << box.text;
        return list;
    }
    void clear() { boxes.clear(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (event->type() == QEvent::Show && box) {
            boxes.append({box->text(), box->informativeText(), box->parentWidget(), box->pos(), box->sizeHint(),
                          box->isModal(), int(box->buttons().size()),
                          box->defaultButton() == box->button(QMessageBox::Ok)});
            QMetaObject::invokeMethod(
                box, [box] { box->button(QMessageBox::Ok)->click(); }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
};

template <typename T>
T *widget(QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qWarning("no widget %s", name);
    return found;
}

inline bool visible(QWidget *window, const char *name) { return widget<QWidget>(window, name)->isVisibleTo(window); }

// The controller over a fake platform, with a local package server for the
// update and assist-data services.
class ControllerRig
{
public:
    QTemporaryDir xdg;
    QTemporaryDir serverRoot;
    FakePlatform::Script platform;
    AppFakeDevice::Script device;
    VHPackageServer server{serverRoot.path()};
    std::unique_ptr<OrlaController> controller;
    MessageCatcher messages;
    ActionGate gate; // holds the device's actions once hold() set it

    explicit ControllerRig(bool serverUp = true)
    {
        currentDeviceScript() = &device;
        if (serverUp)
            server.listen();
        writeAlp(QByteArray(2048, 'A'));
        const QString base = serverUp ? server.baseUrl() : QStringLiteral("http://127.0.0.1:9");
        initTestEnv(xdg.path(), {{QStringLiteral("debug"), QStringLiteral("1")},
                                 {QStringLiteral("updateurl"), base + QStringLiteral("/versions/index")},
                                 {QStringLiteral("alpurl"), base}});
        // The daemon lives on from rig to rig; each rig puts its own backend under it.
        VHDaemon::instance()->platform()->setBackend(std::make_unique<FakePlatform>(&platform));
    }

    ~ControllerRig()
    {
        gate.open(); // a failed check must not leave the worker waiting
        if (manager()->currentDevice())
            manager()->onDeviceUnplug();
        controller.reset();
        VHDaemon::instance()->platform()->setBackend(VHPlatform::createDefaultBackend());
        currentDeviceScript() = nullptr;
    }

    void start() { controller = std::make_unique<OrlaController>(); }

    VHDeviceManager *manager() const { return VHDaemon::instance()->deviceManager(); }
    OrlaForm *main() const { return controller->mainWindow(); }
    SoftUpdateForm *dialog() const { return controller->softUpdateForm(); }
    QString dataFolder() const { return VHEnv::instance()->dataFolder(); }
    QString modelFolder(const QString &model) const { return dataFolder() + QStringLiteral("/updates/") + model; }

    void writeAlp(const QByteArray &bytes) { writeFile(serverRoot.path() + QStringLiteral("/current_14d.alp"), bytes); }

    bool publish(const QString &model, const QString &version, bool withWorkouts = false)
    {
        VHFitPackageBuilder::Options options;
        options.model = model;
        options.withWorkouts = withWorkouts;
        QString error;
        return VHFitRoad::publishPackage(serverRoot.path(), options, version,
                                         QStringLiteral("Release note of ") + version, &error);
    }

    // Plugs a device of `model` reporting `version`; the manager tells the controller.
    AppFakeDevice *plug(const QString &model, const QString &version,
                        const QString &uuid = QStringLiteral("0F01000011112222"))
    {
        device.version = version;
        manager()->onDevicePlugin(std::make_unique<FakeFSService>(
            uuid, VHModelInfo{uuid.left(4), model, QStringLiteral("VELORA"), createAppFakeDevice}));
        return static_cast<AppFakeDevice *>(manager()->currentDevice());
    }

    AppFakeDevice *startWith(const QString &model, const QString &version)
    {
        start();
        return plug(model, version);
    }

    // Plugs the device and waits until its version is read and the
    // connection's own jobs have ended.
    bool plugAndSettle(const QString &model, const QString &version)
    {
        plug(model, version);
        return QTest::qWaitFor([&] { return controller->deviceVersion() == version; }, 15000) && waitIdle();
    }

    void unplug() { manager()->onDeviceUnplug(); }

    // Server has serverVersion, the plugged device deviceVersion: waits until
    // the update notice shows and the connection's own jobs have ended.
    bool offerUpdate(const QString &model, const QString &serverVersion, const QString &deviceVersion)
    {
        if (!publish(model, serverVersion))
            return false;
        startWith(model, deviceVersion);
        QWidget *notice = main()->findChild<QWidget *>(QStringLiteral("download_count_label"));
        return notice && QTest::qWaitFor([&] { return notice->isVisibleTo(main()); }, 15000) && waitIdle();
    }

    // The software update (2.0 on the server, 1.5 on the device) offered and
    // started from the dialog; a held update waits at the gate.
    bool startUpdate(const QString &model, bool held)
    {
        if (held)
            hold(device.totalGate);
        if (!offerUpdate(model, QStringLiteral("2.0"), QStringLiteral("1.5")))
            return false;
        QTest::mouseClick(main()->findChild<QPushButton *>(QStringLiteral("soft_update_button")), Qt::LeftButton);
        QTest::mouseClick(dialog()->findChild<QPushButton *>(QStringLiteral("soft_update_button")), Qt::LeftButton);
        return !held || gate.waitEntered();
    }

    // A device of `model` whose package has workouts, with the workout button
    // enabled; the install is started and held at the gate.
    bool startHeldWorkoutInstall(const QString &model)
    {
        if (!publish(model, QStringLiteral("2.0"), true))
            return false;
        startWith(model, QStringLiteral("2.0"));
        auto *button = main()->findChild<QPushButton *>(QStringLiteral("workout_update_button"));
        if (!QTest::qWaitFor([button] { return button->isEnabled(); }, 15000) || !waitIdle())
            return false;
        hold(device.componentGate);
        QTest::mouseClick(button, Qt::LeftButton);
        return gate.waitEntered();
    }

    // The gate closed in front of one kind of action of the device.
    void hold(ActionGate *&where)
    {
        gate.close();
        where = &gate;
    }

    bool waitIdle(int ms = 10000)
    {
        return QTest::qWaitFor([this] { return OrlaRoad::runtimeIdle(controller.get(), false); }, ms);
    }
};

// Stands in for the controller: notes what the windows ask.
class ActionsStub : public OrlaWindowActions
{
public:
    bool busy = false;
    QStringList calls;

    bool refuseIfBusy() override
    {
        calls << QStringLiteral("refuseIfBusy");
        return busy;
    }
    void offerSoftwareUpdate() override { calls << QStringLiteral("offerSoftwareUpdate"); }
    void updateAlp(bool interactive) override { calls << QStringLiteral("updateAlp(%1)").arg(interactive); }
    void installWorkouts() override { calls << QStringLiteral("installWorkouts"); }
    void startSoftwareUpdate() override { calls << QStringLiteral("startSoftwareUpdate"); }
    void refreshMainWindow(bool disconnected) override
    {
        calls << QStringLiteral("refreshMainWindow(%1)").arg(disconnected);
    }
    QString note() override
    {
        calls << QStringLiteral("note");
        return QStringLiteral("Release note");
    }
    void offerFactoryRestore() override { calls << QStringLiteral("offerFactoryRestore"); }
    void chooseLanguages() override { calls << QStringLiteral("chooseLanguages"); }
    void manageBackups() override { calls << QStringLiteral("manageBackups"); }
    void recoverDevice() override { calls << QStringLiteral("recoverDevice"); }
};
