// The device profile: "Profile.bin" read into an ini file, written back from
// one, and carried over into the profile image of a new software version.
// Each function works on in-memory copies and writes only when every value
// was understood, so a damaged file never leaves a half-changed profile.

#include "corvo_io.h"
#include "corvo_paths.h"
#include "corvo_profile_map.h"

#include "corvolib.h"

#include <string>
#include <vector>

namespace {

using corvo::MapEntry;

constexpr const char *kMapName = "ProfileMap.txt";
constexpr const char *kImageName = "Profile.bin";

struct Profile
{
    std::vector<MapEntry> map;
    std::vector<uint8_t> image;
};

// Value names the device keeps twice; a new value of the first goes to both.
constexpr std::pair<const char *, const char *> kMirroredValues[] = {
    {"MHR-BV", "UP-maxHR"},
    {"LTHR-BV", "UP-MLSS"},
};

bool loadText(const std::string &path, std::string &text)
{
    std::vector<uint8_t> bytes;
    if (!corvo::readWholeFile(path, corvo::kMaxProfileText, bytes)) {
        corvo::printFailure("open file error ");
        return false;
    }
    text.assign(bytes.begin(), bytes.end());
    return true;
}

bool loadImage(const std::string &path, std::vector<uint8_t> &image)
{
    if (corvo::readWholeFile(path, corvo::kMaxProfileImage, image))
        return true;
    corvo::printFailure("open file error ");
    return false;
}

// The image must also be writable when it is to be written back.
bool loadWritableImage(const std::string &path, std::vector<uint8_t> &image)
{
    corvo::DeviceFile probe;
    if (!probe.open(path, corvo::DeviceFile::Mode::ReadWrite)) {
        corvo::printFailure("open file error ");
        return false;
    }
    return loadImage(path, image);
}

bool loadProfile(const std::string &mapPath, const std::string &imagePath, bool writable, Profile &profile)
{
    std::string text;
    if (!loadText(mapPath, text))
        return false;
    if (!(writable ? loadWritableImage(imagePath, profile.image) : loadImage(imagePath, profile.image)))
        return false;
    profile.map = corvo::parseProfileMap(text);
    return true;
}

bool storeImage(const std::string &path, const std::vector<uint8_t> &image)
{
    corvo::DeviceFile file;
    if (!file.open(path, corvo::DeviceFile::Mode::ReadWrite)) {
        corvo::printFailure("open file error ");
        return false;
    }
    const bool written = file.write(0, image);
    return file.close() && written;
}

// The bytes of a value inside the image, or an empty span when they lie
// outside it.
std::span<uint8_t> valueBytes(std::vector<uint8_t> &image, uint64_t offset, size_t size, bool &inside)
{
    inside = offset <= image.size() && size <= image.size() - offset;
    if (!inside)
        return {};
    return std::span<uint8_t>(image).subspan(size_t(offset), size);
}

void appendIniLine(std::string &ini, const std::string &name, const std::string &value)
{
    ini += name;
    ini += '=';
    // Values this long are not kept by the ini readers of the device tools.
    if (value.size() < corvo::kMaxProfileLine)
        ini += value;
    ini += '\n';
}

void appendHeader(std::string &ini, const MapEntry &header)
{
    appendIniLine(ini, "ProjectCode", header.field(2));
    appendIniLine(ini, "Major", header.field(3));
    appendIniLine(ini, "Minor", header.field(4));
    appendIniLine(ini, "Build", header.field(5));
}

bool appendValue(std::string &ini, const MapEntry &entry, std::vector<uint8_t> &image)
{
    const auto size = corvo::valueSize(entry);
    if (!size || entry.type == 12)
        return true;
    bool inside = false;
    const auto bytes = valueBytes(image, entry.offset, *size, inside);
    if (!inside) {
        corvo::printFailure("profile value out of range ");
        return false;
    }
    if (const auto value = corvo::formatValue(entry, bytes))
        appendIniLine(ini, entry.name(), *value);
    return true;
}

enum class Carry { Nothing, Values, Failed };

// Whether the device's profile may go into the new image: same project and a
// newer major version.
Carry compareHeaders(const std::vector<MapEntry> &device, const std::vector<MapEntry> &fresh)
{
    const MapEntry *deviceHeader = nullptr;
    for (const MapEntry &entry : device) {
        if (entry.isHeader) {
            deviceHeader = &entry;
            break;
        }
    }
    if (!deviceHeader || fresh.empty() || !fresh.front().isHeader) {
        corvo::printFailure("profile map error ");
        return Carry::Failed;
    }
    const MapEntry &freshHeader = fresh.front();
    if (deviceHeader->field(2) != freshHeader.field(2))
        return Carry::Nothing;
    const auto deviceMajor = corvo::parseInteger(deviceHeader->field(3));
    const auto freshMajor = corvo::parseInteger(freshHeader.field(3));
    if (!deviceMajor || !freshMajor) {
        corvo::printFailure("profile map error ");
        return Carry::Failed;
    }
    return *deviceMajor < *freshMajor ? Carry::Values : Carry::Nothing;
}

bool carryValue(const MapEntry &entry, Profile &device, Profile &fresh)
{
    const auto size = corvo::valueSize(entry);
    const MapEntry *target = corvo::findValue(fresh.map, entry.name());
    if (!size || *size == 0 || !target || corvo::valueSize(*target) != size)
        return true;
    bool fromInside = false;
    bool toInside = false;
    const auto from = valueBytes(device.image, entry.offset, *size, fromInside);
    const auto to = valueBytes(fresh.image, target->offset, *size, toInside);
    if (!fromInside || !toInside) {
        corvo::printFailure("profile value out of range ");
        return false;
    }
    std::copy(from.begin(), from.end(), to.begin());
    return true;
}

bool writeValue(const Profile &profile, std::vector<uint8_t> &image, std::string_view name, std::string_view text)
{
    const MapEntry *entry = corvo::findValue(profile.map, name);
    if (!entry || text.empty())
        return true;
    const auto size = corvo::valueSize(*entry);
    if (!size)
        return true;
    bool inside = false;
    const auto bytes = valueBytes(image, entry->offset, *size, inside);
    if (!inside) {
        corvo::printFailure("profile value out of range ");
        return false;
    }
    if (corvo::encodeValue(*entry, text, bytes) != corvo::EncodeResult::Invalid)
        return true;
    corvo::printFailure("profile value error ");
    return false;
}

bool applyIniLine(const Profile &profile, std::vector<uint8_t> &image, std::string_view line)
{
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return true;
    const std::string_view key = line.substr(0, equals);
    std::string_view value = line.substr(equals + 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (!writeValue(profile, image, key, value))
        return false;
    for (const auto &[name, mirror] : kMirroredValues) {
        if (key == name && !writeValue(profile, image, mirror, value))
            return false;
    }
    return true;
}

} // namespace

extern "C" {

int GetProfile(const char *folder, const char *iniPath)
{
    if (!folder || !iniPath)
        return 0;
    Profile profile;
    if (!loadProfile(corvo::fileInDirectory(folder, kMapName), corvo::fileInDirectory(folder, kImageName), false,
                     profile))
        return 0;
    std::string ini;
    for (const MapEntry &entry : profile.map) {
        if (entry.isHeader)
            appendHeader(ini, entry);
        else if (!appendValue(ini, entry, profile.image))
            return 0;
    }
    if (corvo::writeWholeFile(iniPath,
                              std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(ini.data()), ini.size())))
        return 1;
    corvo::printFailure("Create file fail.. ");
    corvo::removeFile(iniPath);
    return 0;
}

int UpdateProfile(const char *folder, const char *newMapPath, const char *newBinPath)
{
    if (!folder || !newMapPath || !newBinPath)
        return 0;
    Profile fresh;
    Profile device;
    if (!loadProfile(newMapPath, newBinPath, true, fresh)
        || !loadProfile(corvo::fileInDirectory(folder, kMapName), corvo::fileInDirectory(folder, kImageName), false,
                        device))
        return 0;
    const Carry carry = compareHeaders(device.map, fresh.map);
    if (carry != Carry::Values)
        return carry == Carry::Nothing ? 1 : 0;
    for (const MapEntry &entry : device.map) {
        if (!entry.isHeader && !carryValue(entry, device, fresh))
            return 0;
    }
    return storeImage(newBinPath, fresh.image) ? 2 : 0;
}

int RefreshProfile(const char *folder, const char *iniPath)
{
    if (!folder || !iniPath)
        return 0;
    Profile profile;
    std::string ini;
    const std::string imagePath = corvo::fileInDirectory(folder, kImageName);
    if (!loadProfile(corvo::fileInDirectory(folder, kMapName), imagePath, true, profile) || !loadText(iniPath, ini))
        return 0;
    std::vector<uint8_t> image = profile.image;
    for (const std::string_view line : corvo::textLines(ini, corvo::kMaxProfileLine)) {
        if (!applyIniLine(profile, image, line))
            return 0;
    }
    return storeImage(imagePath, image) ? 1 : 0;
}

} // extern "C"
