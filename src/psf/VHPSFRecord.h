#pragma once

// Reading and writing the fields of one management record (a 256-byte
// journal slot) inside a flash image. Reads outside the image give 0 and
// writes outside it write nothing; callers place records inside the header
// area only.

#include "VHPSFLayout.h"

#include <QByteArray>

struct VHPSFRegionFields
{
    quint32 free = 0;
    quint32 first = 0;
    quint32 end = 0;
    bool operator==(const VHPSFRegionFields &) const = default;
};

namespace VHPSFRecord {

quint16 marker(const QByteArray &image, qsizetype record);
quint16 count(const QByteArray &image, qsizetype record);
[[nodiscard]] bool setCount(QByteArray &image, qsizetype record, quint16 value);
VHPSFRegionFields region(const QByteArray &image, qsizetype record, VHPSFRegion region);
[[nodiscard]] bool setRegion(QByteArray &image, qsizetype record, VHPSFRegion region, const VHPSFRegionFields &fields);

quint32 storedSum(const QByteArray &image, qsizetype record);
quint32 storedCheck(const QByteArray &image, qsizetype record);
// The count plus the free values of every region but the info logs.
quint32 computeSum(const QByteArray &image, qsizetype record);
// The 16-bit byte sum of bytes 66-219, in the high half of the word.
quint32 computeCheck(const QByteArray &image, qsizetype record);
// Writes the sum, then the check value over it.
[[nodiscard]] bool seal(QByteArray &image, qsizetype record);

} // namespace VHPSFRecord
