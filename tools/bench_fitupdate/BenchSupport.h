#pragma once

#include <QList>
#include <QProcess>
#include <QStringList>

#include <algorithm>

// What the update benchmarks share: the median of their runs and the system
// tools they are measured against.
namespace BenchSupport {

inline double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

inline bool run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace BenchSupport
