#pragma once

// The Pacer40 profile: a list of 8-byte tagged entries (tag 0, 0, item number,
// value type; then a 32-bit little-endian value) in the profile record of the
// 4096-byte profile block, positions in VHProfileLayout.h.

#include "VHProfileReader.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace VHProfileEntries {

struct Item
{
    quint8 number;
    quint8 type;
};

// The item of a profile key; none for a key the device does not keep.
std::optional<Item> itemFor(const QString &key);
// The key of an item number; empty for an unknown item.
QString keyFor(quint8 number);

// Writes the known keys of `map` in key order (counted), then the magic
// entry (uncounted), the count and the written state. Keys whose text is no
// value of their type are left out. False, with the block unchanged, when the
// block is short.
[[nodiscard]] bool write(QByteArray &block, const VHProfileMap &map);
// Reads the counted entries; unknown items and types are passed over. False
// when the block is short or its count does not fit the record.
[[nodiscard]] bool read(const QByteArray &block, VHProfileMap &map);

} // namespace VHProfileEntries
