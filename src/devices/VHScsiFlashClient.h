#pragma once

#include "VHClient.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

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
    bool getIAPVersion(QString &text) override;

    [[nodiscard]] bool readFlashBlocks(QByteArray &buffer, std::uint8_t selector, qint64 size, int blockSize,
                                       int startBlock = 0);

    // The size of the external flash: a backup holds exactly this many bytes.
    virtual qint64 externalFlashSize() const = 0;
    // The whole external flash into `path`; false when it could not be read or written.
    virtual bool backupExtFlash(const QString &path) = 0;
    // "<family>flash.vh<version>-<uuid>.dat" in the data folder: one backup per device.
    QString backupPath();
    // The name pattern of this device's backups, of any runtime version.
    QString ownBackupPattern();
    // Starts writing one of this device's backups (a whole external flash)
    // back onto it on the worker thread, reported as a factory restore.
    // False when busy or when `path` is not such a backup.
    bool restoreBackup(const QString &path);

protected:
    bool execute() override;
    // The first word of this family's backup names.
    virtual QString backupFamily() const = 0;
    // Erases the external flash and writes `flash`, one whole flash, onto it.
    virtual bool writeWholeFlash(const QByteArray &flash) = 0;

    VHSCSIDeviceService *scsi() const;
    // The pause before a flash or a restarted device answers.
    void pauseFor(int ms) { m_wait(ms); }

private:
    // A timed wait that no event of this program ends early: the default pause.
    static void sleepFor(int ms);
    bool writeBackupToFlash(const QString &path);

    QMutex m_uuidMutex;
    QString m_uuid;
    QString m_backupToRestore; // set by restoreBackup for its action
    Wait m_wait = &sleepFor;
};
