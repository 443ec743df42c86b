#include "VHPSFFlashHeader.h"

#include "VHByteReader.h"
#include "VHLog.h"
#include "VHPSFStore.h"

#include <algorithm>

using namespace VHPSFLayout;

namespace {

using Table = std::array<quint32, VHPSFFlashHeader::kWordCount>;

// Column A: dist header version "1510".
constexpr Table kColumnA = {
    0x6000,  0x7000, 24916,   24944,    27944,   3000,    27944,  27968,    0x80000,  496320, 0x80000,  524312,
    557808,  33496,  0x89000, 0xA5000,  0x1C000, 0xA5000, 691680, 15840,    0xA9000,  692240, 0xB1000,  0x7FF0,
    0xB1000, 725016, 0,       0x14F000, 0,       647144,  0,      0,        0,        0,      0x14F000, 1372184,
    2007040, 634856, 2007040, 2007064,  2027404, 20340,   0,      0x200000, 0x1F9000, 4096,
};

// Column B: any other version text.
constexpr Table kColumnB = {
    0x6000,   0x7000, 24916,    24944,    27944,   3000,    27944,  27968,    502918,   474950, 502918,   502942,
    536438,   33496,  0x83000,  0x9F000,  0x1C000, 0x9F000, 667104, 15840,    0xA3000,  667664, 0xAB000,  0x7FF0,
    0xAB000,  700440, 0,        0x121000, 0,       483304,  0,      0,        0,        0,      0x121000, 1183768,
    0x167000, 286696, 0x167000, 1470488,  1490828, 20340,   0,      0x200000, 0x1F9000, 4096,
};

// Table words of each region: start, first record, end, capacity.
struct RegionWords
{
    int start, first, end, capacity;
};
constexpr std::array<RegionWords, kVHPSFRegionCount> kRegionWords = {{
    {6, 7, 8, 9},     // workouts
    {10, 11, 12, 13}, // routes
    {14, 14, 15, 16}, // laps
    {17, 17, 18, 19}, // workout intervals
    {20, 21, 22, 23}, // workout logs
    {24, 25, 27, 29}, // track segments
    {34, 35, 36, 37}, // sensor logs
    {38, 39, 40, 41}, // info logs
}};

const char *regionName(VHPSFRegion region)
{
    static const char *const names[] = {"workout",     "route",         "lap",        "workout interval",
                                        "workout log", "track segment", "sensor log", "info log"};
    return names[int(region)];
}

} // namespace

VHPSFFlashHeader::VHPSFFlashHeader(VHPSFStore &store) : m_store(store)
{
    for (int index : {HeaderSize, DistHeaderEnd, FlashSize, ProfileOffset, ProfileSize})
        m_words[index] = kColumnA[index];
}

void VHPSFFlashHeader::selectLayout(const QByteArray &version)
{
    m_words = version == QByteArrayLiteral("1510") ? kColumnA : kColumnB;
    m_hasLayout = true;
}

quint32 VHPSFFlashHeader::word(int index) const { return index >= 0 && index < kWordCount ? m_words[index] : 0; }

VHPSFRegionBounds VHPSFFlashHeader::bounds(VHPSFRegion region) const
{
    const RegionWords &w = kRegionWords[int(region)];
    return {word(w.start), word(w.first), word(w.end), word(w.capacity)};
}

VHResult VHPSFFlashHeader::currentRecord(qsizetype &offset)
{
    if (!m_current) {
        qsizetype found = 0;
        if (VHResult result = findCurrentRecord(found); !result)
            return result;
        m_current = found;
    }
    offset = *m_current;
    return VHResult::success();
}

VHResult VHPSFFlashHeader::findCurrentRecord(qsizetype &offset)
{
    qsizetype header = 0;
    if (VHResult result = m_store.getHeader(header); !result)
        return VHResult::failure(result.code, "no current record: " + result.reason);
    const QByteArray &image = m_store.image();
    int freeSlot = -1;
    for (int slot = 0; slot < kSlotCount && freeSlot < 0; ++slot) {
        if (VHPSFRecord::marker(image, slot * kSlotSize) == kFreeMarker)
            freeSlot = slot;
    }
    if (freeSlot < 0)
        return VHResult::failure(1, QStringLiteral("no current record: the journal has no free slot"));
    qsizetype candidate = freeSlot == 0 ? kLastSlot : (freeSlot - 1) * kSlotSize;
    // The commit word shares its slot with the journal; it is not a record.
    VHByteReader word(image, candidate);
    if (candidate == kCommitWordOffset && word.u32() == kCommitWord)
        candidate -= kSlotSize;
    const quint16 marker = VHPSFRecord::marker(image, candidate);
    if (marker != kRecordMarker)
        return VHResult::failure(1, QStringLiteral("no current record: slot 0x%1 has marker 0x%2")
                                        .arg(candidate, 0, 16)
                                        .arg(marker, 4, 16, QLatin1Char('0')));
    // Only logged: a device is not refused on our reading of the check value.
    if (VHPSFRecord::storedCheck(image, candidate) != VHPSFRecord::computeCheck(image, candidate))
        vhWarning() << "check value of the management record at" << candidate << "differs";
    offset = candidate;
    return VHResult::success();
}

