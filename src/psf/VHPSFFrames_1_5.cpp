#include "VHPSFFrames_1_5.h"

#include "VHByteReader.h"
#include "VHLog.h"
#include "VHPSFRecord.h"

namespace {

VHResult fail(const QString &reason)
{
    vhCritical() << reason;
    return VHResult::failure(1, reason);
}

} // namespace

// ---- region frames ---------------------------------------------------------

VHPSFRegionFrame_1_5::VHPSFRegionFrame_1_5(QByteArray *image, VHPSFFlashHeader *header, VHPSFRegion region)
    : VHPSFObject(image, header->bounds(region).start, header->bounds(region).end), m_header(header), m_region(region)
{}

qsizetype VHPSFRegionFrame_1_5::size() const
{
    qsizetype first = 0, end = 0;
    return usedPart(first, end) ? end - offset() : 0;
}

bool VHPSFRegionFrame_1_5::usedPart(qsizetype &first, qsizetype &end) const
{
    VHPSFRegionFields fields;
    if (!isAttached() || !m_header->regionFields(m_region, fields))
        return false;
    first = fields.first;
    end = std::max<qsizetype>(fields.first, std::min<qsizetype>(fields.end, limit()));
    return true;
}

VHResult VHPSFRegionFrame_1_5::setUsed(quint32 usedBytes)
{
    VHPSFRegionFields fields;
    qsizetype record = 0;
    if (VHResult result = m_header->regionFields(m_region, fields); !result)
        return result;
    if (VHResult result = m_header->currentRecord(record); !result)
        return result;
    const quint32 capacity = m_header->bounds(m_region).capacity;
    fields.end = fields.first + usedBytes;
    fields.free = capacity - std::min(capacity, usedBytes);
    if (!VHPSFRecord::setRegion(*image(), record, m_region, fields))
        return fail(QStringLiteral("management record not written"));
    return VHResult::success();
}

VHResult VHPSFRegionFrame_1_5::pack(const QList<QByteArray> &records)
{
    qsizetype first = 0, end = 0;
    if (!usedPart(first, end))
        return fail(QStringLiteral("the region's used part is not known"));
    qsizetype total = 0;
    for (const QByteArray &record : records)
        total += record.size();
    const qsizetype capacity = header().bounds(region()).capacity;
    if (total > capacity || first + total > limit())
        return fail(QStringLiteral("packed records pass the region's capacity"));
    VHByteWriter writer(*image(), first);
    for (const QByteArray &record : records)
        writer.bytes(record);
    writer.fill(std::max<qsizetype>(0, end - first - total), 0xFF);
    if (!writer.ok())
        return fail(QStringLiteral("packed records not written"));
    return setUsed(quint32(total));
}

// ---- routes ----------------------------------------------------------------

VHPSFRouteFrame_1_5::VHPSFRouteFrame_1_5(QByteArray *image, VHPSFFlashHeader *header)
    : VHPSFRegionFrame_1_5(image, header, VHPSFRegion::Route)
{}

VHResult VHPSFRouteFrame_1_5::resetStorage()
{
    if (VHResult result = header().resetRoutes(); !result)
        return result;
    return setRouteCount(0);
}

int VHPSFRouteFrame_1_5::routeCount() const
{
    const quint16 count = u16(kCount);
    return count == 0xFFFF ? 0 : count;
}

VHResult VHPSFRouteFrame_1_5::setRouteCount(int count)
{
    // Only the frame's own count follows the routes; the management record's
    // count is the firmware's and stays as it is.
    if (!setU16(kCount, quint16(count)))
        return fail(QStringLiteral("route count not written"));
    return VHResult::success();
}

QList<VHPSFRoute_1_5> VHPSFRouteFrame_1_5::routes() const
{
    QList<VHPSFRoute_1_5> list;
    qsizetype first = 0, end = 0;
    if (!usedPart(first, end))
        return list;
    const int count = routeCount();
    qsizetype at = first;
    while (list.size() < count) {
        VHPSFRoute_1_5 route(image(), at, end);
        if (!route.fits()) {
            vhWarning() << "route chain points outside its region at" << at;
            break;
        }
        list.append(route);
        const quint32 next = route.next();
        if (next == kUnset)
            break;
        // Routes are appended and packed in chain order: a next route that
        // does not lie past this one is a loop or an overlap.
        if (first + qsizetype(next) < route.end()) {
            vhWarning() << "route chain loops at" << at;
            break;
        }
        at = first + qsizetype(next);
    }
    return list;
}

