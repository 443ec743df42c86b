#include "VHPSFFlashStore.h"

#include "VHByteReader.h"
#include "VHLog.h"
#include "VHPSFContainer_1_5.h"
#include "VHSafeFolder.h"

#include <algorithm>

using namespace VHPSFLayout;

namespace {

VHResult failed(const QString &reason) { return VHResult::failure(1, reason); }

} // namespace

VHPSFFlashStore::VHPSFFlashStore(VHPSFBlockSource &source) : m_source(source), m_header(*this) {}

VHPSFFlashStore::~VHPSFFlashStore() = default;

VHPSFFlashStore::BlockSpan VHPSFFlashStore::trimmedSpan(qsizetype offset, qsizetype length, const QSet<int> &done) const
{
    // Clamped to the image: a wrong record never reaches past it.
    const qsizetype from = std::clamp<qsizetype>(offset, 0, image().size());
    const qsizetype to = std::clamp<qsizetype>(length > 0 ? offset + length : offset, from, image().size());
    if (from == to)
        return {};
    BlockSpan span{int(from / kBlockSize), int((to - 1) / kBlockSize)};
    if (done.contains(span.first))
        ++span.first;
    if (done.contains(span.last))
        --span.last;
    return span;
}

VHResult VHPSFFlashStore::loadRegion(qsizetype offset, qsizetype length)
{
    const BlockSpan span = trimmedSpan(offset, length, m_loadedBlocks);
    if (span.first > span.last)
        return VHResult::success();
    const int count = span.last - span.first + 1;
    QByteArray blocks;
    if (!m_source.readBlocks(span.first, count, blocks) || blocks.size() != count * kBlockSize)
        return failed(QStringLiteral("flash read of blocks %1-%2 failed").arg(span.first).arg(span.last));
    if (!VHByteWriter(image(), span.first * kBlockSize).bytes(blocks).ok())
        return failed(QStringLiteral("blocks %1-%2 lie outside the image").arg(span.first).arg(span.last));
    m_loadedBlocks.insert(span.first);
    m_loadedBlocks.insert(span.last);
    return VHResult::success();
}

VHResult VHPSFFlashStore::writeRegion(qsizetype offset, qsizetype length)
{
    const BlockSpan span = trimmedSpan(offset, length, m_writtenBlocks);
    if (span.first > span.last)
        return VHResult::success();
    const qsizetype bytes = qsizetype(span.last - span.first + 1) * kBlockSize;
    const QByteArray frame = image().mid(span.first * kBlockSize, bytes);
    if (!m_source.writeBlocks(span.first, frame))
        return failed(QStringLiteral("flash write of blocks %1-%2 failed").arg(span.first).arg(span.last));
    QByteArray readBack;
    if (!m_source.readBack(span.first, span.last - span.first + 1, readBack) || readBack != frame)
        return failed(QStringLiteral("blocks %1-%2 do not read back as written").arg(span.first).arg(span.last));
    m_writtenBlocks.insert(span.first);
    m_writtenBlocks.insert(span.last);
    return VHResult::success();
}

VHResult VHPSFFlashStore::getHeader(qsizetype &offset)
{
    if (!m_headerLoaded) {
        if (VHResult result = loadRegion(0, m_header.word(VHPSFFlashHeader::HeaderSize)); !result)
            return result;
        m_headerLoaded = true;
    }
    offset = 0;
    return VHResult::success();
}

VHResult VHPSFFlashStore::loadDistHeader()
{
    if (m_distHeaderLoaded)
        return VHResult::success();
    const qsizetype start = m_header.word(VHPSFFlashHeader::HeaderSize);
    if (VHResult result = loadRegion(start, m_header.word(VHPSFFlashHeader::DistHeaderEnd) - start); !result)
        return result;
    m_distHeaderLoaded = true;
    return VHResult::success();
}

VHResult VHPSFFlashStore::getDistHeader(qsizetype &offset)
{
    if (VHResult result = loadDistHeader(); !result)
        return result;
    offset = m_header.word(VHPSFFlashHeader::HeaderSize);
    return VHResult::success();
}

