#pragma once

// Ini values for tests that link the util library (the simulator reads ini text the same way).

#include "VHIniDocument.h"
#include "VHTestFiles.h"

// One value of an ini file, such as "OS/Version". Read afresh each time: QSettings keeps files it read
// by path and trusts an equal size and second-grained time, so a rewritten file could read as the old one.
inline QString iniValue(const QString &ini, const QString &key)
{
    return vhSettingsTextValues(readFile(ini)).value(key);
}
