#include "VHPacer50CR.h"

bool VHPacer50CR::eject() { return ejectVolumes(); }
