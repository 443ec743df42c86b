// velora-devsim: makes and drives simulated devices for the updater's
// simulated platform (VELORA_SIM_ROOT).

#include "VHDevSim.h"
#include "VHDevSimWatch.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QTextStream>
#include <QTimer>

namespace {

const char *const kDescription = R"(Simulated devices for VeloraUpdate.

Run the updater with VELORA_SIM_ROOT set to the same folder as --root (or set
VELORA_SIM_ROOT for both). Folders directly below the root are the removable
drives the updater sees; plugged SCSI devices are links in <root>/.scsi; each
device keeps its own files in <root>/.devices/<NAME>.

Commands:
  create fit|gal|fs|scsi|pacer40 NAME  make a device and plug it (--unplugged: don't)
  create pacer50|pacer50cr|pacer60 NAME   a Pacer50-family device (see below)
  create pacer30|pacer35|pulsar30|pulsar35|pacer20 NAME   a 1 MiB-family device
  plug NAME / unplug NAME      connect or disconnect a device
  boot NAME                    start the firmware of an unplugged device
  restart NAME                 unplug, wait --pause ms (default 1500), boot, plug
  watch                        run until stopped, playing the starts devices make
                               by themselves after --pause ms (see below)
  remove NAME                  unplug and delete a device
  list                         devices, kinds and whether they are plugged
  log NAME [--clear]           the SCSI command log of a device
  fault NAME [rules] [--clear] set fault rules of a device (kept with the ones
                               set before; --clear drops them first) and print
                               them; SCSI rules need a SCSI or GAL device; see
                               Faults below
  datafault [rules] [--clear]  the same for the updater's data folder
  make-image KIND VERSION FILE an image file the firmware installs (--payload-size)
  flash NAME internal|external|loader FILE   save a flash's content to FILE

Devices:
  fit   a volume with "/System/device.txt": groups UUID, MODEL (Model), OS,
        BootLoader, DeviceLang, NotificationLang, TimeZone, Bluetooth (Version),
        CAP (COM) and Product (Type)
  gal   a volume with "/device.ini" (UUID, MODEL, OS, VH, BootLoader, IMG
        UpdateMethod/LangVersion, CAP, LaunchSec, IAP NAME), the profile
        ("ProfileMap.txt", "Profile.bin" with Sys-langCode from --lang, default
        eng) and "/Lang" with "Font_<code>_01.bft" for that language and eng
        (a version word, then the code at bytes 4-6); and an IAP form: a SCSI
        device with the same UUID whose identification is the IAP name
  fs    a file-system family volume with "/device.ini"; --secondary adds a
        second volume NAME_2 without identity file (same vendor)
  pacer50, pacer50cr, pacer60
        a Pacer50-family volume: "/device.ini" with the UUID of its row (0901,
        1104; 3001 registers a Pacer60), OS and LaunchSec versions, and the
        "nimbra" tree (application settings, "nimbra/version.ini" with
        --ap-version, cycling/data with version.ini and the database files, or
        route.sql with --gh2); --secondary adds NAME_2 with "data",
        --map-volume adds NAME_3 labelled "pacer60map" with data/mapengine and
        data/mapsinfo/temp.xml
  scsi  a device without volume; --identification is the text the model table
        matches in its INQUIRY answer
  pacer40  a SCSI device "LINDEN" (product tag V012): 2 MiB external flash
        with a valid store (--layout A or B), 1 MiB internal flash whose
        language area holds a base image and the languages eng and deu
  pacer30, pacer35, pulsar30, pulsar35, pacer20
        a SCSI device with its row's identification (ASPENS, MAPLE, WILLOW,
        SYCAMORE; product tag V008): 1 MiB external flash with a store and the
        model's profile block (its set-up byte clear with --uninitialised), an
        internal flash whose 0x79000-byte language area holds eng and deu;
        after a loader or normal mode command (01h/00h) it does not answer for
        --reboot-commands N commands. At a start a program image at the start
        of the internal flash gives the product tag, one at the start of the
        loader flash the IAP tag

Image files: the first line is "VELORA-SIM-IMAGE Kind=<group> Version=<v>",
then the payload. At a firmware start the versions of recognised images go into
the device's identity file under the group named by Kind:
  fit   with "/update.ini": every image in the volume root is installed and
        removed, then "/update.ini" is removed
  gal   UpdateMethod 1, with "/update.ini": "/IMG.bin" and "/iap.bin" are
        installed; they, "/update.ini" and "/syncprofile.ini" are removed.
        UpdateMethod 2, with "/update.ini": the device starts in IAP mode (no
        volume, SCSI only). After the IAP notification command, its next start
        installs every image header found at a 4096-byte sector start of the
        external flash and brings the volume back
  fs    with "/Update.ini": the image named by [Total] Name ("/My Disk/...") is
        installed; "/Update.ini" and the image folder are removed
  pacer50 family: "/format.ini" empties the volume but for "/device.ini";
        "/Update.ini" installs as fs only when its CRC= file is there, and is
        removed either way; "/updating@@!.ini" stays

Starts by themselves (watch):
  gal   a volume the updater ejected with the port powered (the eject that
        keeps power for a device expected to restart) and "/update.ini" on it
        starts as above and is plugged again; an eject that cuts the power or
        leaves no "/update.ini" keeps it away until "plug"
  gal   a plugged device in IAP mode that received the IAP notification
        restarts and comes back as a volume

Faults (the [Faults] group of <device>/sim.ini; a connected device reads them
again when they change and counts commands from then):
  --vanish-after N             after N commands the device is pulled (its link
                               goes, later commands fail); the rule goes with it
  --fail-command N --fail-selector S
                               the N-th READ/WRITE(10) with selector S fails
  --corrupt-reads K --corrupt-selector S
                               the first K reads with selector S come back with
                               the middle byte inverted
  --flash-never-ready          the flash status (15h) always answers busy
  --erase-keeps-data           erases (18h, 0Eh) succeed and change nothing
Selectors are decimal or 0x hexadecimal. A command a fault touched ends with
" fault=fail|corrupt|busy|erase-kept" in the log; a vanish adds the line
"VANISHED after N commands".
File operations on the volumes of a device (any kind with a device folder):
  --volume-fail-write N        the N-th write fails (EIO)
  --volume-fail-fsync N        the N-th fsync, fdatasync or syncfs fails (EIO)
  --volume-fail-rename N       the N-th rename fails (EIO)
  --volume-no-space-from N     every write from the N-th on fails (ENOSPC)
  --volume-vanish-at N         the N-th operation of any kind pulls the device
                               (as unplug) and fails (ENODEV), as do later ones
                               on that plugging; the rule goes with it
  --volume-corrupt-read N      the N-th read that gives bytes comes back with its
                               middle byte inverted
Each counted operation is logged as "<kind> <path>" (kind write, fsync, rename,
read, or op for the creation of a file) in <device>/volume.log; counting starts
with the updater's run and again whenever sim.ini changes, so a rule fires once.
Data folder ($XDG_DATA_HOME/VeloraHub), rules in <root>/.datafolder.ini, log in
<root>/.datafolder.log, the same meanings:
  datafault --fail-write N --fail-fsync N --fail-rename N --no-space-from N
            --corrupt-read N
External flash writes keep the bits a cell already had cleared (old AND new,
as NOR flash does): only erased bytes take the written value. Internal and
loader flash have no erase command; their writes replace the bytes.

SCSI commands (10-byte blocks; byte 6 selects; block number in bytes 2-5;
transfer length x 512 = the addressing unit):
  INQUIRY        128 bytes: vendor at 8, product at 16, product tag (4 bytes)
                 at 27, "IAP " + IAP tag at 36, identification from 44
  READ  03h      UUID in the last 16 bytes of the answer
  READ  0Dh/10h  internal / external flash at block x unit
  READ  15h      flash status: byte 0 is 1 while busy (--busy-polls reads after
                 a full erase), else 0
  READ  1Ah      IAP notification (remembered for the next start)
  WRITE 18h      erase the 4096-byte external sector with that number to FFh
  WRITE 0Ch/0Fh/0Ah  internal / external / loader flash at block x unit
  WRITE 0Eh      erase the whole external flash
  WRITE 01h/00h  control: loader mode / normal mode
Anything else, a range outside the flash, or a device that is unplugged fails.
Flash files start erased (FFh). Every command is logged as
"WRITE sel=15 block=3 unit=4096 len=4096 ok" in <device>/commands.log.)";

