#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

// The name record of the PSF store: a name or description as a 1-bit bitmap
// with its three-letter language code. Little-endian header of 12 bytes:
//   0 flags (bit 1: another name record of the same owner follows)
//   2 u16 length of the bitmap, 4 language code (3 ASCII letters),
//   8 u16 width, 10 u16 height, 12 the bitmap (rows of whole 32-bit words,
//   most significant bit first; bit 7 of its first byte marks a packed one).
class VHPSFMultiLangString_1_5
{
public:
    static constexpr int kFlagsOffset = 0;
    static constexpr int kLengthOffset = 2;
    static constexpr int kLanguageOffset = 4;
    static constexpr int kWidthOffset = 8;
    static constexpr int kHeightOffset = 10;
    static constexpr int kBitmapOffset = 12;
    static constexpr quint8 kNextFlag = 0x02;
    static constexpr quint8 kPackedFlag = 0x80;

    // A new record, zero-filled over 12 + bitmap size; the bitmap is cut at
    // the 16-bit length the record can state.
    static VHPSFMultiLangString_1_5 create(const QByteArray &language, int width, int height, const QByteArray &bitmap);
    // The record at offset of data; none (with a log line) when its header or
    // its bitmap passes the end of data.
    static std::optional<VHPSFMultiLangString_1_5> read(const QByteArray &data, qsizetype offset = 0);

    const QByteArray &bytes() const { return m_bytes; }
    int size() const { return int(m_bytes.size()); }

    bool hasNext() const { return flags() & kNextFlag; }
    void setHasNext(bool on);
    QByteArray languageCode() const { return m_bytes.mid(kLanguageOffset, 3); }
    void setLanguageCode(const QByteArray &language);
    int bitmapLength() const { return u16(kLengthOffset); }
    int width() const { return u16(kWidthOffset); }
    int height() const { return u16(kHeightOffset); }
    QByteArray bitmap() const { return m_bytes.mid(kBitmapOffset); }
    bool isPacked() const { return bitmapLength() > 0 && (quint8(m_bytes[kBitmapOffset]) & kPackedFlag); }

    // The bitmap for display, ink black on white. Empty for a packed bitmap
    // (its format is not known here) and for one shorter than its width and
    // height need.
    QImage toImage() const;

private:
    explicit VHPSFMultiLangString_1_5(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    quint8 flags() const { return quint8(m_bytes[kFlagsOffset]); }
    int u16(int offset) const { return quint8(m_bytes[offset]) | (quint8(m_bytes[offset + 1]) << 8); }
    void setU16(int offset, int value);

    QByteArray m_bytes; // always at least the 12-byte header
};