VHResult VHPSFFlashStore::getProfile(qsizetype &offset)
{
    const qsizetype profile = m_header.word(VHPSFFlashHeader::ProfileOffset);
    const qsizetype size = m_header.word(VHPSFFlashHeader::ProfileSize);
    if (!m_loaded[Profile]) {
        if (VHResult result = loadRegion(profile + size - 2 * size, 2 * size); !result)
            return result;
        m_loaded[Profile] = true;
    }
    offset = profile;
    return VHResult::success();
}

VHResult VHPSFFlashStore::loadUsed(VHPSFRegion region)
{
    qsizetype from = 0, to = 0;
    if (VHResult result = m_header.usedRange(region, from, to); !result)
        return result;
    return loadRegion(from, to - from);
}

VHResult VHPSFFlashStore::loadPart(Part part, VHPSFRegion region, std::optional<VHPSFRegion> then)
{
    if (m_loaded[part])
        return VHResult::success();
    if (VHResult result = loadUsed(region); !result)
        return result;
    if (then) {
        if (VHResult result = loadUsed(*then); !result)
            return result;
    }
    m_loaded[part] = true;
    return VHResult::success();
}

VHResult VHPSFFlashStore::loadRoutes() { return loadPart(RoutesAndLaps, VHPSFRegion::Route, VHPSFRegion::Lap); }

VHResult VHPSFFlashStore::loadTrackSegs() { return loadPart(TrackSegs, VHPSFRegion::TrackSeg); }

VHResult VHPSFFlashStore::loadWorkouts()
{
    return loadPart(WorkoutsAndIntervals, VHPSFRegion::Workout, VHPSFRegion::Interval);
}

VHResult VHPSFFlashStore::loadSensorLogs() { return loadPart(SensorLogs, VHPSFRegion::SensorLog); }

VHResult VHPSFFlashStore::loadWorkoutLogs() { return loadPart(WorkoutLogs, VHPSFRegion::WorkoutLog); }

VHResult VHPSFFlashStore::loadInfoLogs() { return loadPart(InfoLogs, VHPSFRegion::InfoLog); }

VHResult VHPSFFlashStore::loadAll()
{
    qsizetype offset = 0;
    VHResult first = VHResult::success();
    const auto keep = [&first](VHResult result) {
        if (first && !result)
            first = result;
    };
    keep(getHeader(offset));
    // save() writes the dist header back, so it must hold the device's bytes.
    keep(loadDistHeader());
    keep(loadRoutes());
    keep(loadWorkouts());
    keep(loadWorkoutLogs());
    keep(loadTrackSegs());
    keep(loadSensorLogs());
    keep(loadInfoLogs());
    keep(getProfile(offset));
    if (!m_loaded[Tail]) {
        const qsizetype tail = kProfileRangeEnd;
        VHResult result = loadRegion(tail, m_header.word(VHPSFFlashHeader::FlashSize) - tail);
        m_loaded[Tail] = result.ok;
        keep(result);
    }
    return first;
}

bool VHPSFFlashStore::writeFrame(qsizetype offset, qsizetype length, const char *failure)
{
    if (writeRegion(offset, length))
        return true;
    vhCritical() << failure;
    return false;
}

bool VHPSFFlashStore::writeUsed(VHPSFRegion region, const char *failure)
{
    qsizetype from = 0, to = 0;
    if (!m_header.usedRange(region, from, to)) {
        vhCritical() << failure;
        return false;
    }
    return writeFrame(from, to - from, failure);
}

