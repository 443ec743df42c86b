#include "VHDevctl.h"

#include "VHClient.h"
#include "VHClientPackageCheck.h"
#include "VHDaemon.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHDeviceRegistry.h"
#include "VHEnv.h"
#include "VHGalDevice.h"
#include "VHGalRecovery.h"
#include "VHGalStranded.h"
#include "VHHistory.h"
#include "VHLanguageUpdate.h"
#include "VHLog.h"
#include "VHPSFDevice.h"
#include "VHPacer30.h"
#include "VHPackageIdentity.h"
#include "VHPlatform.h"
#include "VHRestorePasses.h"
#include "VHUpdateDecision.h"
#include "VHUpdatesFolder.h"
#include "VHUtility.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_stopPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Nothing to do when the pipe is full: a stop is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(g_stopPipe[1], &byte, 1);
}

QPointer<VHClient> g_device;

void printErr(const QString &text) { std::fprintf(stderr, "%s\n", qPrintable(text)); }

QString versionOf(VHClient *device)
{
    QString version;
    if (device)
        device->getVersion(version);
    return version;
}

constexpr int kProgressIntervalMs = 200;
constexpr const char *kLogFileName = "velora-devctl.log";

// An unknown version is null, never "".
QJsonValue textOrNull(const QString &text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); }

// A date the device or the folder does not know is null, never the epoch.
QJsonValue dateOrNull(qint32 secondsSinceEpoch)
{
    if (secondsSinceEpoch <= 0)
        return QJsonValue();
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC).toString(Qt::ISODate);
}

QString sizeText(qint64 bytes) { return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat); }

} // namespace

// ---- the command table: a new command is one row and one function ------------------

const QList<VHDevctl::Command> &VHDevctl::commands()
{
    static const QList<Command> table = {
        {"list", "", "list the connected devices, also SCSI devices waiting in IAP mode", 0, 0, false,
         &VHDevctl::runList},
        {"info", "", "show the device's model, UUID, versions and state", 0, 0, true, &VHDevctl::runInfo},
        {"check", "", "ask the update server for the device's model; prints current and offered versions", 0, 0, true,
         &VHDevctl::runCheck},
        {"update", "[PACKAGE] [LANG]", "update the device software (downloads the package when none is given)", 0, 2,
         true, &VHDevctl::runUpdate},
        {"restore", "FOLDER",
         "factory restore from a folder; waits for a device that formats itself to come back and finishes it", 1, 1,
         true, &VHDevctl::runRestore},
        {"gps", "", "fetch GPS assist data when due and write it to the device when it is newer", 0, 0, true,
         &VHDevctl::runGps},
        {"workouts", "[FILE]", "install the workouts of a package (the downloaded one when none is given)", 0, 1, true,
         &VHDevctl::runWorkouts},
        {"history", "", "print the update history (of one device with --device)", 0, 0, false, &VHDevctl::runHistory},
        {"recover", "PACKAGE [LANG]",
         "finish the update (or, given its FOLDER, the factory restore) of a device left waiting in IAP mode", 1, 2,
         false, &VHDevctl::runRecover},
        {"finalize", "", "write the device's store back (flash-store watches; backs the flash up first)", 0, 0, true,
         &VHDevctl::runFinalize},
        {"languages", "", "list the languages on the device (flash-store watches)", 0, 0, true,
         &VHDevctl::runLanguages},
        {"backup", "[--restore] [FILE]",
         "copy the device's external flash to FILE; without FILE list its backups; with --restore write its backup "
         "FILE back",
         0, 1, true, &VHDevctl::runBackup},
        {"loader", "PACKAGE", "update the loader (IAP) from a package (Pacer30-family watches)", 1, 1, true,
         &VHDevctl::runLoader},
        {"records", "KIND", "list the device's tracks, activities, routes, pois or workouts", 1, 1, true,
         &VHDevctl::runRecords},
        {"delete", "KIND ID...", "delete records of a KIND by the ids (or file names) that records shows", 2, 1000,
         true, &VHDevctl::runDelete},
        {"profile", "FILE", "write the device's profile to FILE", 1, 1, true, &VHDevctl::runProfile},
        {"profile-set", "KEY=VALUE...", "write profile values to the device", 1, 1000, true, &VHDevctl::runProfileSet},
        {"export-log", "FILE", "collect the device's log folders into the archive FILE", 1, 1, true,
         &VHDevctl::runExportLog},
        {"export-raw", "FOLDER", "export the device's raw data into FOLDER", 1, 1, true, &VHDevctl::runExportRaw},
    };
    return table;
}

QString VHDevctl::helpText()
{
    QString text = QStringLiteral("Usage: velora-devctl [OPTIONS] COMMAND [ARGUMENTS]\n\n"
                                  "Runs one command on one connected device and exits with its result.\n\n"
                                  "Commands:\n");
    for (const Command &command : commands()) {
        const QString head = QStringLiteral("%1 %2").arg(QLatin1String(command.name), QLatin1String(command.arguments));
        text += QStringLiteral("  %1%2\n").arg(head.leftJustified(26), QLatin1String(command.summary));
    }
    text += QStringLiteral(
        "\nOptions:\n"
        "  --json             print one JSON document on standard output\n"
        "  --device UUID      the device to use when several are connected\n"
        "  --sim ROOT         use the simulated platform in ROOT\n"
        "  --fit              identify volumes by /System/device.txt only, as the updater does\n"
        "  --server URL       the update and assist-data server (instead of the settings' addresses)\n"
        "  --model NAME       recover: the model of the device in IAP mode (default: its product field)\n"
        "  --restore          backup: write the backup FILE of this device back onto it\n"
        "  --force            write a package made for another model, or older than the device's software\n"
        "  --allow-unsigned   write a package (or folder) without a signature by a trusted key\n"
        "  -y, --yes          do not ask before writing (on a terminal the program asks)\n"
        "  --timeout SECONDS  how long to wait for an action and a restarting device (default 600)\n"
        "  --version          print the program's version\n"
        "  -h, --help         show this text\n"
        "\nExit codes:\n"
        "  0 done, 1 failed, 2 bad usage, 3 no device, 4 nothing to do\n"
        "\nCtrl+C during an action waits for the action to end, then exits.\n");
    return text;
}

