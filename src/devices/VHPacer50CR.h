#pragma once

#include "VHPacer50.h"

// The Pacer50 and Pacer50CR: the family's procedures on the volume the
// device service names, and an eject that takes the device's second volume too.
class VHPacer50CR : public VHDeviceImpl<VHPacer50CR, VHPacer50>
{
    Q_OBJECT

public:
    bool eject() override;
};
