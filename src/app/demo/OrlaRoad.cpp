#include "OrlaRoad.h"

#include "OrlaController.h"
#include "OrlaForm.h"
#include "SoftUpdateForm.h"
#include "VHClient.h"
#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceManager.h"
#include "VHPackageServer.h"
#include "VHZipUtil.h"
#include "recover_complete_form.h"
#include "recover_fail_form.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QThread>
#include <QTimer>

namespace {

VHSimFitIdentity identityBefore(const QString &model)
{
    VHSimFitIdentity identity;
    identity.uuid = QStringLiteral("6F01A1B2C3D4E5F6");
    identity.model = model;
    identity.os = QStringLiteral("1.04.07");
    identity.bootLoader = QStringLiteral("B2.10");
    identity.deviceLang = QStringLiteral("DL0311");
    identity.notificationLang = QStringLiteral("NL105");
    identity.timeZone = QStringLiteral("TZ203");
    identity.bluetooth = QStringLiteral("BT12");
    return identity;
}

VHSimFitIdentity identityAfter(const QString &model)
{
    VHSimFitIdentity identity = identityBefore(model);
    identity.os = QStringLiteral("1.10.02");
    identity.deviceLang = QStringLiteral("DL0312");
    return identity;
}

// The software version a FIT device reports for an identity.
QString reportedVersion(const VHSimFitIdentity &id)
{
    return QStringList{id.os,
                       id.bootLoader.mid(1),
                       id.deviceLang.right(4),
                       id.bluetooth.right(2),
                       id.timeZone.right(3),
                       id.notificationLang.right(3)}
        .join(QLatin1Char('.'));
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Zips the files below `staging` under their relative names.
bool zipFolder(const QString &staging, const QStringList &names, const QString &zipPath)
{
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(staging);
    const bool ok = VHZipUtil().compress(zipPath, names);
    QDir::setCurrent(cwd);
    return ok;
}

QLabel *label(QWidget *window, const char *name) { return window->findChild<QLabel *>(QString::fromLatin1(name)); }

} // namespace

OrlaRoad::OrlaRoad(const Options &options) : m_options(options) {}

OrlaRoad::~OrlaRoad()
{
    if (m_server) {
        VHPackageServer *server = m_server;
        QMetaObject::invokeMethod(
            server, [server] { delete server; }, Qt::BlockingQueuedConnection);
    }
    if (m_serverThread) {
        m_serverThread->quit();
        m_serverThread->wait();
    }
}

QString OrlaRoad::dataFolder() const { return m_options.work + QStringLiteral("/xdg/VeloraHub"); }
QString OrlaRoad::simRoot() const { return m_options.work + QStringLiteral("/sim"); }
QString OrlaRoad::volumePath() const { return m_sim ? m_sim->volumePath(m_options.device) : QString(); }
QString OrlaRoad::oldVersion() const { return reportedVersion(identityBefore(m_options.model)); }
QString OrlaRoad::newVersion() const { return reportedVersion(identityAfter(m_options.model)); }

bool OrlaRoad::prepare()
{
    QDir().mkpath(dataFolder());
    QDir().mkpath(simRoot());
    const QString serverRoot = m_options.work + QStringLiteral("/server");
    QDir().mkpath(serverRoot);
    qputenv("XDG_DATA_HOME", (m_options.work + QStringLiteral("/xdg")).toUtf8());
    qputenv("VELORA_SIM_ROOT", simRoot().toUtf8());

    m_sim = std::make_unique<VHDevSim>(simRoot());
    if (!m_sim->createFit(m_options.device, identityBefore(m_options.model))) {
        m_error = QStringLiteral("simulated device: ") + m_sim->lastError();
        return false;
    }
    const QString package = m_options.work + QStringLiteral("/Total.zip");
    if (!buildPackage(package))
        return false;
    QString error;
    if (!VHPackageServer::publish(serverRoot, m_options.model, package, newVersion(),
                                  QStringLiteral("Faster satellite search.\nNew sleep screen.\nFixes."), &error)) {
        m_error = QStringLiteral("publish: ") + error;
        return false;
    }
    // Two weeks of assist data (our own bytes; the device only stores them).
    if (!writeBytes(serverRoot + QStringLiteral("/current_14d.alp"), QByteArray(64 * 1024, char(0xB5)))) {
        m_error = QStringLiteral("can not write the assist data");
        return false;
    }
    m_serverThread = std::make_unique<QThread>();
    m_serverThread->start();
    m_server = new VHPackageServer(serverRoot);
    m_server->moveToThread(m_serverThread.get());
    return writeSettings();
}

bool OrlaRoad::buildPackage(const QString &zipPath)
{
    const QString staging = m_options.work + QStringLiteral("/package");
    const VHSimFitIdentity before = identityBefore(m_options.model), after = identityAfter(m_options.model);
    // Incompressible, as real firmware is: the package is as large as its images.
    QByteArray payload(int(qMax<qint64>(0, m_options.imageBytes - 64)) & ~3, Qt::Uninitialized);
    QRandomGenerator(20240607).fillRange(reinterpret_cast<quint32 *>(payload.data()), payload.size() / 4);
    bool ok =
        writeBytes(staging + QStringLiteral("/os.bin"), VHDevSim::makeImage(QStringLiteral("OS"), after.os, payload))
        && writeBytes(staging + QStringLiteral("/lang.bin"),
                      VHDevSim::makeImage(QStringLiteral("DeviceLang"), after.deviceLang, QByteArray(4096, 'L')))
        && writeBytes(staging + QStringLiteral("/boot.bin"),
                      VHDevSim::makeImage(QStringLiteral("BootLoader"), before.bootLoader, QByteArray(2048, 'B')));
    const QByteArray release = "[MODEL]\nName=" + m_options.model.toUtf8()
                               + "\n[OS]\nName=os.bin\nVersion=" + after.os.toUtf8()
                               + "\n[DeviceLang]\nName=lang.bin\nVersion=" + after.deviceLang.toUtf8()
                               + "\n[BootLoader]\nName=boot.bin\nVersion=" + before.bootLoader.toUtf8() + "\n";
    ok = ok && writeBytes(staging + QStringLiteral("/release.ini"), release);
    const QString workouts = m_options.work + QStringLiteral("/workouts");
    ok = ok && writeBytes(workouts + QStringLiteral("/Velorawrk/Tempo Run.wkt"), "tempo 3x10 min")
         && writeBytes(workouts + QStringLiteral("/Velorawrk/Long Ride.wkt"), "endurance 3 h")
         && writeBytes(workouts + QStringLiteral("/Test/Ramp Test.wkt"), "ramp +20 W/min");
    ok = ok
         && zipFolder(workouts,
                      {QStringLiteral("Velorawrk/Tempo Run.wkt"), QStringLiteral("Velorawrk/Long Ride.wkt"),
                       QStringLiteral("Test/Ramp Test.wkt")},
                      staging + QStringLiteral("/workout.zip"))
         && zipFolder(staging,
                      {QStringLiteral("release.ini"), QStringLiteral("os.bin"), QStringLiteral("lang.bin"),
                       QStringLiteral("boot.bin"), QStringLiteral("workout.zip")},
                      zipPath);
    if (!ok)
        m_error = QStringLiteral("can not build the package in ") + staging;
    return ok;
}

bool OrlaRoad::startServer()
{
    if (!m_server)
        return false;
    bool listening = false;
    VHPackageServer *server = m_server;
    QMetaObject::invokeMethod(
        server,
        [&] {
            listening = server->listen(0);
            m_serverBase = listening ? server->baseUrl() : server->errorString();
        },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        m_error = QStringLiteral("package server: ") + m_serverBase;
        m_serverBase.clear();
        return false;
    }
    return writeSettings();
}

int OrlaRoad::serverRequestCount(const QString &path) const
{
    int count = 0;
    VHPackageServer *server = m_server;
    if (server)
        QMetaObject::invokeMethod(
            server, [&] { count = server->requestCount(path); }, Qt::BlockingQueuedConnection);
    return count;
}

bool OrlaRoad::writeSettings()
{
    QSettings ini(dataFolder() + QStringLiteral("/vh.ini"), QSettings::IniFormat);
    const QString base = m_serverBase.isEmpty() ? QStringLiteral("http://127.0.0.1:9") : m_serverBase;
    ini.setValue(QStringLiteral("VeloraHub/updateurl"), base + QStringLiteral("/versions/index"));
    ini.setValue(QStringLiteral("VeloraHub/betaupdateurl"), base + QStringLiteral("/beta/versions/index"));
    ini.setValue(QStringLiteral("VeloraHub/alpurl"), base);
    ini.setValue(QStringLiteral("VeloraHub/debug"), QStringLiteral("1"));
    ini.sync();
    return ini.status() == QSettings::NoError;
}

// ---- driving the windows ------------------------------------------------------------

bool OrlaRoad::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    const int limit = timeoutMs < 0 ? m_options.stepTimeoutMs : timeoutMs;
    while (!condition()) {
        if (timer.elapsed() > limit)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool OrlaRoad::step(const QString &name, const std::function<bool(QString &)> &body)
{
    // A 10 ms tick on the GUI thread: the longest gap between two ticks is
    // how long the window could not answer.
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 worst = 0;
    QTimer ticker;
    QDateTime worstAt;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        if (gap > worst) {
            worst = gap;
            worstAt = QDateTime::currentDateTime();
        }
    });
    ticker.start(10);
    QElapsedTimer timer;
    timer.start();
    Step result;
    result.name = name;
    result.ok = body(result.detail);
    result.ms = timer.elapsed();
    ticker.stop();
    result.worstGapMs = worst;
    result.worstGapEnd = worstAt;
    m_worstGapMs = qMax(m_worstGapMs, worst);
    m_steps.append(result);
    if (!result.ok)
        m_error = name + QStringLiteral(": ") + result.detail;
    return result.ok;
}

