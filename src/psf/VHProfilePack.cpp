#include "VHProfilePack.h"

#include "VHByteReader.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace VHProfilePack {

namespace {

bool fits(const QByteArray &block, qsizetype offset, std::string_view format)
{
    const qsizetype bytes = size(format);
    return bytes >= 0 && offset >= 0 && offset <= block.size() - bytes;
}

bool inRange(double value, double max)
{
    return std::isfinite(value) && value >= 0 && value <= max && value == std::floor(value);
}

bool valueFits(char letter, double value)
{
    switch (letter) {
    case 'B':
        return inRange(value, 0xFF);
    case 'H':
        return inRange(value, 0xFFFF);
    case 'I':
        return inRange(value, 0xFFFFFFFFu);
    default: // a float field takes what a float holds; NaN is carried as it came
        return !std::isfinite(value) || std::fabs(value) <= double(std::numeric_limits<float>::max());
    }
}

} // namespace

bool unpack(const QByteArray &block, qsizetype offset, std::string_view format, QList<double> &values)
{
    values.clear();
    if (!fits(block, offset, format))
        return false;
    VHByteReader reader(block, offset);
    for (char letter : format) {
        switch (letter) {
        case 'B':
            values.append(reader.u8());
            break;
        case 'H':
            values.append(reader.u16());
            break;
        case 'I':
            values.append(reader.u32());
            break;
        case 'f':
            values.append(double(std::bit_cast<float>(reader.u32())));
            break;
        default:
            reader.skip(1);
        }
    }
    return reader.ok();
}

bool pack(QByteArray &block, qsizetype offset, std::string_view format, const QList<double> &values)
{
    if (!fits(block, offset, format))
        return false;
    qsizetype index = 0;
    for (char letter : format) {
        if (letter == 'x')
            continue;
        if (index >= values.size() || !valueFits(letter, values[index]))
            return false;
        ++index;
    }
    if (index != values.size())
        return false;
    VHByteWriter writer(block, offset);
    index = 0;
    for (char letter : format) {
        switch (letter) {
        case 'B':
            writer.u8(uint8_t(values[index++]));
            break;
        case 'H':
            writer.u16(uint16_t(values[index++]));
            break;
        case 'I':
            writer.u32(uint32_t(values[index++]));
            break;
        case 'f': {
            const double value = values[index++];
            // A NaN is only ever carried: its bytes stay exactly as they were.
            uint32_t bits = std::bit_cast<uint32_t>(float(value));
            if (std::isnan(value))
                bits = VHByteReader(block, writer.position()).u32();
            writer.u32(bits);
            break;
        }
        default:
            writer.u8(uint8_t(block[writer.position()]));
        }
    }
    return writer.ok();
}

} // namespace VHProfilePack
