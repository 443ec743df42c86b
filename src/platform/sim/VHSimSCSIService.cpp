#include "VHSimSCSIService.h"

#include "VHLog.h"

#include <cstring>

namespace {
bool refuses(const std::uint8_t *cdb, int cdbLength, const void *buffer, int length)
{
    return !cdb || cdbLength < 1 || cdbLength > 16 || !buffer || length <= 0;
}
} // namespace

VHSimSCSIService::VHSimSCSIService(std::unique_ptr<VHSimScsiDevice> device, const VHModelInfo &model)
    : m_device(std::move(device)), m_model(model)
{}

bool VHSimSCSIService::writeClient(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data, int length)
{
    if (refuses(cdb, cdbLength, data, length))
        return false;
    // The firmware only reads a buffer sent to it.
    return m_device->execute(cdb, cdbLength, VHSimScsiDevice::Write, const_cast<std::uint8_t *>(data), length);
}

bool VHSimSCSIService::readClient(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length)
{
    if (refuses(cdb, cdbLength, buffer, length))
        return false;
    std::memset(buffer, 0, size_t(length));
    return m_device->execute(cdb, cdbLength, VHSimScsiDevice::Read, buffer, length);
}
