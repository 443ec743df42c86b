#pragma once

#include <scsi/sg.h>

#include <array>
#include <cstdint>
#include <functional>

// The SCSI pass-through of the Linux kernel (SG_IO on a /dev/sg or /dev/sd node).
namespace VHSgIo {

constexpr unsigned kTimeoutMs = 10000;
constexpr int kSenseLength = 32;
constexpr int kMaxCdbLength = 16;

enum Direction { Read = 0, Write = 1 };

// One request with the command block and sense buffer it points to. The header
// points into the object itself, so it is neither copied nor moved.
struct Request
{
    Request() = default;
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    sg_io_hdr_t header{};
    std::array<std::uint8_t, kMaxCdbLength> cdb{};
    std::array<std::uint8_t, kSenseLength> sense{};
};

// Fills the request: interface 'S', the command block zero-padded, the
// direction, the caller's buffer, a 10 s timeout and the sense buffer. The
// arguments must already have passed the refusals of SendSCSICommandToDevice.
void build(Request &request, Direction direction, const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer,
           unsigned length);

// The transport or the driver failed (host or driver status). The SCSI status
// byte is not looked at, a CHECK CONDITION with sense data is no error here.
bool reportsError(const sg_io_hdr_t &header);
bool reportsTimeout(const sg_io_hdr_t &header);
// The sense key of fixed or descriptor sense data, or -1.
int senseKey(const std::uint8_t *sense, int length);
// The device reports UNIT ATTENTION (sense key 6), as it does once after plugging.
bool isUnitAttention(const Request &request);

// The ioctl the requests go through; tests replace it to count calls.
using IoctlFunction = std::function<int(int fd, sg_io_hdr_t *header)>;
int systemIoctl(int fd, sg_io_hdr_t *header);

// Sends one command. Direction 0 reads into readBuffer, 1 writes from
// writeBuffer. Refused without any I/O when cdbLength is not 1..16, the
// direction is neither 0 nor 1, or the chosen buffer is null or empty. Fails
// when the descriptor is invalid, the ioctl fails or the host or driver status
// reports an error. One retry when the device reports UNIT ATTENTION.
// The address bytes identify the device in the log only: the node addresses it.
[[nodiscard]] bool SendSCSICommandToDevice(int fd, std::uint8_t pathId, std::uint8_t targetId, std::uint8_t lun,
                                           int direction, const std::uint8_t *cdb, int cdbLength,
                                           std::uint8_t *readBuffer, int readLength, const std::uint8_t *writeBuffer,
                                           int writeLength, const IoctlFunction &ioctl = {});

// A command without data phase (START STOP UNIT), with the same checks.
[[nodiscard]] bool sendWithoutData(int fd, const std::uint8_t *cdb, int cdbLength, const IoctlFunction &ioctl = {});

} // namespace VHSgIo
