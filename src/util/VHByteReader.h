#pragma once

// Bounds-checked little-endian reader over a byte buffer. A read past the end
// yields 0 and marks the reader failed, so a malformed file gives an error
// instead of a read outside the buffer.

#include <QByteArray>

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

    uint16_t u16() { return uint16_t(readLittleEndian(2)); }
    uint32_t u32() { return uint32_t(readLittleEndian(4)); }
    uint64_t u64() { return readLittleEndian(8); }

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
