#pragma once

// A PSF store over a block source: a copy of the external flash that is read
// region by region as the container asks, and written back by save() after
// the management header is committed. A region is read once; the blocks at
// the ends of every read are remembered so that a neighbouring region does
// not read them again.

#include "VHPSFBlockSource.h"
#include "VHPSFFlashHeader.h"
#include "VHPSFStore.h"

#include <QSet>

#include <array>
#include <memory>

class VHPSFContainer_1_5;

class VHPSFFlashStore : public VHPSFStore
{
public:
    // The lazily loaded regions.
    enum Part { RoutesAndLaps, TrackSegs, WorkoutsAndIntervals, SensorLogs, WorkoutLogs, InfoLogs, Profile, Tail };
    static constexpr int kPartCount = 8;

    explicit VHPSFFlashStore(VHPSFBlockSource &source);
    ~VHPSFFlashStore() override;

    VHResult getDistHeader(qsizetype &offset) override;
    VHResult loadDistHeader() override;
    VHResult loadRoutes() override;
    VHResult loadTrackSegs() override;
    VHResult loadWorkouts() override;
    bool isStoreReady() const override { return true; }
    VHResult loadSensorLogs() override;
    VHResult loadWorkoutLogs() override;
    VHResult loadInfoLogs() override;
    VHResult getHeader(qsizetype &offset) override;
    VHResult getProfile(qsizetype &offset) override;
    VHResult loadAll() override;
    VHResult save() override;
    VHResult saveToFile(const QString &path) override;
    VHResult loadFromFile(const QString &path) override;
    // Takes `bytes` (at most the flash) as the whole image, every region loaded.
    VHResult loadFromBytes(const QByteArray &bytes);
    // Drops everything read: after an erase or a restore the copy is no longer
    // the device's, and must not be written back.
    void forget();

    // What attaching a device does: the profile range, the initialised-store
    // byte when `requireInitialised`, a new container over the dist header
    // and the layout its version text selects.
    VHResult attach(bool requireInitialised, std::unique_ptr<VHPSFContainer_1_5> &container);

    VHPSFFlashHeader &flashHeader() { return m_header; }
    bool isLoaded(Part part) const { return m_loaded[part]; }
    bool isHeaderLoaded() const { return m_headerLoaded; }

    // Reads or writes the blocks that cover [offset, offset + length), less
    // an end block already read (written in this save). A write is read back
    // and compared: a frame counts as written only when the flash holds it.
    VHResult loadRegion(qsizetype offset, qsizetype length);
    VHResult writeRegion(qsizetype offset, qsizetype length);

private:
    struct BlockSpan
    {
        int first = 0;
        int last = -1;
    };
    BlockSpan trimmedSpan(qsizetype offset, qsizetype length, const QSet<int> &done) const;
    VHResult loadUsed(VHPSFRegion region);
    VHResult loadPart(Part part, VHPSFRegion region, std::optional<VHPSFRegion> then = std::nullopt);
    bool writeUsed(VHPSFRegion region, const char *failure);
    bool writeFrame(qsizetype offset, qsizetype length, const char *failure);

    VHPSFBlockSource &m_source;
    VHPSFFlashHeader m_header;
    bool m_headerLoaded = false;
    bool m_distHeaderLoaded = false;
    std::array<bool, kPartCount> m_loaded{};
    QSet<int> m_loadedBlocks;
    QSet<int> m_writtenBlocks; // emptied at every save
};
