#pragma once

// Runs a command-line program of this build to its end, as its tests do.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

struct VHTestRun
{
    int code = -1; // -1: it did not end in time, -2: it crashed
    QByteArray out;
    QByteArray err;
    QJsonObject json; // the output read as one JSON object; empty when it is none
};

// In workingFolder when one is given; a program that outlives timeoutMs is killed.
inline VHTestRun runTestProgram(const QString &program, const QStringList &arguments,
                                const QString &workingFolder = QString(), int timeoutMs = 120000)
{
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    process.start(program, arguments);
    VHTestRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        qWarning("%s did not end: %s", qPrintable(program), qPrintable(arguments.join(QLatin1Char(' '))));
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.json = QJsonDocument::fromJson(run.out).object();
    return run;
}
