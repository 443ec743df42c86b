#pragma once

#include "VHDeviceImpl.h"
#include "VHSafeFolder.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>

#include <atomic>

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

    struct ImageInfo
    {
        QString kind; // the release.ini group: OS, BootLoader, DeviceLang, ...
        QString name; // file name in the package and on the volume
        QString version;
    };

    VHFitDevice();

    bool getModelName(QString &name) override;
    bool getUUID(QString &uuid) override;
    bool getRootPath(QString &path) override;
    bool getVersion(QString &text) override;
    bool getImageVersion(QString &text) override;
    bool getIAPVersion(QString &text) override;
    int deviceKind() override;
    QString getCapability() override;
    int getAlpDate() override;
    bool eject() override;
    bool prepareUploadData(QString &, bool) override { return false; }
    QStringList _exportTrack(const QString &) override { return {}; }

    bool _updateTotal(const QString &archive, const QString &changedLanguage) override;
    bool _updateComponent(const QString &first, const QString &mode, const QString &third,
                          const QString &archive) override;
    bool _updateAlp(const QString &fileName, int timeStamp) override;

    QList<ImageInfo> readImageInfo(const QString &releaseIni);
    bool isNewVersion(const ImageInfo &image);
    bool isStorageSpaceEnough(const QString &folder, const QList<ImageInfo> &images);
    bool copyBinFile(const QString &folder, const QString &name, const QString &subFolder);

    // The device's version of an image kind; empty for a kind it does not report.
    QString deviceVersion(const QString &kind);

private:
    struct DeviceInfo
    {
        QString uuid;
        QMap<QString, QString> versions; // by image kind
        QString capability;
        bool hasProductType = false;
        QString productType;
    };

    const DeviceInfo &deviceInfo();
    QString rootPath();
    // The work folder under the temporary folder, emptied; empty text when the
    // model name cannot name a folder.
    QString prepareWorkFolder();
    bool unpackPackage(const QString &archive, const QString &work);
    // A folder of the volume, reached without links; invalid when it cannot be.
    VHSafeFolder volumeFolder(const QString &relative, bool create);
    // The last step of an action that wrote to the volume: the whole volume
    // flushed to the device (the files and folders were as they were written).
    bool flushVolume(const QString &root);
    // Logs the reason at critical level and sets the code; false.
    bool failUpdate(int code, const QString &reason);

    QMutex m_infoMutex;
    bool m_infoLoaded = false;
    DeviceInfo m_info;
    std::atomic<int> m_alpStamp{0}; // written by the worker, read by the GUI thread
};
