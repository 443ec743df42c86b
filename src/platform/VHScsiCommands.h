#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>

// Command blocks of the vendor SCSI protocol. Multi-byte numbers are big-endian.
namespace VHScsiCommands {

using Cdb10 = std::array<std::uint8_t, 10>;
using Cdb6 = std::array<std::uint8_t, 6>;

constexpr std::uint8_t kSelectorUuid = 0x03;
constexpr std::uint8_t kSelectorErase = 0x18;
constexpr int kUuidReadLength = 2048;
constexpr int kInquiryLength = 128;
constexpr int kEraseDataLength = 512;
constexpr std::uint8_t kSelectorIapNotify = 0x1A;
constexpr int kIapNotifyLength = 512;

// Standard INQUIRY for 128 bytes: 12 80 00 00 80 00.
Cdb6 inquiry();
// READ(10) of logical block 0 with byte 6 = 0x03 and 4 blocks: the UUID read.
Cdb10 uuidRead();
// READ(10) of one block at address 0 with byte 6 = 0x1A: tells a device in
// IAP mode that its flash is written and it may start the new image.
Cdb10 iapNotify();
// WRITE(10) with the block number in bytes 4 and 5, byte 6 = 0x18 (erase), length 1.
Cdb10 eraseBlock(std::uint32_t block);
// WRITE(10) with the block number in bytes 4 and 5, byte 6 = selector,
// transfer length blockSize / 512 in byte 8.
Cdb10 writeBlock(std::uint32_t block, std::uint8_t selector, std::uint32_t blockSize);
// READ(10) addressed like writeBlock, for reading flash back by selector.
Cdb10 readBlock(std::uint32_t block, std::uint8_t selector, std::uint32_t blockSize);

// The UUID is the last 16 bytes of the 2048-byte answer, as 8-bit text up to
// the first zero byte.
QByteArray uuidFromAnswer(const QByteArray &answer);

} // namespace VHScsiCommands