bool VHPSFRouteFrame_1_5::lapRange(qsizetype &base, qsizetype &lapLimit) const
{
    VHPSFRegionFields fields;
    if (!header().regionFields(VHPSFRegion::Lap, fields))
        return false;
    base = fields.first;
    lapLimit = fields.end;
    return true;
}

VHPSFLap_1_5 VHPSFRouteFrame_1_5::summaryLap(const VHPSFRoute_1_5 &route) const
{
    qsizetype base = 0, lapLimit = 0;
    return lapRange(base, lapLimit) ? route.summaryLap(image(), base, lapLimit) : VHPSFLap_1_5();
}

QList<VHPSFLap_1_5> VHPSFRouteFrame_1_5::laps(const VHPSFRoute_1_5 &route) const
{
    qsizetype base = 0, lapLimit = 0;
    return lapRange(base, lapLimit) ? route.laps(image(), base, lapLimit) : QList<VHPSFLap_1_5>();
}

VHResult VHPSFRouteFrame_1_5::addRoute(bool kind, const QList<QByteArray> &names, qsizetype *added)
{
    if (names.isEmpty())
        return fail(QStringLiteral("a route needs a name"));
    QByteArray record = VHPSFRoute_1_5::newHeader(kind);
    for (const QByteArray &name : names)
        VHPSFNamedObject::appendName(record, VHPSFRoute_1_5::kHeaderSize, name);
    qsizetype first = 0, end = 0;
    if (!usedPart(first, end))
        return fail(QStringLiteral("the route region's used part is not known"));
    QList<VHPSFRoute_1_5> chain = routes();
    // The chain must end where the used part ends, or the new route would be lost.
    if (!chain.isEmpty() && chain.last().end() != end)
        return fail(QStringLiteral("the route chain does not reach the end of its region"));
    if (VHResult result = header().append(VHPSFRegion::Route, record); !result)
        return fail(QStringLiteral("route not added: ") + result.reason);
    if (!chain.isEmpty() && !chain.last().setNext(quint32(end - first)))
        return fail(QStringLiteral("route chain not linked"));
    if (added)
        *added = end;
    return setRouteCount(int(chain.size()) + 1);
}

VHResult VHPSFRouteFrame_1_5::addName(const VHPSFRoute_1_5 &route, const QByteArray &name)
{
    qsizetype first = 0, end = 0;
    const QList<qsizetype> names = route.nameOffsets();
    if (!usedPart(first, end) || route.end() != end || names.isEmpty())
        return fail(QStringLiteral("a name is added to the last route only"));
    QByteArray added = name;
    if (!added.isEmpty())
        added[0] = char(quint8(added[0]) & ~0x02);
    if (VHResult result = header().append(VHPSFRegion::Route, added); !result)
        return fail(QStringLiteral("name not added: ") + result.reason);
    VHPSFObject last(image(), names.last(), limit());
    if (!last.setU8(0, last.u8(0) | 0x02))
        return fail(QStringLiteral("name chain not linked"));
    return VHResult::success();
}

VHResult VHPSFRouteFrame_1_5::deleteRoutesOfKind(bool kind, int *removed)
{
    return deleteRoutes([kind](const VHPSFRoute_1_5 &route) { return route.kind() == kind; }, removed);
}

VHResult VHPSFRouteFrame_1_5::deleteRoutesAt(const QSet<qsizetype> &offsets, int *removed)
{
    return deleteRoutes([&offsets](const VHPSFRoute_1_5 &route) { return offsets.contains(route.offset()); }, removed);
}

