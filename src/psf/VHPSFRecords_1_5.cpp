#include "VHPSFRecords_1_5.h"

#include "VHByteReader.h"
#include "VHLog.h"

#include <limits>

namespace {

// A count of children that each take at least `minSize` bytes can not pass
// what is left up to the limit.
bool countFits(qsizetype count, qsizetype minSize, qsizetype from, qsizetype limit)
{
    return minSize <= 0 || count <= (limit - from) / minSize;
}

template <typename T>
bool fitsIn(qint64 value)
{
    return value >= std::numeric_limits<T>::min() && value <= std::numeric_limits<T>::max();
}

} // namespace

// ---- intervals -------------------------------------------------------------

QString VHPSFInterval_1_5::kindName(int kind)
{
    static const char *const names[] = {"Warmup", "Work", "Steady", "Cool-down", "Recovery", "Sprint", "Walk"};
    return kind >= 1 && kind <= 7 ? QString::fromLatin1(names[kind - 1]) : QStringLiteral("Other");
}

// ---- routes ----------------------------------------------------------------

QByteArray VHPSFRoute_1_5::newHeader(bool kind)
{
    QByteArray header(kHeaderSize, '\0');
    VHByteWriter writer(header, 8);
    writer.u32(kUnset).u32(kUnset).u32(kUnset).u32(kUnset);
    VHByteWriter(header, kNext).u32(kUnset).u32(kUnset);
    header[25] = char(0xFF);
    header[kFlags] = char(kind ? kKindFlag : 0);
    return header;
}

bool VHPSFRoute_1_5::setSecondFlag(bool on)
{
    const quint8 flags = u8(kFlags);
    return setU8(kFlags, on ? flags | kSecondFlag : flags & ~kSecondFlag);
}

VHPSFLap_1_5 VHPSFRoute_1_5::summaryLap(QByteArray *image, qsizetype lapBase, qsizetype lapLimit) const
{
    const quint32 at = u32(kSummaryLap);
    if (at == kUnset)
        return {};
    VHPSFLap_1_5 lap(image, lapBase + at, lapLimit);
    return lap.fits() ? lap : VHPSFLap_1_5();
}

QList<VHPSFLap_1_5> VHPSFRoute_1_5::laps(QByteArray *image, qsizetype lapBase, qsizetype lapLimit) const
{
    QList<VHPSFLap_1_5> list;
    const quint32 at = u32(kLaps);
    const quint8 count = u8(kLapCount);
    if (at == kUnset || count == 0xFF)
        return list;
    for (int i = 0; i < count; ++i) {
        VHPSFLap_1_5 lap(image, lapBase + at + qsizetype(i) * VHPSFLap_1_5::kSize, lapLimit);
        if (!lap.fits()) {
            vhWarning() << "laps of the route at" << offset() << "pass the lap region";
            break;
        }
        list.append(lap);
    }
    return list;
}

// ---- workouts --------------------------------------------------------------

int VHPSFWorkout_1_5::intervalCount() const
{
    const quint8 count = u8(kIntervalCount);
    return count == 0xFF ? 0 : count;
}

QList<VHPSFInterval_1_5> VHPSFWorkout_1_5::intervals() const
{
    QList<VHPSFInterval_1_5> list;
    qsizetype at = offset() + kHeaderSize + namesSize();
    const int count = intervalCount();
    if (!countFits(count, VHPSFInterval_1_5::kSize, at, limit())) {
        vhWarning() << "intervals of the workout at" << offset() << "pass the end of the region";
        return list;
    }
    for (int i = 0; i < count; ++i, at += VHPSFInterval_1_5::kSize)
        list.append(VHPSFInterval_1_5(image(), at, limit()));
    return list;
}

qsizetype VHPSFWorkout_1_5::size() const
{
    return kHeaderSize + namesSize() + intervals().size() * VHPSFInterval_1_5::kSize;
}

// ---- track points ----------------------------------------------------------

