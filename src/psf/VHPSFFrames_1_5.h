#pragma once

// The frames of the 1.5 generation: each owns one region of the store and
// lists, adds and removes its records against the current management record.
// Every change keeps the region's "end" and "free" consistent (free =
// capacity - used bytes) and never writes past the region's capacity.

#include "VHPSFFlashHeader.h"
#include "VHPSFRecords_1_5.h"

#include <QSet>

#include <functional>

class VHPSFRegionFrame_1_5 : public VHPSFObject
{
public:
    VHPSFRegionFrame_1_5(QByteArray *image, VHPSFFlashHeader *header, VHPSFRegion region);

    qsizetype size() const override;
    VHPSFRegion region() const { return m_region; }
    // The used part: first record to the record's "end"; false when the
    // management record does not say or is out of bounds.
    bool usedPart(qsizetype &first, qsizetype &end) const;

protected:
    VHPSFFlashHeader &header() const { return *m_header; }
    // Writes the records one after the other from the first record, erases
    // what is left of the old used part and sets end and free.
    VHResult pack(const QList<QByteArray> &records);
    VHResult setUsed(quint32 usedBytes);

private:
    VHPSFFlashHeader *m_header = nullptr;
    VHPSFRegion m_region;
};

class VHPSFRouteFrame_1_5 : public VHPSFRegionFrame_1_5
{
public:
    static constexpr qsizetype kCount = 8; // in the region header

    VHPSFRouteFrame_1_5(QByteArray *image, VHPSFFlashHeader *header);

    VHResult resetStorage() override;
    // An unset count counts as 0.
    int routeCount() const;
    // The chain from the first record: at most the count, ending at an unset
    // next-offset, at a route outside the used part and at one that does not
    // lead forward (a loop), each with a log line.
    QList<VHPSFRoute_1_5> routes() const;
    VHPSFLap_1_5 summaryLap(const VHPSFRoute_1_5 &route) const;
    QList<VHPSFLap_1_5> laps(const VHPSFRoute_1_5 &route) const;

    // A route with its name records at the end of the chain; refused when it
    // does not fit or has no name.
    VHResult addRoute(bool kind, const QList<QByteArray> &names, qsizetype *added = nullptr);
    // A further name for the last route.
    VHResult addName(const VHPSFRoute_1_5 &route, const QByteArray &name);
    // Removes the routes whose kind flag equals `kind`; `removed` counts them.
    VHResult deleteRoutesOfKind(bool kind, int *removed = nullptr);
    VHResult deleteRoutesAt(const QSet<qsizetype> &offsets, int *removed = nullptr);

private:
    VHResult deleteRoutes(const std::function<bool(const VHPSFRoute_1_5 &)> &doomed, int *removed);
    VHResult setRouteCount(int count);
    bool lapRange(qsizetype &base, qsizetype &limit) const;
};

class VHPSFTrackFrame_1_5 : public VHPSFRegionFrame_1_5
{
public:
    VHPSFTrackFrame_1_5(QByteArray *image, VHPSFFlashHeader *header);

    VHResult resetStorage() override;
    // Segments one after the other through the used part.
    QList<VHPSFTrackSeg_1_5> segments() const;
    // A new empty segment at the end of the region.
    VHResult addSegment(quint32 startTime, qint32 position4, qint32 position8, quint16 altitudeRaw, quint8 timeUnit);
    // Appends a point to the last segment in the smallest form that holds
    // its deltas; refused for any other segment and for deltas no form holds.
    VHResult appendPoint(const VHPSFTrackSeg_1_5 &segment, int timeStep, qint32 altitude, qint32 b, qint32 c);
    VHResult deleteSegmentsAt(const QSet<qsizetype> &offsets, int *removed = nullptr);
};

// A region of records that follow one another (workouts, sensor logs, info logs).
template <typename Record>
class VHPSFListFrame_1_5 : public VHPSFRegionFrame_1_5
{
public:
    using VHPSFRegionFrame_1_5::VHPSFRegionFrame_1_5;

    QList<Record> records() const
    {
        QList<Record> list;
        qsizetype at = 0, end = 0;
        if (!usedPart(at, end))
            return list;
        while (at < end) {
            Record record(image(), at, end);
            if (!record.fits())
                break;
            list.append(record);
            at = record.end();
        }
        return list;
    }

    VHResult deleteAt(const QSet<qsizetype> &offsets, int *removed = nullptr)
    {
        QList<QByteArray> kept;
        int count = 0;
        for (const Record &record : records()) {
            if (offsets.contains(record.offset()))
                ++count;
            else
                kept.append(record.bytes());
        }
        if (removed)
            *removed = count;
        return count ? pack(kept) : VHResult::success();
    }
};

using VHPSFWorkoutFrame_1_5 = VHPSFListFrame_1_5<VHPSFWorkout_1_5>;
using VHPSFSensorLogFrame_1_5 = VHPSFListFrame_1_5<VHPSFSensorLog_1_5>;
using VHPSFInfoLogFrame_1_5 = VHPSFListFrame_1_5<VHPSFUserInfoLog_1_5>;
