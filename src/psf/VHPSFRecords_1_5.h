#pragma once

// The record kinds of the 1.5 generation as views over the flash image.
// Layouts this store does not state are ours and are carried unchanged
// otherwise: a workout's interval count is its byte 24 and an interval's kind
// its byte 0; a sensor log holds its point count (16-bit) at 8 and its point
// size at byte 10; an info log holds its entry count (16-bit) at 8, and its
// entries are time zone records.

#include "VHByteReader.h"
#include "VHPSFObject.h"

#include <QString>

#include <optional>

class VHPSFLap_1_5 : public VHPSFObject
{
public:
    static constexpr qsizetype kSize = 56;
    using VHPSFObject::VHPSFObject;
    qsizetype size() const override { return kSize; }
};

class VHPSFInterval_1_5 : public VHPSFObject
{
public:
    static constexpr qsizetype kSize = 24;
    using VHPSFObject::VHPSFObject;
    qsizetype size() const override { return kSize; }
    quint8 kind() const { return u8(0); }
    QString kindName() const { return kindName(kind()); }
    static QString kindName(int kind);
};

class VHPSFRoute_1_5 : public VHPSFNamedObject
{
public:
    static constexpr qsizetype kHeaderSize = 36;
    static constexpr qsizetype kFlags = 4;
    static constexpr qsizetype kSummaryLap = 12;
    static constexpr qsizetype kLaps = 16;
    static constexpr qsizetype kLapCount = 24;
    static constexpr qsizetype kNext = 28;
    static constexpr quint8 kKindFlag = 0x01;
    static constexpr quint8 kSecondFlag = 0x02;

    using VHPSFNamedObject::VHPSFNamedObject;
    qsizetype headerSize() const override { return kHeaderSize; }
    qsizetype size() const override { return kHeaderSize + namesSize(); }

    // A zero-filled header with its unset fields set, for a new route.
    static QByteArray newHeader(bool kind);

    bool kind() const { return u8(kFlags) & kKindFlag; }
    bool secondFlag() const { return u8(kFlags) & kSecondFlag; }
    [[nodiscard]] bool setSecondFlag(bool on);
    quint32 next() const { return u32(kNext); }
    [[nodiscard]] bool setNext(quint32 value) { return setU32(kNext, value); }
    // The summary lap and the laps, from the lap base within [base, lapLimit).
    VHPSFLap_1_5 summaryLap(QByteArray *image, qsizetype lapBase, qsizetype lapLimit) const;
    QList<VHPSFLap_1_5> laps(QByteArray *image, qsizetype lapBase, qsizetype lapLimit) const;
};

class VHPSFWorkout_1_5 : public VHPSFNamedObject
{
public:
    static constexpr qsizetype kHeaderSize = 40;
    static constexpr qsizetype kIntervalCount = 24;
    using VHPSFNamedObject::VHPSFNamedObject;
    qsizetype headerSize() const override { return kHeaderSize; }
    qsizetype size() const override;
    int intervalCount() const;
    QList<VHPSFInterval_1_5> intervals() const;
};

class VHPSFTrackPoint_1_5 : public VHPSFObject
{
public:
    using VHPSFObject::VHPSFObject;
    static qsizetype formSize(int form);
    qsizetype size() const override { return formSize(form()); }
    int form() const { return u8(0) & 0x03; }
    int timeStep() const { return u8(0) >> 2; }
    qint32 altitudeDelta() const;
    qint32 deltaB() const;
    qint32 deltaC() const;
    [[nodiscard]] bool setForm(int form);
    [[nodiscard]] bool setBit2(bool on) { return setFlag(0x04, on); }
    [[nodiscard]] bool setBit4(bool on) { return setFlag(0x10, on); }
    // The smallest form whose fields hold the deltas; -1 when none does.
    static int formFor(qint64 altitude, qint64 b, qint64 c);
    // A point of that form; empty when the deltas or the time step do not fit.
    static QByteArray encode(int timeStep, qint32 altitude, qint32 b, qint32 c);

private:
    bool setFlag(quint8 bit, bool on);
};

// One position of a walk through a segment.
struct VHPSFTrackSample
{
    quint32 time = 0;
    qint64 position4 = 0; // the coordinate at header offset 4, moved by B
    qint64 position8 = 0; // the one at offset 8, moved by C
    double altitude = 0;  // metres
};

class VHPSFTrackSeg_1_5 : public VHPSFObject
{
public:
    static constexpr qsizetype kHeaderSize = 40;
    static constexpr qsizetype kStartTime = 0;
    static constexpr qsizetype kPosition4 = 4;
    static constexpr qsizetype kPosition8 = 8;
    static constexpr qsizetype kAltitude = 20;
    static constexpr qsizetype kTimeUnit = 25;
    static constexpr qsizetype kCount = 32;

    VHPSFTrackSeg_1_5() = default;
    VHPSFTrackSeg_1_5(QByteArray *image, qsizetype offset, qsizetype limit);
    qsizetype size() const override { return m_size; }

    // 0 for an unset count and for 0xFFFE and above.
    quint32 pointCount() const;
    // The points that lie inside the limit; a count beyond it is cut with a log line.
    const QList<qsizetype> &pointOffsets() const { return m_points; }
    bool isCut() const { return m_cut; }
    VHPSFTrackSample start() const;
    QList<VHPSFTrackSample> walk() const;
    // The walk's last position (the start for a segment without points).
    VHPSFTrackSample last() const;

private:
    void scan();
    friend class VHPSFTrackWalker;

    QList<qsizetype> m_points;
    qsizetype m_size = 0;
    bool m_cut = false;
};

// Steps through a segment's positions; past the last one it starts over.
class VHPSFTrackWalker
{
public:
    explicit VHPSFTrackWalker(const VHPSFTrackSeg_1_5 &segment);
    bool next(VHPSFTrackSample &sample);
    void reset();

private:
    const VHPSFTrackSeg_1_5 &m_segment;
    std::optional<VHByteReader> m_reader;
    quint8 m_timeUnit = 0;
    VHPSFTrackSample m_at;
    qsizetype m_index = 0;
};

class VHPSFSensorLogPoint_1_5 : public VHPSFObject
{
public:
    VHPSFSensorLogPoint_1_5(QByteArray *image, qsizetype offset, qsizetype limit, qsizetype size)
        : VHPSFObject(image, offset, limit), m_size(size)
    {}
    qsizetype size() const override { return m_size; }

private:
    qsizetype m_size = 0;
};

class VHPSFSensorLog_1_5 : public VHPSFObject
{
public:
    static constexpr qsizetype kHeaderSize = 16;
    static constexpr qsizetype kCount = 8;
    static constexpr qsizetype kPointSize = 10;
    using VHPSFObject::VHPSFObject;
    qsizetype size() const override;
    int pointCount() const;
    QList<VHPSFSensorLogPoint_1_5> points() const;
};

class VHPSFTZone_1_5 : public VHPSFObject
{
public:
    using VHPSFObject::VHPSFObject;
    qsizetype size() const override { return qsizetype(u8(0) / 16) * 4 + 4; }
};

class VHPSFUserInfoLog_1_5 : public VHPSFObject
{
public:
    static constexpr qsizetype kHeaderSize = 24;
    static constexpr qsizetype kCount = 8;
    using VHPSFObject::VHPSFObject;
    qsizetype size() const override;
    QList<VHPSFTZone_1_5> entries() const;
};
