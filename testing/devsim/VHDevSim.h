#pragma once

#include "VHSimScsiDevice.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The "/System/device.txt" of a simulated FIT device.
struct VHSimFitIdentity
{
    QString uuid = QStringLiteral("2101A1B2C3D4E5F6");
    QString model = QStringLiteral("Pacer70");
    QString os = QStringLiteral("1.00.00");
    QString bootLoader = QStringLiteral("B1.00");
    QString deviceLang = QStringLiteral("DL0100");
    QString notificationLang = QStringLiteral("NL100");
    QString timeZone = QStringLiteral("TZ100");
    QString bluetooth = QStringLiteral("BT10");
    QString capability;
    QString productType = QStringLiteral("Watch");
};

// The "/device.ini" of the GAL and file-system families.
struct VHSimGalIdentity
{
    QString uuid = QStringLiteral("1207A1B2C3D4E5F6");
    QString model = QStringLiteral("Pacer21");
    QString os = QStringLiteral("110");
    QString companion;
    QString bootLoader = QStringLiteral("R002");
    int updateMethod = 1;
    QString langVersion;
    QString capability;
    QString launchSec;
    QString iapName = QStringLiteral("ALDERIAP");
    // The profile's `Sys-langCode` and the "/Lang" font of that language
    // (beside the English one); empty: a profile without a language.
    QString lang = QStringLiteral("eng");
    quint32 fontVersion = 1;                         // the first word of every font file
    QString profileProject = QStringLiteral("GAL1"); // the profile map's project code
    int profileMajor = 1;
};

// How a simulated drive presents itself.
struct VHSimDriveOptions
{
    QString vendor = QStringLiteral("VELORA");
    QString model;          // the drive's product text; the device model when empty
    qint64 totalBytes = -1; // claimed sizes for the free-space check; the host's when negative
    qint64 freeBytes = -1;
    bool secondary = false; // a second volume without identity file (file-system family)
};

// A watch with a PSF store: SCSI only, "LINDEN" in its INQUIRY answer.
struct VHSimPacer40Options
{
    QByteArray productTag = "V012"; // also the version of the base image in the language area
    QByteArray iapTag = "I012";
    QByteArray uuid = "1105A1B2C3D4E5F6";
    bool layoutB = false; // a dist header version other than "1510"
};

// A watch of the 1 MiB family: SCSI only, with the identification of its
// model's row ("ASPENS" Pacer30/Pacer35, "MAPLE" Pulsar30, "WILLOW" Pulsar35,
// "SYCAMORE" Pacer20).
struct VHSimPacer30Options
{
    QString model = QStringLiteral("Pacer35");
    QByteArray productTag = "V008"; // also the version of the program image in internal flash
    QByteArray iapTag = "I008";
    QByteArray uuid;            // the row's code + 12 characters when empty
    bool uninitialised = false; // the profile's set-up byte of the model clear
    int rebootCommands = 0;     // commands unanswered after a mode change
};

// A Pacer50-family device: "/device.ini" (UUID of its row, MODEL, OS,
// LaunchSec) and the application tree "nimbra" with its settings, version and
// data files; optionally a second volume and a map volume labelled "pacer60map".
struct VHSimPacer50Options
{
    QString kind = QStringLiteral("pacer50cr"); // pacer50, pacer50cr or pacer60
    QString uuid;                               // the kind's row code + 12 characters when empty
    QString os = QStringLiteral("1.0.0");
    QString launchSec = QStringLiteral("1.0.0.0");
    QString apVersion = QStringLiteral("GH1.3.0.7"); // "nimbra/version.ini", key version
    bool secondary = false;
    bool mapVolume = false; // a third volume labelled "pacer60map" with data/mapengine and data/mapsinfo/temp.xml
    bool gh2 = false;       // "route.sql" instead of the database files
};

