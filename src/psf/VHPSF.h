#pragma once

#include "VHPSFRecords.h"

#include <QString>

#include <array>
#include <memory>

// The data of a Pacer30 family flash image: the current management record,
// the dist header, routes and points of interest as records, and every other
// region's used part as the bytes read. A write-back rebuilds only the
// regions whose records serialise and leaves tracks, workouts, laps and logs
// in the image as they are, so the user's recordings survive an edit.
class VHPSF : public VHPSFField
{
    Q_OBJECT

public:
    using Table = std::array<quint32, 46>;

    // nullptr and `error` when the data version is not a 1.4 one, the table
    // does not fit the image, or the record or dist header lies outside it.
    static std::unique_ptr<VHPSF> fromImage(const QByteArray &image, qsizetype managementOffset, const Table &table,
                                            const QString &dataVersion, QString *error);
    static bool supportsVersion(const QString &dataVersion);
    // The journal rule: the slot before the first free one, the last slot
    // when the first is free; -1 when no slot is free or the image is short.
    static qsizetype currentRecordOffset(const QByteArray &image);

    // The record is in use and sealed, every region's used part lies inside
    // its region, and the routes and points of interest were read whole.
    bool checkIntegrity(QString *reason) const;
    bool dataChanged() const { return m_dataChanged; }
    void setDataChanged(bool changed) { m_dataChanged = changed; }
    // Puts the header area, dist header, route and point-of-interest regions
    // into `image` (the unused rest of each 0xFF) and leaves every other byte.
    // Refuses a container that failed its integrity check.
    [[nodiscard]] bool writeInto(QByteArray &image, QString *error) const;

    QString dataVersion() const { return m_dataVersion; }
    const Table &table() const { return m_table; }
    // The used part of a region as read: region start to the record's end.
    QByteArray regionBytes(VHPSFRegion region) const { return m_regions[size_t(region)]; }
    QByteArray poiRegionBytes() const { return m_poiRegion; }
    const VHPSFManagementHeaderRecord &managementHeader() const { return *m_management; }
    const VHPSFDistHeader &distHeader() const { return *m_distHeader; }
    VHPSFRouteFrame &routes() { return *m_routes; }
    VHPSFPOIFrame &pois() { return *m_pois; }

private:
    VHPSF() = default;
    void readRegions(const QByteArray &image);
    void readRoutesAndPois(const QByteArray &image);
    void addProblem(const QString &problem);
    QString problem() const;

    Table m_table{};
    QString m_dataVersion;
    bool m_dataChanged = false;
    std::unique_ptr<VHPSFManagementHeaderRecord> m_management;
    std::unique_ptr<VHPSFDistHeader> m_distHeader;
    std::unique_ptr<VHPSFRouteFrame> m_routes;
    std::unique_ptr<VHPSFPOIFrame> m_pois;
    std::array<QByteArray, kVHPSFRegionCount> m_regions;
    QByteArray m_poiRegion;
    bool m_poiUnset = false; // the record names no point-of-interest part
    QStringList m_problems;
};
