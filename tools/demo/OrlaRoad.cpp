#include "OrlaRoad.h"

#include "OrlaApp.h"
#include "OrlaController.h"
#include "OrlaForm.h"
#include "OrlaMountOffer.h"
#include "OrlaStallMeter.h"
#include "SoftUpdateForm.h"
#include "VHClient.h"
#include "VHDaemon.h"
#include "VHDeviceManager.h"
#include "VHGalRoadPackage.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPackageServer.h"
#include "VHSimLayout.h"
#include "recover_complete_form.h"
#include "recover_fail_form.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <limits>

namespace {

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readWhole(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QLabel *OrlaRoad::label(QWidget *window, const char *name)
{
    return window->findChild<QLabel *>(QString::fromLatin1(name));
}

bool OrlaRoad::failWith(QString &detail, const QString &why)
{
    detail = why;
    return false;
}

OrlaRoad::OrlaRoad(const Options &options) : m_options(options), m_stage(stageOptions(options))
{
    m_pictureWriter.setMaxThreadCount(1);
}

OrlaRoad::~OrlaRoad() = default;

OrlaStallMeter *OrlaRoad::stallMeter()
{
    OrlaApp *app = OrlaApp::instance();
    return app ? app->stallMeter() : nullptr;
}

// A device one OS and language version behind; its boot loader is current, so
// that image is never copied. Two weeks of assist data and three workouts.
VHFitRoad::Options OrlaRoad::stageOptions(const Options &options)
{
    VHFitRoad::Options stage;
    stage.work = options.work;
    stage.device = options.device;
    VHSimFitIdentity &before = stage.before;
    before.uuid = QStringLiteral("6F01A1B2C3D4E5F6");
    before.model = options.model;
    before.os = QStringLiteral("1.04.07");
    before.bootLoader = QStringLiteral("B2.10");
    before.deviceLang = QStringLiteral("DL0311");
    before.notificationLang = QStringLiteral("NL105");
    before.timeZone = QStringLiteral("TZ203");
    before.bluetooth = QStringLiteral("BT12");
    stage.package.images = {
        {QStringLiteral("OS"), QStringLiteral("os.bin"), QStringLiteral("1.10.02"), options.imageBytes},
        {QStringLiteral("DeviceLang"), QStringLiteral("lang.bin"), QStringLiteral("DL0312"), 4096},
        {QStringLiteral("BootLoader"), QStringLiteral("boot.bin"), before.bootLoader, 2048}};
    stage.package.withWorkouts = true;
    stage.package.workouts = {{QStringLiteral("Velorawrk"), QStringLiteral("Tempo Run.wkt"), 0, "tempo 3x10 min"},
                              {QStringLiteral("Velorawrk"), QStringLiteral("Long Ride.wkt"), 0, "endurance 3 h"},
                              {QStringLiteral("Test"), QStringLiteral("Ramp Test.wkt"), 0, "ramp +20 W/min"}};
    stage.note = QStringLiteral("Faster satellite search.\nNew sleep screen.\nFixes.");
    stage.assistData = QByteArray(64 * 1024, char(0xB5)); // our own bytes; the device only stores them
    return stage;
}

QString OrlaRoad::oldVersion() const { return VHFitRoad::reportedVersion(m_stage.options().before); }
QString OrlaRoad::newVersion() const { return VHFitRoad::reportedVersion(m_stage.installedIdentity()); }

bool OrlaRoad::kindNamed(const QString &name, Kind *kind)
{
    static const QList<QPair<QString, Kind>> names{{QStringLiteral("fit"), Kind::Fit},
                                                   {QStringLiteral("gal"), Kind::Gal},
                                                   {QStringLiteral("pacer40"), Kind::Pacer40}};
    for (const auto &[known, value] : names)
        if (name == known) {
            *kind = value;
            return true;
        }
    return false;
}

QString OrlaRoad::plan() const
{
    switch (m_options.road) {
    case Kind::Fit:
        break;
    case Kind::Gal:
        return QStringLiteral("GAL watch %1: %2 -> %3, updated by method 2")
            .arg(galName(), galVersionBefore(), galVersionAfter());
    case Kind::Pacer40:
        return QStringLiteral("Pacer40 %1: one more language, %2").arg(pacer40Name(), addedLanguage());
    }
    return QStringLiteral("device %1: %2 -> %3").arg(m_options.device, oldVersion(), newVersion());
}

bool OrlaRoad::prepare()
{
    if (!m_stage.prepare() || !m_stage.startServer()) {
        m_error = m_stage.lastError();
        return false;
    }
    return publishRoadPackage();
}

QString OrlaRoad::roadDeviceName() const
{
    return m_options.road == Kind::Gal ? galName() : m_options.road == Kind::Pacer40 ? pacer40Name() : m_options.device;
}

// The road's package beside the FIT one the stage publishes; the FIT road needs none of its own.
bool OrlaRoad::publishRoadPackage()
{
    if (m_options.road == Kind::Fit)
        return true;
    const bool gal = m_options.road == Kind::Gal;
    const QString zip = m_options.work + (gal ? QStringLiteral("/gal.zip") : QStringLiteral("/languages.zip"));
    QString error;
    const bool written = gal ? VHGalRoadPackage::write(zip)
                             : VHPSFLanguagePackBuilder::writePackage(zip, VHPSFLanguagePackBuilder::Options(), &error);
    const QString model = gal ? QStringLiteral("Pacer21") : QStringLiteral("Pacer40");
    const QString version = gal ? galVersionAfter() : QStringLiteral("V013");
    const QString note = gal ? QStringLiteral("Longer battery life.\nNew route screen.")
                             : QStringLiteral("Languages: English, German, French.");
    if (written && VHPackageServer::publish(m_stage.serverRoot(), model, zip, version, note, &error))
        return true;
    m_error = QStringLiteral("can not publish the %1 package: %2").arg(model, error.isEmpty() ? zip : error);
    return false;
}

bool OrlaRoad::asDevice(const std::function<bool()> &work)
{
    bool done = false;
    std::unique_ptr<QThread> firmware(QThread::create([&] { done = work(); }));
    firmware->start();
    VHFitRoad::waitFor([&firmware] { return firmware->isFinished(); }, std::numeric_limits<int>::max());
    firmware->wait();
    return done;
}

VHClient *OrlaRoad::currentDevice() const { return VHDaemon::instance()->deviceManager()->currentDevice(); }

// Made and plugged as the road's device; true once the window shows it and
// the runtime has done with its first questions.
bool OrlaRoad::plugRoadDevice(const std::function<bool(VHDevSim &, const QString &)> &make)
{
    VHDevSim &sim = m_stage.sim();
    const QString name = roadDeviceName();
    if (!asDevice([&] { return make(sim, name); }) || !sim.plug(name)) {
        m_error = sim.lastError();
        return false;
    }
    return waitFor([this] { return currentDevice() != nullptr; });
}

// ---- driving the windows ------------------------------------------------------------

bool OrlaRoad::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    return VHFitRoad::waitFor(condition, timeoutMs < 0 ? m_options.stepTimeoutMs : timeoutMs);
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
    {
        // What the step does between the updater's events is the driver's work, not the updater's.
        const OrlaStallMeter::Section driver(stallMeter(), "demo driver", OrlaStallMeter::Measured::No);
        result.ok = body(result.detail);
    }
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

QString OrlaRoad::nextShotFile(const QString &name)
{
    if (m_options.shots.isEmpty())
        return QString();
    QDir().mkpath(m_options.shots);
    QApplication::processEvents();
    return QStringLiteral("%1/%2-%3.png").arg(m_options.shots).arg(++m_shotNumber, 2, 10, QLatin1Char('0')).arg(name);
}

void OrlaRoad::shoot(const QString &name, QWidget *window)
{
    const QString file = window ? nextShotFile(name) : QString();
    if (!file.isEmpty())
        savePicture(window->grab(), file);
}

// Only the grab needs the GUI thread: the PNG is encoded and written on the
// driver's own thread, so a picture never counts as the updater's stall.
void OrlaRoad::savePicture(const QPixmap &picture, const QString &file)
{
    const OrlaStallMeter::Section section(stallMeter(), "demo driver: picture", OrlaStallMeter::Measured::No);
    const QImage image = picture.toImage();
    m_pictureWriter.start([image, file] {
        if (!image.save(file))
            qWarning("veloraupdate-demo: can not write %s", qPrintable(file));
    });
}

void OrlaRoad::shootWithBox(const QString &name, QWidget *window, QWidget *box)
{
    const QString file = nextShotFile(name);
    if (file.isEmpty())
        return;
    // The box is a window of its own: painted where it stands over the main window.
    QPixmap picture = window->grab();
    QPainter painter(&picture);
    const QPixmap boxPicture = box->grab();
    painter.fillRect(QRect(QPoint(0, 0), window->size()), QColor(0, 0, 0, 60));
    const QPoint at((window->width() - box->width()) / 2, (window->height() - box->height()) / 2);
    painter.fillRect(QRect(at + QPoint(2, 3), box->size()), QColor(0, 0, 0, 70));
    painter.drawPixmap(at, boxPicture);
    painter.end();
    savePicture(picture, file);
}

bool OrlaRoad::deviceIdle() const { return runtimeIdle(m_controller); }

bool OrlaRoad::runtimeIdle(OrlaController *controller, bool deviceNeeded)
{
    VHClient *device = VHDaemon::instance()->deviceManager()->currentDevice();
    return (device ? !device->isBusy() : !deviceNeeded) && !controller->assistClient()->isDownloading();
}

bool OrlaRoad::click(QWidget *window, const char *button)
{
    auto *target = window->findChild<QPushButton *>(QString::fromLatin1(button));
    if (!target || !target->isEnabled() || !target->isVisible())
        return false;
    // The updater's own work, which a real click runs inside its mouse event.
    const OrlaStallMeter::Section section(stallMeter(), "a button's click handlers");
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
    // Some models are not taken again within seconds of a removal; the road's clock skips the user's pause.
    VHDeviceManager *manager = VHDaemon::instance()->deviceManager();
    manager->setClock([this] { return QDateTime::currentSecsSinceEpoch() + m_skippedSeconds; });
    bool ok = false;
    switch (m_options.road) {
    case Kind::Fit:
        ok = runFitRoad();
        break;
    case Kind::Gal:
        ok = runGalRoad();
        break;
    case Kind::Pacer40:
        ok = runPacer40Road();
        break;
    }
    m_boxCloser.reset();
    m_pictureWriter.waitForDone();
    QObject::disconnect(recorder);
    manager->setClock({});
    return ok;
}

bool OrlaRoad::runFitRoad()
{
    const bool ok = showsNoDevice() && offersMount() && plugAndOffer() && openDialog() && runUpdate() && restartDevice()
                    && installWorkouts() && showsFailure();
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
        if (!waitFor([main] { return main->isVisible(); }))
            return failWith(detail, QStringLiteral("the main window did not show"));
        shoot(QStringLiteral("no-device"), main);
        return label(main, "remind_label")->isVisible();
    });
}

