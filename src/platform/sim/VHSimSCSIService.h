#pragma once

#include "VHSCSIDeviceService.h"
#include "VHSimScsiDevice.h"

#include <memory>

// A simulated SCSI device reached through its firmware simulation. Refuses
// the same malformed requests as the real pass-through before anything is sent.
class VHSimSCSIService : public VHSCSIDeviceService
{
public:
    VHSimSCSIService(std::unique_ptr<VHSimScsiDevice> device, const VHModelInfo &model);

    VHModelInfo modelInfo() const override { return m_model; }
    bool openClient() override { return true; }
    void closeClient() override {}
    bool writeClient(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data, int length) override;
    bool readClient(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length) override;

    QString deviceFolder() const { return m_device->folder(); }
    QString nodePath() const override { return deviceFolder(); }

private:
    std::unique_ptr<VHSimScsiDevice> m_device;
    VHModelInfo m_model;
};
