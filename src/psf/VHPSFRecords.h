#pragma once

// The records of the Pacer30 family's data container. Values are
// little-endian; offsets are absolute flash offsets.
//
//   management record (256 bytes): the journal slot of the 2 MiB store; the
//     points of interest keep free, first, end at bytes 172, 176, 180
//   dist header (at the dist header region start):
//     u32 format, u32 size, 4 fixed bytes, u32 carried, u32 version text,
//     20 x 0xFF, 20 x 0xFF, u32 child size, child bytes (carried as they are)
//   route region: route header, then the route chain from "first" to "end"
//     route header (24 bytes): u32 route count, u32 bytes of routes,
//       u16 format, 14 x 0xFF
//     route: u32 next route (0xFFFFFFFF on the last), u16 id, u8 flags
//       (bit 0 the kind), u8 name length, u16 point count, u32 length in
//       metres, name bytes, points
//     route point (12 bytes): i32 latitude, i32 longitude (1e-7 degrees),
//       i16 altitude in metres, u16 carried
//   point-of-interest region: POI header (the route header's shape: u32
//     count, u32 bytes, u16 format, 14 x 0xFF), then the records one after
//     the other
//     POI: u16 id, u8 flags, u8 name length, i32 latitude, i32 longitude,
//       i16 altitude, u16 carried, name bytes
// Reading is bounded by the used part of the region: a record or chain link
// that passes it ends the list with a log line and counts as a fault.

#include "VHPSFField.h"
#include "VHPSFRecord.h"

#include <QStringList>

#include <memory>
#include <vector>

class VHByteReader;

// The current management record: its first 224 bytes, carried as read.
class VHPSFManagementHeaderRecord : public VHPSFField
{
public:
    static constexpr qsizetype kSize = 256;
    static constexpr qsizetype kCarriedSize = 224;

    explicit VHPSFManagementHeaderRecord(const QByteArray &record);

    quint16 marker() const;
    VHPSFRegionFields region(VHPSFRegion region) const;
    [[nodiscard]] bool setRegion(VHPSFRegion region, const VHPSFRegionFields &fields);
    VHPSFRegionFields poi() const;
    [[nodiscard]] bool setPoi(const VHPSFRegionFields &fields);
    // The sum and check value stored with the record match its bytes.
    bool sealed() const;
    // The record as a sealed journal slot: marker 0xAA55, reserved and tail 0xFF.
    QByteArray serialize() const override;

private:
    QByteArray m_bytes; // kSize bytes; the tail past kCarriedSize is rebuilt
};

// Bytes a record holds without reading them (the dist header's child).
class VHPSFCarriedField : public VHPSFField
{
public:
    explicit VHPSFCarriedField(const QByteArray &bytes) : m_bytes(bytes) {}
    QByteArray serialize() const override { return m_bytes; }

private:
    QByteArray m_bytes;
};

class VHPSFDistHeader : public VHPSFField
{
public:
    static constexpr qsizetype kFixedSize = 64;

    // nullptr when the header or its child passes the end of `region`.
    static std::unique_ptr<VHPSFDistHeader> parse(const QByteArray &region, QString *error);

    QByteArray versionText() const;
    QByteArray serialize() const override;

private:
    VHPSFDistHeader() = default;
    quint32 m_format = 0;
    quint32 m_size = 0;
    QByteArray m_fixed;
    quint32 m_carried = 0;
    quint32 m_version = 0;
    std::unique_ptr<VHPSFCarriedField> m_child;
};

// The 24-byte header of the route and point-of-interest regions.
class VHPSFRouteHeader : public VHPSFField
{
public:
    static constexpr qsizetype kSize = 24;

    VHPSFRouteHeader() = default;
    // False when the reader runs out.
    bool read(VHByteReader &reader);

    quint32 count() const { return m_count; }
    quint32 bytes() const { return m_bytes; }
    QByteArray serialize() const override { return serialize(m_count, m_bytes); }
    QByteArray serialize(quint32 count, quint32 used) const;

private:
    quint32 m_count = 0;
    quint32 m_bytes = 0;
    quint16 m_format = 1;
};

class VHPSFPOIHeader : public VHPSFRouteHeader
{
public:
    using VHPSFRouteHeader::VHPSFRouteHeader;
};