VHDevctl::VHDevctl() { m_terminal = ::isatty(STDERR_FILENO) == 1; }

VHDevctl::~VHDevctl()
{
    if (VHEnv::instance()->isInitialised())
        VHDaemon::instance()->deviceManager()->removeListener(this);
}

// ---- start-up ---------------------------------------------------------------------------

int VHDevctl::parse(const QStringList &arguments)
{
    // Known first, so even a usage error is reported as JSON.
    m_json = arguments.contains(QStringLiteral("--json"));
    QStringList positional;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString arg = arguments.at(i);
        QString value;
        const bool takesValue = arg == QLatin1String("--device") || arg == QLatin1String("--sim")
                                || arg == QLatin1String("--server") || arg == QLatin1String("--timeout")
                                || arg == QLatin1String("--model");
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            value = arg.section(QLatin1Char('='), 1);
            arg = arg.section(QLatin1Char('='), 0, 0);
        } else if (takesValue) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).startsWith(QLatin1String("--")))
                return fail(BadUsage, arg + QStringLiteral(" needs a value"));
            value = arguments.at(++i);
        }
        if (arg == QLatin1String("--json"))
            m_json = true;
        else if (arg == QLatin1String("--fit"))
            m_fitFlag = true;
        else if (arg == QLatin1String("--restore"))
            m_restoreFlag = true;
        else if (arg == QLatin1String("--force"))
            m_force = true;
        else if (arg == QLatin1String("--allow-unsigned"))
            m_allowUnsigned = true;
        else if (arg == QLatin1String("-y") || arg == QLatin1String("--yes"))
            m_yes = true;
        else if (arg == QLatin1String("--device"))
            m_deviceUuid = value;
        else if (arg == QLatin1String("--sim"))
            m_simRoot = value;
        else if (arg == QLatin1String("--server"))
            m_server = value;
        else if (arg == QLatin1String("--model"))
            m_modelOverride = value;
        else if (arg == QLatin1String("--timeout")) {
            bool ok = false;
            const int seconds = value.toInt(&ok);
            if (!ok || seconds <= 0 || seconds > 86400)
                return fail(BadUsage, QStringLiteral("--timeout needs a number of seconds"));
            m_timeoutMs = seconds * 1000;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help"))
            m_command = QStringLiteral("help");
        else if (arg == QLatin1String("--version"))
            m_command = QStringLiteral("--version");
        else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1)
            return fail(BadUsage, QStringLiteral("unknown option ") + arg);
        else
            positional << arg;
    }
    if (m_command.isEmpty() && !positional.isEmpty())
        m_command = positional.takeFirst();
    m_arguments = positional;
    return Done;
}

void VHDevctl::prepareEnvironment()
{
    if (!m_simRoot.isEmpty())
        qputenv("VELORA_SIM_ROOT", QFile::encodeName(QDir(m_simRoot).absolutePath()));
    VHDeviceFamilies::registerAll();
    VHEnv *env = VHEnv::instance();
    env->init(QStringLiteral("both"), QLatin1String(kLogFileName));
    if (!m_server.isEmpty()) {
        QString base = m_server;
        while (base.endsWith(QLatin1Char('/')))
            base.chop(1);
        env->overrideSetting(QStringLiteral("updateurl"), base + QStringLiteral("/versions/index"));
        env->overrideSetting(QStringLiteral("betaupdateurl"), base + QStringLiteral("/beta/versions/index"));
        env->overrideSetting(QStringLiteral("alpurl"), base);
    }
}

int VHDevctl::run(const QStringList &arguments)
{
    int code = parse(arguments);
    if (code == Done && m_command == QLatin1String("help")) {
        std::fputs(qPrintable(helpText()), stdout);
        return Done;
    }
    if (code == Done && m_command == QLatin1String("--version")) {
        std::fprintf(stdout, "velora-devctl %s\n", VELORA_DEVCTL_VERSION);
        return Done;
    }
    const Command *command = nullptr;
    for (const Command &row : commands()) {
        if (m_command == QLatin1String(row.name))
            command = &row;
    }
    if (code == Done && m_command.isEmpty()) {
        std::fputs(qPrintable(helpText()), stderr);
        code = fail(BadUsage, QStringLiteral("no command given"));
    } else if (code == Done && !command) {
        code = fail(BadUsage, QStringLiteral("unknown command \"%1\" (see --help)").arg(m_command));
    } else if (code == Done
               && (m_arguments.size() < command->minArguments || m_arguments.size() > command->maxArguments)) {
        code = fail(BadUsage, QStringLiteral("usage: velora-devctl %1 %2")
                                  .arg(QLatin1String(command->name), QLatin1String(command->arguments)));
    } else if (code == Done && m_restoreFlag && (m_command != QLatin1String("backup") || m_arguments.size() != 1)) {
        code = fail(BadUsage, QStringLiteral("usage: velora-devctl backup --restore FILE"));
    } else if (code == Done && !m_simRoot.isEmpty() && !QFileInfo(m_simRoot).isDir()) {
        code = fail(BadUsage, QStringLiteral("--sim: no such folder: ") + m_simRoot);
    }
    if (code == Done) {
        prepareEnvironment();
        installStopSignals();
        if (command->needsDevice) {
            VHDevctlDevice chosen;
            code = chooseDevice(chosen);
            if (code == Done)
                code = startRuntime(chosen);
        }
        if (code == Done)
            code = (this->*(command->run))();
    }
    finishResult(code);
    if (m_json)
        std::fputs(QJsonDocument(m_result).toJson(QJsonDocument::Indented).constData(), stdout);
    std::fflush(stdout);
    return code;
}

VHModelTable knownRows() { return VHDeviceRegistry::instance().builtInModels(); }