bool OrlaRoad::offersMount()
{
    return step(QStringLiteral("unmounted volume offered"), [this](QString &detail) {
        OrlaForm *main = m_controller->mainWindow();
        const QString drive = VHSimLayout::unmountedDrivePath(m_stage.simRoot(), m_options.device);
        if (!QDir().mkpath(drive)
            || !writeWhole(drive + QLatin1Char('/') + VHSimLayout::kDriveInfo, "[General]\nlabel=WATCH\n"))
            return failWith(detail, QStringLiteral("can not lay out the unmounted drive"));
        auto offered = [main] {
            return label(main, "mount_label")->isVisible() && !label(main, "remind_label")->isVisible();
        };
        const bool shown = waitFor(offered, OrlaMountOffer::kSettleMs + 10000);
        if (shown)
            shoot(QStringLiteral("unmounted-volume"), main);
        // Gone again before the road plugs the drive mounted.
        QDir(drive).removeRecursively();
        if (!shown)
            return failWith(detail, QStringLiteral("no Mount offer, or the plea to connect beside it"));
        if (!waitFor([main] { return !label(main, "mount_label")->isVisible(); }, OrlaMountOffer::kSettleMs + 10000))
            return failWith(detail, QStringLiteral("the Mount offer stayed after the drive went"));
        return label(main, "remind_label")->isVisible();
    });
}

