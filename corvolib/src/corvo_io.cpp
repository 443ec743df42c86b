#include "corvo_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvo {

void printFailure(const char *text)
{
    std::fputs(text, stdout);
    std::fputs("\r\n", stdout);
    std::fflush(stdout);
}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() { close(); }

int UniqueFd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool UniqueFd::close()
{
    if (fd_ < 0)
        return true;
    const int rc = ::close(release());
    return rc == 0;
}

namespace {

int openFlags(DeviceFile::Mode mode)
{
    switch (mode) {
    case DeviceFile::Mode::Read:
        return O_RDONLY | O_CLOEXEC;
    case DeviceFile::Mode::ReadWrite:
        return O_RDWR | O_CLOEXEC;
    case DeviceFile::Mode::Create:
        return O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC;
    }
    return O_RDONLY | O_CLOEXEC;
}

} // namespace

bool DeviceFile::open(const std::string &path, Mode mode)
{
    fd_ = UniqueFd(::open(path.c_str(), openFlags(mode), 0666));
    if (fd_.get() < 0)
        return false;
    struct stat st
    {};
    if (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        fd_.close();
        return false;
    }
    size_ = uint64_t(st.st_size);
    return true;
}

bool DeviceFile::read(uint64_t offset, std::span<uint8_t> out) const
{
    if (!isOpen() || offset > size_ || out.size() > size_ - offset)
        return false;
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd_.get(), out.data() + done, out.size() - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool DeviceFile::write(uint64_t offset, std::span<const uint8_t> in)
{
    if (!isOpen() || offset > uint64_t(INT64_MAX) - in.size())
        return false;
    size_t done = 0;
    while (done < in.size()) {
        const ssize_t n = ::pwrite(fd_.get(), in.data() + done, in.size() - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    if (offset + in.size() > size_)
        size_ = offset + in.size();
    return true;
}

bool DeviceFile::close()
{
    size_ = 0;
    return fd_.close();
}

bool readWholeFile(const std::string &path, size_t maxSize, std::vector<uint8_t> &out)
{
    DeviceFile file;
    if (!file.open(path, DeviceFile::Mode::Read) || file.size() > maxSize)
        return false;
    out.assign(size_t(file.size()), 0);
    return file.read(0, out);
}

bool writeWholeFile(const std::string &path, std::span<const uint8_t> bytes)
{
    DeviceFile file;
    if (!file.open(path, DeviceFile::Mode::Create))
        return false;
    const bool written = file.write(0, bytes);
    return file.close() && written;
}

bool ByteReader::has(size_t at, size_t n)
{
    if (at <= bytes_.size() && n <= bytes_.size() - at)
        return true;
    ok_ = false;
    return false;
}

uint8_t ByteReader::u8(size_t at) { return has(at, 1) ? bytes_[at] : 0; }

uint16_t ByteReader::u16(size_t at)
{
    if (!has(at, 2))
        return 0;
    return uint16_t(bytes_[at] | (bytes_[at + 1] << 8));
}

uint32_t ByteReader::u32(size_t at)
{
    if (!has(at, 4))
        return 0;
    return uint32_t(bytes_[at]) | uint32_t(bytes_[at + 1]) << 8 | uint32_t(bytes_[at + 2]) << 16
           | uint32_t(bytes_[at + 3]) << 24;
}

uint64_t ByteReader::u64(size_t at)
{
    if (!has(at, 8))
        return 0;
    return uint64_t(u32(at)) | uint64_t(u32(at + 4)) << 32;
}

float ByteReader::f32(size_t at)
{
    const uint32_t bits = u32(at);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

double ByteReader::f64(size_t at)
{
    const uint64_t bits = u64(at);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

bool ByteWriter::has(size_t at, size_t n)
{
    if (at <= bytes_.size() && n <= bytes_.size() - at)
        return true;
    ok_ = false;
    return false;
}

void ByteWriter::put8(size_t at, uint8_t v)
{
    if (has(at, 1))
        bytes_[at] = v;
}

void ByteWriter::put16(size_t at, uint16_t v)
{
    if (!has(at, 2))
        return;
    bytes_[at] = uint8_t(v);
    bytes_[at + 1] = uint8_t(v >> 8);
}

void ByteWriter::put32(size_t at, uint32_t v)
{
    if (!has(at, 4))
        return;
    for (size_t i = 0; i < 4; ++i)
        bytes_[at + i] = uint8_t(v >> (8 * i));
}

void ByteWriter::put64(size_t at, uint64_t v)
{
    if (!has(at, 8))
        return;
    put32(at, uint32_t(v));
    put32(at + 4, uint32_t(v >> 32));
}

void ByteWriter::putF32(size_t at, float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    put32(at, bits);
}

void ByteWriter::putF64(size_t at, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    put64(at, bits);
}

std::array<uint8_t, 4> le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

std::array<uint8_t, kFileHeaderSize> fileHeader(uint8_t kind)
{
    return {0xFF, 0xFF, 0xFF, 0xFF, 'G', 'A', 'L', 0, 0, 9, kind, 0, 0, 0, 0, 0};
}

bool readU32(const DeviceFile &file, uint64_t offset, uint32_t &value)
{
    std::array<uint8_t, 4> bytes{};
    if (!file.read(offset, bytes))
        return false;
    value = ByteReader(bytes).u32(0);
    return true;
}

} // namespace corvo
