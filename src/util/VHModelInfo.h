#pragma once

#include <QString>
#include <QVector>

class VHClient;
class VHDeviceService;

// Creates the device object for a found service. The object takes the service
// (it owns it from then on); null when the device cannot be opened, in which
// case the service has been deleted with the discarded object.
using VHDeviceFactory = VHClient *(*)(VHDeviceService *service);

// One row of the model table; rows are copied by value.
struct VHModelInfo
{
    QString code;           // 4 characters, compared with the first 4 of the device UUID
    QString modelName;      // "Pacer50", ...
    QString identification; // searched in SCSI INQUIRY data; ":"-separated pieces for drive vendors
    VHDeviceFactory factory = nullptr;
};

using VHModelTable = QVector<VHModelInfo>;
