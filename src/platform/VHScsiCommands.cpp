#include "VHScsiCommands.h"

namespace VHScsiCommands {

Cdb6 inquiry() { return {0x12, 0x80, 0x00, 0x00, 0x80, 0x00}; }

Cdb10 uuidRead() { return {0x28, 0x00, 0x00, 0x00, 0x00, 0x00, kSelectorUuid, 0x00, 0x04, 0x00}; }

Cdb10 iapNotify() { return {0x28, 0x00, 0x00, 0x00, 0x00, 0x00, kSelectorIapNotify, 0x00, 0x01, 0x00}; }

Cdb10 eraseBlock(std::uint32_t block)
{
    return {0x2A,           0x00, 0x00, 0x00, std::uint8_t(block / 256), std::uint8_t(block % 256),
            kSelectorErase, 0x00, 0x01, 0x00};
}

Cdb10 writeBlock(std::uint32_t block, std::uint8_t selector, std::uint32_t blockSize)
{
    return {0x2A,
            0x00,
            0x00,
            0x00,
            std::uint8_t(block / 256),
            std::uint8_t(block % 256),
            selector,
            0x00,
            std::uint8_t(blockSize / 512),
            0x00};
}

Cdb10 readBlock(std::uint32_t block, std::uint8_t selector, std::uint32_t blockSize)
{
    Cdb10 cdb = writeBlock(block, selector, blockSize);
    cdb[0] = 0x28;
    return cdb;
}

QByteArray uuidFromAnswer(const QByteArray &answer)
{
    if (answer.size() < 16)
        return {};
    const QByteArray tail = answer.right(16);
    const qsizetype zero = tail.indexOf('\0');
    return zero < 0 ? tail : tail.left(zero);
}

} // namespace VHScsiCommands
