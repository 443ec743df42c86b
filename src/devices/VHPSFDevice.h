#pragma once

#include "VHDeviceImpl.h"
#include "VHPSFBitFontCreator.h"
#include "VHPSFBlockSource.h"
#include "VHPSFFlashStore.h"
#include "VHPSFLanguageImage.h"
#include "VHScsiFlashClient.h"

#include <QByteArray>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <cstdint>
#include <functional>
#include <memory>

class VHPSFContainer_1_5;
class VHPSFLanguagePack;
class VHSCSIDeviceService;

// The watches reached only through vendor SCSI commands whose user data is a
// PSF store on a 2 MiB external flash; the program and language images live
// in internal flash. The store is read region by region through the flash
// commands and written back whole by finalize; a software update writes a
// language image built from the package's language pack. Every action ends
// with a code of VHScsiFlashClient::Error and a reason in words.
class VHPSFDevice : public VHDeviceImpl<VHPSFDevice, VHScsiFlashClient>
{
    Q_OBJECT

public:
    static constexpr int kWriteAttempts = 51;
    static constexpr qint64 kMaxBackupSize = 0x1000000;

    // Where the "savelangeageimage" option writes the language image; an
    // application with windows asks the user on its GUI thread. Empty: no file.
    using ImagePathHook = std::function<QString()>;
    static void setImagePathHook(ImagePathHook hook);
    static ImagePathHook imagePathHook();

    VHPSFDevice();
    ~VHPSFDevice() override;

    bool initial() override;
    bool getInternalStorage(quint64 &total, quint64 &free) override;
    void formatDevice() override;
    bool prepareUploadData(QString &path, bool dontCheck) override;
    QStringList _exportTrack(const QString &) override { return {}; }
    bool getLanguageOnDevice(QStringList &languages) override;
    bool setDefLanguage(const QStringList &languages) override;
    void saveExtFlashToFile(const QString &path) override;
    // The profile as tagged entries in the store's profile block: new values
    // (a settings document or its path) go into the store's copy and reach the
    // flash with the next finalize; the profile as a settings file at `path`.
    bool saveProfile(const QByteArray &bytes) override;
    bool prepareUploadProfile(const QString &path) override;
    void addLogFiles(const QString &folder, QStringList &list) override;

    bool _updateTotal(const QString &packageFile, const QString &changedLang) override;
    bool _restoreFactory(const QString &folder) override;
    bool _finalize() override;
    // Neither workouts nor assist data: nothing to install, nothing to report.
    bool _updateComponent(const QString &, const QString &, const QString &, const QString &) override
    {
        return finish(VHResult::failure(Failed, QStringLiteral("this device takes no workouts or components")));
    }
    bool _updateAlp(const QString &, int) override
    {
        return finish(VHResult::failure(Failed, QStringLiteral("this device takes no assist data")));
    }

    // ---- data operations (VHPSFDeviceData.cpp) -----------------------------
    // Lists of maps, keys as the family's section of src/devices/README.md
    // says; every change is written to the device by the next finalize.
    // Fails, with dataFailure() saying why, when a region could not be read:
    // a list read from nothing would show as an empty one.
    bool _getShareDataList() override;
    QString dataFailure() const { return m_dataFailure; }
    void getTracks(QVariantList &tracks) override;
    void getWorkouts(QVariantList &workouts) override;
    void getRoutes(QVariantList &routes) override { getPSFRoute(routes); }
    bool getPSFRoute(QVariantList &routes);
    // A route named `name`, drawn as a bit font, in `language`.
    bool addRoute(const QString &name, bool kind = false, const QByteArray &language = "eng");
    // Items are maps with "Id" (or bare ids); a route item may give "Kind"
    // instead, which removes every route of that kind.
    bool deleteRoutes(const QVariantList &ids) override;
    bool deleteTracks(const QVariantList &ids) override;
    bool deleteWorkouts(const QVariantList &ids) override;
    // Exports whose formats this family does not define: never done.
    bool toGpxTrack(const QVariant &id, const QString &path);
    bool toGpxSsrLog(const QVariant &id, const QString &path);
    bool workoutToXml(const QVariant &id, const QString &path);
    bool trackToXml(const QVariant &id, const QString &path);
    bool setShareData(const QString &path) override;
    // Where names are rendered; by default one made with the device, living
    // in the GUI thread. Not owned.
    void setBitFontCreator(VHPSFBitFontCreator *creator) { m_bitFontCreator = creator; }

