#pragma once

// The database files of a Pacer50-family device: found, restored from their
// ".000" copies, given the tables this system adds, or built for a device
// whose application generation ships only the script.

#include <QString>

// The texts of the device attached last, for the process.
struct GHDeviceDbTexts
{
    QString sharePath;
    QString traceLogPath;
    QString appVersion;
};
GHDeviceDbTexts deviceDatabaseTexts();

// Run on attach, on a worker thread (it copies and opens files on the device).
void openDeviceDatabases(const QString &sharePath, const QString &traceLogPath, const QString &appVersion);

namespace GHDeviceDatabases {
// Relative to the share folder.
inline constexpr const char *kRouteDb = "data/route/route.dat";
inline constexpr const char *kPoiDb = "data/poi/poi.dat";
inline constexpr const char *kFavoriteDb = "data/poi/favorite.dat";
inline constexpr const char *kRouteScript = "data/route/route.sql";

// The first of primary/relative and secondary/relative that is a regular file
// (no link on the way), its owner write bit set; empty when neither is.
QString findFile(const QString &primary, const QString &secondary, const QString &relative);

// Statements of an SQL script, split at the semicolons that end them (not
// those in quotes, comments or a trigger body); empty ones dropped.
QStringList splitScript(const QString &script);
} // namespace GHDeviceDatabases
