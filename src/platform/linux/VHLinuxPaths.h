#pragma once

#include <QString>

// Where the Linux backend looks; tests point these at prepared trees.
struct VHLinuxPaths
{
    QString sysRoot = QStringLiteral("/sys");
    QString devRoot = QStringLiteral("/dev");
    QString mountInfo = QStringLiteral("/proc/self/mountinfo");
    // udev's database: "b<major>:<minor>" holds a block device's properties.
    QString udevData = QStringLiteral("/run/udev/data");
};