int VHDevctl::chooseDevice(VHDevctlDevice &chosen)
{
    const bool recovering = m_command == QLatin1String("recover");
    const auto backend = VHPlatform::createDefaultBackend();
    QList<VHDevctlDevice> devices = VHDevctlInventory::scan(*backend, knownRows());
    if (recovering)
        devices.removeIf([](const VHDevctlDevice &device) { return !device.iapMode; });
    if (!m_deviceUuid.isEmpty())
        devices.removeIf([&](const VHDevctlDevice &device) { return device.uuid != m_deviceUuid; });
    if (devices.isEmpty()) {
        if (!m_deviceUuid.isEmpty())
            return fail(NoDevice, QStringLiteral("no device with UUID ") + m_deviceUuid);
        return fail(NoDevice, recovering ? QStringLiteral("no device is waiting in IAP mode")
                                         : QStringLiteral("no device connected"));
    }
    if (devices.size() > 1) {
        QJsonArray listed;
        QString text = QStringLiteral("%1 devices are connected; pick one with --device UUID:").arg(devices.size());
        for (const VHDevctlDevice &device : std::as_const(devices)) {
            listed.append(device.toJson());
            text += QStringLiteral("\n  ") + device.describe();
        }
        m_result.insert(QStringLiteral("devices"), listed);
        return fail(BadUsage, text);
    }
    chosen = devices.first();
    return Done;
}

int VHDevctl::startRuntime(const VHDevctlDevice &chosen)
{
    VHDaemon *daemon = VHDaemon::instance();
    // Only the chosen device is seen, in whichever form it comes back.
    daemon->platform()->setBackend(std::make_unique<VHDevctlBackend>(VHPlatform::createDefaultBackend(), chosen.uuid));
    VHDeviceManager *manager = daemon->deviceManager();
    // Bit 4 clear reaches every family; a volume identified by
    // "/System/device.txt" is only found with it set.
    const bool fit = m_fitFlag || chosen.identifiedByDeviceTxt;
    manager->setDeviceClassFlags(fit ? 4 : 3);
    manager->addListener(this);
    if (!daemon->start(true))
        vhWarning() << "device detection did not start; the device found is still served";
    // The manager recorded the version of a device that came back from an update.
    g_device = manager->currentDevice();
    // Test waits of the simulated flash, set once for every action.
    flashStoreDevice();
    pacer30Device();
    if (!g_device)
        return fail(NoDevice, QStringLiteral("the device %1 (%2) was found but no device class of this build serves it")
                                  .arg(chosen.uuid, chosen.model));
    return Done;
}

VHClient *VHDevctl::device() const { return g_device.data(); }

VHUpdatesFolder VHDevctl::updatesFolder() const
{
    QString model;
    if (device())
        device()->getModelName(model);
    return VHUpdatesFolder(VHEnv::instance()->dataFolder(), model);
}

// ---- listeners ---------------------------------------------------------------------------

void VHDevctl::onDeviceDisconnected(VHClient *device)
{
    if (device && device == g_device.data())
        m_deviceLeft = true;
}

void VHDevctl::onActionDone(VHClient *device, int action)
{
    if (device == g_device.data() && action == m_waitedAction)
        m_doneAction = action;
}

void VHDevctl::onUpdateFinished(bool) { m_queryDone = true; }

void VHDevctl::onReduzeduFinished(bool ok)
{
    m_assistOk = ok;
    m_assistDone = true;
}

// ---- waiting -----------------------------------------------------------------------------

bool VHDevctl::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() >= timeoutMs || (m_stopRequested && !m_actionRunning))
            loop.quit();
    });
    tick.start(kProgressIntervalMs / 4);
    if (!done())
        loop.exec();
    return done();
}

int VHDevctl::queryServer()
{
    const VHUpdatesFolder folder = updatesFolder();
    QString model;
    device()->getModelName(model);
    if (!folder.isValid())
        return fail(Failed, QStringLiteral("the model name \"%1\" can not name a folder; not asked").arg(model));
    m_updateClient = std::make_unique<VeloraApiClient>(this);
    m_queryDone = false;
    m_updateClient->queryUpdate(model, folder.path(),
                                VHUpdateDecision::isBetaVersion(VHUpdateDecision::kUpdaterVersion));
    if (!waitUntil([this] { return m_queryDone; }, m_timeoutMs))
        return fail(Failed, m_stopRequested ? QStringLiteral("interrupted")
                                            : QStringLiteral("the update server did not answer"));
    if (m_updateClient->lastQueryFailed())
        return fail(Failed, m_updateClient->errorText()
                                + (m_updateClient->serverUnreachable()
                                       ? QStringLiteral("; set updateurl in vh.ini or use --server URL")
                                       : QString()));
    return Done;
}

int VHDevctl::runAction(int action, const std::function<bool()> &start)
{
    m_waitedAction = action;
    m_doneAction = -2;
    m_waitingSaid = false;
    // The device tells its phases and bytes; nothing is shown until it does.
    if (VHClient *client = device())
        connect(client, &VHClient::phaseProgressChanged, this, &VHDevctl::onPhaseProgress, Qt::UniqueConnection);
    if (!start())
        return fail(Failed, QStringLiteral("the device refused to start the action (it is busy or in the wrong mode)"));
    m_actionRunning = true;
    const bool ended = waitUntil([this, action] { return m_doneAction == action; }, m_timeoutMs);
    m_actionRunning = false;
    int code = 0;
    const bool failed = !ended || !device() || device()->actionFailed(code);
    showProgress(-1, true);
    m_phase.clear();
    if (!ended)
        return fail(Failed, QStringLiteral("the action did not end within %1 s").arg(m_timeoutMs / 1000));
    const QString reason = device() ? device()->errorText() : QString();
    if (!failed || lastActionChangedNothing()) {
        m_changed = m_changed || !lastActionChangedNothing();
        return Done;
    }
    m_errorCode = code;
    return fail(Failed,
                QStringLiteral("%1 (error code %2)")
                    .arg(reason.isEmpty() ? QStringLiteral("the device reported a failure without saying why") : reason)
                    .arg(code));
}

QString VHDevctl::phaseName(int phase)
{
    switch (VHPhase(phase)) {
    case VHPhase::Unpack:
        return QStringLiteral("unpack");
    case VHPhase::Write:
        return QStringLiteral("write");
    case VHPhase::Verify:
        return QStringLiteral("verify");
    case VHPhase::Waiting:
        break;
    }
    return QStringLiteral("waiting for the device to restart");
}

