#include "corvo_profile_map.h"

#include "corvo_io.h"

#include <charconv>
#include <cmath>

namespace corvo {

namespace {

constexpr size_t kMaxTextValue = 1u << 16;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string> splitFields(std::string_view line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t comma = line.find(',', start);
        fields.emplace_back(trimmed(line.substr(start, comma == std::string_view::npos ? comma : comma - start)));
        if (comma == std::string_view::npos)
            return fields;
        start = comma + 1;
    }
}

bool inRange(int64_t value, int64_t low, int64_t high) { return value >= low && value <= high; }

std::string printDecimal(double value)
{
    char text[512];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
    if (result.ec != std::errc())
        return std::string();
    return std::string(text, result.ptr);
}

std::string textValue(std::span<const uint8_t> bytes)
{
    std::string text;
    for (const uint8_t byte : bytes) {
        // A text ends at its zero; a line end would split the ini line.
        if (byte == 0 || byte == '\n' || byte == '\r')
            break;
        text.push_back(char(byte));
    }
    return text;
}

EncodeResult encodeInteger(int64_t low, int64_t high, std::string_view text, std::span<uint8_t> bytes)
{
    const auto value = parseInteger(text);
    if (!value || !inRange(*value, low, high))
        return EncodeResult::Invalid;
    ByteWriter w(bytes);
    for (size_t i = 0; i < bytes.size(); ++i)
        w.put8(i, uint8_t(uint64_t(*value) >> (8 * i)));
    return EncodeResult::Written;
}

} // namespace

std::vector<std::string_view> textLines(std::string_view text, size_t maxLength)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() <= maxLength)
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<MapEntry> parseProfileMap(std::string_view text)
{
    std::vector<MapEntry> entries;
    for (const std::string_view line : textLines(text, kMaxProfileLine)) {
        MapEntry entry;
        entry.fields = splitFields(line);
        if (entry.fields.size() < 3 || entry.fields[0].empty())
            continue;
        const auto offset = parseInteger(entry.fields[1]);
        if (!offset || *offset < 0)
            continue;
        entry.offset = uint64_t(*offset);
        entry.isHeader = *offset == 0;
        if (!entry.isHeader) {
            const auto type = parseInteger(entry.fields[2]);
            if (!type || !inRange(*type, 0, 255))
                continue;
            entry.type = int(*type);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

const MapEntry *findValue(const std::vector<MapEntry> &entries, std::string_view name)
{
    for (const MapEntry &entry : entries) {
        if (!entry.isHeader && entry.name() == name)
            return &entry;
    }
    return nullptr;
}

std::optional<size_t> valueSize(const MapEntry &entry)
{
    switch (entry.type) {
    case 1:
    case 2:
    case 9:
    case 10:
    case 13:
        return 1;
    case 3:
    case 4:
        return 2;
    case 5:
    case 6:
    case 7:
        return 4;
    case 8:
        return 8;
    case 12:
    case 14: {
        const auto size = parseInteger(entry.field(3));
        if (!size || !inRange(*size, 0, int64_t(kMaxTextValue)))
            return std::nullopt;
        return size_t(*size);
    }
    default:
        return std::nullopt;
    }
}

std::optional<BitField> bitField(const MapEntry &entry)
{
    const auto shift = parseInteger(entry.field(3));
    const auto bits = parseInteger(entry.field(4));
    if (!shift || !bits || !inRange(*shift, 0, 7) || !inRange(*bits, 1, 8))
        return std::nullopt;
    return BitField{unsigned(*shift), unsigned(*bits)};
}

std::optional<int64_t> parseInteger(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    int64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> parseDecimal(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::string> formatValue(const MapEntry &entry, std::span<const uint8_t> bytes)
{
    ByteReader r(bytes);
    switch (entry.type) {
    case 1:
    case 9:
    case 10:
        return std::to_string(r.u8(0));
    case 2:
        return std::to_string(r.i8(0));
    case 3:
        return std::to_string(r.u16(0));
    case 4:
        return std::to_string(r.i16(0));
    case 5:
    case 6:
        return std::to_string(r.i32(0));
    case 7:
        return printDecimal(double(r.f32(0)));
    case 8:
        return printDecimal(r.f64(0));
    case 13: {
        const auto field = bitField(entry);
        if (!field)
            return std::nullopt;
        return std::to_string((r.u8(0) >> field->shift) & ((1u << field->bits) - 1));
    }
    case 14:
        return textValue(bytes);
    default:
        return std::nullopt;
    }
}

EncodeResult encodeValue(const MapEntry &entry, std::string_view text, std::span<uint8_t> bytes)
{
    ByteWriter w(bytes);
    switch (entry.type) {
    // Integers are accepted in the signed or the unsigned range of their size.
    case 1:
    case 2:
    case 9:
    case 10:
        return encodeInteger(-128, 255, text, bytes);
    case 3:
    case 4:
        return encodeInteger(-32768, 65535, text, bytes);
    case 5:
    case 6:
        return encodeInteger(INT32_MIN, UINT32_MAX, text, bytes);
    case 7: {
        const auto value = parseDecimal(text);
        if (!value || (std::isfinite(*value) && std::fabs(*value) > 3.4028234663852886e38))
            return EncodeResult::Invalid;
        w.putF32(0, float(*value));
        return w.ok() ? EncodeResult::Written : EncodeResult::Invalid;
    }
    case 8: {
        const auto value = parseDecimal(text);
        if (!value)
            return EncodeResult::Invalid;
        w.putF64(0, *value);
        return w.ok() ? EncodeResult::Written : EncodeResult::Invalid;
    }
    case 13: {
        const auto field = bitField(entry);
        const auto value = parseInteger(text);
        const int64_t mask = (int64_t(1) << (field ? field->bits : 0)) - 1;
        if (!field || !value || !inRange(*value, 0, mask) || bytes.size() != 1)
            return EncodeResult::Invalid;
        const uint8_t kept = uint8_t(bytes[0] & ~(uint8_t(mask) << field->shift));
        bytes[0] = uint8_t(kept | (uint8_t(*value) << field->shift));
        return EncodeResult::Written;
    }
    default:
        return EncodeResult::NotWritten;
    }
}

} // namespace corvo
