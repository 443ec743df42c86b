#include "VHPSFContainer_1_5.h"

#include "VHByteReader.h"
#include "VHLog.h"
#include "VHPSFStore.h"

VHPSFContainer_1_5::VHPSFContainer_1_5(VHPSFStore &store, VHPSFFlashHeader *header)
    : m_store(store), m_header(header), m_status(store.getDistHeader(m_distHeader))
{
    if (!m_status)
        m_distHeader = -1;
}

VHPSFContainer_1_5::~VHPSFContainer_1_5() = default;

qsizetype VHPSFContainer_1_5::distObjectOffset() const
{
    return m_distHeader < 0 ? -1 : m_distHeader + VHPSFLayout::kDistObjectOffset;
}

bool VHPSFContainer_1_5::getVersion(QByteArray &version) const
{
    if (m_distHeader < 0)
        return false;
    VHByteReader reader(m_store.image(), m_distHeader + VHPSFLayout::kVersionOffset);
    const QByteArray bytes = reader.bytes(VHPSFLayout::kVersionSize);
    if (!reader.ok())
        return false;
    version = bytes;
    return true;
}

bool VHPSFContainer_1_5::ready(VHResult loaded, const char *what) const
{
    if (!m_header || !m_header->hasLayout()) {
        vhCritical() << what << "region: no region table";
        return false;
    }
    if (!loaded)
        vhCritical() << what << "region not loaded:" << loaded.reason;
    return loaded.ok;
}

// A frame is made once the region table is known: its bounds come from it.
template <typename Frame>
static Frame *frame(std::unique_ptr<Frame> &slot, QByteArray &image, VHPSFFlashHeader *header, VHPSFRegion region)
{
    if (!slot) {
        if constexpr (std::is_constructible_v<Frame, QByteArray *, VHPSFFlashHeader *>)
            slot = std::make_unique<Frame>(&image, header);
        else
            slot = std::make_unique<Frame>(&image, header, region);
    }
    return slot.get();
}

VHPSFRouteFrame_1_5 *VHPSFContainer_1_5::routeFrame()
{
    if (!ready(m_header ? m_store.loadRoutes() : VHResult::success(), "route"))
        return nullptr;
    return frame(m_routes, m_store.image(), m_header, VHPSFRegion::Route);
}

VHPSFTrackFrame_1_5 *VHPSFContainer_1_5::trackFrame()
{
    if (!ready(m_header ? m_store.loadTrackSegs() : VHResult::success(), "track segment"))
        return nullptr;
    return frame(m_tracks, m_store.image(), m_header, VHPSFRegion::TrackSeg);
}

VHPSFWorkoutFrame_1_5 *VHPSFContainer_1_5::workoutFrame()
{
    if (!ready(m_header ? m_store.loadWorkouts() : VHResult::success(), "workout"))
        return nullptr;
    return frame(m_workouts, m_store.image(), m_header, VHPSFRegion::Workout);
}

VHPSFSensorLogFrame_1_5 *VHPSFContainer_1_5::sensorLogFrame()
{
    if (!ready(m_header ? m_store.loadSensorLogs() : VHResult::success(), "sensor log"))
        return nullptr;
    return frame(m_sensorLogs, m_store.image(), m_header, VHPSFRegion::SensorLog);
}

VHPSFInfoLogFrame_1_5 *VHPSFContainer_1_5::infoLogFrame()
{
    if (!ready(m_header ? m_store.loadInfoLogs() : VHResult::success(), "info log"))
        return nullptr;
    return frame(m_infoLogs, m_store.image(), m_header, VHPSFRegion::InfoLog);
}

const QMap<qsizetype, VHPSFNamedEntry> &VHPSFContainer_1_5::namedEntries()
{
    m_named.clear();
    if (VHPSFRouteFrame_1_5 *routes = routeFrame()) {
        for (const VHPSFRoute_1_5 &route : routes->routes())
            m_named.insert(route.offset(), {VHPSFNamedEntry::Route, route.offset(), int(route.nameOffsets().size())});
    }
    if (VHPSFWorkoutFrame_1_5 *workouts = workoutFrame()) {
        for (const VHPSFWorkout_1_5 &workout : workouts->records())
            m_named.insert(workout.offset(),
                           {VHPSFNamedEntry::Workout, workout.offset(), int(workout.nameOffsets().size())});
    }
    return m_named;
}
