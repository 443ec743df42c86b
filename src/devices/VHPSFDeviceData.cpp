// The data operations of the PSF family: listing, adding and deleting the
// records of the store through the container. Changes stay in the store's
// image until the next finalize writes it back.

#include "VHLog.h"
#include "VHPSFContainer_1_5.h"
#include "VHPSFDevice.h"

#include <QVariantMap>

namespace {

QStringList languagesOf(const VHPSFNamedObject &record)
{
    QStringList languages;
    for (const QByteArray &name : record.names())
        languages.append(QString::fromLatin1(name.mid(4, 3)));
    return languages;
}

// Every id names a record of `records`: a partly known list changes nothing.
template <typename List>
bool allKnown(const QSet<qsizetype> &ids, const List &records)
{
    QSet<qsizetype> known;
    for (const auto &record : records)
        known.insert(record.offset());
    if (ids.isEmpty() || !known.contains(ids)) {
        vhCritical() << "delete refused: unknown record ids";
        return false;
    }
    return true;
}

bool notSupported(const char *operation)
{
    vhWarning() << operation << "not supported for this device";
    return false;
}

QVariantMap trackEntry(const VHPSFTrackSeg_1_5 &segment, int index)
{
    const VHPSFTrackSample start = segment.start();
    const VHPSFTrackSample last = segment.last();
    return {{"Id", segment.offset()},
            {"Title", QStringLiteral("Track %1").arg(index + 1)},
            {"StartTime", start.time},
            {"EndTime", last.time},
            {"Points", int(segment.pointOffsets().size())},
            {"StartAltitude", start.altitude},
            {"EndAltitude", last.altitude}};
}

} // namespace

// ---- the lists ---------------------------------------------------------------

bool VHPSFDevice::_getShareDataList()
{
    m_dataFailure.clear();
    // The frames keep their regions once read: the lists below read nothing twice.
    const auto unread = [this]() -> QString {
        if (!m_container)
            return QStringLiteral("the store is not attached");
        if (!m_container->routeFrame())
            return QStringLiteral("the route region could not be read");
        if (!m_container->trackFrame())
            return QStringLiteral("the track region could not be read");
        if (!m_container->workoutFrame())
            return QStringLiteral("the workout region could not be read");
        return {};
    };
    m_dataFailure = unread();
    if (!m_dataFailure.isEmpty())
        return finish(VHResult::failure(NoDevice, "the records could not be listed: " + m_dataFailure));
    return VHClient::_getShareDataList();
}

// ---- tracks ----------------------------------------------------------------

bool VHPSFDevice::GetTrackTask::execute()
{
    VHPSFContainer_1_5 *container = m_device.container();
    VHPSFTrackFrame_1_5 *frame = container ? container->trackFrame() : nullptr;
    if (!frame) {
        vhCritical() << "getTrackOfRoute  failed";
        return false;
    }
    const QList<VHPSFTrackSeg_1_5> segments = frame->segments();
    for (qsizetype i = 0; i < segments.size(); ++i)
        m_tracks.append(trackEntry(segments[i], int(i)));
    vhDebug() << "finished";
    return true;
}

void VHPSFDevice::GetTrackTask::handleException() { vhCritical() << "getTracks() raise exception"; }

void VHPSFDevice::getTracks(QVariantList &tracks)
{
    QVariantList read;
    GetTrackTask task(*this, read);
    VHLinuxExceptionHandler guard;
    // A crash inside leaves a partial list: nothing of it is handed out.
    if (guard.execute(&task))
        tracks = read;
}

bool VHPSFDevice::deleteTracks(const QVariantList &ids)
{
    VHPSFTrackFrame_1_5 *frame = m_container ? m_container->trackFrame() : nullptr;
    const QSet<qsizetype> offsets = idsOf(ids);
    if (!frame) {
        vhCritical() << "getTrackOfRoute  failed";
        return false;
    }
    return allKnown(offsets, frame->segments()) && frame->deleteSegmentsAt(offsets).ok;
}

// ---- workouts --------------------------------------------------------------

void VHPSFDevice::getWorkouts(QVariantList &workouts)
{
    VHPSFWorkoutFrame_1_5 *frame = m_container ? m_container->workoutFrame() : nullptr;
    if (!frame) {
        vhCritical() << "getWorkouts failed";
        return;
    }
    int index = 0;
    for (const VHPSFWorkout_1_5 &workout : frame->records()) {
        QStringList kinds;
        for (const VHPSFInterval_1_5 &interval : workout.intervals())
            kinds.append(interval.kindName());
        workouts.append(QVariantMap{{"Id", workout.offset()},
                                    {"Title", QStringLiteral("Workout %1").arg(++index)},
                                    {"Languages", languagesOf(workout)},
                                    {"Intervals", kinds}});
    }
}