void VHDevctl::onPhaseProgress(int phase, qint64 done, qint64 total)
{
    // The device says it restarts: one line, never a percentage.
    if (VHPhase(phase) == VHPhase::Waiting) {
        sayWaiting();
        return;
    }
    const QString name = phaseName(phase);
    if (name != m_phase || total != m_phaseBytes)
        beginPhase(name, total);
    showBytes(done, total);
}

void VHDevctl::sayWaiting()
{
    // Once per wait, whether the device or the wait for its return says it first.
    if (m_waitingSaid)
        return;
    m_waitingSaid = true;
    beginPhase(phaseName(int(VHPhase::Waiting)), -1);
    printErr(phaseName(int(VHPhase::Waiting)));
}

void VHDevctl::beginPhase(const QString &phase, qint64 totalBytes)
{
    // A terminal's line of the phase before stays as it ended.
    if (m_terminal && m_shownPercent >= 0)
        std::fputs("\n", stderr);
    m_shownPercent = -1;
    m_phase = phase;
    m_phaseBytes = totalBytes;
    m_phaseDone = 0;
    m_progressShown = true;
}

QString VHDevctl::progressLine(int percent) const
{
    QString line = QStringLiteral("%1 %2%").arg(m_phase).arg(percent);
    if (m_phaseBytes > 0)
        line += QStringLiteral(" (%1 of %2)").arg(sizeText(m_phaseDone), sizeText(m_phaseBytes));
    return line;
}

void VHDevctl::showBytes(qint64 done, qint64 total)
{
    m_phaseDone = qBound<qint64>(0, done, qMax<qint64>(total, 0));
    // An empty phase is done as soon as it starts.
    showProgress(total > 0 ? int(m_phaseDone * 100 / total) : 100, false);
}

void VHDevctl::showProgress(int percent, bool final)
{
    if (final) {
        // A phase cut off by a failure ends its terminal line where it stood.
        if (m_terminal && m_shownPercent >= 0)
            std::fputs("\n", stderr);
        m_shownPercent = -1;
        return;
    }
    if (percent < 0 || percent == m_shownPercent)
        return;
    percent = qBound(0, percent, 100);
    if (m_terminal) {
        const int filled = percent * 30 / 100;
        const QByteArray bar = QByteArray(filled, '#') + QByteArray(30 - filled, '-');
        std::fprintf(stderr, "\r\033[K[%s] %s", bar.constData(), qPrintable(progressLine(percent)));
    } else if (m_shownPercent < 0 || percent / 10 != m_shownPercent / 10 || percent == 100) {
        // Plain output: a line per tenth, and the phase's end at 100%.
        std::fprintf(stderr, "%s\n", qPrintable(progressLine(percent)));
    }
    std::fflush(stderr);
    m_shownPercent = percent;
    m_progressShown = true;
}

void VHDevctl::onDownloadProgress(qint64 received, qint64 total)
{
    if (m_phase != QLatin1String("download") || (total > 0 && total != m_phaseBytes))
        beginPhase(QStringLiteral("download"), total);
    if (total > 0)
        showBytes(received, total);
}

void VHDevctl::installStopSignals()
{
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_stopNotifier = std::make_unique<QSocketNotifier>(g_stopPipe[0], QSocketNotifier::Read);
    connect(m_stopNotifier.get(), &QSocketNotifier::activated, this, &VHDevctl::onStopSignal);
    struct sigaction action
    {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void VHDevctl::onStopSignal()
{
    char bytes[16];
    while (::read(g_stopPipe[0], bytes, sizeof bytes) > 0) {}
    if (m_actionRunning && !m_stopRequested)
        printErr(QStringLiteral("\nvelora-devctl: stopping: waiting for the running action to end (cutting it off "
                                "could leave the device unusable)"));
    m_stopRequested = true;
}

// ---- output ------------------------------------------------------------------------------

void VHDevctl::say(const QString &line)
{
    if (!m_json)
        std::fprintf(stdout, "%s\n", qPrintable(line));
}

int VHDevctl::fail(int code, const QString &message)
{
    printErr(QStringLiteral("velora-devctl: ") + message);
    if (!m_result.contains(QStringLiteral("error")))
        m_result.insert(QStringLiteral("error"), message);
    if (m_errorText.isEmpty())
        m_errorText = message;
    return code;
}

void VHDevctl::finishResult(int code)
{
    const bool ok = code == Done || code == NothingToDo;
    if (code == Done)
        m_errorText.clear();
    if (code == Done && m_progressShown && !m_terminal)
        printErr(QStringLiteral("100%"));
    m_result.insert(QStringLiteral("command"), m_command);
    m_result.insert(QStringLiteral("exitCode"), code);
    m_result.insert(QStringLiteral("ok"), ok);
    m_result.insert(QStringLiteral("changed"), m_changed);
    // A failure always carries a code: the device's when it gave one, the exit code otherwise.
    m_result.insert(QStringLiteral("errorCode"), ok ? 0 : m_errorCode != 0 ? m_errorCode : code);
    m_result.insert(QStringLiteral("errorText"), m_errorText);
    // The program logs to its own file in the data folder, not the updater's.
    const QString log = VHEnv::instance()->isInitialised()
                            ? VHEnv::instance()->dataFolder() + QLatin1Char('/') + QLatin1String(kLogFileName)
                            : QString();
    if (!ok && !log.isEmpty()) {
        m_result.insert(QStringLiteral("log"), log);
        printErr(QStringLiteral("velora-devctl: see the log: ") + log);
    }
}

// ---- before and after a write -----------------------------------------------------------

QString VHDevctl::softwareVersionOf(VHClient *client) { return VHClientPackageCheck::softwareVersionOf(client); }

int VHDevctl::checkPackage(const QString &package)
{
    return checkBeforeWriting(package, VHClientPackageCheck::targetOf(device()), VHPackageIdentity::read(package));
}

int VHDevctl::checkSignature(const QString &package)
{
    QString comment;
    const VHResult signature = VHClientPackageCheck::signatureRefusal(package, &comment);
    if (signature) {
        if (!comment.isEmpty())
            m_result.insert(QStringLiteral("trustedComment"), comment);
        return Done;
    }
    if (!m_allowUnsigned) {
        m_errorCode = VHMinisign::kNotAuthentic;
        return fail(Failed, signature.reason);
    }
    const QString warning = QStringLiteral("written without a valid signature (--allow-unsigned): ") + signature.reason;
    printErr(QStringLiteral("velora-devctl: warning: ") + warning);
    vhWarning() << warning << package;
    return Done;
}

int VHDevctl::checkBeforeWriting(const QString &package, const VHDevctlChecks::Device &target,
                                 const VHPackageIdentity &identity)
{
    if (const int signature = checkSignature(package); signature != Done)
        return signature;
    const VHDevctlChecks::Verdict verdict = VHDevctlChecks::comparePackage(target, identity, m_force);
    m_result.insert(QStringLiteral("versionPackage"),
                    identity.version.isEmpty() ? QJsonValue() : QJsonValue(identity.version));
    if (!verdict.allowed)
        return fail(Failed, verdict.reason);
    if (verdict.forced)
        printErr(QStringLiteral("velora-devctl: forced: ") + verdict.reason);
    const bool terminal = ::isatty(STDIN_FILENO) == 1 && m_terminal;
    if (!VHDevctlChecks::asksBeforeWriting(terminal, terminal, m_yes))
        return Done;
    return userAgrees(package, identity.version) ? Done
                                                 : fail(Failed, QStringLiteral("not written: the answer was not yes"));
}

bool VHDevctl::userAgrees(const QString &package, const QString &version)
{
    QString model, uuid;
    device()->getModelName(model);
    device()->getUUID(uuid);
    std::fputs(qPrintable(VHDevctlChecks::question(QFileInfo(package).fileName(), version, model, uuid)), stderr);
    std::fflush(stderr);
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin))
        return false;
    return VHDevctlChecks::isYes(QString::fromLocal8Bit(line));
}

