#pragma once

// Points the runtime's environment at a fresh data folder and reads its log.

#include "VHEnv.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>

inline QString testDataFolder(const QString &xdgRoot) { return xdgRoot + QStringLiteral("/VeloraHub"); }

// Writes the given values into the "VeloraHub" group of the settings file
// (vh.ini unless named) of the data folder below xdgRoot.
inline void writeTestSettings(const QString &xdgRoot, const QList<QPair<QString, QString>> &settings,
                              const QString &file = QStringLiteral("vh.ini"))
{
    const QString folder = testDataFolder(xdgRoot);
    QDir().mkpath(folder);
    QSettings ini(folder + QLatin1Char('/') + file, QSettings::IniFormat);
    for (const auto &setting : settings)
        ini.setValue(QStringLiteral("VeloraHub/") + setting.first, setting.second);
}

// Writes the given settings into vh.ini of the data folder below xdgRoot, then
// initialises the environment singleton there with the log "test.log".
inline void initTestEnv(const QString &xdgRoot, const QList<QPair<QString, QString>> &settings = {
                                                    {QStringLiteral("debug"), QStringLiteral("1")}})
{
    qputenv("XDG_DATA_HOME", xdgRoot.toUtf8());
    writeTestSettings(xdgRoot, settings);
    VHEnv::instance()->init(QStringLiteral("both"), QStringLiteral("test.log"));
}

inline QString readTestLog()
{
    VHEnv::instance()->flushLog();
    QFile file(VHEnv::instance()->dataFolder() + QStringLiteral("/test.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}