void OrlaRoad::shoot(const QString &name, QWidget *window)
{
    if (m_options.shots.isEmpty() || !window)
        return;
    QDir().mkpath(m_options.shots);
    QApplication::processEvents();
    const QString file =
        QStringLiteral("%1/%2-%3.png").arg(m_options.shots).arg(++m_shotNumber, 2, 10, QLatin1Char('0')).arg(name);
    window->grab().save(file);
}

void OrlaRoad::shootWithBox(const QString &name, QWidget *window, QWidget *box)
{
    if (m_options.shots.isEmpty())
        return;
    QDir().mkpath(m_options.shots);
    QApplication::processEvents();
    // The box is a window of its own: painted where it stands over the main window.
    QPixmap picture = window->grab();
    QPainter painter(&picture);
    const QPixmap boxPicture = box->grab();
    painter.fillRect(QRect(QPoint(0, 0), window->size()), QColor(0, 0, 0, 60));
    const QPoint at((window->width() - box->width()) / 2, (window->height() - box->height()) / 2);
    painter.fillRect(QRect(at + QPoint(2, 3), box->size()), QColor(0, 0, 0, 70));
    painter.drawPixmap(at, boxPicture);
    painter.end();
    picture.save(
        QStringLiteral("%1/%2-%3.png").arg(m_options.shots).arg(++m_shotNumber, 2, 10, QLatin1Char('0')).arg(name));
}

