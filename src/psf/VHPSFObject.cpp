#include "VHPSFObject.h"

#include "VHByteReader.h"
#include "VHLog.h"

namespace {

constexpr qsizetype kNameHeader = 12;
constexpr qsizetype kNameLength = 2;
constexpr quint8 kNextName = 0x02;

} // namespace

namespace VHPSFEncoding {

VHPSFValue altitude(quint16 raw) { return raw == 0xFFFF ? VHPSFValue{} : VHPSFValue{qint16(raw) * 0.25 - 1000, true}; }

VHPSFValue tenths(quint16 raw) { return raw == 0xFFFF ? VHPSFValue{} : VHPSFValue{qint16(raw) / 10.0, true}; }

VHPSFValue doubled(quint16 raw) { return raw == 0xFFFF ? VHPSFValue{} : VHPSFValue{raw * 2.0, true}; }

VHPSFValue speed(quint8 raw) { return raw == 0xFF ? VHPSFValue{} : VHPSFValue{raw * 0.125 * 3.6, true}; }

VHPSFValue sixtyFourths(quint8 raw) { return raw == 0xFF ? VHPSFValue{} : VHPSFValue{raw * 60.0 / 64, true}; }

} // namespace VHPSFEncoding

VHPSFObject::VHPSFObject(QByteArray *image, qsizetype offset, qsizetype limit)
    : m_image(image), m_offset(offset), m_limit(image ? std::min(limit, image->size()) : -1)
{}

VHResult VHPSFObject::resetStorage() { return VHResult::failure(1, QStringLiteral("this record owns no region")); }

QByteArray VHPSFObject::bytes() const { return fits() ? m_image->mid(m_offset, size()) : QByteArray(); }

bool VHPSFObject::inside(qsizetype at, int width) const
{
    return isAttached() && at >= 0 && at <= m_limit - m_offset - width;
}

quint32 VHPSFObject::read(qsizetype at, int width) const
{
    if (!inside(at, width))
        return 0xFFFFFFFFu >> (32 - 8 * width);
    VHByteReader reader(*m_image, m_offset + at);
    return quint32(width == 1 ? reader.u8() : width == 2 ? reader.u16() : reader.u32());
}

bool VHPSFObject::write(qsizetype at, quint32 value, int width)
{
    if (!inside(at, width))
        return false;
    VHByteWriter writer(*m_image, m_offset + at);
    if (width == 1)
        writer.u8(quint8(value));
    else if (width == 2)
        writer.u16(quint16(value));
    else
        writer.u32(value);
    return writer.ok();
}

qsizetype VHPSFNamedObject::nameRecordSize(const QByteArray &image, qsizetype offset)
{
    VHByteReader reader(image, offset + kNameLength);
    const quint16 length = reader.u16();
    return reader.ok() ? kNameHeader + length : -1;
}

QList<qsizetype> VHPSFNamedObject::nameOffsets() const
{
    QList<qsizetype> offsets;
    if (!isAttached())
        return offsets;
    qsizetype at = headerSize();
    // Every name record is at least 12 bytes long, so the walk ends at the limit.
    while (true) {
        const qsizetype size = kNameHeader + u16(at + kNameLength);
        if (offset() + at + size > limit()) {
            vhWarning() << "name record at" << offset() + at << "passes the end of its record";
            break;
        }
        offsets.append(offset() + at);
        if (!(u8(at) & kNextName))
            break;
        at += size;
    }
    return offsets;
}

qsizetype VHPSFNamedObject::namesSize() const
{
    const QList<qsizetype> offsets = nameOffsets();
    if (offsets.isEmpty())
        return 0;
    return offsets.last() + nameRecordSize(*image(), offsets.last()) - (offset() + headerSize());
}

QList<QByteArray> VHPSFNamedObject::names() const
{
    QList<QByteArray> list;
    for (qsizetype at : nameOffsets())
        list.append(image()->mid(at, nameRecordSize(*image(), at)));
    return list;
}

void VHPSFNamedObject::appendName(QByteArray &record, qsizetype headerSize, const QByteArray &name)
{
    qsizetype last = -1;
    for (qsizetype at = headerSize; at + kNameHeader <= record.size(); at += nameRecordSize(record, at))
        last = at;
    if (last >= 0)
        record[last] = char(quint8(record[last]) | kNextName);
    QByteArray added = name;
    if (!added.isEmpty())
        added[0] = char(quint8(added[0]) & ~kNextName);
    record.append(added);
}