// Simulated devices in a simulation root (the layout of VHSimLayout.h): makes
// FIT, GAL, file-system and SCSI devices, plugs and unplugs them, and plays
// their firmware's start, which acts on the instruction files the updater
// left. Every change that the simulated platform watches is one rename or one
// link, so a drive is complete when it appears.
//
// A GAL volume also carries the profile ("ProfileMap.txt", "Profile.bin" with
// `Sys-langCode`, `UP-maxHR`, `MHR-BV`, `UP-weight`) and "/Lang" with the fonts
// of its language and English.
//
// Firmware rules at a start (boot):
//  - FIT: with "/update.ini" present, every file in the volume root that begins
//    with an image header (makeImage) is installed: its version goes into the
//    group named by its kind in "/System/device.txt" ([OS] Version, ...), then
//    the image and "/update.ini" are removed. Without "/update.ini" nothing happens.
//  - GAL, update method 1: with "/update.ini", "/IMG.bin" and "/iap.bin" are
//    installed the same way (their headers name the kinds, e.g. OS and
//    BootLoader) into "/device.ini"; they, "/update.ini" and "/syncprofile.ini"
//    are removed.
//  - GAL, update method 2: with "/update.ini" the device starts in IAP mode:
//    no volume, a SCSI device with the GAL's UUID answering the flash commands.
//    Once it was sent the IAP notification, its next start installs every image
//    header found at the start of a 4096-byte sector of the external flash into
//    "/device.ini" and brings the volume back.
//  - file-system family: with "/Update.ini", the image it names (its path after
//    "/My Disk") is installed like a FIT image into "/device.ini"; "/Update.ini"
//    and the image folder are removed.
//  - Pacer50 family: with "/format.ini" the volume is emptied but for its
//    identity file; with "/Update.ini" the image it names is installed as
//    above only when the checksum file of its "CRC=" line is there too, else
//    nothing is installed; the instruction goes either way.
//    "/updating@@!.ini" is the updater's and stays.
//  - SCSI devices: a start ends a busy flash and the loader mode; an internal
//    flash that begins with an image header (makeImage) reports its version
//    as the product tag from then on.
//
// Starts by themselves (selfStart; VHDevSimWatch plays them after a pause):
//  - a GAL volume ejected by the platform with its port powered and
//    "/update.ini" on it starts its firmware and is plugged again (an eject that
//    cuts the port's power, or one without "/update.ini", leaves it away);
//  - a plugged GAL device in IAP mode that received the IAP notification
//    restarts (back to its volume).
class VHDevSim
{
public:
    using FitIdentity = VHSimFitIdentity;
    using GalIdentity = VHSimGalIdentity;
    using DriveOptions = VHSimDriveOptions;
    using ScsiIdentity = VHSimScsiDevice::Identity;
    enum class Flash { Internal, External, Loader };
    enum class SelfStart { None, AfterEject, AfterNotification, StaysAway };

    explicit VHDevSim(const QString &root);
    QString root() const { return m_root; }
    QString lastError() const { return m_error; }

    // New devices start unplugged.
    bool createFit(const QString &name, const FitIdentity &identity, const DriveOptions &drive = DriveOptions());
    bool createGal(const QString &name, const GalIdentity &identity, const DriveOptions &drive = DriveOptions(),
                   ScsiIdentity iap = ScsiIdentity());
    bool createFileSystem(const QString &name, const GalIdentity &identity, const DriveOptions &drive = DriveOptions());
    bool createScsi(const QString &name, const ScsiIdentity &identity);
    bool createPacer50(const QString &name, const VHSimPacer50Options &options,
                       const DriveOptions &drive = DriveOptions());
    // A 2 MiB external flash with a valid store and a 1 MiB internal flash
    // whose language area holds a base image and the languages "eng" and "deu".
    bool createPacer40(const QString &name, const VHSimPacer40Options &options = VHSimPacer40Options());
    // A 1 MiB external flash with a store and the model's profile block, and an
    // internal flash whose 0x79000-byte area holds a program image with the
    // languages "eng" and "deu".
    bool createPacer30(const QString &name, const VHSimPacer30Options &options = VHSimPacer30Options());
    static QByteArray pacer30Flash(const QString &model, bool uninitialised);
    // The language area of the internal flash: a base image of `version`
    // and a font per code.
    static QByteArray pacer40LanguageArea(const QByteArray &version, const QStringList &codes);
    bool remove(const QString &name);
    QStringList devices() const;
    QString kind(const QString &name) const;

