#pragma once

#include <QDate>
#include <QString>

// The updater's decisions that need no window, shared by the updater and the
// command line: which server to ask, when to fetch assist data, when a
// package is newer than the device's software.
namespace VHUpdateDecision {

// The updater's own version; its fourth part decides the beta server.
inline constexpr const char *kUpdaterVersion = "1.0.0.62";
inline constexpr int kAlpDays = 14;

// True with four dot-separated parts whose fourth is an odd number (not a
// number counts as 0), and with any other number of parts.
bool isBetaVersion(const QString &version);
// `today` plus `days` at 00:00 local time, in seconds since 1970 UTC: stored
// assist data expiring before it was fetched on an earlier day.
int alpLimit(const QDate &today = QDate::currentDate(), int days = kAlpDays);
bool alpNeedsDownload(int expiry);
// The package's version is newer than the device's.
bool offersUpdate(const QString &deviceVersion, const QString &serverVersion);

} // namespace VHUpdateDecision