bool OrlaRoad::deviceIdle() const
{
    VHClient *device = VHDaemon::instance()->deviceManager()->currentDevice();
    return device && !device->isBusy() && !m_controller->assistClient()->isDownloading();
}

bool OrlaRoad::click(QWidget *window, const char *button)
{
    auto *target = window->findChild<QPushButton *>(QString::fromLatin1(button));
    if (!target || !target->isEnabled() || !target->isVisible())
        return false;
    target->click();
    return true;
}

bool OrlaRoad::runAll(OrlaController *controller)
{
    m_controller = controller;
    const QMetaObject::Connection recorder = QObject::connect(
        controller, &OrlaController::messageShown, [this](OrlaController::Message message) { m_shown << message; });
    m_boxCloser = std::make_unique<QTimer>();
    QObject::connect(m_boxCloser.get(), &QTimer::timeout, [this] { closeMessageBox(); });
    m_boxCloser->start(50);
    const bool ok =
        showsNoDevice() && plugAndOffer() && openDialog() && runUpdate() && restartDevice() && installWorkouts();
    m_boxCloser.reset();
    QObject::disconnect(recorder);
    // The workout result is the one message the road expects.
    if (ok && (m_shown.size() != 1 || m_messages.size() != 1)) {
        m_error = QStringLiteral("unexpected messages: ") + m_messages.join(QStringLiteral(" | "));
        return false;
    }
    return ok;
}

