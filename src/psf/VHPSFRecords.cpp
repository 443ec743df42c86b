#include "VHPSFRecords.h"

#include "VHByteReader.h"
#include "VHLog.h"
#include "VHPacer30Layout.h"

namespace {

void append(QByteArray &bytes, quint64 value, int width)
{
    for (int i = 0; i < width; ++i, value >>= 8)
        bytes.append(char(value & 0xFF));
}

// A reader that ends where the used part ends, without copying the image.
QByteArray bounded(const QByteArray &image, quint32 end)
{
    return QByteArray::fromRawData(image.constData(), qMin<qsizetype>(end, image.size()));
}

void note(QStringList *problems, const QString &problem)
{
    vhWarning() << problem;
    if (problems)
        problems->append(problem);
}

} // namespace

// ---- management record

VHPSFManagementHeaderRecord::VHPSFManagementHeaderRecord(const QByteArray &record)
    : m_bytes(record.left(kCarriedSize).leftJustified(kSize, char(0xFF), true))
{}

quint16 VHPSFManagementHeaderRecord::marker() const { return VHPSFRecord::marker(m_bytes, 0); }

VHPSFRegionFields VHPSFManagementHeaderRecord::region(VHPSFRegion region) const
{
    return VHPSFRecord::region(m_bytes, 0, region);
}

bool VHPSFManagementHeaderRecord::setRegion(VHPSFRegion region, const VHPSFRegionFields &fields)
{
    return VHPSFRecord::setRegion(m_bytes, 0, region, fields);
}

VHPSFRegionFields VHPSFManagementHeaderRecord::poi() const
{
    VHByteReader reader(m_bytes, VHPacer30Layout::kPoiFieldsOffset);
    VHPSFRegionFields fields;
    fields.free = reader.u32();
    fields.first = reader.u32();
    fields.end = reader.u32();
    return fields;
}

bool VHPSFManagementHeaderRecord::setPoi(const VHPSFRegionFields &fields)
{
    VHByteWriter writer(m_bytes, VHPacer30Layout::kPoiFieldsOffset);
    return writer.u32(fields.free).u32(fields.first).u32(fields.end).ok();
}

bool VHPSFManagementHeaderRecord::sealed() const
{
    return VHPSFRecord::storedSum(m_bytes, 0) == VHPSFRecord::computeSum(m_bytes, 0)
           && VHPSFRecord::storedCheck(m_bytes, 0) == VHPSFRecord::computeCheck(m_bytes, 0);
}

QByteArray VHPSFManagementHeaderRecord::serialize() const
{
    QByteArray slot = m_bytes;
    VHByteWriter writer(slot);
    writer.u16(VHPSFLayout::kRecordMarker).fill(VHPSFLayout::kReservedSize, 0xFF);
    VHByteWriter tail(slot, kCarriedSize);
    tail.fill(kSize - kCarriedSize, 0xFF);
    if (!writer.ok() || !tail.ok() || !VHPSFRecord::seal(slot, 0))
        return {};
    return slot;
}

// ---- dist header

std::unique_ptr<VHPSFDistHeader> VHPSFDistHeader::parse(const QByteArray &region, QString *error)
{
    std::unique_ptr<VHPSFDistHeader> header(new VHPSFDistHeader);
    VHByteReader reader(region);
    header->m_format = reader.u32();
    header->m_size = reader.u32();
    header->m_fixed = reader.bytes(4);
    header->m_carried = reader.u32();
    header->m_version = reader.u32();
    reader.skip(40);
    const quint32 childSize = reader.u32();
    if (reader.ok() && childSize <= quint32(reader.remaining()))
        header->m_child = std::make_unique<VHPSFCarriedField>(reader.bytes(childSize));
    if (!reader.ok() || !header->m_child) {
        if (error)
            *error = QStringLiteral("dist header passes its region");
        return nullptr;
    }
    return header;
}

QByteArray VHPSFDistHeader::versionText() const
{
    QByteArray text;
    append(text, m_version, 4);
    return text;
}

QByteArray VHPSFDistHeader::serialize() const
{
    QByteArray bytes;
    append(bytes, m_format, 4);
    append(bytes, m_size, 4);
    bytes.append(m_fixed);
    append(bytes, m_carried, 4);
    append(bytes, m_version, 4);
    bytes.append(QByteArray(40, char(0xFF)));
    const QByteArray child = m_child->serialize();
    append(bytes, quint32(child.size()), 4);
    return bytes + child;
}

