#pragma once

#include "VHDeviceImpl.h"
#include "VHPacer30.h"

// The "Pacer30" and "Pacer35" models: the family's behaviour as it is.
class VHPacer35 : public VHDeviceImpl<VHPacer35, VHPacer30>
{
    Q_OBJECT
};
