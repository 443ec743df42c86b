#pragma once

#include "VHDeviceImpl.h"
#include "VHFileOps.h"
#include "VHFitPackage.h"
#include "VHResult.h"
#include "VHSafeFolder.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>

// The sports watches and computers that present one mass-storage volume with a
// "System" folder. Their software update is file based and selective: only the
// images newer than the device's are copied to the volume root, and an empty
// "/update.ini" makes the firmware install them at its next start. The class
// also installs GPS assist data and workout collections.
class VHFitDevice : public VHDeviceImpl<VHFitDevice, VHDeviceServiceClient>
{
    Q_OBJECT

public:
    // Error codes left by the operations. CopyFailed also stands for any other
    // failed install: 3 would tell the user the device is full.
    enum Error { NoError = 0, NoVolume = 2, UnpackOrSpace = 3, CopyFailed = 4, NoWorkouts = 5 };

    VHFitDevice();

    bool getUUID(QString &uuid) override;
    bool getRootPath(QString &path) override;
    bool getVersion(QString &text) override;
    bool getImageVersion(QString &text) override;
    bool getIAPVersion(QString &text) override;
    int deviceKind() override;
    VHJobs offeredJobs() override { return VHJob::SoftwareUpdate | VHJob::AssistData | VHJob::Workouts; }
    QString getCapability() override;
    int getAlpDate() override;
    bool eject() override;
    bool prepareUploadData(QString &, bool) override { return false; }
    QStringList _exportTrack(const QString &) override { return {}; }

    bool _updateTotal(const QString &archive, const QString &changedLanguage) override;
    bool _updateComponent(const QString &first, const QString &mode, const QString &third,
                          const QString &archive) override;
    bool _updateAlp(const QString &fileName, int timeStamp) override;

    using Image = VHFitPackage::Image;

    // The device's version of an image kind; empty for a kind it does not report.
    QString deviceVersion(const QString &kind);
    // The version compared for updates, from the versions of the image kinds
    // ("OS", "BootLoader", ...); empty when OS or BootLoader is unknown.
    static QString composedVersion(const std::function<QString(const QString &kind)> &versionOf);

private:
    struct DeviceInfo
    {
        QString uuid;
        QMap<QString, QString> versions; // by image kind
        // Kinds whose version could not be read: reads of the file that never
        // agreed, or a text no device writes. Their images are never copied.
        QSet<QString> unknownKinds;
        QString capability;
        bool hasProductType = false;
        QString productType;
    };

    // Read once when two reads agree; read again on the next use when they did not.
    DeviceInfo deviceInfo();
    // The identity file's text once two reads in a row agree (the scan's read
    // counts as the first); false when they never do within a few reads.
    // `bytes` then holds the first read, for what does not steer a copy.
    bool readSteadyIdentity(QByteArray &bytes);
    // A folder of the volume, reached without links; invalid when it cannot be.
    VHSafeFolder volumeFolder(const QString &relative, bool create);

    // The steps of the actions; none of them logs its failure, the action does.
    VHResult installUpdate(const QString &archive);
    VHResult findWorkouts(const QString &archive);
    VHResult installWorkouts(const QString &archive);
    // Unpacks the package into the work folder under the temporary folder,
    // emptied first; `code` is the action's code for a failure.
    VHResult unpackPackage(const QString &archive, int code, QString &work);
    // A file of the unpacked package in any spelling ("Release.ini", "OS.BIN"):
    // packages are made where case does not count. Empty when there is none.
    // The work folder is listed once per unpack, not on every lookup.
    QString packageFile(const QString &work, const QString &name) const;
    VHResult readPackage(const QString &work, VHFitPackage &package);
    // The images to copy; `withheld` gets the kinds the package carries
    // whose device version is unknown: they may be older than the device's.
    QList<Image> planImages(const VHFitPackage &package, QStringList &withheld);
    VHResult checkFreeSpace(const QString &work, const QList<Image> &images);
    VHResult copyImages(const QString &work, const QList<Image> &images);
    // Byte progress of one phase of the running action, as a copy reports it.
    VHSafeFolder::Progress phaseReporter(VHPhase phase, qint64 before = 0, qint64 total = -1);
    // The copy on the volume holds the source's bytes; a read that differs is
    // read once more, so one bad read of good data does not count as bad data.
    bool verifyCopy(VHSafeFolder &dest, const QString &name, const QString &source,
                    const VHSafeFolder::Progress &progress = {});
    // Copies a file to the volume, retried up to three times. With `check`
    // every copy is read back before it counts, reported as its own phase;
    // without it the caller reads it back later (checkBinFile).
    VHResult copyBinFile(const QString &folder, const QString &name, const QString &subFolder,
                         const VHSafeFolder::Progress &progress = {}, bool check = true,
                         const VHSafeFolder::Progress &checkProgress = {});
    // Reads a copy made without `check` back; a copy that differs is made again.
    VHResult checkBinFile(const QString &folder, const QString &name, const VHSafeFolder::Progress &progress);
    // The last step of an action that wrote to the volume: the whole volume
    // flushed to the device (the files and folders were as they were written).
    VHResult flushVolume(const QString &root);
    bool failUpdate(int code, const QString &reason) { return finish(VHResult::failure(code, reason)); }

    QMutex m_infoMutex;
    bool m_infoLoaded = false;
    DeviceInfo m_info;
    QString m_workFolder;             // the folder m_workNames lists; the worker's alone
    VHFileOps::NameIndex m_workNames; // the names unpacked into it
    std::atomic<int> m_alpStamp{0};   // written by the worker, read by the GUI thread
};