struct Options
{
    QCommandLineParser parser;
    QCommandLineOption root{QStringLiteral("root"), QStringLiteral("Simulation root (default $VELORA_SIM_ROOT)."),
                            QStringLiteral("dir")};
    QCommandLineOption unplugged{QStringLiteral("unplugged"), QStringLiteral("Create without plugging.")};
    QCommandLineOption pause{QStringLiteral("pause"), QStringLiteral("Restart pause in ms."), QStringLiteral("ms"),
                             QStringLiteral("1500")};
    QCommandLineOption clear{QStringLiteral("clear"),
                             QStringLiteral("log: empty the command log; fault, datafault: drop the rules first.")};
    QCommandLineOption payloadSize{QStringLiteral("payload-size"), QStringLiteral("Image payload bytes."),
                                   QStringLiteral("n"), QStringLiteral("1024")};
    QList<QCommandLineOption> values;

    Options()
    {
        parser.setApplicationDescription(QString::fromUtf8(kDescription));
        parser.addHelpOption();
        parser.addOptions({root, unplugged, pause, clear, payloadSize});
        const char *const keys[][2] = {{"uuid", "Device UUID."},
                                       {"model", "Model name."},
                                       {"os", "OS version."},
                                       {"bootloader", "Boot-loader version."},
                                       {"device-lang", "DeviceLang version (fit)."},
                                       {"notification-lang", "NotificationLang version (fit)."},
                                       {"timezone", "TimeZone version (fit)."},
                                       {"bluetooth", "Bluetooth version (fit)."},
                                       {"cap", "Capability string."},
                                       {"product", "Product type (fit), product text (scsi)."},
                                       {"vendor", "Drive or INQUIRY vendor."},
                                       {"drive-model", "Drive product text."},
                                       {"total-bytes", "Claimed volume size."},
                                       {"free-bytes", "Claimed free space."},
                                       {"update-method", "GAL update method (1 or 2)."},
                                       {"lang-version", "GAL language version."},
                                       {"iap-name", "GAL IAP name."},
                                       {"lang", "GAL profile language code (default eng; empty: none)."},
                                       {"companion", "GAL companion version."},
                                       {"launchsec", "GAL launch-security version."},
                                       {"identification", "SCSI identification text."},
                                       {"product-tag", "INQUIRY bytes 27-30."},
                                       {"iap-tag", "IAP tag after \"IAP \"."},
                                       {"internal-size", "Internal flash bytes."},
                                       {"external-size", "External flash bytes."},
                                       {"loader-size", "Loader flash bytes."},
                                       {"busy-polls", "Busy status reads after a full erase."},
                                       {"reboot-commands", "Commands unanswered after a mode change."},
                                       {"layout", "pacer40 store layout: A (dist header \"1510\") or B."},
                                       {"vanish-after", "Fault: pulled after N commands."},
                                       {"fail-command", "Fault: the N-th command of --fail-selector fails."},
                                       {"fail-selector", "Fault: the selector counted by --fail-command."},
                                       {"corrupt-reads", "Fault: the first K reads of --corrupt-selector corrupted."},
                                       {"corrupt-selector", "Fault: the selector of --corrupt-reads."},
                                       {"volume-fail-write", "Fault: the N-th volume write fails."},
                                       {"volume-fail-fsync", "Fault: the N-th volume fsync fails."},
                                       {"volume-fail-rename", "Fault: the N-th volume rename fails."},
                                       {"volume-no-space-from", "Fault: volume writes from the N-th fail, no space."},
                                       {"volume-vanish-at", "Fault: the N-th volume operation pulls the device."},
                                       {"volume-corrupt-read", "Fault: the N-th volume read corrupted."},
                                       {"fail-write", "Data fault: the N-th write fails."},
                                       {"fail-fsync", "Data fault: the N-th fsync fails."},
                                       {"fail-rename", "Data fault: the N-th rename fails."},
                                       {"no-space-from", "Data fault: writes from the N-th fail, no space."},
                                       {"corrupt-read", "Data fault: the N-th read corrupted."}};
        for (const auto &key : keys) {
            values.append(
                QCommandLineOption(QString::fromLatin1(key[0]), QString::fromLatin1(key[1]), QStringLiteral("value")));
            parser.addOption(values.last());
        }
        parser.addOption(QCommandLineOption(QStringLiteral("secondary"), QStringLiteral("Second volume (fs).")));
        parser.addOption(QCommandLineOption(QStringLiteral("uninitialised"),
                                            QStringLiteral("Profile set-up byte clear (pacer30).")));
        parser.addOption(QCommandLineOption(QStringLiteral("map-volume"), QStringLiteral("Map volume (pacer60).")));
        parser.addOption(
            QCommandLineOption(QStringLiteral("gh2"), QStringLiteral("route.sql, no databases (pacer50).")));
        parser.addOption(QCommandLineOption(QStringLiteral("ap-version"),
                                            QStringLiteral("Application version (pacer50)."), QStringLiteral("value")));
        parser.addOption(QCommandLineOption(QStringLiteral("flash-never-ready"),
                                            QStringLiteral("Fault: flash status always busy.")));
        parser.addOption(QCommandLineOption(QStringLiteral("erase-keeps-data"),
                                            QStringLiteral("Fault: erases succeed and change nothing.")));
        parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("See the command list above."));
    }

    QString value(const char *name, const QString &fallback) const
    {
        const QString key = QString::fromLatin1(name);
        return parser.isSet(key) ? parser.value(key) : fallback;
    }
    qint64 number(const char *name, qint64 fallback) const
    {
        bool ok = false;
        const qint64 parsed = value(name, QString()).toLongLong(&ok, 0);
        return ok ? parsed : fallback;
    }
};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int failWith(const QString &message)
{
    QTextStream(stderr) << "velora-devsim: " << message << '\n';
    return 1;
}

