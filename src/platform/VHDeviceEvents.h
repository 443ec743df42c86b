#pragma once

#include <QtGlobal>

// Device-change codes carried by DeviceChange(quint32). The values are those
// of the broadcasts the detector was first written for; the platform watchers
// produce the same three codes.
namespace VHDeviceEvent {
constexpr quint32 NodesChanged = 0x0007;   // a device node came or went (devices without a volume)
constexpr quint32 Arrival = 0x8000;        // a removable volume appeared
constexpr quint32 RemoveComplete = 0x8004; // a removable volume went away
} // namespace VHDeviceEvent
