#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// velora-devctl's plain progress: each of `phases` ends with a line "<phase> 100%", in this order, and no line of a
// phase follows a later one. Empty when that holds.
inline QString devctlPhaseProblem(const QByteArray &err, const QStringList &phases)
{
    qsizetype reached = 0; // phases.at(reached) is the one running
    for (const QByteArray &line : err.split('\n')) {
        for (qsizetype p = 0; p < phases.size(); ++p) {
            if (!line.startsWith(phases.at(p).toUtf8() + ' '))
                continue;
            if (p != reached)
                return QStringLiteral("\"%1\" while at %2 in:\n%3")
                    .arg(QString::fromUtf8(line), phases.at(reached), QString::fromUtf8(err));
            if (line.startsWith(phases.at(p).toUtf8() + " 100%"))
                ++reached;
        }
    }
    return reached == phases.size() ? QString() : QStringLiteral("%1 never reached 100%").arg(phases.value(reached));
}