// ---- route and POI headers

bool VHPSFRouteHeader::read(VHByteReader &reader)
{
    m_count = reader.u32();
    m_bytes = reader.u32();
    m_format = reader.u16();
    reader.skip(14);
    return reader.ok();
}

QByteArray VHPSFRouteHeader::serialize(quint32 count, quint32 used) const
{
    QByteArray bytes;
    append(bytes, count, 4);
    append(bytes, used, 4);
    append(bytes, m_format, 2);
    return bytes + QByteArray(14, char(0xFF));
}

// ---- routes

void VHPSFRoutePoint::read(VHByteReader &reader)
{
    latitude = reader.i32();
    longitude = reader.i32();
    altitude = reader.i16();
    carried = reader.u16();
}

QByteArray VHPSFRoutePoint::serialize() const
{
    QByteArray bytes;
    append(bytes, quint32(latitude), 4);
    append(bytes, quint32(longitude), 4);
    append(bytes, quint16(altitude), 2);
    append(bytes, carried, 2);
    return bytes;
}

std::unique_ptr<VHPSFRoute> VHPSFRoute::parse(VHByteReader &reader)
{
    auto route = std::make_unique<VHPSFRoute>();
    route->m_next = reader.u32();
    route->id = reader.u16();
    route->flags = reader.u8();
    const quint8 nameSize = reader.u8();
    const quint16 pointCount = reader.u16();
    route->length = reader.u32();
    route->name = reader.bytes(nameSize);
    if (!reader.ok() || reader.remaining() < qsizetype(pointCount) * VHPSFRoutePoint::kSize)
        return nullptr;
    route->points.reserve(pointCount);
    for (int i = 0; i < pointCount; ++i) {
        auto point = std::make_unique<VHPSFRoutePoint>();
        point->read(reader);
        route->points.push_back(std::move(point));
    }
    return reader.ok() ? std::move(route) : nullptr;
}

qsizetype VHPSFRoute::size() const
{
    return kFixedSize + qMin<qsizetype>(name.size(), 255)
           + qMin<qsizetype>(qsizetype(points.size()), 0xFFFF) * VHPSFRoutePoint::kSize;
}

QByteArray VHPSFRoute::serialize(quint32 next) const
{
    const QByteArray shortName = name.left(255);
    const auto pointCount = quint16(qMin<size_t>(points.size(), 0xFFFF));
    QByteArray bytes;
    append(bytes, next, 4);
    append(bytes, id, 2);
    append(bytes, flags, 1);
    append(bytes, quint8(shortName.size()), 1);
    append(bytes, pointCount, 2);
    append(bytes, length, 4);
    bytes.append(shortName);
    for (int i = 0; i < pointCount; ++i)
        bytes.append(points[size_t(i)]->serialize());
    return bytes;
}

VHPSFRouteFrame::VHPSFRouteFrame(quint32 start) : m_start(start), m_header(std::make_unique<VHPSFRouteHeader>()) {}

std::unique_ptr<VHPSFRouteFrame> VHPSFRouteFrame::parse(const QByteArray &image, quint32 start, quint32 first,
                                                        quint32 end, QStringList *problems)
{
    auto frame = std::make_unique<VHPSFRouteFrame>(start);
    const QByteArray used = bounded(image, end);
    VHByteReader headerReader(used, start);
    if (!frame->m_header->read(headerReader)) {
        note(problems, QStringLiteral("route header passes the used part"));
        return frame;
    }
    quint32 at = first;
    while (at < end && frame->m_routes.size() < frame->m_header->count()) {
        VHByteReader reader(used, at);
        std::unique_ptr<VHPSFRoute> route = VHPSFRoute::parse(reader);
        if (!route) {
            note(problems, QStringLiteral("route at %1 passes the used part").arg(at));
            return frame;
        }
        const quint32 next = route->next();
        const auto after = quint32(reader.position());
        frame->m_routes.push_back(std::move(route));
        if (next == VHPSFRoute::kLastRoute) {
            at = after;
            break;
        }
        if (next < after || next >= end) {
            note(problems, QStringLiteral("route chain leaves the used part at %1").arg(at));
            return frame;
        }
        at = next;
    }
    // What the chain does not reach would be lost by a rebuild.
    if (at < end)
        note(problems, QStringLiteral("bytes past the last route at %1").arg(at));
    return frame;
}