VHDevSim::DriveOptions driveOptions(const Options &o)
{
    VHDevSim::DriveOptions drive;
    drive.vendor = o.value("vendor", drive.vendor);
    drive.model = o.value("drive-model", drive.model);
    drive.totalBytes = o.number("total-bytes", -1);
    drive.freeBytes = o.number("free-bytes", -1);
    drive.secondary = o.parser.isSet(QStringLiteral("secondary"));
    return drive;
}

VHDevSim::GalIdentity galIdentity(const Options &o)
{
    VHDevSim::GalIdentity id;
    id.uuid = o.value("uuid", id.uuid);
    id.model = o.value("model", id.model);
    id.os = o.value("os", id.os);
    id.companion = o.value("companion", id.companion);
    id.bootLoader = o.value("bootloader", id.bootLoader);
    id.updateMethod = int(o.number("update-method", id.updateMethod));
    id.langVersion = o.value("lang-version", id.langVersion);
    id.capability = o.value("cap", id.capability);
    id.launchSec = o.value("launchsec", id.launchSec);
    id.iapName = o.value("iap-name", id.iapName);
    id.lang = o.value("lang", id.lang);
    return id;
}

VHDevSim::ScsiIdentity scsiIdentity(const Options &o)
{
    VHDevSim::ScsiIdentity id;
    id.vendor = o.value("vendor", QString::fromLatin1(id.vendor)).toLatin1();
    id.product = o.value("product", o.value("model", QString())).toLatin1();
    id.productTag = o.value("product-tag", QString()).toLatin1();
    id.iapTag = o.value("iap-tag", QString::fromLatin1(id.iapTag)).toLatin1();
    id.identification = o.value("identification", QString()).toLatin1();
    id.uuid = o.value("uuid", QString()).toLatin1();
    id.internalSize = o.number("internal-size", id.internalSize);
    id.externalSize = o.number("external-size", id.externalSize);
    id.loaderSize = o.number("loader-size", id.loaderSize);
    id.busyPolls = int(o.number("busy-polls", 0));
    id.rebootCommands = int(o.number("reboot-commands", 0));
    return id;
}