bool OrlaRoad::plugAndOffer()
{
    return step(QStringLiteral("device shown, update offered"), [this](QString &detail) {
        OrlaForm *main = m_controller->mainWindow();
        if (!m_stage.plug())
            return failWith(detail, m_stage.lastError());
        const QString uuid = m_stage.options().before.uuid;
        if (!waitFor([main, uuid] { return label(main, "uuid_info_label")->text() == uuid && main->isVisible(); }))
            return failWith(detail, QStringLiteral("the device was not shown"));
        // Update notice, assist data written, workouts allowed, device free.
        auto ready = [this, main] {
            return label(main, "download_count_label")->isVisible()
                   && main->findChild<QPushButton *>(QStringLiteral("gpsdata_update_button"))->isEnabled()
                   && main->workoutsAllowed() && deviceIdle();
        };
        if (!waitFor(ready))
            return failWith(detail, QStringLiteral("no update notice, assist data or workout check"));
        const QString volume = m_stage.volumePath();
        if (!QFileInfo::exists(volume + QStringLiteral("/System/AssitOff.alp"))
            || QFileInfo(volume + QStringLiteral("/System/date.txt")).size() != 4)
            return failWith(detail, QStringLiteral("the assist data is not on the device"));
        shoot(QStringLiteral("update-offered"), main);
        return true;
    });
}

