#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// The layout of a simulation root ($VELORA_SIM_ROOT), shared by the simulated
// platform and the device simulator:
//
//   <root>/<DRIVE>/                a plugged drive (a mounted volume); hidden names are not drives
//   <root>/<DRIVE>/.simdrive       optional INI: vendor, model, device, slot, plugId, totalBytes, freeBytes, label
//   <root>/.scsi/<NAME>            a plugged SCSI device: a link to its device folder
//   <root>/.devices/<NAME>/        a device's own folder: sim.ini, flash files, command log,
//                                  and its volumes while it is unplugged
//   <root>/.devices/<NAME>/ejected written by the platform's eject: "power=keep" or "power=off";
//                                  the device simulator's watcher restarts devices after it
//   <root>/.staging/               where complete folders are prepared before they are moved in
//   <root>/.ejected/               drives that were ejected without a device folder
//   <root>/.unmounted/<DRIVE>/     a plugged drive that nobody has mounted yet
//   <root>/.devices/<NAME>/volume.log  the counted file operations on its volumes
//   <root>/.datafolder.ini         fault rules of the data folder ([Faults], see VHSimFaults.h)
//   <root>/.datafolder.log         the counted file operations in the data folder
namespace VHSimLayout {

inline const QString kScsiFolder = QStringLiteral(".scsi");
inline const QString kDevicesFolder = QStringLiteral(".devices");
inline const QString kStagingFolder = QStringLiteral(".staging");
inline const QString kEjectedFolder = QStringLiteral(".ejected");
inline const QString kUnmountedFolder = QStringLiteral(".unmounted");
inline const QString kDriveInfo = QStringLiteral(".simdrive");
inline const QString kDeviceRecord = QStringLiteral("sim.ini");
inline const QString kDeviceState = QStringLiteral("state.ini");
inline const QString kCommandLog = QStringLiteral("commands.log");
inline const QString kInternalFlash = QStringLiteral("internal.bin");
inline const QString kExternalFlash = QStringLiteral("external.bin");
inline const QString kLoaderFlash = QStringLiteral("loader.bin");
inline const QString kEjectMarker = QStringLiteral("ejected");
inline const QString kVolumeLog = QStringLiteral("volume.log");
inline const QString kDataFolderRules = QStringLiteral(".datafolder.ini");
inline const QString kDataFolderLog = QStringLiteral(".datafolder.log");

// Simulation files are small; a larger one is not read.
constexpr qsizetype kMaxSmallFile = 64 * 1024;

// The plugged drives, sorted by name, as full paths.
QStringList driveFolders(const QString &root);
// The names of the drives present but not mounted, sorted (hidden names are none).
QStringList unmountedDriveNames(const QString &root);
QString unmountedDrivePath(const QString &root, const QString &name);
// The names of the plugged SCSI devices, sorted.
QStringList scsiDeviceNames(const QString &root);
// The device folder a plugged SCSI device's link names, or empty.
QString scsiDeviceFolder(const QString &root, const QString &name);
QString scsiLinkPath(const QString &root, const QString &name);
QString deviceFolder(const QString &root, const QString &name);

// A small INI file as "Group/key" -> value ("key" outside any group); empty
// when missing, unreadable, not a file or larger than kMaxSmallFile.
QHash<QString, QString> readSmallIni(const QString &path);

// Changes with every rewrite of the file (QSettings writes a new file and renames it); empty when missing.
QByteArray fileStamp(const QString &path);

// Identifies one plugging of a drive: the same folder moved out and back in
// under a new plug id counts as gone and new.
QString driveKey(const QString &drivePath);
// Identifies one plugging of a SCSI device (its link is created anew each time).
QString scsiKey(const QString &root, const QString &name);

} // namespace VHSimLayout