bool OrlaRoad::showsNoDevice()
{
    return step(QStringLiteral("no device"), [this](QString &detail) {
        OrlaForm *main = m_controller->mainWindow();
        if (!waitFor([main] { return main->isVisible(); })) {
            detail = QStringLiteral("the main window did not show");
            return false;
        }
        shoot(QStringLiteral("no-device"), main);
        return label(main, "remind_label")->isVisible();
    });
}

bool OrlaRoad::plugAndOffer()
{
    return step(QStringLiteral("device shown, update offered"), [this](QString &detail) {
        OrlaForm *main = m_controller->mainWindow();
        if (!m_sim->plug(m_options.device)) {
            detail = m_sim->lastError();
            return false;
        }
        const QString uuid = identityBefore(m_options.model).uuid;
        if (!waitFor([main, uuid] { return label(main, "uuid_info_label")->text() == uuid && main->isVisible(); })) {
            detail = QStringLiteral("the device was not shown");
            return false;
        }
        // Update notice, assist data written, workouts allowed, device free.
        auto ready = [this, main] {
            return label(main, "download_count_label")->isVisible()
                   && main->findChild<QPushButton *>(QStringLiteral("gpsdata_update_button"))->isEnabled()
                   && main->workoutsAllowed() && deviceIdle();
        };
        if (!waitFor(ready)) {
            detail = QStringLiteral("no update notice, assist data or workout check");
            return false;
        }
        const QString volume = volumePath();
        if (!QFileInfo::exists(volume + QStringLiteral("/System/AssitOff.alp"))
            || QFileInfo(volume + QStringLiteral("/System/date.txt")).size() != 4) {
            detail = QStringLiteral("the assist data is not on the device");
            return false;
        }
        shoot(QStringLiteral("update-offered"), main);
        return true;
    });
}

bool OrlaRoad::openDialog()
{
    return step(QStringLiteral("software-update dialog"), [this](QString &detail) {
        if (!click(m_controller->mainWindow(), "soft_update_button")) {
            detail = QStringLiteral("\"Update Software\" can not be pressed");
            return false;
        }
        SoftUpdateForm *dialog = m_controller->softUpdateForm();
        if (!waitFor([dialog] { return dialog->isVisible(); })) {
            detail = QStringLiteral("the dialog did not open");
            return false;
        }
        shoot(QStringLiteral("dialog"), dialog);
        return true;
    });
}

bool OrlaRoad::runUpdate()
{
    return step(QStringLiteral("update and completion"), [this](QString &detail) {
        SoftUpdateForm *dialog = m_controller->softUpdateForm();
        if (!click(dialog, "soft_update_button")) {
            detail = QStringLiteral("\"Update\" can not be pressed");
            return false;
        }
        // A few ticks of the simulated progress, for the picture.
        for (int i = 0; i < 9 && m_controller->progressRunning(); ++i)
            m_controller->run();
        shoot(QStringLiteral("updating"), dialog);
        recover_complete_form *done = m_controller->completeForm();
        if (!waitFor([this, done] { return done->isVisible() || m_controller->failForm()->isVisible(); })
            || !done->isVisible()) {
            detail = QStringLiteral("no completion window");
            return false;
        }
        const QString volume = volumePath();
        if (!QFileInfo::exists(volume + QStringLiteral("/update.ini"))
            || !QFileInfo::exists(volume + QStringLiteral("/os.bin"))) {
            detail = QStringLiteral("the images or update.ini are not on the device");
            return false;
        }
        shoot(QStringLiteral("completion"), done);
        return true;
    });
}