VHResult VHPSFFlashStore::save()
{
    if (VHResult result = loadAll(); !result)
        return failed("store not loaded: " + result.reason);
    // A record pointing outside its region is refused before anything is erased.
    if (VHResult result = m_header.checkRecord(); !result)
        return result;
    if (!m_source.eraseAll())
        return failed(QStringLiteral("erase of the external flash failed"));
    if (VHResult result = m_header.commit(); !result)
        return result;
    m_writtenBlocks.clear();
    const qsizetype dist = m_header.word(VHPSFFlashHeader::HeaderSize);
    qsizetype lapFrom = 0, lapTo = 0;
    // The header frame (the journal and its commit word) goes last: a flash
    // written only in part has no current record and never passes for a store.
    bool all = writeFrame(dist, m_header.word(VHPSFFlashHeader::DistHeaderEnd) - dist, "write distheader frame failed");
    all &= writeUsed(VHPSFRegion::Route, "write route frame failed");
    if (m_header.usedRange(VHPSFRegion::Lap, lapFrom, lapTo) && lapTo > lapFrom)
        all &= writeFrame(lapFrom, lapTo - lapFrom, "write lap frame failed");
    all &= writeUsed(VHPSFRegion::Workout, "write workout frame failed");
    all &= writeUsed(VHPSFRegion::Interval, "write workout interval frame failed");
    all &= writeUsed(VHPSFRegion::TrackSeg, "write track seg frame failed");
    all &= writeUsed(VHPSFRegion::WorkoutLog, "write workout log frame failed");
    all &= writeUsed(VHPSFRegion::SensorLog, "write sensor log frame failed");
    all &= writeUsed(VHPSFRegion::InfoLog, "write info log frame failed");
    all &= writeFrame(kProfileRangeStart, kProfileRangeEnd - kProfileRangeStart, "write profile frame failed");
    all &= writeFrame(kProfileRangeEnd, kFlashSize - kProfileRangeEnd, "write mag2 frame failed");
    all = all && writeFrame(0, kHeaderFrameSize, "write flash header frame failed");
    // Success only when every frame was written, not merely the last one.
    return all ? VHResult::success() : failed(QStringLiteral("not every frame of the store was written"));
}

VHResult VHPSFFlashStore::saveToFile(const QString &path)
{
    // A temporary name renamed over the file, never written through a link.
    if (!VHSafeFolder::writeFileBelow(QString(), path, image(), VHSafeFolder::Durable))
        return failed("can not write \"" + path + "\"");
    return VHResult::success();
}

VHResult VHPSFFlashStore::loadFromFile(const QString &path)
{
    // One byte past the flash tells a file that is too large; a link is not followed.
    QByteArray bytes;
    if (!VHSafeFolder::readFileBelow(QString(), path, image().size() + 1, bytes))
        return failed("can not read \"" + path + "\"");
    if (bytes.size() > image().size())
        return failed("\"" + path + "\" is larger than the flash");
    return loadFromBytes(bytes);
}

VHResult VHPSFFlashStore::loadFromBytes(const QByteArray &bytes)
{
    if (bytes.size() > image().size() || !VHByteWriter(image(), 0).bytes(bytes).ok())
        return failed(QStringLiteral("the image is larger than the flash"));
    m_headerLoaded = true;
    m_distHeaderLoaded = true;
    m_loaded.fill(true);
    m_header.invalidate();
    return VHResult::success();
}

void VHPSFFlashStore::forget()
{
    image().fill(char(0xFF));
    m_headerLoaded = false;
    m_distHeaderLoaded = false;
    m_loaded.fill(false);
    m_loadedBlocks.clear();
    m_writtenBlocks.clear();
    m_header.invalidate();
}

VHResult VHPSFFlashStore::attach(bool requireInitialised, std::unique_ptr<VHPSFContainer_1_5> &container)
{
    qsizetype profile = 0;
    if (VHResult result = getProfile(profile); !result)
        return result;
    VHByteReader flag(image(), kInitialisedByte);
    if (requireInitialised && flag.u8() == 0)
        return failed(QStringLiteral("the device holds no initialised store"));
    container = std::make_unique<VHPSFContainer_1_5>(*this, &m_header);
    if (!container->isValid())
        return container->status();
    QByteArray version;
    if (!container->getVersion(version))
        return failed(QStringLiteral("the dist header has no version text"));
    m_header.selectLayout(version);
    return VHResult::success();
}
