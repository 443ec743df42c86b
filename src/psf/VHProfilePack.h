#pragma once

// Packs and unpacks a run of little-endian fields described by a format text
// of one letter per field, each field right after the previous one:
//   B unsigned 8-bit   H unsigned 16-bit   I unsigned 32-bit
//   f 32-bit float     x a byte that is skipped (no value)
// Values travel as doubles, which hold every such field exactly.

#include <QByteArray>
#include <QList>

#include <string_view>

namespace VHProfilePack {

// Bytes the format covers; -1 for a letter that is not a field.
constexpr qsizetype size(std::string_view format)
{
    qsizetype total = 0;
    for (char letter : format) {
        switch (letter) {
        case 'B':
        case 'x':
            total += 1;
            break;
        case 'H':
            total += 2;
            break;
        case 'I':
        case 'f':
            total += 4;
            break;
        default:
            return -1;
        }
    }
    return total;
}

// Values of the fields (none for 'x'); false when the format does not fit
// the block at `offset` or has an unknown letter.
[[nodiscard]] bool unpack(const QByteArray &block, qsizetype offset, std::string_view format, QList<double> &values);
// Writes the values over the fields; skipped bytes stay as they are. False,
// with nothing written, when the format does not fit, the count differs or an
// integer value is not a whole number in its field's range.
[[nodiscard]] bool pack(QByteArray &block, qsizetype offset, std::string_view format, const QList<double> &values);

} // namespace VHProfilePack
