#pragma once

// The plain (not a terminal) progress of velora-devctl: each of `phases` ends
// with a line "<phase> 100%", in the given order, and no phase shows a line
// after a later phase has begun. Empty when that holds.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

inline QString devctlPhaseProblem(const QByteArray &err, const QStringList &phases)
{
    const QList<QByteArray> lines = err.split('\n');
    qsizetype at = -1;
    qsizetype lastPhase = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        for (qsizetype p = 0; p < phases.size(); ++p) {
            if (!lines.at(i).startsWith(phases.at(p).toUtf8() + ' '))
                continue;
            if (p < lastPhase)
                return QStringLiteral("\"%1\" after a later phase").arg(QString::fromUtf8(lines.at(i)));
            lastPhase = p;
        }
    }
    for (const QString &phase : phases) {
        const QByteArray end = phase.toUtf8() + " 100%";
        qsizetype found = -1;
        for (qsizetype i = at + 1; i < lines.size() && found < 0; ++i) {
            if (lines.at(i).startsWith(end))
                found = i;
        }
        if (found < 0)
            return QStringLiteral("no \"%1\" after line %2 in:\n%3")
                .arg(QString::fromUtf8(end))
                .arg(at)
                .arg(QString::fromUtf8(err));
        at = found;
    }
    return QString();
}
