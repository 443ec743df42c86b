#pragma once

// Bounds-checked little-endian reader and writer over a byte buffer. A read
// past the end yields 0 and marks the reader failed, so a malformed file gives
// an error instead of a read outside the buffer; a write past the end writes
// nothing and marks the writer failed.

#include <QByteArray>

#include <algorithm>
#include <cstdint>

class VHByteReader
{
public:
    explicit VHByteReader(const QByteArray &data, qsizetype offset = 0) : m_data(data), m_pos(offset)
    {
        if (offset < 0 || offset > data.size())
            m_failed = true;
    }

    bool ok() const { return !m_failed; }
    qsizetype position() const { return m_pos; }
    qsizetype remaining() const { return m_failed ? 0 : m_data.size() - m_pos; }

    uint8_t u8() { return uint8_t(readLittleEndian(1)); }
    uint16_t u16() { return uint16_t(readLittleEndian(2)); }
    uint32_t u32() { return uint32_t(readLittleEndian(4)); }
    uint64_t u64() { return readLittleEndian(8); }
    int8_t i8() { return int8_t(u8()); }
    int16_t i16() { return int16_t(u16()); }
    int32_t i32() { return int32_t(u32()); }
    int64_t i64() { return int64_t(u64()); }

    QByteArray bytes(qsizetype count)
    {
        if (!take(count))
            return {};
        return m_data.mid(m_pos - count, count);
    }

    void skip(qsizetype count) { take(count); }

private:
    bool take(qsizetype count)
    {
        if (m_failed || count < 0 || count > m_data.size() - m_pos) {
            m_failed = true;
            return false;
        }
        m_pos += count;
        return true;
    }

    uint64_t readLittleEndian(int width)
    {
        if (!take(width))
            return 0;
        uint64_t value = 0;
        for (int i = width - 1; i >= 0; --i)
            value = (value << 8) | uint8_t(m_data[m_pos - width + i]);
        return value;
    }

    const QByteArray m_data; // shared, not copied
    qsizetype m_pos = 0;
    bool m_failed = false;
};

// Writes in place over an existing buffer (it never grows it), so a writer
// placed by an untrusted offset cannot reach past the buffer's end.
class VHByteWriter
{
public:
    explicit VHByteWriter(QByteArray &data, qsizetype offset = 0) : m_data(data), m_pos(offset)
    {
        if (offset < 0 || offset > data.size())
            m_failed = true;
    }

    bool ok() const { return !m_failed; }
    qsizetype position() const { return m_pos; }

    VHByteWriter &u8(uint8_t value) { return writeLittleEndian(value, 1); }
    VHByteWriter &u16(uint16_t value) { return writeLittleEndian(value, 2); }
    VHByteWriter &u32(uint32_t value) { return writeLittleEndian(value, 4); }
    VHByteWriter &u64(uint64_t value) { return writeLittleEndian(value, 8); }
    VHByteWriter &i8(int8_t value) { return u8(uint8_t(value)); }
    VHByteWriter &i16(int16_t value) { return u16(uint16_t(value)); }
    VHByteWriter &i32(int32_t value) { return u32(uint32_t(value)); }
    VHByteWriter &i64(int64_t value) { return u64(uint64_t(value)); }

    VHByteWriter &bytes(const QByteArray &value)
    {
        if (take(value.size()))
            std::copy(value.cbegin(), value.cend(), m_data.begin() + (m_pos - value.size()));
        return *this;
    }

    VHByteWriter &fill(qsizetype count, uint8_t value)
    {
        if (take(count))
            std::fill_n(m_data.begin() + (m_pos - count), count, char(value));
        return *this;
    }

private:
    bool take(qsizetype count)
    {
        if (m_failed || count < 0 || count > m_data.size() - m_pos) {
            m_failed = true;
            return false;
        }
        m_pos += count;
        return true;
    }

    VHByteWriter &writeLittleEndian(uint64_t value, int width)
    {
        if (!take(width))
            return *this;
        char *out = m_data.data() + (m_pos - width);
        for (int i = 0; i < width; ++i, value >>= 8)
            out[i] = char(value & 0xFF);
        return *this;
    }

    QByteArray &m_data;
    qsizetype m_pos = 0;
    bool m_failed = false;
};