bool VHPSFDevice::deleteWorkouts(const QVariantList &ids)
{
    VHPSFWorkoutFrame_1_5 *frame = m_container ? m_container->workoutFrame() : nullptr;
    const QSet<qsizetype> offsets = idsOf(ids);
    if (!frame) {
        vhCritical() << "getWorkouts failed";
        return false;
    }
    return allKnown(offsets, frame->records()) && frame->deleteAt(offsets).ok;
}

// ---- routes ----------------------------------------------------------------

bool VHPSFDevice::getPSFRoute(QVariantList &routes)
{
    VHPSFRouteFrame_1_5 *frame = m_container ? m_container->routeFrame() : nullptr;
    if (!frame) {
        vhCritical() << "getRoutes failed";
        return false;
    }
    int index = 0;
    for (const VHPSFRoute_1_5 &route : frame->routes()) {
        routes.append(QVariantMap{{"Id", route.offset()},
                                  {"Title", QStringLiteral("Route %1").arg(++index)},
                                  {"Kind", int(route.kind())},
                                  {"Languages", languagesOf(route)},
                                  {"Laps", int(frame->laps(route).size())}});
    }
    return true;
}

bool VHPSFDevice::addRoute(const QString &name, bool kind, const QByteArray &language)
{
    VHPSFRouteFrame_1_5 *frame = m_container ? m_container->routeFrame() : nullptr;
    VHPSFBitFontCreator *creator = bitFontCreator();
    if (!frame || !creator) {
        vhCritical() << "getRoutes failed";
        return false;
    }
    std::optional<VHPSFMultiLangString_1_5> record = creator->createBitfont(name, false);
    if (!record) {
        vhCritical() << "route name not rendered: no route added";
        return false;
    }
    record->setLanguageCode(language);
    const VHResult added = frame->addRoute(kind, {record->bytes()});
    if (!added)
        vhCritical() << "route not added:" << added.reason;
    return added.ok;
}

bool VHPSFDevice::deleteRoutes(const QVariantList &ids)
{
    VHPSFRouteFrame_1_5 *frame = m_container ? m_container->routeFrame() : nullptr;
    if (!frame) {
        vhCritical() << "getRoutes failed";
        return false;
    }
    if (ids.size() == 1 && ids[0].toMap().contains(QStringLiteral("Kind")))
        return frame->deleteRoutesOfKind(ids[0].toMap().value(QStringLiteral("Kind")).toInt() != 0).ok;
    const QSet<qsizetype> offsets = idsOf(ids);
    return allKnown(offsets, frame->routes()) && frame->deleteRoutesAt(offsets).ok;
}

// ---- helpers and what this family does not do ------------------------------

QSet<qsizetype> VHPSFDevice::idsOf(const QVariantList &items)
{
    QSet<qsizetype> ids;
    for (const QVariant &item : items) {
        bool ok = false;
        const QVariant id = item.typeId() == QMetaType::QVariantMap ? item.toMap().value(QStringLiteral("Id")) : item;
        const qlonglong value = id.toLongLong(&ok);
        if (ok && value >= 0)
            ids.insert(qsizetype(value));
    }
    return ids;
}

VHPSFBitFontCreator *VHPSFDevice::bitFontCreator()
{
    if (!m_bitFontCreator) {
        // Made on the worker, it moves itself to the GUI thread.
        m_ownBitFontCreator = std::make_unique<VHPSFBitFontCreatorSupport>();
        m_bitFontCreator = m_ownBitFontCreator.get();
    }
    return m_bitFontCreator;
}

bool VHPSFDevice::prepareUploadData(QString &, bool) { return notSupported("prepareUploadData"); }

bool VHPSFDevice::toGpxTrack(const QVariant &, const QString &) { return notSupported("toGpxTrack"); }

bool VHPSFDevice::toGpxSsrLog(const QVariant &, const QString &) { return notSupported("toGpxSsrLog"); }

bool VHPSFDevice::workoutToXml(const QVariant &, const QString &) { return notSupported("workoutToXml"); }

bool VHPSFDevice::trackToXml(const QVariant &, const QString &) { return notSupported("trackToXml"); }

bool VHPSFDevice::setShareData(const QString &) { return notSupported("setShareData"); }
