#pragma once

#include "VHPacer30Layout.h"
#include "VHResult.h"
#include "VHScsiFlashClient.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>

class VHProfileData;
class VHPSF;
class VHSCSIDeviceService;

// The watches of the 1 MiB family, reached only through vendor SCSI commands:
// the user data and the profile block live in the external flash, the
// program and language images in internal flash. Every write goes through a
// temporary file, block by block; the write-back erases the flash and writes
// the whole image again. Concrete models derive through VHDeviceImpl. Every
// action ends with a code of VHScsiFlashClient::Error and a reason in words.
class VHPacer30 : public VHScsiFlashClient
{
    Q_OBJECT

public:
    static constexpr int kControlBlock = 512;
    static constexpr int kLanguageAttempts = 51;
    static constexpr int kFinalizeAttempts = 10;
    static constexpr int kReadyPolls = 20;
    static constexpr int kEraseWaitMs = 5000;
    static constexpr int kRestartWaitMs = 5000;
    static constexpr int kSettleWaitMs = 2000;
    static constexpr qsizetype kHeaderRecordSize = 212;
    // No file written to this family's flash is larger than this.
    static constexpr qint64 kMaxFlashFile = 16 * 1024 * 1024;

    VHPacer30();
    ~VHPacer30() override;

    bool initial() override;
    void formatDevice() override;
    bool prepareUploadData(QString &, bool) override { return false; }
    QStringList _exportTrack(const QString &) override { return {}; }
    bool getLanguageOnDevice(QStringList &languages) override;
    bool setDefLanguage(const QStringList &languages) override;
    void saveExtFlashToFile(const QString &path) override;
    bool updateLaunchsec(const QString &file) override;

    bool _updateTotal(const QString &packageFile, const QString &changedLang) override;
    bool _updateBootLoader(const QString &file) override { return updateLaunchsec(file); }
    bool _restoreFactory(const QString &folder) override;
    bool _finalize() override;
    bool _readData() override;
    // Neither workouts nor assist data: nothing to install.
    bool _updateComponent(const QString &, const QString &, const QString &, const QString &) override
    {
        return finish(VHResult::failure(Failed, QStringLiteral("this device takes no workouts or components")));
    }
    bool _updateAlp(const QString &, int) override
    {
        return finish(VHResult::failure(Failed, QStringLiteral("this device takes no assist data")));
    }

    // ---- flash access ----------------------------------------------------
    // Writes `buffer` (the first `size` bytes; without a size the whole,
    // resized to the flash size) through the temporary file.
    [[nodiscard]] bool writeBuffer(const QByteArray &buffer, std::uint8_t selector, int blockSize, qint64 size = -1);
    [[nodiscard]] bool writeFileToFlash(const QString &path, std::uint8_t selector, int blockSize);
    [[nodiscard]] bool controlCommand(std::uint8_t selector);
    // The erase command and its pause, then a check that the flash reads erased.
    [[nodiscard]] bool eraseExtFlash();
    // The erase command and its pause alone.
    [[nodiscard]] bool sendErase();
    // The device answers: its UUID read succeeds with a UUID.
    bool deviceAnswers();

    // ---- data and profile ----------------------------------------------------
    bool readPSF();
    bool loadProfile();
    VHProfileData *profile() const { return m_profile.get(); }
    // The store's data as readPSF read it; null before or after a failed read.
    VHPSF *psf() const { return m_psf.get(); }
    const QByteArray &flashImage() const { return m_image; }
    const QByteArray &headerRecord() const { return m_headerRecord; }
    // The user's values readPSF showed.
    QVariantMap userValues() const { return m_userValues; }
    bool dataChanged() const;
    bool profileChanged() const { return m_profileChanged; }
    void setDataChanged(bool on);
    void setProfileChanged(bool on) { m_profileChanged = on; }

    qint64 externalFlashSize() const override { return VHPacer30Layout::kFlashSize; }
    qsizetype languageAreaSize() const override { return VHPacer30Layout::kLanguageImageSize; }

    static QString flashTempPath();

protected:
    QString backupFamily() const override { return QStringLiteral("pacer30"); }
    bool writeWholeFlash(const QByteArray &flash) override;
    bool isSoundFlash(const QByteArray &flash) override;
    VHResult profileReadyForWriteBack();
    // The whole flash read and backed up: only then may it be erased.
    VHResult readyToErase();
    // What ten failed write-back attempts say.
    VHResult writeBackFailure() const;
    // Before the write-back's erase: a backup of a sound flash, or, over an
    // erased or half-written one, the whole image this object read and backed up.
    bool backUpBeforeErase();
    // Drops what was read: after an erase or a restore it is no longer the device's.
    void forgetData();
    enum class Attempt { Done, Failed, EraseFailed };
    // Up to kFinalizeAttempts; an erase that fails ends them.
    bool writeBackAttempts(const std::function<Attempt()> &attempt);
    // Whether the profile block says the device was set up.
    virtual bool isInitialised(const QString &model, const QByteArray &block) const;
    virtual QString iapFolderName() const { return QStringLiteral("/pacer30iap"); }
    virtual QString iapLogName() const { return QStringLiteral("iap"); }

    QString modelName();
    int imageVersion();
    // The whole external flash into the image, unless it already holds one.
    bool ensureImage();
    // Writes the image and reads it back, the first block (the head of the
    // journal) held back and written last; equal on success.
    bool writeImageCommitLast();
    bool profileBlock(QByteArray &block);
    void readUserValues();

    QByteArray m_image;
    QByteArray m_headerRecord;
    QByteArray m_recordSlot; // the whole journal slot of the current record
    std::unique_ptr<VHProfileData> m_profile;
    std::unique_ptr<VHPSF> m_psf;
    bool m_profileChanged = false;
    bool m_dataChanged = false;
    bool m_imageBackedUp = false; // m_image is a whole flash read whose backup was kept
    bool m_imageIsFlash = false;  // m_image was read twice and compared, and nothing was written since

private:
    bool sendBlock(VHSCSIDeviceService &service, const QByteArray &block, int number, std::uint8_t selector,
                   int blockSize);
    // The language area into the cache; false when it could not be read.
    bool readLanguageArea(QByteArray &area);
    VHResult buildLanguageImage(const QStringList &languages, QByteArray &image);
    // To the device, or to a file with the "savelangeageimage" option.
    bool writeOrSaveLanguageImage(const QByteArray &image);
    bool writeLanguageImage(const QByteArray &image);
    Attempt finalizeAttempt();
    VHResult writeBack();
    VHResult updateLanguages(const QString &packageFile, const QString &changedLang);
    VHResult updateLoader(const QString &file);
    bool waitUntilAnswering();
    bool writeLoader(const QString &name, const QByteArray &bytes, std::uint8_t selector, const QString &what);

    QString m_dataVersion = QStringLiteral("1.4.x.x");
    QString m_defaultLanguage = QStringLiteral("eng");
    QByteArray m_languageCache;
    QVariantMap m_userValues;
    QString m_readFailure; // why the last readPSF failed
    QString m_restoreHint; // what the last failed write-back leaves the user to do
};
