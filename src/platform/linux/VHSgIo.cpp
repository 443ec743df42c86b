#include "VHSgIo.h"

#include "VHLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/ioctl.h>

namespace VHSgIo {

namespace {

// Host status DID_TIME_OUT and driver status DRIVER_TIMEOUT of the kernel.
constexpr unsigned kHostTimeout = 0x03;
constexpr unsigned kDriverTimeout = 0x06;
// The low bits of the driver status hold the error; 0x08 only says sense data is there.
constexpr unsigned kDriverErrorMask = 0x07;
constexpr int kUnitAttention = 0x06;

bool refuses(int direction, const std::uint8_t *cdb, int cdbLength, const void *buffer, int length)
{
    return cdb == nullptr || cdbLength < 1 || cdbLength > kMaxCdbLength || (direction != Read && direction != Write)
           || buffer == nullptr || length <= 0;
}

// One ioctl plus the status checks; `attention` tells whether a retry may help.
bool sendOnce(int fd, Request &request, const IoctlFunction &ioctl, bool &attention)
{
    attention = false;
    const int result = ioctl ? ioctl(fd, &request.header) : systemIoctl(fd, &request.header);
    if (result < 0) {
        vhWarning() << "SG_IO failed: " << errno;
        return false;
    }
    if (reportsError(request.header)) {
        if (reportsTimeout(request.header))
            vhWarning() << "SCSI command timed out";
        vhWarning() << "SCSI command failed: host status=" << request.header.host_status
                    << " driver status=" << request.header.driver_status;
        return false;
    }
    attention = isUnitAttention(request);
    return true;
}

bool send(int fd, Direction direction, const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, unsigned length,
          const IoctlFunction &ioctl)
{
    Request request;
    build(request, direction, cdb, cdbLength, buffer, length);
    bool attention = false;
    bool ok = sendOnce(fd, request, ioctl, attention);
    if (ok && attention) {
        // Normal right after plugging: the device tells once that it was reset.
        vhDebug() << "unit attention, command repeated";
        if (direction == Read && buffer)
            std::memset(buffer, 0, length);
        Request again;
        build(again, direction, cdb, cdbLength, buffer, length);
        ok = sendOnce(fd, again, ioctl, attention);
    }
    return ok;
}

bool validHandle(int fd)
{
    if (fd >= 0)
        return true;
    std::fputs("file open error!!\n", stdout);
    std::fflush(stdout);
    vhWarning() << "Open SCSI device failed";
    return false;
}

} // namespace

void build(Request &request, Direction direction, const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer,
           unsigned length)
{
    request.header = sg_io_hdr_t{};
    request.cdb.fill(0);
    request.sense.fill(0);
    std::memcpy(request.cdb.data(), cdb, size_t(qBound(0, cdbLength, kMaxCdbLength)));
    sg_io_hdr_t &h = request.header;
    h.interface_id = 'S';
    h.cmd_len = static_cast<unsigned char>(cdbLength);
    h.cmdp = request.cdb.data();
    h.mx_sb_len = kSenseLength;
    h.sbp = request.sense.data();
    h.timeout = kTimeoutMs;
    if (buffer && length > 0) {
        h.dxfer_direction = direction == Read ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
        h.dxferp = buffer;
        h.dxfer_len = length;
    } else {
        h.dxfer_direction = SG_DXFER_NONE;
    }
}

bool reportsError(const sg_io_hdr_t &header)
{
    return header.host_status != 0 || (header.driver_status & kDriverErrorMask) != 0;
}

bool reportsTimeout(const sg_io_hdr_t &header)
{
    return header.host_status == kHostTimeout || (header.driver_status & kDriverErrorMask) == kDriverTimeout;
}

int senseKey(const std::uint8_t *sense, int length)
{
    if (!sense || length < 2)
        return -1;
    const int responseCode = sense[0] & 0x7F;
    if (responseCode == 0x72 || responseCode == 0x73)
        return sense[1] & 0x0F;
    if ((responseCode == 0x70 || responseCode == 0x71) && length >= 3)
        return sense[2] & 0x0F;
    return -1;
}

bool isUnitAttention(const Request &request)
{
    const int written = qBound(0, int(request.header.sb_len_wr), kSenseLength);
    return senseKey(request.sense.data(), written) == kUnitAttention;
}

int systemIoctl(int fd, sg_io_hdr_t *header)
{
    int result;
    do {
        result = ::ioctl(fd, SG_IO, header);
    } while (result < 0 && errno == EINTR);
    return result;
}

bool SendSCSICommandToDevice(int fd, std::uint8_t pathId, std::uint8_t targetId, std::uint8_t lun, int direction,
                             const std::uint8_t *cdb, int cdbLength, std::uint8_t *readBuffer, int readLength,
                             const std::uint8_t *writeBuffer, int writeLength, const IoctlFunction &ioctl)
{
    Q_UNUSED(pathId);
    Q_UNUSED(targetId);
    Q_UNUSED(lun);
    const bool reading = direction == Read;
    const void *buffer = reading ? static_cast<const void *>(readBuffer) : static_cast<const void *>(writeBuffer);
    const int length = reading ? readLength : writeLength;
    if (refuses(direction, cdb, cdbLength, buffer, length))
        return false;
    if (!validHandle(fd))
        return false;
    // The kernel only reads a buffer that goes to the device.
    auto *data = reading ? readBuffer : const_cast<std::uint8_t *>(writeBuffer);
    return send(fd, reading ? Read : Write, cdb, cdbLength, data, unsigned(length), ioctl);
}

bool sendWithoutData(int fd, const std::uint8_t *cdb, int cdbLength, const IoctlFunction &ioctl)
{
    if (cdb == nullptr || cdbLength < 1 || cdbLength > kMaxCdbLength)
        return false;
    if (!validHandle(fd))
        return false;
    return send(fd, Read, cdb, cdbLength, nullptr, 0, ioctl);
}

} // namespace VHSgIo