VHSimPacer30Options pacer30Options(const Options &o, const QString &kind)
{
    static const QHash<QString, QString> models = {
        {QStringLiteral("pacer30"), QStringLiteral("Pacer30")},
        {QStringLiteral("pacer35"), QStringLiteral("Pacer35")},
        {QStringLiteral("pulsar30"), QStringLiteral("Pulsar30")},
        {QStringLiteral("pulsar35"), QStringLiteral("Pulsar35")},
        {QStringLiteral("pacer20"), QStringLiteral("Pacer20")},
    };
    VHSimPacer30Options options;
    options.model = models.value(kind);
    options.productTag = o.value("product-tag", QString::fromLatin1(options.productTag)).toLatin1();
    options.iapTag = o.value("iap-tag", QString::fromLatin1(options.iapTag)).toLatin1();
    options.uuid = o.value("uuid", QString()).toLatin1();
    options.uninitialised = o.parser.isSet(QStringLiteral("uninitialised"));
    options.rebootCommands = int(o.number("reboot-commands", 0));
    return options;
}

VHSimPacer40Options pacer40Options(const Options &o)
{
    VHSimPacer40Options options;
    options.productTag = o.value("product-tag", QString::fromLatin1(options.productTag)).toLatin1();
    options.iapTag = o.value("iap-tag", QString::fromLatin1(options.iapTag)).toLatin1();
    options.uuid = o.value("uuid", QString::fromLatin1(options.uuid)).toLatin1();
    options.layoutB = o.value("layout", QStringLiteral("A")) == QLatin1String("B");
    return options;
}