class VHPSFRoutePoint : public VHPSFField
{
public:
    static constexpr qsizetype kSize = 12;

    qint32 latitude = 0;
    qint32 longitude = 0;
    qint16 altitude = 0;
    quint16 carried = 0;

    void read(VHByteReader &reader);
    QByteArray serialize() const override;
};

class VHPSFRoute : public VHPSFField
{
public:
    static constexpr qsizetype kFixedSize = 14;
    static constexpr quint32 kLastRoute = 0xFFFFFFFF;

    // Reads one route from `reader`, which ends where the region's used part
    // ends; nullptr when the route passes that end.
    static std::unique_ptr<VHPSFRoute> parse(VHByteReader &reader);

    quint16 id = 0;
    quint8 flags = 0;
    quint32 length = 0;
    QByteArray name;
    std::vector<std::unique_ptr<VHPSFRoutePoint>> points;

    quint32 next() const { return m_next; }
    qsizetype size() const;
    QByteArray serialize() const override { return serialize(m_next); }
    QByteArray serialize(quint32 next) const;

private:
    quint32 m_next = kLastRoute;
};

// Header and chain of the route region, rebuilt packed from its start.
class VHPSFRouteFrame : public VHPSFField
{
public:
    // Reads [first, end) of `image`; `problems` collects what ended a list early.
    static std::unique_ptr<VHPSFRouteFrame> parse(const QByteArray &image, quint32 start, quint32 first, quint32 end,
                                                  QStringList *problems);
    explicit VHPSFRouteFrame(quint32 start);

    quint32 start() const { return m_start; }
    const VHPSFRouteHeader &header() const { return *m_header; }
    const std::vector<std::unique_ptr<VHPSFRoute>> &routes() const { return m_routes; }
    void append(std::unique_ptr<VHPSFRoute> route);
    // Removes every route whose flag bit 0 equals `kind`; the number removed.
    int removeKind(int kind);
    QByteArray serialize() const override;

private:
    quint32 m_start = 0;
    std::unique_ptr<VHPSFRouteHeader> m_header;
    std::vector<std::unique_ptr<VHPSFRoute>> m_routes;
};

class VHPSFPOI : public VHPSFField
{
public:
    static constexpr qsizetype kFixedSize = 16;

    static std::unique_ptr<VHPSFPOI> parse(VHByteReader &reader);

    quint16 id = 0;
    quint8 flags = 0;
    qint32 latitude = 0;
    qint32 longitude = 0;
    qint16 altitude = 0;
    quint16 carried = 0;
    QByteArray name;

    QByteArray serialize() const override;
};

class VHPSFPOIFrame : public VHPSFField
{
public:
    static std::unique_ptr<VHPSFPOIFrame> parse(const QByteArray &image, quint32 start, quint32 first, quint32 end,
                                                QStringList *problems);
    explicit VHPSFPOIFrame(quint32 start);

    quint32 start() const { return m_start; }
    const VHPSFPOIHeader &header() const { return *m_header; }
    const std::vector<std::unique_ptr<VHPSFPOI>> &pois() const { return m_pois; }
    void append(std::unique_ptr<VHPSFPOI> poi);
    bool remove(quint16 id);
    QByteArray serialize() const override;

private:
    quint32 m_start = 0;
    std::unique_ptr<VHPSFPOIHeader> m_header;
    std::vector<std::unique_ptr<VHPSFPOI>> m_pois;
};

// Records the container keeps as raw region bytes: they serialise to nothing,
// so a write-back leaves their regions as they are.
class VHPSFLap : public VHPSFField
{};
class VHPSFTrack : public VHPSFField
{};
class VHPSFTrackFrame : public VHPSFField
{};
class VHPSFTrackPoint : public VHPSFField
{};
class VHPSFWorkout : public VHPSFField
{};
class VHPSFWorkoutFrame : public VHPSFField
{};
class VHPSFInterval : public VHPSFField
{};
class VHPSFIntervalLog : public VHPSFField
{};
class VHPSFWorkoutLog : public VHPSFField
{};
class VHPSFWorkoutLogFrame : public VHPSFField
{};
class VHPSFSensorLog : public VHPSFField
{};
class VHPSFSensorLogFrame : public VHPSFField
{};
class VHPSFSensorLogPoint : public VHPSFField
{};
