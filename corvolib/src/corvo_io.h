#pragma once

// Bounds-checked access to device files and byte spans. Every read either
// delivers all requested bytes or fails; nothing is read or written outside a
// buffer, whatever a file on the device contains.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvo {

constexpr uint32_t kNone = 0xFFFFFFFFu; // "no offset" / "no time" in the files
constexpr size_t kFileHeaderSize = 16;

// Lengths the callers pass are one byte wide in the files' world.
inline size_t byteLength(int length) { return size_t(unsigned(length) & 0xFFu); }

// Prints one of the library's short failure texts, ending in CR LF.
void printFailure(const char *text);

class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd();

    int get() const { return fd_; }
    int release();
    bool close(); // false when the kernel reports a failed close

private:
    int fd_ = -1;
};

// A regular file opened for bounded reads and positioned writes.
class DeviceFile
{
public:
    enum class Mode { Read, ReadWrite, Create };

    bool open(const std::string &path, Mode mode);
    bool isOpen() const { return fd_.get() >= 0; }
    uint64_t size() const { return size_; }

    // Reads exactly out.size() bytes at offset; false when the file is shorter.
    bool read(uint64_t offset, std::span<uint8_t> out) const;
    bool write(uint64_t offset, std::span<const uint8_t> in);
    bool close();

private:
    UniqueFd fd_;
    uint64_t size_ = 0;
};

// Reads a whole file of at most maxSize bytes.
bool readWholeFile(const std::string &path, size_t maxSize, std::vector<uint8_t> &out);
// Replaces path's content with bytes (created when missing).
bool writeWholeFile(const std::string &path, std::span<const uint8_t> bytes);

// Little-endian reader over a byte span with a sticky failure flag: an access
// outside the span yields 0 and makes ok() false.
class ByteReader
{
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint8_t u8(size_t at);
    uint16_t u16(size_t at);
    uint32_t u32(size_t at);
    uint64_t u64(size_t at);
    int8_t i8(size_t at) { return int8_t(u8(at)); }
    int16_t i16(size_t at) { return int16_t(u16(at)); }
    int32_t i32(size_t at) { return int32_t(u32(at)); }
    float f32(size_t at);
    double f64(size_t at);
    bool ok() const { return ok_; }

private:
    bool has(size_t at, size_t n);

    std::span<const uint8_t> bytes_;
    bool ok_ = true;
};

// Little-endian writer over a byte span; writes outside the span are dropped
// and make ok() false.
class ByteWriter
{
public:
    explicit ByteWriter(std::span<uint8_t> bytes) : bytes_(bytes) {}

    void put8(size_t at, uint8_t v);
    void put16(size_t at, uint16_t v);
    void put32(size_t at, uint32_t v);
    void put64(size_t at, uint64_t v);
    void putF32(size_t at, float v);
    void putF64(size_t at, double v);
    bool ok() const { return ok_; }

private:
    bool has(size_t at, size_t n);

    std::span<uint8_t> bytes_;
    bool ok_ = true;
};

std::array<uint8_t, 4> le32(uint32_t v);

// The 16-byte header every device-log file starts with.
std::array<uint8_t, kFileHeaderSize> fileHeader(uint8_t kind);

// Reads the u32 at offset of a file; false when the file is too short.
bool readU32(const DeviceFile &file, uint64_t offset, uint32_t &value);

} // namespace corvo
