#pragma once

#include "VHFileOps.h"
#include "VHSCSIDeviceService.h"
#include "VHSgIo.h"

// A device reached through SG_IO on its open /dev/sgN (or /dev/sdX) node. The
// service owns the descriptors: deleting it closes the device.
class VHLinuxSCSIService : public VHSCSIDeviceService
{
public:
    VHLinuxSCSIService(VHFileOps::UniqueFd primary, const VHModelInfo &model, const QString &nodePath,
                       VHFileOps::UniqueFd secondary = VHFileOps::UniqueFd(), std::uint8_t pathId = 0,
                       std::uint8_t targetId = 1, std::uint8_t lun = 0);

    VHModelInfo modelInfo() const override { return m_model; }
    // The node stays open for the service's life; nothing to do per sequence.
    bool openClient() override { return true; }
    void closeClient() override {}
    bool writeClient(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data, int length) override;
    bool readClient(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length) override;

    QString nodePath() const override { return m_nodePath; }
    // Tests route the requests through their own ioctl.
    void setIoctlFunction(VHSgIo::IoctlFunction ioctl) { m_ioctl = std::move(ioctl); }

private:
    VHFileOps::UniqueFd m_secondary;
    VHFileOps::UniqueFd m_primary;
    std::uint8_t m_pathId;
    std::uint8_t m_targetId;
    std::uint8_t m_lun;
    VHModelInfo m_model;
    QString m_nodePath;
    VHSgIo::IoctlFunction m_ioctl;
};