int create(VHDevSim &sim, const Options &o, const QStringList &args)
{
    if (args.size() != 3)
        return failWith(QStringLiteral("usage: create KIND NAME"));
    const QString kind = args[1], name = args[2];
    bool ok = false;
    if (kind == QLatin1String("fit")) {
        VHDevSim::FitIdentity id;
        id.uuid = o.value("uuid", id.uuid);
        id.model = o.value("model", id.model);
        id.os = o.value("os", id.os);
        id.bootLoader = o.value("bootloader", id.bootLoader);
        id.deviceLang = o.value("device-lang", id.deviceLang);
        id.notificationLang = o.value("notification-lang", id.notificationLang);
        id.timeZone = o.value("timezone", id.timeZone);
        id.bluetooth = o.value("bluetooth", id.bluetooth);
        id.capability = o.value("cap", id.capability);
        id.productType = o.value("product", id.productType);
        ok = sim.createFit(name, id, driveOptions(o));
    } else if (kind == QLatin1String("gal")) {
        ok = sim.createGal(name, galIdentity(o), driveOptions(o), scsiIdentity(o));
    } else if (kind == QLatin1String("fs")) {
        ok = sim.createFileSystem(name, galIdentity(o), driveOptions(o));
    } else if (kind == QLatin1String("scsi")) {
        ok = sim.createScsi(name, scsiIdentity(o));
    } else if (kind == QLatin1String("pacer40")) {
        ok = sim.createPacer40(name, pacer40Options(o));
    } else if (!pacer30Options(o, kind).model.isEmpty()) {
        ok = sim.createPacer30(name, pacer30Options(o, kind));
    } else if (kind.startsWith(QLatin1String("pacer"))) {
        VHSimPacer50Options options;
        options.kind = kind;
        options.uuid = o.value("uuid", options.uuid);
        options.os = o.value("os", options.os);
        options.apVersion = o.value("ap-version", options.apVersion);
        options.launchSec = o.value("launchsec", options.launchSec);
        options.secondary = o.parser.isSet(QStringLiteral("secondary"));
        options.mapVolume = o.parser.isSet(QStringLiteral("map-volume"));
        options.gh2 = o.parser.isSet(QStringLiteral("gh2"));
        ok = sim.createPacer50(name, options, driveOptions(o));
    } else {
        return failWith(QStringLiteral("unknown device kind: ") + kind);
    }
    if (!ok)
        return failWith(sim.lastError());
    if (!o.parser.isSet(o.unplugged) && !sim.plug(name))
        return failWith(sim.lastError());
    out() << name << ": " << (sim.volumePath(name).isEmpty() ? sim.deviceFolder(name) : sim.volumePath(name)) << '\n';
    return 0;
}

