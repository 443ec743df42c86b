#pragma once

#include "VHClientTypes.h"

#include <QtGlobal>

#include <optional>

// Turns the byte counts an action reports into the ones worth telling a front
// end: a report per block would flood a queued connection with thousands of
// events. A change of phase and the end of a phase always pass; in between a
// report passes when a whole percent more is done or kIntervalMs have gone by.
// Counts within a phase never go back (a retried block is not counted twice
// and does not rewind the bar), nor past the phase's total.
class VHPhaseProgress
{
public:
    static constexpr qint64 kIntervalMs = 100;

    struct Report
    {
        VHPhase phase;
        qint64 done;
        qint64 total;
    };

    // The report to pass on at time nowMs, or none.
    std::optional<Report> take(VHPhase phase, qint64 done, qint64 total, qint64 nowMs);
    // The share of the whole action a report stands for, 0.0 to 1.0.
    static float overallFraction(const Report &report);
    void reset();

private:
    static int percentOf(qint64 done, qint64 total);

    std::optional<Report> m_last;
    qint64 m_lastMs = 0;
};
