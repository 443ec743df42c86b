#pragma once

#include "VHDeviceImpl.h"
#include "VHPacer50Package.h"
#include "VHResult.h"
#include "VHSafeFolder.h"
#include "VHUtility.h"

#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <atomic>
#include <functional>

class GHDbModel;

// The cycling computers that show one or two FAT volumes and update through
// files alone: the package is unpacked locally and copied onto the volume,
// and instruction files ("Update.ini", "/format.ini") make the firmware act at
// its next start. A flag file on the volume marks a running update, so an
// interrupted one is noticed at the next connection.
class VHPacer50 : public VHDeviceServiceClient
{
    Q_OBJECT

public:
    // Error codes left by the operations; 3 tells the user the device is full.
    enum Error { NoError = 0, NoVolume = 2, NoSpace = 3, Failed = 4 };

    VHPacer50();

    bool initial() override;
    VHJobs offeredJobs() override { return VHJob::SoftwareUpdate | VHJob::FactoryRestore; }
    bool getUUID(QString &uuid) override;
    bool getRootPath(QString &path) override;
    bool getImageVersion(QString &text) override;
    bool getSharePath(QString &path) override;
    bool getInternalStorage(quint64 &total, quint64 &free) override;
    bool getLaunchSecVersion(QString &text) override;
    bool getAPVersion(QString &text) override;
    // Without a format of their own here: false (an empty list), never success.
    bool prepareUploadData(QString &path, bool dontCheck) override;
    bool setShareData(const QString &arg) override;
    QStringList _exportTrack(const QString &arg) override;
    // The user's profile: the core application's user settings over its
    // defaults, the profile keys only. False without a readable settings file.
    bool getProfile(QMap<QString, QString> &profile);
    // Writes the unit system and the distance unit of the given settings (a
    // document or its path) into the user settings.
    bool saveProfile(const QByteArray &bytes) override;
    // getProfile as a settings file at `path`.
    bool prepareUploadProfile(const QString &path) override;
    void removeUpdatePackage() override;
    bool updateLaunchsec(const QString &archive) override;
    void formatDevice() override;

    bool _updateTotal(const QString &archive, const QString &changedLanguage) override;
    bool _updateAP(const QString &archive) override;
    bool _updateComponent(const QString &model, const QString &version, const QString &componentName,
                          const QString &archive) override;
    bool _restoreFactory(const QString &packageFolder) override;
    bool _updateMapData(const QString &argument) override;

    [[nodiscard]] bool setUpdatingFlag(bool on);
    bool isUpdating();

    // The device's volumes that may take engine and map files: the root first,
    // then the other "msdos" drives of a Velora vendor that belong to the same
    // physical device. Empty for models outside the family.
    QStringList GetDriveDisks(const QString &model);

    // ---- file operations; paths below the volume root ----------------------
    [[nodiscard]] bool copyFile(const QString &src, const QString &dst);
    // Called on the action's thread before each file is copied onto a volume,
    // with the destination: lets a test unplug the device in the middle of a copy.
    using CopyObserver = std::function<void(const QString &dst)>;
    void setCopyObserver(CopyObserver observer) { m_copyObserver = std::move(observer); }
    [[nodiscard]] bool removeFile(const QString &path);
    void removeReadOnlyAttribute(const QString &path);
    // Copies a local folder onto the volume; equal files (same size, times at
    // most 59 seconds apart) are skipped. The copied destinations go to `copied`.
    [[nodiscard]] bool copyDir(const QString &src, const QString &dst, QStringList *copied = nullptr);
    [[nodiscard]] bool removeDir(const QString &path);
    // Reads each file back from the device (after flushing it and dropping its
    // cached pages); logs what fails. The number of files that failed.
    int checkFiles(const QStringList &paths);
    // The part of a file of `size` bytes the check reads: all of a file up to
    // 1024 bytes, else its last 1024. The offset and the length.
    static QPair<qint64, qint64> readBackWindow(qint64 size);
    int checkDirFiles(const QString &folder);
    bool isVersionOlder(const QString &reference);

    QString GetGPSENGINEVersion(const QString &dir, const QString &key);
    [[nodiscard]] bool setGPSENGINEVersion(const QString &key, const QString &dir, const QString &value);
    // The unpacked component archive without the excluded top-level files; empty on failure.
    QString makeGPSENGINETempFiles(const QString &archive, const QStringList &excluded);

    // The device's data store, set up once per device object on the first data
    // operation's worker thread (it copies and opens files on the volume, so
    // never on the GUI thread and never on the update road). False without a volume.
    bool openDataStore();

