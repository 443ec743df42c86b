#pragma once

#include "VHClient.h"
#include "VHResult.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class VHSCSIDeviceService;

// What the watches reached only through vendor SCSI commands share: their
// identity comes from the SCSI service (model record, product and loader
// tags) and their UUID is asked once, then kept; their external flash is
// copied to backups in the data folder and written back from them.
class VHScsiFlashClient : public VHClient
{
    Q_OBJECT

public:
    // Byte 6 of the flash commands.
    enum Selector : std::uint8_t {
        NormalMode = 0,
        LoaderMode = 1,
        WriteLoader = 10,
        WriteInternal = 12,
        ReadInternal = 13,
        EraseExternal = 14,
        WriteExternal = 15,
        ReadExternal = 16,
        FlashStatus = 21,
    };
    static constexpr int kInternalBlock = 2048;
    static constexpr int kExternalBlock = 4096;

    // Blocks the worker thread for `ms` milliseconds; replaced in tests.
    using Wait = std::function<void(int ms)>;

    using VHClient::VHClient;

    void setWait(Wait wait) { m_wait = std::move(wait); }

    bool getModelName(QString &name) override;
    // Asked by the window's thread and the worker alike.
    bool getUUID(QString &uuid) override;
    bool getImageVersion(QString &text) override;
    VHJobs offeredJobs() override
    {
        return VHJob::SoftwareUpdate | VHJob::Languages | VHJob::FactoryRestore | VHJob::Backups;
    }
    bool getIAPVersion(QString &text) override;

    [[nodiscard]] bool readFlashBlocks(QByteArray &buffer, std::uint8_t selector, qint64 size, int blockSize,
                                       int startBlock = 0);
    // The same blocks read twice: one corrupted answer must not reach a backup
    // or a write-back. False when a read fails or the two differ.
    [[nodiscard]] bool readFlashChecked(QByteArray &buffer, std::uint8_t selector, qint64 size, int blockSize,
                                        int startBlock = 0);
    // Asks the flash status until it answers ready: at most totalMs / stepMs
    // questions, `stepMs` apart.
    [[nodiscard]] bool waitFlashReady(int totalMs, int stepMs);
    // Reads `size` bytes of the external flash from block 0 and says whether
    // every one is 0xFF: an erase that kept data is a failed erase.
    [[nodiscard]] bool externalFlashErased(qint64 size);

    // The size of the external flash: a backup holds exactly this many bytes.
    virtual qint64 externalFlashSize() const = 0;
    // The whole external flash into `path`, read twice and compared; false
    // when it could not be read or written. A copy the user asked for: the
    // store is not checked.
    virtual bool backupExtFlash(const QString &path);

    // ---- backups in the data folder ------------------------------------------
    // Three generations per device: "<family>flash.vh<version>-<time>-<device>.dat",
    // <device> the UUID's letters and digits or "nouuid". Names written before
    // ("...vh<version>-<device>.dat", "...vh<version>.dat" without a UUID) are
    // still this device's.
    static constexpr int kBackupGenerations = 3;
    static constexpr qint64 kMaxBackupFile = 0x1000000;
    QString newBackupPath();
    bool isOwnBackup(const QString &fileName);
    // Shown where a backup name is asked for: "<family>flash.vh*-<device>.dat".
    QString ownBackupPattern();
    // This device's backups in the data folder, oldest first.
    QStringList ownBackups();
    // The same with when each was taken (the time in its name, else the
    // file's) and its size, oldest first: what every front end lists.
    struct BackupEntry
    {
        QString path;
        QDateTime taken; // UTC
        qint64 size = 0;
    };
    QList<BackupEntry> ownBackupEntries();
    // The newest of them; empty when there is none.
    QString latestBackup();
    // Reads the whole external flash (checked) and keeps it as the newest
    // generation when it holds a sound store; older generations past three go.
    // Nothing is kept unless Kept. `flash` holds what was read.
    enum class Backup { Kept, Unreadable, NotSound, NotWritten };
    Backup takeCheckedBackup(QByteArray &flash);
    // The same for a whole flash already read twice and compared.
    Backup keepCheckedFlash(const QByteArray &flash);
    // What a failed write-back says: the flash may be erased or half written.
    QString restoreHint();

    // Starts writing one of this device's backups (a whole external flash)
    // back onto it on the worker thread, reported as a factory restore.
    // False when busy or when `path` is not such a backup.
    bool restoreBackup(const QString &path);
    // Its worker side: writes the backup at `path` onto the device and reads it back.
    bool _restoreBackup(const QString &path);
    // Starts a new generation of this device's backups on the worker thread
    // (the flash read twice, with progress), reported as a read-data action;
    // only a sound store is kept. False when busy.
    bool makeBackup();
    bool _makeBackup();
    // Starts reading the languages on the device on the worker thread,
    // reported as a read-data action; the answer is languagesRead(). Without
    // a directory on the device, the listing kept at its last language update.
    bool readLanguages();
    bool _readLanguages();
    QStringList languagesRead() const;
    // The size of the internal-flash area a language pack is built for; 0 for
    // a model that keeps its language elsewhere and takes no pack.
    virtual qsizetype languageAreaSize() const { return 0; }
    // The error code of every action of these families (3, the window's
    // "not enough space", is never used: nothing here fills a volume).
    enum Error {
        NoError = 0,
        Failed = 1,      // a flash command or a file of ours failed
        NoDevice = 2,    // no SCSI service, or the device stopped answering
        BadPackage = 4,  // the package is refused before the device is touched
        NotVerified = 6, // written, but the flash does not read back as written
        NoBackup = 7,    // stopped before an erase: no copy of the user's data could be kept
        BadBackup = 8,   // the file is not a whole, sound backup of this device
    };

protected:
    bool execute() override;
    // The first word of this family's backup names.
    virtual QString backupFamily() const = 0;
    // Erases the external flash and writes `flash`, one whole flash, onto it.
    virtual bool writeWholeFlash(const QByteArray &flash) = 0;
    // Whether a whole external flash holds a store that loads and passes its
    // checks: only such a flash becomes a backup.
    virtual bool isSoundFlash(const QByteArray &flash) = 0;

    VHSCSIDeviceService *scsi() const;
    // The end of every action: code, reason and change kept for the front ends,
    // a failure's reason logged at critical level; whether it succeeded.
    bool finish(const VHResult &result);
    // The pause before a flash or a restarted device answers.
    void pauseFor(int ms) { m_wait(ms); }

private:
    // What a read-data action started by makeBackup or readLanguages does.
    enum class ReadJob { Data, Backup, Languages };
    // A timed wait that no event of this program ends early: the default pause.
    static void sleepFor(int ms);
    QString deviceKey();
    bool startRead(ReadJob job);
    // The whole external flash, piece by piece read twice and compared.
    bool readFlashWithProgress(QByteArray &flash);
    bool keepBackup(const QByteArray &flash, QString &path);
    void dropOldBackups();

    QMutex m_uuidMutex;
    QString m_uuid;
    QString m_backupToRestore; // set by restoreBackup for its action
    ReadJob m_readJob = ReadJob::Data;
    mutable QMutex m_languagesMutex;
    QStringList m_languagesRead;
    Wait m_wait = &sleepFor;
};