int VHDevctl::finishWrite(int code, const QString &doneText)
{
    if (code != Done)
        return code;
    if (lastActionChangedNothing()) {
        const QString reason = device()->errorText();
        return upToDate(reason.isEmpty() ? QStringLiteral("the device already runs the package's software") : reason);
    }
    say(doneText);
    return Done;
}

bool VHDevctl::lastActionChangedNothing() const
{
    VHClient *client = device();
    int code = 0;
    if (!client)
        return false;
    // A GAL device that already runs the package answers with its own code rather than an unchanged success.
    if (client->actionFailed(code))
        return qobject_cast<VHGalDevice *>(client) && code == VHGalDevice::NothingToDo;
    return !client->actionChanged();
}

int VHDevctl::upToDate(QString why)
{
    // The families' own reasons already begin with the words.
    const QString lead = QStringLiteral("already up to date: ");
    if (why.startsWith(lead))
        why = why.mid(lead.size());
    say(QStringLiteral("already up to date"));
    printErr(QStringLiteral("velora-devctl: already up to date, nothing to do: ") + why);
    m_errorText = QStringLiteral("already up to date: ") + why;
    // Reads before the action (a store read ahead of its write-back) wrote nothing either.
    m_changed = false;
    return NothingToDo;
}

VHClient *VHDevctl::putDevice(VHClient *client)
{
    m_result.insert(QStringLiteral("device"), VHDevctlDevice::ofClient(*client).toJson());
    return client;
}

// ---- the commands --------------------------------------------------------------------------

int VHDevctl::runList()
{
    const auto backend = VHPlatform::createDefaultBackend();
    const QList<VHDevctlDevice> devices = VHDevctlInventory::scan(*backend, knownRows());
    QJsonArray listed;
    for (const VHDevctlDevice &device : devices) {
        listed.append(device.toJson());
        say(device.describe());
    }
    m_result.insert(QStringLiteral("devices"), listed);
    return devices.isEmpty() ? fail(NoDevice, QStringLiteral("no device connected")) : Done;
}

int VHDevctl::runInfo()
{
    const VHDevctlDevice shown = VHDevctlDevice::ofClient(*device());
    m_result.insert(QStringLiteral("device"), shown.toJson());
    say(QStringLiteral("model:     ") + shown.model);
    say(QStringLiteral("family:    ") + (shown.family.isEmpty() ? QStringLiteral("(unknown)") : shown.family));
    say(QStringLiteral("uuid:      ") + shown.uuid);
    say(QStringLiteral("version:   ") + shown.version);
    for (auto it = shown.versions.cbegin(); it != shown.versions.cend(); ++it)
        say(QStringLiteral("  %1 %2").arg(it.key() + QLatin1Char(':'), -16).arg(it.value()));
    say(QStringLiteral("transport: ") + shown.transport);
    if (!shown.node.isEmpty())
        say((shown.transport == QLatin1String("volume") ? QStringLiteral("volume:    ") : QStringLiteral("node:      "))
            + shown.node);
    say(QStringLiteral("state:     ") + shown.state);
    VHHistoryEntry last;
    if (VHHistory::ofDataFolder().lastFor(shown.uuid, last)) {
        m_result.insert(QStringLiteral("lastAction"), last.toJson());
        say(QStringLiteral("last:      %1 %2 on %3")
                .arg(last.action, last.ok ? QStringLiteral("succeeded") : QStringLiteral("failed"),
                     last.time.toString(Qt::ISODate)));
        if (!last.trustedComment.isEmpty())
            say(QStringLiteral("signed:    ") + last.trustedComment);
    }
    return Done;
}

int VHDevctl::runCheck()
{
    putDevice(device());
    if (const int code = queryServer(); code != Done)
        return code;
    const QString current = versionOf(device());
    const QString offered = updatesFolder().version();
    const bool newer = !offered.isNull() && VHUpdateDecision::offersUpdate(current, offered);
    m_result.insert(QStringLiteral("current"), textOrNull(current));
    m_result.insert(QStringLiteral("offered"), textOrNull(offered));
    m_result.insert(QStringLiteral("updateAvailable"), newer);
    say(QStringLiteral("current version: ") + current);
    say(QStringLiteral("offered version: ") + (offered.isNull() ? QStringLiteral("(none)") : offered));
    say(newer ? QStringLiteral("an update is available") : QStringLiteral("the device is up to date"));
    return newer ? Done : NothingToDo;
}