int makeImage(const Options &o, const QStringList &args)
{
    if (args.size() != 4)
        return failWith(QStringLiteral("usage: make-image KIND VERSION FILE"));
    const QByteArray payload(int(qBound(qint64(0), o.number("payload-size", 1024), qint64(1) << 30)), 'x');
    QFile file(args[3]);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(VHDevSim::makeImage(args[1], args[2], payload)) < 0)
        return failWith(QStringLiteral("cannot write ") + args[3]);
    return 0;
}

int saveFlash(VHDevSim &sim, const QStringList &args)
{
    if (args.size() != 4)
        return failWith(QStringLiteral("usage: flash NAME internal|external|loader FILE"));
    const QString which = args[2];
    const VHDevSim::Flash flash = which == QLatin1String("internal") ? VHDevSim::Flash::Internal
                                  : which == QLatin1String("loader") ? VHDevSim::Flash::Loader
                                                                     : VHDevSim::Flash::External;
    QFile file(args[3]);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(sim.flash(args[1], flash)) < 0)
        return failWith(QStringLiteral("cannot write ") + args[3]);
    return 0;
}

int watch(const QString &root, const Options &o)
{
    auto *watcher = new VHDevSimWatch(root, int(o.number("pause", 1500)), QCoreApplication::instance());
    auto *timer = new QTimer(watcher);
    QObject::connect(timer, &QTimer::timeout, watcher, [watcher] {
        for (const QString &line : watcher->poll())
            out() << line << Qt::endl;
    });
    timer->start(50);
    out() << "watching " << root << Qt::endl;
    return QCoreApplication::exec();
}

// The storage rules given as options "<prefix>fail-write" ..., over `faults`.
VHSimStorageFaults storageFaults(const Options &o, const QString &prefix, VHSimStorageFaults faults)
{
    const auto number = [&](const char *key, int fallback) {
        return int(o.number((prefix + QLatin1String(key)).toLatin1().constData(), fallback));
    };
    faults.failWrite = number("fail-write", faults.failWrite);
    faults.failFsync = number("fail-fsync", faults.failFsync);
    faults.failRename = number("fail-rename", faults.failRename);
    faults.noSpaceFrom = number("no-space-from", faults.noSpaceFrom);
    faults.corruptRead = number("corrupt-read", faults.corruptRead);
    if (!prefix.isEmpty())
        faults.vanishAt = number("vanish-at", faults.vanishAt);
    return faults;
}

int printRules(const QString &owner, const QStringList &rules)
{
    out() << owner << ": " << (rules.isEmpty() ? QStringLiteral("no faults") : rules.join(QLatin1Char(' '))) << '\n';
    return 0;
}

