#include "VHPSFMultiLangString_1_5.h"

#include "VHByteReader.h"
#include "VHLog.h"

namespace {

int bytesPerRow(int width) { return (width + 31) / 32 * 4; }

} // namespace

VHPSFMultiLangString_1_5 VHPSFMultiLangString_1_5::create(const QByteArray &language, int width, int height,
                                                          const QByteArray &bitmap)
{
    const QByteArray data = bitmap.left(0xFFFF);
    VHPSFMultiLangString_1_5 record(QByteArray(kBitmapOffset + data.size(), '\0'));
    record.setU16(kLengthOffset, int(data.size()));
    record.setLanguageCode(language);
    record.setU16(kWidthOffset, width);
    record.setU16(kHeightOffset, height);
    record.m_bytes.replace(kBitmapOffset, data.size(), data);
    return record;
}

std::optional<VHPSFMultiLangString_1_5> VHPSFMultiLangString_1_5::read(const QByteArray &data, qsizetype offset)
{
    VHByteReader reader(data, offset);
    reader.skip(kLengthOffset);
    const int length = reader.u16();
    reader.skip(kBitmapOffset - kLengthOffset - 2 + length);
    if (!reader.ok()) {
        vhWarning() << "name record at" << offset << "passes the end of its data";
        return std::nullopt;
    }
    return VHPSFMultiLangString_1_5(data.mid(offset, kBitmapOffset + length));
}

void VHPSFMultiLangString_1_5::setHasNext(bool on)
{
    const quint8 value = on ? (flags() | kNextFlag) : (flags() & ~kNextFlag);
    m_bytes[kFlagsOffset] = char(value);
}

void VHPSFMultiLangString_1_5::setLanguageCode(const QByteArray &language)
{
    for (int i = 0; i < 3; ++i)
        m_bytes[kLanguageOffset + i] = i < language.size() ? language[i] : '\0';
}

void VHPSFMultiLangString_1_5::setU16(int offset, int value)
{
    m_bytes[offset] = char(value & 0xFF);
    m_bytes[offset + 1] = char((value >> 8) & 0xFF);
}

QImage VHPSFMultiLangString_1_5::toImage() const
{
    const int w = width();
    const int h = height();
    if (isPacked() || w == 0 || h == 0 || qint64(bytesPerRow(w)) * h > bitmapLength())
        return {};
    QImage image(w, h, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    const QByteArray data = bitmap();
    for (int y = 0; y < h; ++y)
        std::copy_n(data.constData() + qsizetype(y) * bytesPerRow(w), bytesPerRow(w), image.scanLine(y));
    return image;
}