int VHDevctl::runUpdate()
{
    VHClient *client = putDevice(device());
    QString package = m_arguments.value(0);
    const QString language = m_arguments.value(1);
    // A LANG given blank names no language; it is not "keep the device's".
    if (m_arguments.size() > 1 && language.trimmed().isEmpty())
        return fail(BadUsage, QStringLiteral("LANG names no language"));
    // The flash-language families take several, in their order: "deu,eng".
    if (!language.isEmpty() && !VHUtility::isLanguageCode(language)
        && VHLanguageUpdate::namedLanguages(language).isEmpty())
        return fail(BadUsage, QStringLiteral("LANG is a three-letter language code such as \"deu\", or several "
                                             "joined by commas (\"deu,eng\"), not \"%1\"")
                                  .arg(language));
    if (package.isEmpty()) {
        if (const int code = queryServer(); code != Done)
            return code;
        const QString offered = updatesFolder().version();
        if (offered.isNull())
            return upToDate(QStringLiteral("the update server offers no package for this model"));
        if (!VHUpdateDecision::offersUpdate(versionOf(client), offered))
            return upToDate(
                QStringLiteral("the device runs %1, the update server offers %2").arg(versionOf(client), offered));
        package = updatesFolder().file(VHUpdatesFolder::kPackage);
    } else if (!QFileInfo(package).isFile()) {
        return fail(BadUsage, QStringLiteral("no such package file: ") + package);
    }
    package = QFileInfo(package).absoluteFilePath();
    m_result.insert(QStringLiteral("package"), package);
    m_result.insert(QStringLiteral("versionBefore"), textOrNull(versionOf(client)));
    if (const int code = checkPackage(package); code != Done)
        return code;
    say(QStringLiteral("updating %1 with %2").arg(versionOf(client), package));
    const int code = runAction(VHClient::ActionUpdateTotal, [&] { return client->updateTotal(package, language); });
    m_result.insert(QStringLiteral("versionAfter"), textOrNull(versionOf(device())));
    return finishWrite(code, QStringLiteral("update written; the device installs it when it restarts"));
}

int VHDevctl::runRestore()
{
    VHClient *client = putDevice(device());
    const QString folder = QFileInfo(m_arguments.value(0)).absoluteFilePath();
    if (!QFileInfo(folder).isDir())
        return fail(BadUsage, QStringLiteral("no such folder: ") + folder);
    if (const int checked = checkPackage(folder); checked != Done)
        return checked;
    int code = runAction(VHClient::ActionRestoreFactory, [&] { return client->restoreFactory(folder); });
    // A first pass may leave the device asked to format itself at its next
    // start; the restore is done only when the second pass has run on it.
    if (code == Done && device() == client && VHRestorePasses::awaitsSecondPass(*client)) {
        say(QStringLiteral("the device formats itself when it restarts: unplug it and plug it in again"));
        if (code = waitForReturn(client); code != Done)
            return code;
        client = putDevice(device());
        code = runAction(VHClient::ActionRestoreFactory,
                         [&] { return VHRestorePasses::startSecondPass(*client, folder); });
        if (const VHResult outcome = VHRestorePasses::secondPassOutcome(*client); code == Done && !outcome)
            return fail(Failed, outcome.reason);
    }
    return finishWrite(code, QStringLiteral("factory restore done"));
}

int VHDevctl::waitForReturn(VHClient *before)
{
    VHDeviceManager *manager = VHDaemon::instance()->deviceManager();
    sayWaiting();
    // The manager keeps the object that left until another replaces it, so a new one is a new address.
    const bool back = waitUntil(
        [&] {
            VHClient *current = manager->currentDevice();
            return current && current != before;
        },
        m_timeoutMs);
    if (!back)
        return fail(Failed, (m_stopRequested
                                 ? QStringLiteral("interrupted")
                                 : QStringLiteral("the device did not come back within %1 s").arg(m_timeoutMs / 1000))
                                + QStringLiteral("; the restore goes on when it runs again on the restarted device"));
    showProgress(100, false);
    showProgress(-1, true);
    m_phase.clear();
    m_waitingSaid = false;
    g_device = manager->currentDevice();
    return Done;
}

int VHDevctl::runGps()
{
    VHClient *client = putDevice(device());
    const VHUpdatesFolder folder = updatesFolder();
    if (!folder.isValid())
        return fail(Failed, QStringLiteral("the model name can not name a folder"));
    qint32 expiry = folder.alpExpiry();
    if (VHUpdateDecision::alpNeedsDownload(expiry)) {
        m_assistClient = std::make_unique<ReduzeduClient>(this);
        m_assistDone = false;
        m_assistClient->download(folder.path(), VHUpdatesFolder::kAlpData, VHUpdateDecision::kAlpDays);
        if (!waitUntil([this] { return m_assistDone; }, m_timeoutMs) || !m_assistOk)
            printErr(QStringLiteral("velora-devctl: the GPS assist data could not be fetched"));
        expiry = folder.alpExpiry();
    }
    m_result.insert(QStringLiteral("expiry"), dateOrNull(expiry));
    m_result.insert(QStringLiteral("deviceDate"), dateOrNull(client->getAlpDate()));
    if (expiry == 0)
        return fail(Failed, QStringLiteral("no GPS assist data to write"));
    if (client->getAlpDate() >= expiry) {
        say(QStringLiteral("GPS data on device is up-to-date"));
        return upToDate(QStringLiteral("the device's GPS assist data are as new as the ones at hand"));
    }
    const int code =
        runAction(VHClient::ActionUpdateAlp, [&] { return client->updateAlp(VHUpdatesFolder::kAlpData, expiry); });
    return finishWrite(code, QStringLiteral("GPS assist data written"));
}

