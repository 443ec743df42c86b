#pragma once

#include <QDir>
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

// "--runs N" and "--work DIR" of both benchmarks.
struct Options
{
    int runs = 5;
    QString workRoot = QDir::tempPath();
};

inline Options options(const QStringList &args)
{
    Options options;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            options.runs = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--work"))
            options.workRoot = args[i + 1];
    }
    return options;
}

} // namespace BenchSupport
