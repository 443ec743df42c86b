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
#include <optional>

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
    // NothingToDo: the device already runs what the package holds; nothing
    // was written and the device was not sent away.
    enum Error { NoError = 0, NoVolume = 2, NoSpace = 3, Failed = 4, NothingToDo = 5 };

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
    bool waitsInIapMode() override { return inIapMode(); }
    // In IAP mode only the second pass; a factory restore only by method 2 (method 1 can not run one).
    VHJobs offeredJobs() override;
    // The device information, read once from the volume (never in IAP mode).
    Info info();
    // Whether it could be read: an update never trusts defaults for a device it cannot read.
    bool hasInfo();
    // The unpacked package's folder: the environment's temporary folder + "/langpack".
    static QString workFolder();

private:
    // How the first pass goes for a package and a device.
    enum class Route {
        Nothing,    // same image and language, no boot loader to install
        BootLoader, // "/iap.bin" (when newer) and the instruction
        Image,      // method 1: fonts, "/IMG.bin", the instruction
        Flash,      // method 2: the instruction, eject, the flash in IAP mode
    };
    // What the first pass writes to the volume, built and checked whole
    // before the first byte is written.
    struct VolumeFiles
    {
        std::optional<QByteArray> bootLoader; // "/iap.bin"
        std::optional<QByteArray> image;      // "/IMG.bin"
        QList<VHGalPackage::LanguageFile> fonts;
        qint64 size() const;
    };
    // A file of the first pass waiting to be read back.
    struct WrittenFile
    {
        QString subFolder;
        QString name;
        QByteArray bytes;
    };

    bool readDeviceInfo(Info &info);
    // The device's profile written by the library into the temporary "pfread.ini".
    bool readProfileIni(QString &iniPath);
    VHSafeFolder volume();

    // The first pass of an update, on the volume.
    VHResult firstPass(const QString &archive);
    Route routeFor(const Info &device, const VHImageMetaInfo &meta);
    VHResult planVolumeFiles(const QString &work, Route route, const QStringList &languages,
                             const VHImageMetaInfo &meta, const VHGalPackage::Parts &parts, VolumeFiles &files);
    VHResult checkFreeSpace(qint64 needed);
    VHResult writeFirstPass(Route route, const VolumeFiles &files, const QStringList &languages,
                            const std::optional<QByteArray> &profile);
    // Removes what an update of ours leaves on the volume for the firmware:
    // a refused or broken update must leave none of it for the next start.
    bool removeOurFiles();
    // Keeps the device's language and the carried profile for the pass in
    // IAP mode, whichever object and program run does it.
    // `restoreFolder` is set for a factory restore.
    VHResult rememberForIapMode(const QStringList &languages, const std::optional<QByteArray> &profile,
                                const QString &restoreFolder = QString());
    void forgetFirstPass();
    // Checks what method 2 will flash and builds both binaries, before
    // anything is written; `profile` is appended to the image.
    VHResult prepareFlash(const QString &work, const QStringList &languages, const VHGalPackage::Release &release,
                          const std::optional<QByteArray> &profile);
    // The files of the unpacked package the binaries are made of, read capped.
    static VHResult readParts(const QString &work, const QString &imageName, VHGalPackage::Parts &parts);
    static VHResult readRelease(const QString &folder, QByteArray &bytes);
    int updateProfile(const QString &work);
    VHResult enterIapMode(int fromState, int toState);
    VHResult writeUpdateIni();
    VHResult copyLangFiles(const QList<VHGalPackage::LanguageFile> &fonts, const QStringList &languages);
    // Writes a file to the volume (temporary name, flushed, renamed) in
    // `subFolder` of the root; checkVolumeFiles reads it back later.
    VHResult writeVolumeFile(VHSafeFolder &folder, const QString &subFolder, const QString &name,
                             const QByteArray &bytes);
    // Reads every file written since the last check back from the device until it is whole.
    VHResult checkVolumeFiles();

    // The second passes, in IAP mode.
    // `archive` and `language`, when given, stand in for what an object made in
    // IAP mode never saw: the package of the first pass and the device's language.
    VHResult upgradeInIAPMode(const QString &archive, const QString &language);
    // The language and profile an object made in IAP mode flashes with.
    VHResult recallFirstPass(const QString &language, std::optional<QByteArray> &profile);
    VHResult flashArea(const QByteArray &bytes, quint32 block, const QString &what);
    // Reads the area back; a mismatch is read once more before it counts,
    // so a garbled transfer is not taken for a bad flash.
    VHResult verifyFlash(std::uint8_t selector, const QByteArray &bytes, int blockSize, int block, const QString &what);
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
    // The first pass's files written and not yet read back, and the bytes they hold together.
    QList<WrittenFile> m_unchecked;
    qint64 m_volumeBytes = 0;
};
