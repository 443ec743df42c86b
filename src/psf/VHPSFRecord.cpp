#include "VHPSFRecord.h"

#include "VHByteReader.h"

using namespace VHPSFLayout;

namespace {

qsizetype fieldsOffset(qsizetype record, VHPSFRegion region) { return record + kRegionFieldsOffset + 12 * int(region); }

quint32 u32At(const QByteArray &image, qsizetype offset)
{
    VHByteReader reader(image, offset);
    return reader.u32();
}

} // namespace

namespace VHPSFRecord {

quint16 marker(const QByteArray &image, qsizetype record)
{
    VHByteReader reader(image, record);
    return reader.u16();
}

quint16 count(const QByteArray &image, qsizetype record)
{
    VHByteReader reader(image, record + kCountOffset);
    return reader.u16();
}

bool setCount(QByteArray &image, qsizetype record, quint16 value)
{
    return VHByteWriter(image, record + kCountOffset).u16(value).ok();
}

VHPSFRegionFields region(const QByteArray &image, qsizetype record, VHPSFRegion region)
{
    VHByteReader reader(image, fieldsOffset(record, region));
    VHPSFRegionFields fields;
    fields.free = reader.u32();
    fields.first = reader.u32();
    fields.end = reader.u32();
    return fields;
}

bool setRegion(QByteArray &image, qsizetype record, VHPSFRegion region, const VHPSFRegionFields &fields)
{
    return VHByteWriter(image, fieldsOffset(record, region)).u32(fields.free).u32(fields.first).u32(fields.end).ok();
}

quint32 storedSum(const QByteArray &image, qsizetype record) { return u32At(image, record + kSumOffset); }

quint32 storedCheck(const QByteArray &image, qsizetype record) { return u32At(image, record + kCheckOffset); }

quint32 computeSum(const QByteArray &image, qsizetype record)
{
    quint32 sum = count(image, record);
    for (int i = 0; i < kVHPSFRegionCount; ++i) {
        if (VHPSFRegion(i) != VHPSFRegion::InfoLog)
            sum += region(image, record, VHPSFRegion(i)).free;
    }
    return sum;
}

quint32 computeCheck(const QByteArray &image, qsizetype record)
{
    VHByteReader reader(image, record + kCheckedFrom);
    quint16 sum = 0;
    for (qsizetype i = 0; i < kCheckedSize; ++i)
        sum = quint16(sum + reader.u8());
    return reader.ok() ? quint32(sum) << 16 : 0;
}

bool seal(QByteArray &image, qsizetype record)
{
    if (!VHByteWriter(image, record + kSumOffset).u32(computeSum(image, record)).ok())
        return false;
    return VHByteWriter(image, record + kCheckOffset).u32(computeCheck(image, record)).ok();
}

} // namespace VHPSFRecord