    // ---- data operations (worker threads only; each closes the databases) ---
    // Rows as column-name maps; the "2" forms give each row as a list in column order.
    void getTracks(QVariantList &list) override;
    void getTracks2(QVariantList &list);
    void getRoutes(QVariantList &list) override;
    void getPOIs(QVariantList &list) override;
    void getPOIs2(QVariantList &list);
    void getWorkouts(QVariantList &list) override;
    // Record ids (whole numbers); one transaction each, flushed to the device.
    bool deleteTracks(const QVariantList &ids) override;
    bool deleteRoutes(const QVariantList &ids) override;
    bool deletePOIs(const QVariantList &ids) override;
    bool deleteWorkouts(const QVariantList &ids) override;
    bool deleteTrack(const QVariant &id);
    bool deleteRoute(const QVariant &id);
    bool deletePOI(const QVariant &id);
    // The device's log folders as a zip archive at `path`.
    void exportLog(const QString &path) override;
    bool writeLogArchive(const QString &path);

protected:
    QString rootPath();
    // The root + the setting `appath`; empty when either is unusable.
    QString appPath();
    // A folder on one of the device's volumes, reached from that volume's root
    // without links (missing folders made with `create`); its path as found
    // on the volume, or empty.
    QString volumeFolder(const QString &path, bool create);
    // The device's volume holding `path` (the root, or one GetDriveDisks found)
    // and the path below it; a path on none of them is a volume of its own.
    void splitVolume(const QString &path, QString &volume, QString &relative);
    VHSafeFolder openOnVolume(const QString &path, VHSafeFolder::Options options);
    // Ejects the volume root and the service's secondary drive when that still
    // belongs to the same physical device; always true.
    bool ejectVolumes();

private:
    VHResult installTotal(const QString &archive);
    // Unpacks "Total.zip" into `work` and checks it; `image` is the image's spelling there.
    VHResult unpackTotal(const QString &archive, const QString &work, QString &image);
    // Removes an old instruction, then the image folders it may have named.
    VHResult clearOldUpdate(const QString &root);
    VHResult installTotalOnVolume(const QString &root, const QString &work, const QString &image);
    // Copied, flushed and compared with the source.
    VHResult copyImageFolder(const QString &root, const QString &work, const QString &folder);
    // Undoes a failed update: the instruction, then (only once it is gone) its folder.
    void withdrawUpdate(const QString &root, const QString &folder);
    VHResult unpackInto(const QString &archive, const QString &work);
    VHResult checkSpace(const QString &root, const QString &work);
    VHResult writeUpdateIni(const QString &root, const QByteArray &bytes);
    VHResult installAP(const QString &archive);
    VHResult copyAP(const QString &work);
    void removeUserSettingsIfOlder();
    VHResult installLaunchSec(const QString &archive);
    VHResult updateEngine(const QString &model, const QString &version, const QString &archive);
    VHResult updateMapComponent(const QString &model, const QString &version, const QString &archive);
    // Every volume already at the version: nothing was written.
    static VHResult componentUnchanged(const QString &version);
    // One volume's part of a component update: the files of the archive
    // without `excluded` go into `<target>/<sub>`, then `key` takes `version`.
    VHResult installComponentPart(const QString &archive, const QStringList &excluded, const QString &target,
                                  const QString &sub, const QString &key, const QString &version, bool skipChecks,
                                  bool needData);
    VHResult installMapData(const QString &argument);
    VHResult copyMapFile(const QString &source, const QString &countries);
    VHResult restore(const QString &packageFolder);
    // Whether the folder holds what the second pass installs; asked before any format.
    VHResult checkRestoreFolder(const QString &folder);
    // Whether "/format.ini" waits on the volume: the device has not restarted since.
    bool formatPending();
    VHResult writeFormatRequest();
    // The first pass: the format is asked and the request stored for the device's return.
    VHResult requestFormat(const QString &uuid, const QString &folder);
    // The second pass, on the formatted device.
    VHResult installRestore(const QString &uuid, const QString &folder);
    QString settingPath(const QString &key, const QString &defaultValue);
    bool hasVersionFile(const QString &dir);
    QString routeDatabasePath();
    bool deleteRecords(GHDbModel &model, const QString &idColumn, const QVariantList &ids);

    std::atomic<bool> m_dataStoreOpen{false};
    // The device's volumes besides the root, as GetDriveDisks last found them (worker thread).
    QStringList m_otherVolumes;
    CopyObserver m_copyObserver;
    // Hears the bytes of every file copyFile copies, while an image folder is copied.
    VHUtility::CopyProgress m_copyProgress;
};
