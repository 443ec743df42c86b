#include "VHPSF.h"

#include "VHByteReader.h"
#include "VHLog.h"
#include "VHPacer30Layout.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

using Words = VHPacer30Layout::RegionWords;
using VHPacer30Layout::kPoiWords;
using VHPacer30Layout::kRegionWords;
static_assert(kRegionWords.size() == kVHPSFRegionCount);
constexpr int kHeaderEndWord = 0;
constexpr int kDistEndWord = 1;
constexpr int kFlashSizeWord = 43;

struct Bounds
{
    quint32 start = 0;
    quint32 regionEnd = 0;
    quint32 capacity = 0;
};

Bounds bounds(const VHPSF::Table &table, const Words &words)
{
    return {table[size_t(words.start)], table[size_t(words.end)], table[size_t(words.capacity)]};
}

// The record's fields name a used part inside the region.
bool inside(const Bounds &region, const VHPSFRegionFields &fields)
{
    return region.start <= fields.first && fields.first <= fields.end && fields.end <= region.regionEnd;
}

// Fields a device that never kept points of interest leaves as they came.
bool unset(const VHPSFRegionFields &fields)
{
    return (fields.free == 0 && fields.first == 0 && fields.end == 0)
           || (fields.free == 0xFFFFFFFF && fields.first == 0xFFFFFFFF && fields.end == 0xFFFFFFFF);
}

bool tableFits(const VHPSF::Table &table, qsizetype imageSize)
{
    const quint32 flashSize = table[kFlashSizeWord];
    if (flashSize == 0 || imageSize < qsizetype(flashSize))
        return false;
    if (table[kHeaderEndWord] < VHPSFLayout::kCommitWordOffset + 4 || table[kHeaderEndWord] > table[kDistEndWord]
        || table[kDistEndWord] > flashSize)
        return false;
    auto fits = [&](const Words &w) {
        const Bounds b = bounds(table, w);
        return b.start <= table[size_t(w.first)] && table[size_t(w.first)] <= b.regionEnd && b.regionEnd <= flashSize;
    };
    return std::all_of(kRegionWords.begin(), kRegionWords.end(), fits) && fits(kPoiWords);
}

// Places `bytes` at the start of [start, end) and fills the rest with 0xFF.
bool place(QByteArray &image, quint32 start, quint32 end, const QByteArray &bytes)
{
    VHByteWriter writer(image, start);
    return writer.bytes(bytes).fill(qsizetype(end) - start - bytes.size(), 0xFF).ok();
}

} // namespace

bool VHPSF::supportsVersion(const QString &dataVersion)
{
    static const QRegularExpression version(QStringLiteral("^1\\.4\\.(\\d+|x)\\.(\\d+|x)$"));
    return version.match(dataVersion).hasMatch();
}

qsizetype VHPSF::currentRecordOffset(const QByteArray &image)
{
    if (image.size() < VHPSFLayout::kHeaderSize)
        return -1;
    for (qsizetype slot = 0; slot < VHPSFLayout::kHeaderSize; slot += VHPSFLayout::kSlotSize) {
        if (VHPSFRecord::marker(image, slot) != VHPSFLayout::kFreeMarker)
            continue;
        const qsizetype candidate = slot == 0 ? VHPSFLayout::kLastSlot : slot - VHPSFLayout::kSlotSize;
        // The commit word shares slot 16 with the journal; it is not a record.
        VHByteReader word(image, candidate);
        if (candidate == VHPSFLayout::kCommitWordOffset && word.u32() == VHPSFLayout::kCommitWord)
            return candidate - VHPSFLayout::kSlotSize;
        return candidate;
    }
    return -1;
}

std::unique_ptr<VHPSF> VHPSF::fromImage(const QByteArray &image, qsizetype managementOffset, const Table &table,
                                        const QString &dataVersion, QString *error)
{
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return nullptr;
    };
    if (!supportsVersion(dataVersion))
        return fail(QStringLiteral("data version \"%1\" is not supported").arg(dataVersion));
    if (!tableFits(table, image.size()))
        return fail(QStringLiteral("region table does not fit the image"));
    if (managementOffset < 0 || managementOffset + VHPSFLayout::kSlotSize > qsizetype(table[kHeaderEndWord]))
        return fail(QStringLiteral("management record outside the header area"));

    std::unique_ptr<VHPSF> psf(new VHPSF);
    psf->m_table = table;
    psf->m_dataVersion = dataVersion;
    psf->m_management = std::make_unique<VHPSFManagementHeaderRecord>(
        image.mid(managementOffset, VHPSFManagementHeaderRecord::kCarriedSize));
    const quint32 distStart = table[kHeaderEndWord];
    psf->m_distHeader = VHPSFDistHeader::parse(image.mid(distStart, table[kDistEndWord] - distStart), error);
    if (!psf->m_distHeader)
        return nullptr;
    psf->readRegions(image);
    psf->readRoutesAndPois(image);
    return psf;
}

