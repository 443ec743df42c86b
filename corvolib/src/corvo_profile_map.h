#pragma once

// "ProfileMap.txt": the text map of the values in "Profile.bin".

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvo {

constexpr size_t kMaxProfileLine = 100;
constexpr size_t kMaxProfileText = 1u << 20;
constexpr size_t kMaxProfileImage = 16u << 20;

struct MapEntry
{
    std::vector<std::string> fields; // name, offset, then the type or the header values
    uint64_t offset = 0;
    bool isHeader = false; // the line with offset 0
    int type = 0;

    const std::string &name() const { return fields[0]; }
    std::string field(size_t index) const { return index < fields.size() ? fields[index] : std::string(); }
};

struct BitField
{
    unsigned shift = 0;
    unsigned bits = 0;
};

// The lines of a text without their line ends; lines longer than maxLength are
// not the format's and are dropped.
std::vector<std::string_view> textLines(std::string_view text, size_t maxLength);

// Lines without a name, offset and third field are dropped.
std::vector<MapEntry> parseProfileMap(std::string_view text);

// The first value line named name (the header never matches).
const MapEntry *findValue(const std::vector<MapEntry> &entries, std::string_view name);

// Byte size of a value line; nullopt for lines without a size (type 11,
// unknown types, a bad size field).
std::optional<size_t> valueSize(const MapEntry &entry);
std::optional<BitField> bitField(const MapEntry &entry);

std::optional<int64_t> parseInteger(std::string_view text);
std::optional<double> parseDecimal(std::string_view text);

// The value's text as the profile ini holds it; nullopt for values that are
// not read as text. bytes are the value's size() bytes.
std::optional<std::string> formatValue(const MapEntry &entry, std::span<const uint8_t> bytes);

enum class EncodeResult { Written, NotWritten, Invalid };
// Converts text by the entry's type into bytes (the value's current bytes, of
// the value's size; bit fields keep their other bits).
EncodeResult encodeValue(const MapEntry &entry, std::string_view text, std::span<uint8_t> bytes);

} // namespace corvo