qsizetype VHPSFTrackPoint_1_5::formSize(int form)
{
    static const qsizetype sizes[] = {6, 7, 10, 11};
    return sizes[form & 0x03];
}

qint32 VHPSFTrackPoint_1_5::altitudeDelta() const { return form() & 1 ? i16(1) : i8(1); }

qint32 VHPSFTrackPoint_1_5::deltaB() const
{
    const qsizetype at = form() & 1 ? 3 : 2;
    return form() & 2 ? i32(at) : i16(at);
}

qint32 VHPSFTrackPoint_1_5::deltaC() const
{
    const qsizetype at = form() & 1 ? 5 : 4;
    return form() & 2 ? i32(at + 2) : i16(at);
}

bool VHPSFTrackPoint_1_5::setForm(int form) { return setU8(0, quint8((u8(0) & ~0x03) | (form & 0x03))); }

bool VHPSFTrackPoint_1_5::setFlag(quint8 bit, bool on)
{
    const quint8 flags = u8(0);
    return setU8(0, on ? flags | bit : flags & ~bit);
}

int VHPSFTrackPoint_1_5::formFor(qint64 altitude, qint64 b, qint64 c)
{
    const bool wideA = !fitsIn<qint8>(altitude);
    const bool wideBC = !fitsIn<qint16>(b) || !fitsIn<qint16>(c);
    if (!fitsIn<qint16>(altitude) || !fitsIn<qint32>(b) || !fitsIn<qint32>(c))
        return -1;
    return (wideBC ? 2 : 0) | (wideA ? 1 : 0);
}

QByteArray VHPSFTrackPoint_1_5::encode(int timeStep, qint32 altitude, qint32 b, qint32 c)
{
    const int form = formFor(altitude, b, c);
    if (form < 0 || timeStep < 0 || timeStep > 63)
        return {};
    QByteArray point(formSize(form), '\0');
    VHByteWriter writer(point);
    writer.u8(quint8(timeStep << 2 | form));
    if (form & 1)
        writer.i16(qint16(altitude));
    else
        writer.i8(qint8(altitude));
    if (form & 2)
        writer.i32(b).i32(c);
    else
        writer.i16(qint16(b)).i16(qint16(c));
    return writer.ok() ? point : QByteArray();
}

// ---- track segments --------------------------------------------------------

VHPSFTrackSeg_1_5::VHPSFTrackSeg_1_5(QByteArray *image, qsizetype offset, qsizetype limit)
    : VHPSFObject(image, offset, limit)
{
    scan();
}

quint32 VHPSFTrackSeg_1_5::pointCount() const
{
    const quint32 count = u32(kCount);
    return count >= 0xFFFE ? 0 : count;
}

void VHPSFTrackSeg_1_5::scan()
{
    if (!isAttached() || offset() + kHeaderSize > limit())
        return;
    const quint32 count = pointCount();
    qsizetype at = offset() + kHeaderSize;
    // A point takes at least 6 bytes: a count beyond the region is cut before the walk.
    m_cut = !countFits(count, 6, at, limit());
    // One reader through the points: only their flags decide where the next one starts.
    VHByteReader reader(*image(), at);
    for (quint32 i = 0; i < count; ++i) {
        const qsizetype size = VHPSFTrackPoint_1_5::formSize(at < limit() ? reader.u8() : 0);
        if (size > limit() - at) {
            m_cut = true;
            break;
        }
        m_points.append(at);
        at += size;
        reader.skip(size - 1);
    }
    if (m_cut)
        vhWarning() << "points of the track segment at" << offset() << "pass the end of the track region";
    m_size = at - offset();
}

VHPSFTrackSample VHPSFTrackSeg_1_5::start() const
{
    VHPSFTrackSample sample;
    sample.time = u32(kStartTime);
    sample.position4 = i32(kPosition4);
    sample.position8 = i32(kPosition8);
    const VHPSFValue altitude = VHPSFEncoding::altitude(u16(kAltitude));
    sample.altitude = altitude.valid ? altitude.value : 0;
    return sample;
}

