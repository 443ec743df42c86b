#pragma once

#include "VHClientTypes.h"
#include "VHDeviceImpl.h"
#include "VHGalPackage.h"
#include "VHResult.h"
#include "VHSafeFolder.h"

#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>

// The waits of the file-based update: a file written to the volume is read
// back until it is complete, for at most 30 seconds with 5-second pauses.
// Tests and the simulator replace the pause so nothing really sleeps.
class VHGalWait
{
public:
    using Sleeper = std::function<void(int ms)>;

    static constexpr int kReadBackTimeoutMs = 30000;
    static constexpr int kPauseMs = 5000;

    // An empty sleeper restores the real one.
    static void setSleeper(Sleeper sleeper);
    static void sleep(int ms);
    // Calls `done` until it answers true or the time (counted in pauses, so an
    // injected sleeper ends it too) is up; the last answer.
    static bool until(const std::function<bool()> &done);
};

// The cycling computers whose volume carries "/device.ini". They update in
// one of two ways, chosen by the device: method 1 writes one image file for
// the firmware to install at its next start; method 2 sends the device into
// its in-application-programming (IAP) mode, where it shows no volume but
// takes the image and language areas through vendor SCSI flash commands.
// Method 2 and the factory restore run in two passes across the restart;
// the client state carries them (1 update, 3 restore, 2 after the second pass).
class VHGalDevice : public VHDeviceImpl<VHGalDevice, VHDeviceServiceClient>
{
    Q_OBJECT

public:
    // Error codes left by the actions.
    enum Error { NoError = 0, NoVolume = 2, Failed = 4 };

    struct Info
    {
        QString uuid;
        QString imageVersion;
        QString companionVersion;
        QString iapVersion;
        uint updateMethod = 1;
        QString langVersion;
        QString capability;
        QString launchSecVersion;
        QString iapName;
    };

    VHGalDevice();

    bool getUUID(QString &uuid) override;
    bool getRootPath(QString &path) override;
    bool getImageVersion(QString &text) override;
    bool getIAPVersion(QString &text) override;
    bool getLaunchSecVersion(QString &text) override;
    QString getMinAppVersion() override;
    QString getCapability() override;
    bool getLanguageOnDevice(QStringList &list) override;
    VHImageMetaInfo getImageMetaInfo(const QString &releaseIni) override;
    bool eject() override;
    // ---- data operations ---------------------------------------------------
    // Activities and general workout plans as rows {Name, StartTime}; the time
    // comes from the file name.
    void getTracks(QVariantList &list) override;
    void getWorkouts(QVariantList &list) override;
    // File names as listed; nothing is deleted when one is not a plain name of its kind.
    bool deleteTracks(const QVariantList &names) override;
    bool deleteWorkouts(const QVariantList &names) override;
    // The profile as XML at `target`, through the helper module.
    bool prepareUploadProfile(const QString &target) override;
    // "key=value" lines written to the device's profile.
    bool saveProfile(const QByteArray &bytes) override;
    // The raw-data export into a folder; the files written.
    QStringList _exportTrack(const QString &folder) override;
    // Without a format of their own here: false, never success.
    bool prepareUploadData(QString &path, bool dontCheck) override;
    bool setShareData(const QString &arg) override;
    // "230517083015.gal" started 2023-05-17 08:30:15 UTC; invalid for other names.
    static QDateTime timeOfFileName(const QString &name);

    bool _updateTotal(const QString &archive, const QString &changedLanguage) override;
    bool _restoreFactory(const QString &packageFolder) override;

    bool inIapMode() { return serviceType() == VHDeviceService::DEVICE_SCSI; }
    // The device information, read once from the volume (never in IAP mode).
    Info info();
    // Whether it could be read: an update never trusts defaults for a device it cannot read.
    bool hasInfo();
    // The unpacked package's folder: the environment's temporary folder + "/langpack".
    static QString workFolder();

private:
    bool readDeviceInfo(Info &info);
    // The device's profile written by the library into the temporary "pfread.ini".
    bool readProfileIni(QString &iniPath);
    VHSafeFolder volume();

    // The first pass of an update, on the volume.
    VHResult firstPass(const QString &archive);
    // Checks what method 2 will flash and builds both binaries, before
    // anything is written; `profile` appends "Profile.bin" to the image.
    VHResult prepareFlash(const QString &work, const QStringList &languages, const VHGalPackage::Release &release,
                          bool profile);
    // The files of the unpacked package the binaries are made of, read capped.
    static VHResult readParts(const QString &work, const QString &imageName, bool profile, VHGalPackage::Parts &parts);
    static VHResult readRelease(const QString &folder, QByteArray &bytes);
    int updateProfile(const QString &work);
    VHResult enterIapMode(int fromState, int toState);
    VHResult writeUpdateIni();
    VHResult copyIAPBin(const QString &work);
    VHResult setDefLanguage(const QString &work, const QStringList &languages, const VHImageMetaInfo &meta);
    VHResult copyLangFiles(const QList<VHGalPackage::LanguageFile> &fonts, const QStringList &languages);
    // Writes a file to the volume (temporary name, flushed, renamed) and reads
    // it back from the device until it is whole.
    VHResult writeVolumeFile(VHSafeFolder &folder, const QString &name, const QByteArray &bytes);

    // The second passes, in IAP mode.
    // `archive` and `language`, when given, stand in for what an object made in
    // IAP mode never saw: the package of the first pass and the device's language.
    VHResult upgradeInIAPMode(const QString &archive, const QString &language);
    VHResult notifyIAPUpdate();
    VHResult updateFlashes(const QString &folder);
    bool restoreFactoryMethod2(const QString &packageFolder);
    // The identity the device will have in IAP mode, put at the front of the
    // manager's model table on the manager's thread.
    void announceIapIdentity();

    QMutex m_infoMutex;
    bool m_infoLoaded = false;
    Info m_info;
    QStringList m_languages; // the device's, remembered for the pass in IAP mode
    QByteArray m_image;      // built in the first pass, flashed in the second
    QByteArray m_langBinary;
    quint32 m_imageBlock = 0;
    quint32 m_langBlock = 0;
    QString m_restoreFolder;
};