    // Reads the tracks of the container; run under the worker's crash guard.
    class GetTrackTask : public VHExceptionTask
    {
    public:
        GetTrackTask(VHPSFDevice &device, QVariantList &tracks) : m_device(device), m_tracks(tracks) {}
        bool execute() override;
        void handleException() override;

    private:
        VHPSFDevice &m_device;
        QVariantList &m_tracks;
    };

    // ---- flash access ----------------------------------------------------
    [[nodiscard]] bool eraseExtFlash();
    [[nodiscard]] bool waitFlash(int totalMs, int stepMs);
    qint64 externalFlashSize() const override { return VHPSFLayout::kFlashSize; }
    qsizetype languageAreaSize() const override { return VHPSFLanguageImage::kAreaSize; }

    // ---- the store ---------------------------------------------------------
    VHPSFFlashStore &store() { return m_store; }
    VHPSFContainer_1_5 *container() const { return m_container.get(); }
    VHResult loadAll() { return m_store.loadAll(); }
    VHResult save();
    VHResult loadImageFromFile(const QString &path) { return m_store.loadFromFile(path); }
    VHResult saveImageToFile(const QString &path) { return m_store.saveToFile(path); }

    // ---- language pack -----------------------------------------------------
    // Unpacks the package into the temporary folder's "/langpack" and lists the
    // names of the languages it carries.
    static VHResult unpackLanguagePack(const QString &packageFile, QStringList &languages);
    static QString languageFolder();
    // The unpacked pack, parsed for a language area of `areaSize` bytes.
    static VHResult readLanguagePack(qsizetype areaSize, VHPSFLanguagePack &pack);
    // The "savelangeageimage" option: the image goes to the file the hook names.
    static bool saveLanguageImageToFile(const QByteArray &image);
    // Builds the language image from the unpacked pack and writes it.
    bool setDefLanguage(const QStringList &languages, bool flag);

protected:
    QString backupFamily() const override { return QStringLiteral("pacer40"); }
    bool writeWholeFlash(const QByteArray &flash) override;
    bool isSoundFlash(const QByteArray &flash) override;

private:
    class FlashSource : public VHPSFBlockSource
    {
    public:
        explicit FlashSource(VHPSFDevice &device) : m_device(device) {}
        bool readBlocks(int firstBlock, int count, QByteArray &out) override;
        bool readBack(int firstBlock, int count, QByteArray &out) override;
        bool writeBlocks(int firstBlock, const QByteArray &data) override;
        bool eraseAll() override { return m_device.eraseExtFlash(); }
        // While set, reads come from this whole flash, already read and checked.
        void serveFrom(const QByteArray *flash) { m_served = flash; }

    private:
        VHPSFDevice &m_device;
        const QByteArray *m_served = nullptr;
    };

    // The language area into the cache; false when it could not be read.
    bool readLanguageArea(QByteArray &area);
    VHResult buildLanguageImage(const QStringList &languages, QByteArray &image);
    // To the device, or to a file with the "savelangeageimage" option.
    bool writeOrSaveLanguageImage(const QByteArray &image);
    bool writeLanguageImage(const QByteArray &image, const QString &basePath);
    // The finalize: the flash backed up, erased and written from the store.
    VHResult writeBack();
    // After an erase or a restore: the store and its container are read anew.
    void forgetStore();
    VHPSFBitFontCreator *bitFontCreator();
    static QSet<qsizetype> idsOf(const QVariantList &items);

    FlashSource m_source;
    VHPSFFlashStore m_store;
    std::unique_ptr<VHPSFContainer_1_5> m_container;
    QByteArray m_languageCache;
    QString m_dataFailure;
    std::unique_ptr<VHPSFBitFontCreatorSupport> m_ownBitFontCreator;
    VHPSFBitFontCreator *m_bitFontCreator = nullptr;
    // The whole store in memory was read from a flash whose backup was kept.
    bool m_storeBackedUp = false;
};
