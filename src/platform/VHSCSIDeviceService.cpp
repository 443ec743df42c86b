#include "VHSCSIDeviceService.h"

#include "VHLog.h"
#include "VHScsiCommands.h"

#include <QMutexLocker>
#include <QThread>

#include <vector>

bool VHSCSIDeviceService::sendWrite(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data, int length)
{
    QMutexLocker lock(&m_commandMutex);
    return writeClient(cdb, cdbLength, data, length);
}

bool VHSCSIDeviceService::sendRead(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length)
{
    QMutexLocker lock(&m_commandMutex);
    return readClient(cdb, cdbLength, buffer, length);
}

bool VHSCSIDeviceService::isCommandLocked()
{
    if (!m_commandMutex.tryLock())
        return true;
    m_commandMutex.unlock();
    return false;
}

bool VHSCSIDeviceService::getUUID(QString &uuid)
{
    const VHScsiCommands::Cdb10 cdb = VHScsiCommands::uuidRead();
    QByteArray answer(VHScsiCommands::kUuidReadLength, '\0');
    if (!sendRead(cdb.data(), int(cdb.size()), reinterpret_cast<std::uint8_t *>(answer.data()), int(answer.size())))
        return false;
    uuid = QString::fromLatin1(VHScsiCommands::uuidFromAnswer(answer));
    return !uuid.isEmpty();
}

bool VHSCSIDeviceService::isAddressable(qint64 blockCount, int blockSize, qint64 startBlock)
{
    constexpr qint64 kLastBlock = 0xFFFF;
    if (blockSize < 512 || blockSize % 512 != 0 || blockSize / 512 > 0xFF)
        return false;
    return startBlock >= 0 && blockCount >= 0 && startBlock + blockCount - 1 <= kLastBlock;
}

namespace {
qint64 blocksFor(qint64 size, int blockSize) { return size / blockSize + (size % blockSize ? 1 : 0); }
} // namespace

// Refuses a range the commands cannot address, then opens the client; either failure is logged.
bool VHSCSIDeviceService::openForBlocks(const char *outOfRange, qint64 size, int blockSize, int startBlock)
{
    if (blockSize > 0 && size > 0 && !isAddressable(blocksFor(size, blockSize), blockSize, startBlock)) {
        vhCritical() << outOfRange << startBlock << " size=" << size << " blockSize=" << blockSize;
        return false;
    }
    if (!openClient()) {
        vhCritical() << "open client failed";
        return false;
    }
    return true;
}

bool VHSCSIDeviceService::eraseFlashBlocks(qint64 size, int blockSize, int startBlock)
{
    if (!openForBlocks("erase client failed: blocks out of range, start=", size, blockSize, startBlock))
        return false;
    bool result = false;
    if (blockSize > 0 && size > 0) {
        const qint64 n = blocksFor(size, blockSize);
        const std::vector<std::uint8_t> zeros(VHScsiCommands::kEraseDataLength, 0);
        for (qint64 i = startBlock; i < startBlock + n; ++i) {
            const VHScsiCommands::Cdb10 cdb = VHScsiCommands::eraseBlock(std::uint32_t(i));
            result = sendWrite(cdb.data(), int(cdb.size()), zeros.data(), int(zeros.size()));
            if (!result) {
                vhCritical() << "erase client failed at loop " << i;
                break;
            }
        }
    }
    closeClient();
    return result;
}

void VHSCSIDeviceService::watchBlocks(BlockProgress progress)
{
    QMutexLocker lock(&m_watchMutex);
    m_watchingThread = progress ? QThread::currentThreadId() : nullptr;
    m_blockProgress = std::move(progress);
}

void VHSCSIDeviceService::tellBlocks(bool writing, qint64 done, qint64 total)
{
    BlockProgress progress;
    {
        QMutexLocker lock(&m_watchMutex);
        if (m_watchingThread != QThread::currentThreadId())
            return;
        progress = m_blockProgress;
    }
    if (progress)
        progress(writing, done, total);
}

bool VHSCSIDeviceService::writeFlashBlocks(const QByteArray &data, std::uint8_t selector, qint64 size, int blockSize,
                                           int startBlock)
{
    // Never read past the caller's bytes, whatever size claims.
    size = qMin<qint64>(size, data.size());
    if (!openForBlocks("write client failed: blocks out of range, start=", size, blockSize, startBlock))
        return false;
    bool result = false;
    if (blockSize > 0 && size > 0) {
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(data.constData());
        const qint64 fullBlocks = size / blockSize;
        for (qint64 k = 0; k < fullBlocks; ++k) {
            const qint64 i = startBlock + k;
            const VHScsiCommands::Cdb10 cdb = VHScsiCommands::writeBlock(std::uint32_t(i), selector, blockSize);
            result = sendWrite(cdb.data(), int(cdb.size()), bytes + k * blockSize, blockSize);
            if (!result) {
                vhCritical() << "write client failed at loop " << i;
                break;
            }
            tellBlocks(true, (k + 1) * blockSize, size);
        }
        const qint64 rest = size % blockSize;
        if (rest > 0 && result) {
            std::vector<std::uint8_t> tail(size_t(blockSize), 0xFF);
            std::copy(bytes + fullBlocks * blockSize, bytes + size, tail.begin());
            const qint64 e = startBlock + fullBlocks;
            const VHScsiCommands::Cdb10 cdb = VHScsiCommands::writeBlock(std::uint32_t(e), selector, blockSize);
            result = sendWrite(cdb.data(), int(cdb.size()), tail.data(), blockSize);
            if (!result)
                vhCritical() << "write client failed";
            else
                tellBlocks(true, size, size);
        }
    }
    closeClient();
    return result;
}

bool VHSCSIDeviceService::readFlashBlocks(QByteArray &buffer, std::uint8_t selector, qint64 size, int blockSize,
                                          int startBlock)
{
    buffer.clear();
    if (size <= 0 || blockSize <= 0)
        return false;
    if (!openForBlocks("read client failed: blocks out of range, start=", size, blockSize, startBlock))
        return false;
    buffer.resize(size);
    auto *bytes = reinterpret_cast<std::uint8_t *>(buffer.data());
    const qint64 fullBlocks = size / blockSize;
    bool result = true;
    for (qint64 k = 0; k < fullBlocks && result; ++k) {
        const VHScsiCommands::Cdb10 cdb = VHScsiCommands::readBlock(std::uint32_t(startBlock + k), selector, blockSize);
        result = sendRead(cdb.data(), int(cdb.size()), bytes + k * blockSize, blockSize);
        if (!result)
            vhCritical() << "read client failed at loop " << startBlock + k;
        else
            tellBlocks(false, (k + 1) * blockSize, size);
    }
    const qint64 rest = size % blockSize;
    if (rest > 0 && result) {
        // A whole block never lands in the end of the caller's buffer.
        std::vector<std::uint8_t> scratch(size_t(blockSize), 0);
        const VHScsiCommands::Cdb10 cdb =
            VHScsiCommands::readBlock(std::uint32_t(startBlock + fullBlocks), selector, blockSize);
        result = sendRead(cdb.data(), int(cdb.size()), scratch.data(), blockSize);
        if (result) {
            std::copy(scratch.begin(), scratch.begin() + rest, bytes + fullBlocks * blockSize);
            tellBlocks(false, size, size);
        } else
            vhCritical() << "read client failed";
    }
    closeClient();
    return result;
}
