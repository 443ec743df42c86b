#pragma once

#include "VHDeviceService.h"

#include <QByteArray>

#include <cstdint>

// A device reached through vendor SCSI commands. Subclasses supply the
// transport (writeClient/readClient); the flash procedures are built on them.
class VHSCSIDeviceService : public VHDeviceService
{
public:
    int type() const override { return DEVICE_SCSI; }

    virtual bool openClient() = 0;
    virtual void closeClient() = 0;
    // Sends cdb with `length` bytes of data to the device.
    virtual bool writeClient(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data, int length) = 0;
    // Sends cdb and reads `length` bytes from the device into buffer (zeroed first).
    virtual bool readClient(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length) = 0;

    // Programs `size` bytes of data from block startBlock on: full blocks first,
    // then one tail block padded with 0xFF. A size below one block sends nothing
    // and returns false.
    virtual bool writeFlashBlocks(const QByteArray &data, std::uint8_t selector, qint64 size, int blockSize,
                                  int startBlock);
    // Erases ceil(size / blockSize) blocks from startBlock on.
    virtual bool eraseFlashBlocks(qint64 size, int blockSize, int startBlock);

    // getUUID of every SCSI device: the vendor UUID read.
    bool getUUID(QString &uuid) override;
};