VHResult VHPSFFlashHeader::regionFields(VHPSFRegion region, VHPSFRegionFields &fields)
{
    if (!m_hasLayout)
        return VHResult::failure(1, QStringLiteral("the region table has no layout yet"));
    qsizetype record = 0;
    if (VHResult result = currentRecord(record); !result)
        return result;
    const VHPSFRegionFields read = VHPSFRecord::region(m_store.image(), record, region);
    const VHPSFRegionBounds b = bounds(region);
    const quint32 limit = std::min<quint32>(b.end, quint32(m_store.image().size()));
    const bool inside = read.first >= b.start && read.first <= limit && read.end >= b.start && read.end <= limit;
    if (!inside || read.free > b.capacity)
        return VHResult::failure(1, QStringLiteral("%1 region of the management record out of bounds "
                                                   "(free %2, first 0x%3, end 0x%4)")
                                        .arg(QLatin1String(regionName(region)))
                                        .arg(read.free)
                                        .arg(read.first, 0, 16)
                                        .arg(read.end, 0, 16));
    fields = read;
    return VHResult::success();
}

VHResult VHPSFFlashHeader::usedRange(VHPSFRegion region, qsizetype &from, qsizetype &to)
{
    VHPSFRegionFields fields;
    if (VHResult result = regionFields(region, fields); !result)
        return result;
    from = region == VHPSFRegion::Lap ? fields.first : bounds(region).start;
    to = std::max<qsizetype>(from, fields.end);
    return VHResult::success();
}

VHResult VHPSFFlashHeader::checkRecord()
{
    VHPSFRegionFields fields;
    for (int i = 0; i < kVHPSFRegionCount; ++i) {
        if (VHResult result = regionFields(VHPSFRegion(i), fields); !result)
            return result;
    }
    return VHResult::success();
}

VHResult VHPSFFlashHeader::commit()
{
    qsizetype record = 0;
    if (VHResult result = currentRecord(record); !result)
        return result;
    QByteArray &image = m_store.image();
    const QByteArray copy = image.mid(record, kRecordCopySize);
    // The whole header area, not only the 8192 bytes written back: the erase
    // before a save clears all of it on the device, and the image stays equal.
    fill(0, kHeaderSize, char(0xFF));
    bool written = VHByteWriter(image, 0).bytes(copy).ok();
    written = written && VHByteWriter(image, 0).u16(kRecordMarker).fill(kReservedSize, 0xFF).ok();
    written = written && VHPSFRecord::seal(image, 0);
    written = written && VHByteWriter(image, kSlotSize).u16(kFreeMarker).ok();
    written = written && VHByteWriter(image, kCommitWordOffset).u32(kCommitWord).ok();
    m_current = 0;
    return written ? VHResult::success() : VHResult::failure(1, QStringLiteral("the image has no header area"));
}

VHResult VHPSFFlashHeader::resetRoutes()
{
    VHPSFRegionFields route, lap;
    if (VHResult result = regionFields(VHPSFRegion::Route, route); !result)
        return result;
    if (VHResult result = regionFields(VHPSFRegion::Lap, lap); !result)
        return result;
    fill(bounds(VHPSFRegion::Route).first, word(RouteCapacity), char(0xFF));
    fill(word(LapStart), word(LapCapacity), char(0xFF));
    route.end = route.first;
    route.free = word(RouteCapacity);
    lap.free = word(LapCapacity);
    lap.end = word(LapStart);
    // The record's count at 66 is carried as it stands: its meaning is the
    // firmware's, and the route frame keeps its own count.
    if (VHResult result = updateFields(VHPSFRegion::Route, route); !result)
        return result;
    return updateFields(VHPSFRegion::Lap, lap);
}

VHResult VHPSFFlashHeader::resetTracks()
{
    VHPSFRegionFields track;
    if (VHResult result = regionFields(VHPSFRegion::TrackSeg, track); !result)
        return result;
    fill(bounds(VHPSFRegion::TrackSeg).first, word(TrackCapacity), char(0xFF));
    track.end = track.first;
    track.free = word(TrackCapacity);
    return updateFields(VHPSFRegion::TrackSeg, track);
}

VHResult VHPSFFlashHeader::append(VHPSFRegion region, const QByteArray &record)
{
    VHPSFRegionFields fields;
    if (VHResult result = regionFields(region, fields); !result)
        return result;
    if (record.size() > qsizetype(fields.free) || record.size() > qsizetype(bounds(region).end - fields.end))
        return VHResult::failure(1, QStringLiteral("%1 region: no room for a record of %2 bytes")
                                        .arg(QLatin1String(regionName(region)))
                                        .arg(record.size()));
    const quint32 size = quint32(record.size());
    if (!VHByteWriter(m_store.image(), fields.end).bytes(record).ok())
        return VHResult::failure(1, QStringLiteral("record past the end of the image"));
    fields.end += size;
    fields.free -= size;
    return updateFields(region, fields);
}

VHResult VHPSFFlashHeader::updateFields(VHPSFRegion region, const VHPSFRegionFields &fields)
{
    qsizetype record = 0;
    if (VHResult result = currentRecord(record); !result)
        return result;
    if (!VHPSFRecord::setRegion(m_store.image(), record, region, fields))
        return VHResult::failure(1, QStringLiteral("management record not written"));
    return VHResult::success();
}

void VHPSFFlashHeader::fill(qsizetype from, qsizetype count, char value)
{
    QByteArray &image = m_store.image();
    from = std::clamp<qsizetype>(from, 0, image.size());
    count = std::clamp<qsizetype>(count, 0, image.size() - from);
    std::fill_n(image.begin() + from, count, value);
}