int setFaults(VHDevSim &sim, const Options &o, const QString &name)
{
    VHSimFaults faults = o.parser.isSet(o.clear) ? VHSimFaults() : sim.faults(name);
    faults.vanishAfter = int(o.number("vanish-after", faults.vanishAfter));
    faults.failCommand = int(o.number("fail-command", faults.failCommand));
    faults.failSelector = int(o.number("fail-selector", faults.failSelector));
    faults.corruptReads = int(o.number("corrupt-reads", faults.corruptReads));
    faults.corruptSelector = int(o.number("corrupt-selector", faults.corruptSelector));
    faults.flashNeverReady = faults.flashNeverReady || o.parser.isSet(QStringLiteral("flash-never-ready"));
    faults.eraseKeepsData = faults.eraseKeepsData || o.parser.isSet(QStringLiteral("erase-keeps-data"));
    faults.volume = storageFaults(o, "volume-", faults.volume);
    if (!sim.setFaults(name, faults))
        return failWith(sim.lastError());
    return printRules(name, sim.faults(name).describe());
}

int setDataFolderFaults(VHDevSim &sim, const Options &o)
{
    VHSimStorageFaults faults = o.parser.isSet(o.clear) ? VHSimStorageFaults() : sim.dataFolderFaults();
    faults = storageFaults(o, "", faults);
    if (!sim.setDataFolderFaults(faults))
        return failWith(sim.lastError());
    return printRules(QStringLiteral("data folder"), sim.dataFolderFaults().describe(QStringLiteral("data")));
}

int run(VHDevSim &sim, const Options &o, const QStringList &args)
{
    const QString command = args.value(0);
    const QString name = args.value(1);
    QStringList changes;
    if (command == QLatin1String("create"))
        return create(sim, o, args);
    if (command == QLatin1String("flash"))
        return saveFlash(sim, args);
    if (command == QLatin1String("datafault"))
        return setDataFolderFaults(sim, o);
    if (command == QLatin1String("list")) {
        for (const QString &device : sim.devices())
            out() << device << '\t' << sim.kind(device) << '\t' << (sim.isPlugged(device) ? "plugged" : "unplugged")
                  << '\n';
        return 0;
    }
    if (args.size() != 2)
        return failWith(QStringLiteral("usage: %1 NAME (see --help)").arg(command));
    bool ok = false;
    if (command == QLatin1String("plug")) {
        ok = sim.plug(name);
    } else if (command == QLatin1String("unplug")) {
        ok = sim.unplug(name);
    } else if (command == QLatin1String("boot") || command == QLatin1String("restart")) {
        ok = command == QLatin1String("boot") ? sim.boot(name, &changes)
                                              : sim.restart(name, int(o.number("pause", 1500)), &changes);
        for (const QString &change : std::as_const(changes))
            out() << "installed " << change << '\n';
    } else if (command == QLatin1String("fault")) {
        return setFaults(sim, o, name);
    } else if (command == QLatin1String("remove")) {
        ok = sim.remove(name);
    } else if (command == QLatin1String("log")) {
        for (const QString &line : sim.commandLog(name))
            out() << line << '\n';
        if (o.parser.isSet(o.clear))
            sim.clearCommandLog(name);
        ok = true;
    } else {
        return failWith(QStringLiteral("unknown command: ") + command);
    }
    return ok ? 0 : failWith(sim.lastError());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velora-devsim"));
    Options options;
    options.parser.process(app);
    const QString root = options.value("root", qEnvironmentVariable("VELORA_SIM_ROOT"));
    const QStringList args = options.parser.positionalArguments();
    if (args.isEmpty())
        options.parser.showHelp(2);
    if (args.first() == QLatin1String("make-image"))
        return makeImage(options, args);
    if (root.isEmpty())
        return failWith(QStringLiteral("no simulation root: give --root or set VELORA_SIM_ROOT"));
    if (args.first() == QLatin1String("watch"))
        return watch(root, options);
    VHDevSim sim(root);
    return run(sim, options, args);
}