void VHPSF::readRegions(const QByteArray &image)
{
    for (int i = 0; i < kVHPSFRegionCount; ++i) {
        const Bounds region = bounds(m_table, kRegionWords[size_t(i)]);
        const VHPSFRegionFields fields = m_management->region(VHPSFRegion(i));
        if (inside(region, fields))
            m_regions[size_t(i)] = image.mid(region.start, fields.end - region.start);
        else
            addProblem(QStringLiteral("region %1 ends outside its region").arg(i));
    }
    const Bounds poi = bounds(m_table, kPoiWords);
    m_poiUnset = unset(m_management->poi());
    if (m_poiUnset)
        return;
    if (inside(poi, m_management->poi()))
        m_poiRegion = image.mid(poi.start, m_management->poi().end - poi.start);
    else
        addProblem(QStringLiteral("point-of-interest region ends outside its region"));
}

void VHPSF::readRoutesAndPois(const QByteArray &image)
{
    const Bounds route = bounds(m_table, kRegionWords[size_t(VHPSFRegion::Route)]);
    const VHPSFRegionFields routeFields = m_management->region(VHPSFRegion::Route);
    const bool routesInside = inside(route, routeFields);
    if (routesInside && routeFields.first >= route.start + VHPSFRouteHeader::kSize)
        m_routes = VHPSFRouteFrame::parse(image, route.start, routeFields.first, routeFields.end, &m_problems);
    else
        m_routes = std::make_unique<VHPSFRouteFrame>(route.start);
    if (routesInside && routeFields.first < route.start + VHPSFRouteHeader::kSize)
        addProblem(QStringLiteral("first route inside the route header"));

    const Bounds poi = bounds(m_table, kPoiWords);
    const VHPSFRegionFields poiFields = m_management->poi();
    const bool poisInside = !m_poiUnset && inside(poi, poiFields);
    if (poisInside && poiFields.first >= poi.start + VHPSFRouteHeader::kSize)
        m_pois = VHPSFPOIFrame::parse(image, poi.start, poiFields.first, poiFields.end, &m_problems);
    else
        m_pois = std::make_unique<VHPSFPOIFrame>(poi.start);
    if (poisInside && poiFields.first < poi.start + VHPSFRouteHeader::kSize)
        addProblem(QStringLiteral("first point of interest inside its header"));
}

void VHPSF::addProblem(const QString &problem)
{
    vhWarning() << problem;
    m_problems.append(problem);
}

QString VHPSF::problem() const
{
    if (m_management->marker() != VHPSFLayout::kRecordMarker)
        return QStringLiteral("management record not in use");
    if (!m_management->sealed())
        return QStringLiteral("management record sum or check value does not match");
    return m_problems.value(0);
}

bool VHPSF::checkIntegrity(QString *reason) const
{
    const QString found = problem();
    if (reason)
        *reason = found;
    return found.isEmpty();
}

bool VHPSF::writeInto(QByteArray &image, QString *error) const
{
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    QString reason;
    if (!checkIntegrity(&reason))
        return fail(QStringLiteral("data not read whole: ") + reason);
    if (image.size() < qsizetype(m_table[kFlashSizeWord]))
        return fail(QStringLiteral("image smaller than the flash"));

    const Bounds route = bounds(m_table, kRegionWords[size_t(VHPSFRegion::Route)]);
    const Bounds poi = bounds(m_table, kPoiWords);
    const quint32 distStart = m_table[kHeaderEndWord];
    const QByteArray routes = m_routes->serialize();
    const QByteArray pois = m_pois->serialize();
    const QByteArray dist = m_distHeader->serialize();
    // Without fields and records there is nothing of ours in that region.
    const bool writePois = !m_poiUnset || !m_pois->pois().empty();
    const auto routeUsed = quint32(routes.size() - VHPSFRouteHeader::kSize);
    const auto poiUsed = quint32(pois.size() - VHPSFRouteHeader::kSize);
    if (routeUsed > route.capacity || route.start + quint32(routes.size()) > route.regionEnd)
        return fail(QStringLiteral("routes do not fit their region"));
    if (poiUsed > poi.capacity || poi.start + quint32(pois.size()) > poi.regionEnd)
        return fail(QStringLiteral("points of interest do not fit their region"));
    if (dist.size() > qsizetype(m_table[kDistEndWord] - distStart))
        return fail(QStringLiteral("dist header does not fit its region"));

    const QByteArray current = m_management->serialize();
    if (current.isEmpty())
        return fail(QStringLiteral("management record can not be sealed"));
    VHPSFManagementHeaderRecord record(current);
    const quint32 routeFirst = route.start + quint32(VHPSFRouteHeader::kSize);
    const quint32 poiFirst = poi.start + quint32(VHPSFRouteHeader::kSize);
    if (!record.setRegion(VHPSFRegion::Route, {route.capacity - routeUsed, routeFirst, routeFirst + routeUsed})
        || (writePois && !record.setPoi({poi.capacity - poiUsed, poiFirst, poiFirst + poiUsed})))
        return fail(QStringLiteral("management record can not be updated"));
    const QByteArray header = record.serialize();

    VHByteWriter commit(image, VHPSFLayout::kCommitWordOffset);
    const bool written = place(image, 0, distStart, header) && commit.u32(VHPSFLayout::kCommitWord).ok()
                         && place(image, distStart, m_table[kDistEndWord], dist)
                         && place(image, route.start, route.regionEnd, routes)
                         && (!writePois || place(image, poi.start, poi.regionEnd, pois));
    return written || fail(QStringLiteral("image can not hold the rebuilt regions"));
}
