#pragma once

#include "VHDeviceService.h"

#include <QByteArray>
#include <QMutex>

#include <cstdint>
#include <functional>

// A device reached through vendor SCSI commands. Subclasses supply the
// transport (writeClient/readClient); the flash procedures are built on them.
class VHSCSIDeviceService : public VHDeviceService
{
public:
    int type() const override { return DEVICE_SCSI; }

    [[nodiscard]] virtual bool openClient() = 0;
    virtual void closeClient() = 0;
    // Sends cdb with `length` bytes of data to the device.
    [[nodiscard]] virtual bool writeClient(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data,
                                           int length) = 0;
    // Sends cdb and reads `length` bytes from the device into buffer (zeroed first).
    [[nodiscard]] virtual bool readClient(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length) = 0;

    // One command under the command lock: commands of different threads on
    // this device never interleave, and the lock is never held longer than
    // one command (a whole image is many commands).
    [[nodiscard]] bool sendWrite(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data, int length);
    [[nodiscard]] bool sendRead(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length);
    // Whether a command is being sent now (by any thread).
    bool isCommandLocked();

    // Programs `size` bytes of data from block startBlock on: full blocks first,
    // then one tail block padded with 0xFF. A size below one block sends nothing
    // and returns false.
    [[nodiscard]] virtual bool writeFlashBlocks(const QByteArray &data, std::uint8_t selector, qint64 size,
                                                int blockSize, int startBlock);
    // Reads `size` bytes from block startBlock on into buffer (resized to
    // size): one command per block; a last partial block is read into a
    // scratch block and only its front copied. Stops at the first failure.
    [[nodiscard]] virtual bool readFlashBlocks(QByteArray &buffer, std::uint8_t selector, qint64 size, int blockSize,
                                               int startBlock);
    // Hears every block of writeFlashBlocks and readFlashBlocks called on the
    // thread that set it: whether it wrote, and the bytes done of the call's
    // total. One thread's action is watched; other threads' calls pass unheard.
    using BlockProgress = std::function<void(bool writing, qint64 done, qint64 total)>;
    void watchBlocks(BlockProgress progress);
    // Erases ceil(size / blockSize) blocks from startBlock on.
    [[nodiscard]] virtual bool eraseFlashBlocks(qint64 size, int blockSize, int startBlock);

    // Where the device is reached: its /dev node, or the simulated device's
    // folder; empty when the transport does not say.
    virtual QString nodePath() const { return QString(); }

    // getUUID of every SCSI device: the vendor UUID read.
    bool getUUID(QString &uuid) override;

    // Two texts of the INQUIRY answer the scan matched: the 4 bytes after
    // "IAP I" and the 4 bytes at offset 27.
    QByteArray iapTag() const { return m_iapTag; }
    QByteArray productTag() const { return m_productTag; }
    void setInquiryTags(const QByteArray &iapTag, const QByteArray &productTag)
    {
        m_iapTag = iapTag;
        m_productTag = productTag;
    }

    // Block numbers travel in two bytes and the transfer length counts 512-byte
    // units: a range outside 0..65535 or a block size that is not a positive
    // multiple of 512 would address the wrong flash.
    static bool isAddressable(qint64 blockCount, int blockSize, qint64 startBlock);

private:
    bool openForBlocks(const char *outOfRange, qint64 size, int blockSize, int startBlock);

    QMutex m_commandMutex;
    QByteArray m_iapTag;
    void tellBlocks(bool writing, qint64 done, qint64 total);
    QMutex m_watchMutex;
    BlockProgress m_blockProgress;
    Qt::HANDLE m_watchingThread = nullptr;
    QByteArray m_productTag;
};