QList<VHPSFTrackSample> VHPSFTrackSeg_1_5::walk() const
{
    QList<VHPSFTrackSample> samples;
    samples.reserve(m_points.size());
    VHPSFTrackWalker walker(*this);
    VHPSFTrackSample sample;
    while (walker.next(sample))
        samples.append(sample);
    return samples;
}

VHPSFTrackWalker::VHPSFTrackWalker(const VHPSFTrackSeg_1_5 &segment)
    : m_segment(segment), m_timeUnit(segment.u8(VHPSFTrackSeg_1_5::kTimeUnit))
{
    reset();
}

VHPSFTrackSample VHPSFTrackSeg_1_5::last() const
{
    VHPSFTrackWalker walker(*this);
    VHPSFTrackSample sample = start();
    while (walker.next(sample)) {}
    return sample;
}

bool VHPSFTrackWalker::next(VHPSFTrackSample &sample)
{
    // The scan placed every point inside the segment's limit, so these
    // reads stay within it.
    if (m_index >= m_segment.pointOffsets().size()) {
        reset();
        return false;
    }
    ++m_index;
    const quint8 flags = m_reader->u8();
    const qint32 a = flags & 1 ? m_reader->i16() : m_reader->i8();
    const qint32 b = flags & 2 ? m_reader->i32() : m_reader->i16();
    const qint32 c = flags & 2 ? m_reader->i32() : m_reader->i16();
    m_at.position8 += c;
    m_at.position4 += b;
    m_at.altitude += a / 10.0;
    m_at.time += quint32(flags >> 2) * m_timeUnit;
    sample = m_at;
    return m_reader->ok();
}

void VHPSFTrackWalker::reset()
{
    m_at = m_segment.start();
    m_index = 0;
    m_reader.emplace(m_segment.image() ? *m_segment.image() : QByteArray(),
                     m_segment.offset() + VHPSFTrackSeg_1_5::kHeaderSize);
}

// ---- logs ------------------------------------------------------------------

int VHPSFSensorLog_1_5::pointCount() const
{
    const quint16 count = u16(kCount);
    return count == 0xFFFF || u8(kPointSize) == 0xFF ? 0 : count;
}

QList<VHPSFSensorLogPoint_1_5> VHPSFSensorLog_1_5::points() const
{
    QList<VHPSFSensorLogPoint_1_5> list;
    const qsizetype pointSize = u8(kPointSize);
    const int count = pointSize == 0 ? 0 : pointCount();
    const qsizetype from = offset() + kHeaderSize;
    if (!countFits(count, pointSize, from, limit())) {
        vhWarning() << "points of the sensor log at" << offset() << "pass the end of the region";
        return list;
    }
    for (int i = 0; i < count; ++i)
        list.append(VHPSFSensorLogPoint_1_5(image(), from + i * pointSize, limit(), pointSize));
    return list;
}

qsizetype VHPSFSensorLog_1_5::size() const { return kHeaderSize + points().size() * qsizetype(u8(kPointSize)); }

QList<VHPSFTZone_1_5> VHPSFUserInfoLog_1_5::entries() const
{
    QList<VHPSFTZone_1_5> list;
    const quint16 count = u16(kCount);
    qsizetype at = offset() + kHeaderSize;
    for (int i = 0; count != 0xFFFF && i < count; ++i) {
        VHPSFTZone_1_5 entry(image(), at, limit());
        if (!entry.fits()) {
            vhWarning() << "entries of the info log at" << offset() << "pass the end of the region";
            break;
        }
        list.append(entry);
        at = entry.end();
    }
    return list;
}

qsizetype VHPSFUserInfoLog_1_5::size() const
{
    const QList<VHPSFTZone_1_5> list = entries();
    return (list.isEmpty() ? offset() + kHeaderSize : list.last().end()) - offset();
}
