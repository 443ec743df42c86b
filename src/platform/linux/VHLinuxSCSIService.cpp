#include "VHLinuxSCSIService.h"

#include "VHLog.h"

#include <cstring>

VHLinuxSCSIService::VHLinuxSCSIService(VHFileOps::UniqueFd primary, const VHModelInfo &model, const QString &nodePath,
                                       VHFileOps::UniqueFd secondary, std::uint8_t pathId, std::uint8_t targetId,
                                       std::uint8_t lun)
    : m_secondary(std::move(secondary)), m_primary(std::move(primary)), m_pathId(pathId), m_targetId(targetId),
      m_lun(lun), m_model(model), m_nodePath(nodePath)
{}

bool VHLinuxSCSIService::writeClient(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data, int length)
{
    if (!m_primary.isValid()) {
        vhCritical() << "invalid handle";
        return false;
    }
    return VHSgIo::SendSCSICommandToDevice(m_primary.get(), m_pathId, m_targetId, m_lun, VHSgIo::Write, cdb, cdbLength,
                                           nullptr, 0, data, length, m_ioctl);
}

bool VHLinuxSCSIService::readClient(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length)
{
    const VHFileOps::UniqueFd &handle = m_primary.isValid() ? m_primary : m_secondary;
    if (!handle.isValid())
        return false;
    if (buffer && length > 0)
        std::memset(buffer, 0, size_t(length));
    return VHSgIo::SendSCSICommandToDevice(handle.get(), m_pathId, m_targetId, m_lun, VHSgIo::Read, cdb, cdbLength,
                                           buffer, length, nullptr, 0, m_ioctl);
}