bool OrlaRoad::restartDevice()
{
    return step(QStringLiteral("device restarted with the new version"), [this](QString &detail) {
        OrlaForm *main = m_controller->mainWindow();
        // The user releases the cable; the firmware installs at its start.
        if (!m_sim->unplug(m_options.device)) {
            detail = m_sim->lastError();
            return false;
        }
        if (!waitFor([main] { return main->isVisible() && label(main, "remind_label")->isVisible(); })) {
            detail = QStringLiteral("the removal was not seen");
            return false;
        }
        QStringList changes;
        bool booted = false;
        std::unique_ptr<QThread> firmware(QThread::create([&] { booted = m_sim->boot(m_options.device, &changes); }));
        firmware->start();
        waitFor([&firmware] { return firmware->isFinished(); });
        firmware->wait();
        if (!booted || !m_sim->plug(m_options.device)) {
            detail = m_sim->lastError();
            return false;
        }
        const QString expected = newVersion();
        auto updated = [this, main, expected] {
            return label(main, "uuid_info_label")->isVisible() && m_controller->deviceVersion() == expected
                   && !label(main, "download_count_label")->isVisible() && deviceIdle();
        };
        if (!waitFor(updated)) {
            detail = QStringLiteral("the device does not report %1 (installed: %2)").arg(expected, changes.join(", "));
            return false;
        }
        if (QFileInfo::exists(volumePath() + QStringLiteral("/update.ini"))) {
            detail = QStringLiteral("update.ini is still on the device");
            return false;
        }
        shoot(QStringLiteral("restarted"), main);
        detail = changes.join(QStringLiteral(", "));
        return true;
    });
}

void OrlaRoad::closeMessageBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    m_messages << box->text();
    if (!m_boxShotName.isEmpty()) {
        shootWithBox(m_boxShotName, m_controller->mainWindow(), box);
        m_boxShotName.clear();
    }
    box->button(QMessageBox::Ok)->click();
}

bool OrlaRoad::installWorkouts()
{
    return step(QStringLiteral("workouts installed"), [this](QString &detail) {
        OrlaForm *main = m_controller->mainWindow();
        // The result comes as a message box: pictured, then closed.
        const qsizetype before = m_shown.size();
        m_boxShotName = QStringLiteral("workouts");
        if (!click(main, "workout_update_button")) {
            detail = QStringLiteral("the workout button can not be pressed");
            return false;
        }
        // Shown and closed again.
        if (!waitFor([this, before] { return m_shown.size() > before && m_messages.size() > before; })) {
            detail = QStringLiteral("no result message");
            return false;
        }
        const QString system = volumePath() + QStringLiteral("/System");
        const bool installed = QFileInfo::exists(system + QStringLiteral("/Velorawrk/Tempo Run.wkt"))
                               && QFileInfo::exists(system + QStringLiteral("/Test/Ramp Test.wkt"));
        detail = m_messages.last();
        if (m_shown.last() != OrlaController::Message::WorkoutsInstalled) {
            detail = QStringLiteral("the result was not success: ") + detail;
            return false;
        }
        if (!installed)
            detail = QStringLiteral("reported installed, but the workouts are not on the device");
        return installed;
    });
}

QString OrlaRoad::report() const
{
    QString text;
    for (const Step &s : m_steps)
        text += QStringLiteral("%1  %2 (%3 ms, GUI gap %4 ms)%5\n")
                    .arg(s.ok ? QStringLiteral("ok  ") : QStringLiteral("FAIL"), s.name)
                    .arg(s.ms)
                    .arg(s.worstGapMs)
                    .arg(s.detail.isEmpty() ? QString() : QStringLiteral(": ") + s.detail);
    if (!m_messages.isEmpty())
        text += QStringLiteral("messages shown: %1\n").arg(m_messages.join(QStringLiteral(" | ")));
    text += QStringLiteral("longest GUI-thread gap: %1 ms\n").arg(m_worstGapMs);
    for (const Step &s : m_steps)
        if (s.worstGapMs == m_worstGapMs && s.worstGapEnd.isValid())
            text += QStringLiteral("  it ended at %1 (compare the log's times)\n")
                        .arg(s.worstGapEnd.toString(QStringLiteral("hh:mm:ss,zzz")));
    return text;
}
