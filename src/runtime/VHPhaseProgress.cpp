#include "VHPhaseProgress.h"

#include <algorithm>
#include <array>

namespace {
// Where each phase starts in the whole action; writing takes most of the time.
constexpr std::array<float, 5> kPhaseStart = {0.0f, 0.15f, 0.85f, 0.97f, 1.0f};
} // namespace

int VHPhaseProgress::percentOf(qint64 done, qint64 total) { return total > 0 ? int(done * 100 / total) : 100; }

std::optional<VHPhaseProgress::Report> VHPhaseProgress::take(VHPhase phase, qint64 done, qint64 total, qint64 nowMs)
{
    total = std::max<qint64>(total, 0);
    done = std::clamp<qint64>(done, 0, total);
    const bool samePhase = m_last && m_last->phase == phase && m_last->total == total;
    if (samePhase) {
        done = std::max(done, m_last->done);
        const bool finished = done == total && m_last->done != total;
        const bool morePercent = percentOf(done, total) > percentOf(m_last->done, total);
        const bool timeUp = done > m_last->done && nowMs - m_lastMs >= kIntervalMs;
        if (!finished && !morePercent && !timeUp)
            return std::nullopt;
    }
    m_last = Report{phase, done, total};
    m_lastMs = nowMs;
    return m_last;
}

float VHPhaseProgress::overallFraction(const Report &report)
{
    const auto index = size_t(std::clamp(int(report.phase), 0, 3));
    const float share = report.total > 0 ? float(report.done) / float(report.total) : 1.0f;
    return kPhaseStart[index] + share * (kPhaseStart[index + 1] - kPhaseStart[index]);
}

void VHPhaseProgress::reset()
{
    m_last.reset();
    m_lastMs = 0;
}
