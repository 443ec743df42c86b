#pragma once

// Records the phases and bytes a device object reports during an action and
// says what is wrong with them: each phase once, in order (unpack, write,
// verify, waiting), bytes within a phase never going back and the last report
// of every phase at its total.

#include "VHClient.h"

#include <QList>
#include <QObject>
#include <QString>

struct VHTestPhases
{
    struct Report
    {
        int phase;
        qint64 done;
        qint64 total;
    };
    QList<Report> reports;
    QMetaObject::Connection connection;

    // Reports arrive on the worker thread; recorded there, read after the action.
    explicit VHTestPhases(VHClient *client)
    {
        connection = QObject::connect(
            client, &VHClient::phaseProgressChanged, client,
            [this](int phase, qint64 done, qint64 total) {
                reports.append({phase, done, total});
            },
            Qt::DirectConnection);
    }
    ~VHTestPhases() { QObject::disconnect(connection); }

    QList<int> phases() const
    {
        QList<int> seen;
        for (const Report &r : reports) {
            if (seen.isEmpty() || seen.last() != r.phase)
                seen.append(r.phase);
        }
        return seen;
    }

    // Every report as phase:done/total, for failure messages.
    QString describe() const
    {
        QString all;
        for (const Report &r : reports)
            all += QStringLiteral(" %1:%2/%3").arg(r.phase).arg(r.done).arg(r.total);
        return all;
    }

    // Empty when the reports are sound.
    QString problem() const
    {
        if (reports.isEmpty())
            return QStringLiteral("no report");
        const QList<int> seen = phases();
        for (qsizetype i = 1; i < seen.size(); ++i) {
            if (seen.at(i) <= seen.at(i - 1))
                return QStringLiteral("phase %1 after phase %2").arg(seen.at(i)).arg(seen.at(i - 1));
        }
        for (qsizetype i = 0; i < reports.size(); ++i) {
            const Report &r = reports.at(i);
            if (r.done < 0 || r.done > r.total)
                return QStringLiteral("report %1: %2 of %3").arg(i).arg(r.done).arg(r.total);
            const bool samePhase = i > 0 && reports.at(i - 1).phase == r.phase;
            if (samePhase && (r.total != reports.at(i - 1).total || r.done < reports.at(i - 1).done))
                return QStringLiteral("report %1 goes back or changes its total").arg(i);
            const bool lastOfPhase = i + 1 == reports.size() || reports.at(i + 1).phase != r.phase;
            if (lastOfPhase && r.done != r.total)
                return QStringLiteral("phase %1 ends at %2 of %3").arg(r.phase).arg(r.done).arg(r.total);
        }
        return QString();
    }
};