int VHDevctl::runWorkouts()
{
    VHClient *client = putDevice(device());
    QString package = m_arguments.value(0);
    if (package.isEmpty()) {
        package = updatesFolder().file(VHUpdatesFolder::kPackage);
        if (!updatesFolder().isValid())
            return fail(Failed, QStringLiteral("the model name can not name a folder"));
        if (!QFileInfo(package).isFile()) {
            if (const int code = queryServer(); code != Done)
                return code;
        }
    }
    if (!QFileInfo(package).isFile())
        return fail(m_arguments.isEmpty() ? Failed : BadUsage, QStringLiteral("no such package file: ") + package);
    package = QFileInfo(package).absoluteFilePath();
    m_result.insert(QStringLiteral("package"), package);
    // Its workouts are written to the device: the package must be authentic like an update.
    if (const int code = checkSignature(package); code != Done)
        return code;
    // The silent check first, as the updater does: only a package with workouts for this device is installed.
    const bool checked =
        runAction(VHClient::ActionUpdateComponent,
                  [&] { return client->updateComponent(package, QString(), QString(), QStringLiteral("0")); })
        == Done;
    if (!checked) {
        m_result.remove(QStringLiteral("error"));
        m_errorText.clear();
        m_errorCode = 0;
        say(QStringLiteral("the package holds no workouts for this device"));
        return fail(NothingToDo, QStringLiteral("no workouts to install"));
    }
    const int code = runAction(VHClient::ActionUpdateComponent, [&] {
        return client->updateComponent(package, QString(), QString(), QStringLiteral("1"));
    });
    return finishWrite(code, QStringLiteral("workouts installed"));
}

QString VHDevctl::historyLine(const VHHistoryEntry &entry)
{
    const auto known = [](const QString &version) { return version.isEmpty() ? QStringLiteral("?") : version; };
    QString line = QStringLiteral("%1  %2  %3 %4  %5 -> %6")
                       .arg(entry.time.toString(Qt::ISODate), entry.action, entry.model, entry.uuid,
                            known(entry.versionBefore), known(entry.versionAfter));
    if (!entry.versionPackage.isEmpty())
        line += QStringLiteral(" (package %1)").arg(entry.versionPackage);
    line += entry.ok ? QStringLiteral("  ok") : QStringLiteral("  failed (%1)").arg(entry.errorCode);
    if (!entry.reason.isEmpty())
        line += QStringLiteral(": ") + entry.reason;
    line += QStringLiteral("  %1 ms").arg(entry.durationMs);
    if (!entry.packageMd5.isEmpty())
        line += QStringLiteral("  md5 ") + entry.packageMd5;
    return line;
}

int VHDevctl::runHistory()
{
    QJsonArray listed;
    const QList<VHHistoryEntry> entries = VHHistory::ofDataFolder().entries();
    for (const VHHistoryEntry &entry : entries) {
        if (!m_deviceUuid.isEmpty() && entry.uuid != m_deviceUuid)
            continue;
        listed.append(entry.toJson());
        say(historyLine(entry));
    }
    m_result.insert(QStringLiteral("entries"), listed);
    if (listed.isEmpty())
        say(QStringLiteral("no actions recorded"));
    return Done;
}

int VHDevctl::runRecover()
{
    const QString package = QFileInfo(m_arguments.value(0)).absoluteFilePath();
    const bool restoring = QFileInfo(package).isDir();
    if (!QFileInfo(package).isFile() && !restoring)
        return fail(BadUsage, QStringLiteral("no such package file or restore folder: ") + package);
    const QString language = m_arguments.value(1);
    if (!language.isEmpty() && (restoring || !VHUtility::isLanguageCode(language)))
        return fail(BadUsage,
                    QStringLiteral("LANG is a three-letter language code such as \"deu\", not \"%1\"").arg(language));
    const VHDeviceFactory factory = VHDeviceRegistry::instance().factory(VHDeviceRegistry::kGalRole);
    if (!factory)
        return fail(Failed, QStringLiteral("this build has no device class for devices in IAP mode"));
    VHDevctlDevice stranded;
    if (const int code = chooseDevice(stranded); code != Done)
        return code;
    const VHGalStranded::Device found{stranded.uuid, stranded.identification, stranded.model};
    const VHModelInfo row = VHGalStranded::rowFor(found, VHGalStranded::modelFor(found, m_modelOverride));
    if (!row.factory)
        return fail(Failed,
                    QStringLiteral("the device in IAP mode does not say what it is; name its model with --model"));
    // At the front, so the SCSI scan finds the device in IAP mode first.
    VHDaemon::instance()->deviceManager()->registerModel(row, true);
    if (const int code = startRuntime(stranded); code != Done)
        return code;
    VHClient *client = putDevice(device());
    if (client->serviceType() != 1)
        return fail(Failed, QStringLiteral("the device is no longer in IAP mode"));
    m_result.insert(QStringLiteral("package"), package);
    QString uuid;
    client->getUUID(uuid);
    const VHGalRecovery::Source source = VHGalRecovery::chooseSource(uuid, package);
    if (source.refusal == VHGalRecovery::Source::Refusal::RestoreGone)
        return fail(Failed, QStringLiteral("the folder the device was being restored from is gone: ") + source.path);
    if (!source)
        return fail(Failed, QStringLiteral("no such package file or restore folder: ") + package);
    m_result.insert(QStringLiteral("source"), source.path);
    if (source.resumesRestore)
        sayRestoreResumed(source.path, language);
    if (const int code = checkPackage(source.path); code != Done)
        return code;
    return QFileInfo(source.path).isDir() ? recoverRestore(client, source.path)
                                          : recoverUpdate(client, source.path, language);
}

void VHDevctl::sayRestoreResumed(const QString &folder, const QString &language)
{
    // Whatever was given, the device waits for the rest of the restore it began.
    say(QStringLiteral("the device was left in a factory restore: the restore goes on from ") + folder);
    if (!language.isEmpty())
        printErr(
            QStringLiteral("velora-devctl: LANG %1 is not used: a factory restore takes no language").arg(language));
}

int VHDevctl::recoverUpdate(VHClient *client, const QString &package, const QString &language)
{
    // What the first pass chose is used unless LANG says otherwise; either way it is said.
    QString uuid;
    client->getUUID(uuid);
    const VHGalRecovery::Plan plan = VHGalRecovery::plan(uuid, package, language);
    m_result.insert(QStringLiteral("language"), plan.language);
    m_result.insert(QStringLiteral("languageSource"), VHGalRecovery::sourceName(plan.languageSource));
    m_result.insert(QStringLiteral("profileCarried"), plan.profileCarried);
    switch (plan.languageSource) {
    case VHGalRecovery::LanguageSource::Given:
        say(QStringLiteral("language: %1 (given)").arg(plan.language));
        break;
    case VHGalRecovery::LanguageSource::Remembered:
        say(QStringLiteral("language: %1 (remembered from the first pass)").arg(plan.language));
        break;
    case VHGalRecovery::LanguageSource::Default:
        printErr(QStringLiteral("velora-devctl: no language remembered for this device; the image gets English "
                                "(eng); give LANG to choose another"));
        break;
    }
    if (plan.profileCarried)
        say(QStringLiteral("the profile carried by the first pass goes into the image"));
    return runRecovery(client, plan, QStringLiteral("the device was flashed; it restarts with the package's software"));
}

