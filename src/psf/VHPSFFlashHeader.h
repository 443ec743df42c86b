#pragma once

// The region table of the external flash and the current management record.
// Until a layout is selected only the fixed words (header size, dist header
// end, flash size, profile offset and size) are known, and every region
// question fails.

#include "VHPSFLayout.h"
#include "VHPSFRecord.h"
#include "VHResult.h"

#include <QByteArray>

#include <array>
#include <optional>

class VHPSFStore;

// The bounds of one region taken from the table.
struct VHPSFRegionBounds
{
    quint32 start = 0;    // region start
    quint32 first = 0;    // first record
    quint32 end = 0;      // end of the region's capacity
    quint32 capacity = 0; // bytes from the first record
};

class VHPSFFlashHeader
{
public:
    static constexpr int kWordCount = 46;
    enum Word {
        HeaderSize = 0,
        DistHeaderEnd = 1,
        RouteCapacity = 13,
        LapStart = 14,
        LapCapacity = 16,
        TrackCapacity = 29,
        FlashSize = 43,
        ProfileOffset = 44,
        ProfileSize = 45,
    };

    explicit VHPSFFlashHeader(VHPSFStore &store);

    // "1510" selects column A, anything else column B.
    void selectLayout(const QByteArray &version);
    bool hasLayout() const { return m_hasLayout; }
    quint32 word(int index) const;
    VHPSFRegionBounds bounds(VHPSFRegion region) const;

    // Offset of the current management record in the image; found once from
    // the header area, then cached.
    VHResult currentRecord(qsizetype &offset);
    // Forgets the cached record, for a header area that was replaced.
    void invalidate() { m_current.reset(); }
    // The current record's fields of a region, each checked against the
    // region and the flash; refused before a layout is selected.
    VHResult regionFields(VHPSFRegion region, VHPSFRegionFields &fields);
    // The byte range of a region's used part: region start to its "end";
    // for the laps from their "first" to their "end" (empty when end < first).
    VHResult usedRange(VHPSFRegion region, qsizetype &from, qsizetype &to);
    // Every region of the current record is within bounds.
    VHResult checkRecord();

    // Moves the current record to slot 0 of a cleared header area.
    VHResult commit();
    VHResult resetRoutes();
    VHResult resetTracks();
    // Writes `record` at the region's "end" and moves end and free.
    VHResult append(VHPSFRegion region, const QByteArray &record);

private:
    VHResult findCurrentRecord(qsizetype &offset);
    VHResult updateFields(VHPSFRegion region, const VHPSFRegionFields &fields);
    void fill(qsizetype from, qsizetype count, char value);

    VHPSFStore &m_store;
    std::array<quint32, kWordCount> m_words{};
    bool m_hasLayout = false;
    std::optional<qsizetype> m_current;
};