VHResult VHPSFRouteFrame_1_5::deleteRoutes(const std::function<bool(const VHPSFRoute_1_5 &)> &doomed, int *removed)
{
    QList<QByteArray> kept;
    const QList<VHPSFRoute_1_5> chain = routes();
    for (const VHPSFRoute_1_5 &route : chain) {
        if (!doomed(route))
            kept.append(route.bytes());
    }
    if (removed)
        *removed = int(chain.size() - kept.size());
    if (kept.isEmpty())
        return resetStorage();
    qsizetype next = 0;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        next += kept[i].size();
        const quint32 link = i + 1 < kept.size() ? quint32(next) : kUnset;
        VHByteWriter(kept[i], VHPSFRoute_1_5::kNext).u32(link);
    }
    if (VHResult result = pack(kept); !result)
        return result;
    return setRouteCount(int(kept.size()));
}

// ---- tracks ----------------------------------------------------------------

VHPSFTrackFrame_1_5::VHPSFTrackFrame_1_5(QByteArray *image, VHPSFFlashHeader *header)
    : VHPSFRegionFrame_1_5(image, header, VHPSFRegion::TrackSeg)
{}

VHResult VHPSFTrackFrame_1_5::resetStorage() { return header().resetTracks(); }

QList<VHPSFTrackSeg_1_5> VHPSFTrackFrame_1_5::segments() const
{
    QList<VHPSFTrackSeg_1_5> list;
    qsizetype at = 0, end = 0;
    if (!usedPart(at, end))
        return list;
    while (at < end) {
        VHPSFTrackSeg_1_5 segment(image(), at, end);
        if (!segment.fits())
            break;
        list.append(segment);
        if (segment.isCut())
            break;
        at = segment.end();
    }
    return list;
}

VHResult VHPSFTrackFrame_1_5::addSegment(quint32 startTime, qint32 position4, qint32 position8, quint16 altitudeRaw,
                                         quint8 timeUnit)
{
    QByteArray record(VHPSFTrackSeg_1_5::kHeaderSize, '\0');
    VHByteWriter(record, VHPSFTrackSeg_1_5::kStartTime).u32(startTime).i32(position4).i32(position8);
    VHByteWriter(record, VHPSFTrackSeg_1_5::kAltitude).u16(altitudeRaw);
    VHByteWriter(record, VHPSFTrackSeg_1_5::kTimeUnit).u8(timeUnit);
    if (VHResult result = header().append(VHPSFRegion::TrackSeg, record); !result)
        return fail(QStringLiteral("track segment not added: ") + result.reason);
    return VHResult::success();
}

VHResult VHPSFTrackFrame_1_5::appendPoint(const VHPSFTrackSeg_1_5 &segment, int timeStep, qint32 altitude, qint32 b,
                                          qint32 c)
{
    qsizetype first = 0, end = 0;
    if (!usedPart(first, end) || !segment.fits() || segment.end() != end || segment.isCut())
        return fail(QStringLiteral("a point is appended to the last track segment only"));
    const QByteArray point = VHPSFTrackPoint_1_5::encode(timeStep, altitude, b, c);
    const quint32 count = segment.pointCount();
    if (point.isEmpty() || count >= 0xFFFD)
        return fail(QStringLiteral("the track point does not fit any form"));
    if (VHResult result = header().append(VHPSFRegion::TrackSeg, point); !result)
        return fail(QStringLiteral("track point not added: ") + result.reason);
    VHPSFObject view(image(), segment.offset(), limit());
    if (!view.setU32(VHPSFTrackSeg_1_5::kCount, count + 1))
        return fail(QStringLiteral("point count not written"));
    return VHResult::success();
}

VHResult VHPSFTrackFrame_1_5::deleteSegmentsAt(const QSet<qsizetype> &offsets, int *removed)
{
    QList<QByteArray> kept;
    const QList<VHPSFTrackSeg_1_5> list = segments();
    for (const VHPSFTrackSeg_1_5 &segment : list) {
        if (!offsets.contains(segment.offset()))
            kept.append(segment.bytes());
    }
    if (removed)
        *removed = int(list.size() - kept.size());
    if (kept.isEmpty())
        return resetStorage();
    return kept.size() == list.size() ? VHResult::success() : pack(kept);
}