bool OrlaRoad::openDialog()
{
    return step(QStringLiteral("software-update dialog"), [this](QString &detail) {
        if (!click(m_controller->mainWindow(), "soft_update_button"))
            return failWith(detail, QStringLiteral("\"Update Software\" can not be pressed"));
        SoftUpdateForm *dialog = m_controller->softUpdateForm();
        if (!waitFor([dialog] { return dialog->isVisible(); }))
            return failWith(detail, QStringLiteral("the dialog did not open"));
        shoot(QStringLiteral("dialog"), dialog);
        return true;
    });
}

bool OrlaRoad::runUpdate()
{
    return step(QStringLiteral("update and completion"), [this](QString &detail) {
        SoftUpdateForm *dialog = m_controller->softUpdateForm();
        if (!click(dialog, "soft_update_button"))
            return failWith(detail, QStringLiteral("\"Update\" can not be pressed"));
        // The bar moves with the device's first bytes; the picture waits for them.
        auto *bar = dialog->findChild<QProgressBar *>(QStringLiteral("step_progressBar"));
        waitFor([this, bar] { return !m_controller->progressRunning() || (bar && bar->value() > 0); });
        shoot(QStringLiteral("updating"), dialog);
        recover_complete_form *done = m_controller->completeForm();
        if (!waitFor([this, done] { return done->isVisible() || m_controller->failForm()->isVisible(); })
            || !done->isVisible())
            return failWith(detail, QStringLiteral("no completion window"));
        const QString volume = m_stage.volumePath();
        if (!QFileInfo::exists(volume + QStringLiteral("/update.ini"))
            || !QFileInfo::exists(volume + QStringLiteral("/os.bin")))
            return failWith(detail, QStringLiteral("the images or update.ini are not on the device"));
        shoot(QStringLiteral("completion"), done);
        return true;
    });
}

bool OrlaRoad::restartDevice()
{
    return step(QStringLiteral("device restarted with the new version"), [this](QString &detail) {
        OrlaForm *main = m_controller->mainWindow();
        // The user releases the cable; the firmware installs at its start.
        if (!m_stage.unplug())
            return failWith(detail, m_stage.lastError());
        if (!waitFor([main] { return main->isVisible() && label(main, "remind_label")->isVisible(); }))
            return failWith(detail, QStringLiteral("the removal was not seen"));
        // The simulated firmware stands for the device: it works on a thread of its own.
        QStringList changes;
        if (!m_stage.boot(&changes) || !m_stage.plug())
            return failWith(detail, m_stage.lastError());
        const QString expected = newVersion();
        auto updated = [this, main, expected] {
            return label(main, "uuid_info_label")->isVisible() && m_controller->deviceVersion() == expected
                   && !label(main, "download_count_label")->isVisible() && deviceIdle();
        };
        if (!waitFor(updated))
            return failWith(
                detail,
                QStringLiteral("the device does not report %1 (installed: %2)").arg(expected, changes.join(", ")));
        if (QFileInfo::exists(m_stage.volumePath() + QStringLiteral("/update.ini")))
            return failWith(detail, QStringLiteral("update.ini is still on the device"));
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
        if (!click(main, "workout_update_button"))
            return failWith(detail, QStringLiteral("the workout button can not be pressed"));
        // Shown and closed again.
        if (!waitFor([this, before] { return m_shown.size() > before && m_messages.size() > before; }))
            return failWith(detail, QStringLiteral("no result message"));
        const QString system = m_stage.volumePath() + QStringLiteral("/System");
        const bool installed = QFileInfo::exists(system + QStringLiteral("/Velorawrk/Tempo Run.wkt"))
                               && QFileInfo::exists(system + QStringLiteral("/Test/Ramp Test.wkt"));
        detail = m_messages.last();
        if (m_shown.last() != OrlaController::Message::WorkoutsInstalled)
            return failWith(detail, QStringLiteral("the result was not success: ") + detail);
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

bool OrlaRoad::showsFailure()
{
    return step(QStringLiteral("failure window with its reason"), [this](QString &detail) {
        const QString package = m_controller->modelUpdatesDir() + QStringLiteral("/Total.zip");
        const QByteArray whole = readWhole(package);
        if (whole.isEmpty() || !writeWhole(package, "not a zip archive"))
            return failWith(detail, QStringLiteral("can not damage the package"));
        m_controller->startSoftwareUpdate();
        recover_fail_form *fail = m_controller->failForm();
        const bool shown = waitFor([this, fail] { return fail->isVisible() && deviceIdle(); });
        if (shown)
            shoot(QStringLiteral("failure"), fail);
        const bool restored = writeWhole(package, whole);
        if (!shown)
            return failWith(detail, QStringLiteral("no failure window"));
        detail = fail->details();
        if (!click(fail, "OK_button") || !waitFor([this] { return m_controller->mainWindow()->isVisible(); }))
            return failWith(detail, QStringLiteral("\"OK\" did not lead back to the main window"));
        return restored && !detail.isEmpty();
    });
}
