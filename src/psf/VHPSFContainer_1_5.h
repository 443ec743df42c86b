#pragma once

// The container of the 1.5 record generation. Built over a store, it loads
// the dist header region and knows where the dist header object lies and
// which version text it carries. With the store's flash header it also owns
// the frames of the regions (each loaded from the store when first asked
// for) and a map of the named entries (routes and workouts) by offset.

#include "VHPSFFrames_1_5.h"
#include "VHResult.h"

#include <QByteArray>
#include <QMap>

#include <memory>

class VHPSFStore;

struct VHPSFNamedEntry
{
    enum Kind { Route, Workout };
    Kind kind = Route;
    qsizetype offset = -1;
    int nameCount = 0;
};

class VHPSFContainer_1_5
{
public:
    explicit VHPSFContainer_1_5(VHPSFStore &store, VHPSFFlashHeader *header = nullptr);
    ~VHPSFContainer_1_5();

    bool isValid() const { return m_status.ok; }
    const VHResult &status() const { return m_status; }
    // Start of the dist header region in the store's image.
    qsizetype distHeaderOffset() const { return m_distHeader; }
    // The dist header object, 48 bytes into the region.
    qsizetype distObjectOffset() const;
    // Dist header bytes 16-19.
    [[nodiscard]] bool getVersion(QByteArray &version) const;

    // The frames, their regions loaded; null (with a log line) when there is
    // no region table or the region could not be read.
    VHPSFRouteFrame_1_5 *routeFrame();
    VHPSFTrackFrame_1_5 *trackFrame();
    VHPSFWorkoutFrame_1_5 *workoutFrame();
    VHPSFSensorLogFrame_1_5 *sensorLogFrame();
    VHPSFInfoLogFrame_1_5 *infoLogFrame();

    // Rebuilt from the route and workout frames; keyed by record offset.
    const QMap<qsizetype, VHPSFNamedEntry> &namedEntries();

private:
    bool ready(VHResult loaded, const char *what) const;

    VHPSFStore &m_store;
    VHPSFFlashHeader *m_header = nullptr;
    qsizetype m_distHeader = -1;
    VHResult m_status;
    std::unique_ptr<VHPSFRouteFrame_1_5> m_routes;
    std::unique_ptr<VHPSFTrackFrame_1_5> m_tracks;
    std::unique_ptr<VHPSFWorkoutFrame_1_5> m_workouts;
    std::unique_ptr<VHPSFSensorLogFrame_1_5> m_sensorLogs;
    std::unique_ptr<VHPSFInfoLogFrame_1_5> m_infoLogs;
    QMap<qsizetype, VHPSFNamedEntry> m_named;
};
