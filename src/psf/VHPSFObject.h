#pragma once

// Views over the records of a PSF flash image. A view is an offset into the
// store's image and a limit (the end of the region part it may read); every
// field goes through a bounds-checked reader or writer. A field outside the
// limit reads as unset (all bits set) and is never written, so a chain or a
// count taken from a broken record ends instead of reaching elsewhere.

#include "VHResult.h"

#include <QByteArray>
#include <QList>

// A decoded measured value; an unset field decodes as 65535 without "valid".
struct VHPSFValue
{
    double value = 65535;
    bool valid = false;
};

namespace VHPSFEncoding {
// Quarter metres with an offset: raw * 0.25 - 1000.
VHPSFValue altitude(quint16 raw);
VHPSFValue tenths(quint16 raw);
VHPSFValue doubled(quint16 raw);
// Eighths of a metre per second as km/h.
VHPSFValue speed(quint8 raw);
VHPSFValue sixtyFourths(quint8 raw);
} // namespace VHPSFEncoding

class VHPSFObject
{
public:
    static constexpr quint32 kUnset = 0xFFFFFFFF;

    VHPSFObject() = default;
    VHPSFObject(QByteArray *image, qsizetype offset, qsizetype limit);
    VHPSFObject(const VHPSFObject &) = default;
    VHPSFObject &operator=(const VHPSFObject &) = default;
    virtual ~VHPSFObject() = default;

    // Frames that own a region clear it against the management record.
    virtual VHResult resetStorage();
    // Bytes the record occupies with its children.
    virtual qsizetype size() const { return 0; }

    qsizetype offset() const { return m_offset; }
    qsizetype limit() const { return m_limit; }
    qsizetype end() const { return m_offset + size(); }
    // The record lies wholly inside its limit.
    bool fits() const { return isAttached() && size() > 0 && end() <= m_limit; }
    bool isAttached() const { return m_image && m_offset >= 0 && m_offset < m_limit; }

    quint8 u8(qsizetype at) const { return quint8(read(at, 1)); }
    quint16 u16(qsizetype at) const { return quint16(read(at, 2)); }
    quint32 u32(qsizetype at) const { return quint32(read(at, 4)); }
    qint8 i8(qsizetype at) const { return qint8(u8(at)); }
    qint16 i16(qsizetype at) const { return qint16(u16(at)); }
    qint32 i32(qsizetype at) const { return qint32(u32(at)); }
    [[nodiscard]] bool setU8(qsizetype at, quint8 value) { return write(at, value, 1); }
    [[nodiscard]] bool setU16(qsizetype at, quint16 value) { return write(at, value, 2); }
    [[nodiscard]] bool setU32(qsizetype at, quint32 value) { return write(at, value, 4); }
    // The record's bytes, or empty when it does not fit.
    QByteArray bytes() const;

protected:
    QByteArray *image() const { return m_image; }

private:
    quint32 read(qsizetype at, int width) const;
    bool write(qsizetype at, quint32 value, int width);
    bool inside(qsizetype at, int width) const;

    QByteArray *m_image = nullptr;
    qsizetype m_offset = -1;
    qsizetype m_limit = -1;
};

// A record with a name: name records follow its header one after the other,
// each but the last with flag bit 1 set.
class VHPSFNamedObject : public VHPSFObject
{
public:
    using VHPSFObject::VHPSFObject;

    virtual qsizetype headerSize() const = 0;
    // Offsets of the name records; the walk stops at a record that passes the limit.
    virtual QList<qsizetype> nameOffsets() const;
    virtual qsizetype namesSize() const;
    // The name records' bytes, for display.
    virtual QList<QByteArray> names() const;

    // Appends a name record to a record built in `record` (header and names
    // so far), marking the previously last name as followed.
    static void appendName(QByteArray &record, qsizetype headerSize, const QByteArray &name);
    static qsizetype nameRecordSize(const QByteArray &image, qsizetype offset);
};