    bool plug(const QString &name);
    bool unplug(const QString &name);
    bool isPlugged(const QString &name) const;
    // The firmware start of an unplugged device; `changes` lists "Kind=Version" installed.
    bool boot(const QString &name, QStringList *changes = nullptr);
    // Unplug, wait, start, plug.
    bool restart(const QString &name, int pauseMs = 0, QStringList *changes = nullptr);
    // Whether the device's firmware starts by itself now (StaysAway: ejected
    // in a way that does not bring it back; forget the eject with forgetEject).
    SelfStart selfStart(const QString &name) const;
    void forgetEject(const QString &name);

    // The primary volume where it is now (plugged or not); empty for SCSI devices.
    QString volumePath(const QString &name) const;
    QString drivePath(const QString &name) const { return m_root + QLatin1Char('/') + name; }
    QString secondaryDrivePath(const QString &name) const { return drivePath(name) + QStringLiteral("_2"); }
    QString mapDrivePath(const QString &name) const { return drivePath(name) + QStringLiteral("_3"); }
    QString deviceFolder(const QString &name) const;
    QString identityFile(const QString &name) const;

    // Lines of the SCSI command log: "WRITE sel=15 block=3 unit=4096 len=4096 ok".
    QStringList commandLog(const QString &name) const;
    void clearCommandLog(const QString &name);
    // The fault rules of a device (VHSimFaults.h): SCSI rules only for a
    // device with SCSI commands, volume rules for any.
    VHSimFaults faults(const QString &name) const;
    bool setFaults(const QString &name, const VHSimFaults &faults);
    // The data folder's fault rules (<root>/.datafolder.ini).
    VHSimStorageFaults dataFolderFaults() const;
    bool setDataFolderFaults(const VHSimStorageFaults &faults);
    // The counted file operations ("write /path", see VHSimFileFaults.h) on a
    // device's volumes and in the data folder; clearing empties the log.
    QStringList volumeLog(const QString &name) const;
    void clearVolumeLog(const QString &name);
    QStringList dataFolderLog() const;
    void clearDataFolderLog();
    QByteArray flash(const QString &name, Flash which) const;
    bool setFlash(const QString &name, Flash which, const QByteArray &bytes);

    // An image file the simulated firmware recognises: a first line
    // "VELORA-SIM-IMAGE Kind=<kind> Version=<version>" and the payload.
    static QByteArray makeImage(const QString &kind, const QString &version, const QByteArray &payload = {});
    static bool readImageHeader(const QByteArray &start, QString &kind, QString &version);
    // A ".bft" font file: the version word (little-endian), the 3-letter
    // code at bytes 4-6, then `size` - 7 pattern bytes.
    static QByteArray makeFont(const QString &code, quint32 version, int size = 64);
    // "Font_<code>_01.bft"
    static QString fontFileName(const QString &code);

private:
    bool fail(const QString &message);
    bool validName(const QString &name);
    QString stagingFolder();
    // A valid name no device has yet.
    bool validNewName(const QString &name);
    // Records the kind and moves the prepared folder in as the device's.
    bool commit(const QString &staging, const QString &name, const QString &kind);
    bool writeDriveInfo(const QString &volume, const QString &name, const QString &slot, const DriveOptions &drive,
                        const QString &model);
    bool writeFlashFiles(const QString &folder, const ScsiIdentity &identity);
    QString recordValue(const QString &name, const QString &key, const QString &fallback = {}) const;
    void setRecordValue(const QString &name, const QString &key, const QString &value);
    bool usesScsiNow(const QString &name) const;
    bool plugVolume(const QString &name, const QString &slot, const QString &drive);
    bool unplugVolume(const QString &name, const QString &slot, const QString &drive);
    bool bootFit(const QString &name, QStringList &changes);
    bool bootGal(const QString &name, QStringList &changes);
    bool writeGalFiles(const QString &volume, const GalIdentity &identity);
    bool bootFileSystem(const QString &name, QStringList &changes);
    bool bootPacer50(const QString &name, QStringList &changes);
    bool writePacer50Tree(const QString &volume, const VHSimPacer50Options &options);
    void bootScsi(const QString &name);
    bool installImage(const QString &imagePath, const QString &identityPath, QStringList &changes);
    void installFromFlash(const QString &name, QStringList &changes);

    QString m_root;
    QString m_error;
};
