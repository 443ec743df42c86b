#pragma once

// The storage a PSF container reads its frames from. A store keeps a copy of
// the whole external flash; the "pointers" it hands out are offsets into that
// copy, valid for as long as the store lives, and every read through them goes
// through a bounds-checked reader.

#include "VHPSFLayout.h"
#include "VHResult.h"

#include <QByteArray>
#include <QString>

class VHPSFStore
{
public:
    VHPSFStore() : m_image(VHPSFLayout::kFlashSize, char(0xFF)) {}
    VHPSFStore(const VHPSFStore &) = delete;
    VHPSFStore &operator=(const VHPSFStore &) = delete;

    virtual ~VHPSFStore() = default;
    // Loads the dist header region; `offset` is where it starts in image().
    virtual VHResult getDistHeader(qsizetype &offset) = 0;
    virtual VHResult loadDistHeader() = 0;
    // The route region, then the lap range.
    virtual VHResult loadRoutes() = 0;
    virtual VHResult loadTrackSegs() = 0;
    // The workout region, then the workout-interval region.
    virtual VHResult loadWorkouts() = 0;
    virtual bool isStoreReady() const = 0;
    virtual VHResult loadSensorLogs() = 0;
    virtual VHResult loadWorkoutLogs() = 0;
    virtual VHResult loadInfoLogs() = 0;
    // Loads the header area; `offset` is the start of the image.
    virtual VHResult getHeader(qsizetype &offset) = 0;
    // Loads the profile range; `offset` is the profile block.
    virtual VHResult getProfile(qsizetype &offset) = 0;
    virtual VHResult loadAll() = 0;
    // Commits the management header and rewrites every region.
    virtual VHResult save() = 0;
    virtual VHResult saveToFile(const QString &path) = 0;
    virtual VHResult loadFromFile(const QString &path) = 0;

    const QByteArray &image() const { return m_image; }
    // For edits by the container and the flash header; never resized.
    QByteArray &image() { return m_image; }

private:
    QByteArray m_image;
};
