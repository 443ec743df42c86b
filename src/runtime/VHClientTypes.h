#pragma once

#include <QFlags>
#include <QMetaType>
#include <QString>

// The three strings given to getShareDataList, carried back by its Done signal.
struct VHClientShareDataList
{
    QString first;
    QString second;
    QString third;
};

// The three strings given to getShareData or batch, carried back by their Done signals.
struct VHClientShareData
{
    QString first;
    QString second;
    QString third;
};

// What a package's "release.ini" says about its image: four texts and three
// integers. Fields the file does not give keep these defaults.
struct VHImageMetaInfo
{
    QString name;
    QString langVersion;
    QString imageVersion;
    QString bootLoaderVersion;
    quint32 size = 0;       // bytes
    quint32 imageStart = 0; // byte address in external flash
    quint32 langStart = 0;
};

// The jobs a device offers its owner in the updater window; the window shows a
// button only for these.
enum class VHJob : quint32 {
    SoftwareUpdate = 0x01, // the server's package for the model
    AssistData = 0x02,     // GPS assist data
    Workouts = 0x04,       // the workouts of the package
    Languages = 0x08,      // choose the languages of a language update
    FactoryRestore = 0x10, // factory restore from a restore folder
    Backups = 0x20,        // list, make and restore backups of the flash store
    Recover = 0x40,        // finish the update of a device waiting in IAP mode
};
Q_DECLARE_FLAGS(VHJobs, VHJob)

// The steps of an action that moves bytes, in the order an action passes them:
// unpacking the package, writing to the device, reading it back, and waiting
// for the device to restart into what was written.
enum class VHPhase : int { Unpack = 0, Write = 1, Verify = 2, Waiting = 3 };
Q_DECLARE_OPERATORS_FOR_FLAGS(VHJobs)

Q_DECLARE_METATYPE(VHClientShareDataList)
Q_DECLARE_METATYPE(VHClientShareData)