void VHPSFRouteFrame::append(std::unique_ptr<VHPSFRoute> route) { m_routes.push_back(std::move(route)); }

int VHPSFRouteFrame::removeKind(int kind)
{
    const auto removed = std::erase_if(m_routes, [kind](const auto &route) { return (route->flags & 1) == kind; });
    return int(removed);
}

QByteArray VHPSFRouteFrame::serialize() const
{
    QByteArray routes;
    for (size_t i = 0; i < m_routes.size(); ++i) {
        const quint32 at = m_start + quint32(VHPSFRouteHeader::kSize + routes.size());
        const bool last = i + 1 == m_routes.size();
        routes.append(m_routes[i]->serialize(last ? VHPSFRoute::kLastRoute : at + quint32(m_routes[i]->size())));
    }
    return m_header->serialize(quint32(m_routes.size()), quint32(routes.size())) + routes;
}

// ---- points of interest

std::unique_ptr<VHPSFPOI> VHPSFPOI::parse(VHByteReader &reader)
{
    auto poi = std::make_unique<VHPSFPOI>();
    poi->id = reader.u16();
    poi->flags = reader.u8();
    const quint8 nameSize = reader.u8();
    poi->latitude = reader.i32();
    poi->longitude = reader.i32();
    poi->altitude = reader.i16();
    poi->carried = reader.u16();
    poi->name = reader.bytes(nameSize);
    return reader.ok() ? std::move(poi) : nullptr;
}

QByteArray VHPSFPOI::serialize() const
{
    const QByteArray shortName = name.left(255);
    QByteArray bytes;
    append(bytes, id, 2);
    append(bytes, flags, 1);
    append(bytes, quint8(shortName.size()), 1);
    append(bytes, quint32(latitude), 4);
    append(bytes, quint32(longitude), 4);
    append(bytes, quint16(altitude), 2);
    append(bytes, carried, 2);
    return bytes + shortName;
}

VHPSFPOIFrame::VHPSFPOIFrame(quint32 start) : m_start(start), m_header(std::make_unique<VHPSFPOIHeader>()) {}

std::unique_ptr<VHPSFPOIFrame> VHPSFPOIFrame::parse(const QByteArray &image, quint32 start, quint32 first, quint32 end,
                                                    QStringList *problems)
{
    auto frame = std::make_unique<VHPSFPOIFrame>(start);
    const QByteArray used = bounded(image, end);
    VHByteReader headerReader(used, start);
    if (!frame->m_header->read(headerReader)) {
        note(problems, QStringLiteral("point-of-interest header passes the used part"));
        return frame;
    }
    // An erased header counts nothing: the used part alone bounds the list.
    const quint32 count = frame->m_header->count() == 0xFFFFFFFF ? quint32(end - first) : frame->m_header->count();
    VHByteReader reader(used, first);
    while (frame->m_pois.size() < count && reader.remaining() > 0) {
        const qsizetype at = reader.position();
        std::unique_ptr<VHPSFPOI> poi = VHPSFPOI::parse(reader);
        if (!poi) {
            note(problems, QStringLiteral("point of interest at %1 passes the used part").arg(at));
            return frame;
        }
        frame->m_pois.push_back(std::move(poi));
    }
    if (frame->m_pois.size() < count && frame->m_header->count() != 0xFFFFFFFF)
        note(problems, QStringLiteral("point-of-interest count passes the used part"));
    else if (reader.remaining() > 0)
        note(problems, QStringLiteral("bytes past the last point of interest"));
    return frame;
}

void VHPSFPOIFrame::append(std::unique_ptr<VHPSFPOI> poi) { m_pois.push_back(std::move(poi)); }

bool VHPSFPOIFrame::remove(quint16 id)
{
    return std::erase_if(m_pois, [id](const auto &poi) { return poi->id == id; }) > 0;
}

QByteArray VHPSFPOIFrame::serialize() const
{
    QByteArray pois;
    for (const auto &poi : m_pois)
        pois.append(poi->serialize());
    return m_header->serialize(quint32(m_pois.size()), quint32(pois.size())) + pois;
}