int VHDevctl::recoverRestore(VHClient *client, const QString &folder)
{
    // The second pass of a factory restore, from the folder given.
    const VHGalRecovery::Plan plan = VHGalRecovery::plan(QString(), folder, QString());
    return runRecovery(client, plan, QStringLiteral("factory restore done; the device restarts"));
}

int VHDevctl::runRecovery(VHClient *client, const VHGalRecovery::Plan &plan, const QString &doneText)
{
    if (VHResult entered = VHGalRecovery::enterPass(*client, plan); !entered)
        return fail(Failed, entered.reason);
    const int code = runAction(VHGalRecovery::action(plan), [&] { return VHGalRecovery::runPass(*client, plan); });
    if (code == Done)
        say(doneText);
    return code;
}

// ---- the flash-store watches -------------------------------------------------------

VHPSFDevice *VHDevctl::flashStoreDevice()
{
    VHPSFDevice *psf = qobject_cast<VHPSFDevice *>(device());
    // For the tests only: the simulated flash is ready at once, so its ready
    // poll need not wait the real device's seconds between questions.
    bool ok = false;
    const int waitMs = qEnvironmentVariableIntValue("VELORA_DEVCTL_FLASH_POLL_MS", &ok);
    if (psf && ok && waitMs >= 0)
        psf->setWait([waitMs](int) { QThread::msleep(waitMs); });
    return psf;
}

int VHDevctl::runFinalize()
{
    putDevice(device());
    VHPSFDevice *psf = flashStoreDevice();
    if (!psf && pacer30Device())
        return runPacer30Finalize(pacer30Device());
    if (!psf)
        return fail(NothingToDo, QStringLiteral("the device keeps no flash store"));
    const int code = runAction(VHClient::ActionFinalize, [&] { return psf->finalize(); });
    if (code == Done && lastActionChangedNothing())
        return upToDate(device()->errorText());
    if (code == Done) {
        m_result.insert(QStringLiteral("backup"), psf->latestBackup());
        say(QStringLiteral("store written back; backup ") + psf->latestBackup());
    }
    return withRestoreHint(psf, code);
}

int VHDevctl::withRestoreHint(VHScsiFlashClient *flash, int code)
{
    // A write-back that failed may have left the flash erased: name the way back.
    if (code != Failed || !flash)
        return code;
    const QString latest = flash->latestBackup();
    if (!latest.isEmpty())
        m_result.insert(QStringLiteral("restore"), latest);
    printErr(QStringLiteral("velora-devctl: ") + flash->restoreHint());
    return code;
}

int VHDevctl::runLanguages()
{
    putDevice(device());
    VHClient *psf = flashStoreDevice();
    if (!psf)
        psf = pacer30Device();
    if (!psf)
        return fail(NothingToDo, QStringLiteral("the device keeps no flash store"));
    QStringList codes;
    if (!psf->getLanguageOnDevice(codes))
        return fail(Failed, QStringLiteral("the language area can not be read or holds no directory"));
    m_result.insert(QStringLiteral("languages"), QJsonArray::fromStringList(codes));
    say(codes.join(QLatin1Char(' ')));
    return Done;
}

int VHDevctl::runBackup()
{
    putDevice(device());
    VHScsiFlashClient *flash = flashStoreDevice();
    if (!flash)
        flash = pacer30Device();
    if (!flash)
        return fail(NothingToDo, QStringLiteral("the device keeps no flash store"));
    if (m_restoreFlag)
        return restoreBackup(flash);
    if (m_arguments.isEmpty())
        return listBackups(flash);
    const QString path = QFileInfo(m_arguments.value(0)).absoluteFilePath();
    if (!flash->backupExtFlash(path))
        return fail(Failed, QStringLiteral("the external flash could not be copied to ") + path);
    m_result.insert(QStringLiteral("backup"), path);
    say(QStringLiteral("external flash copied to ") + path);
    return Done;
}

int VHDevctl::listBackups(VHScsiFlashClient *flash)
{
    // The device's own backups only (its UUID is in their names), oldest first.
    QStringList listed;
    for (const VHScsiFlashClient::BackupEntry &entry : flash->ownBackupEntries()) {
        listed.append(entry.path);
        say(QStringLiteral("%1  %2 bytes  %3").arg(entry.path).arg(entry.size).arg(entry.taken.toString(Qt::ISODate)));
    }
    m_result.insert(QStringLiteral("backups"), QJsonArray::fromStringList(listed));
    if (listed.isEmpty())
        say(QStringLiteral("no backups of this device"));
    return Done;
}

int VHDevctl::restoreBackup(VHScsiFlashClient *flash)
{
    const QFileInfo file(m_arguments.value(0));
    if (!file.isFile())
        return fail(BadUsage, QStringLiteral("no such backup file: ") + file.filePath());
    if (!flash->isOwnBackup(file.fileName()))
        return fail(BadUsage, QStringLiteral("not a backup of this device (its name must match %1): %2")
                                  .arg(flash->ownBackupPattern(), file.filePath()));
    if (file.size() != flash->externalFlashSize())
        return fail(BadUsage, QStringLiteral("%1 holds %2 bytes, not one whole external flash (%3)")
                                  .arg(file.filePath())
                                  .arg(file.size())
                                  .arg(flash->externalFlashSize()));
    const QString path = file.absoluteFilePath();
    m_result.insert(QStringLiteral("backup"), path);
    const int code = runAction(VHClient::ActionRestoreFactory, [&] { return flash->restoreBackup(path); });
    if (code == Done)
        say(QStringLiteral("backup written back to the device: ") + path);
    return withRestoreHint(flash, code);
}
