#pragma once

#include <QString>

// The one comparison for version texts: runs of digits compare as numbers,
// everything else code unit by code unit. For texts of equal width this is the
// plain comparison; it keeps "1.10.0" newer than "1.9.0" and "10" newer than "9".
namespace VHVersion {

// <0, 0 or >0 as a is older than, equal to or newer than b.
int compare(const QString &a, const QString &b);

inline bool isOlder(const QString &a, const QString &b) { return compare(a, b) < 0; }

// Whether a version text can be what its writer meant: no control or format
// character, no replacement character and no broken surrogate pair, which a
// damaged reply or a corrupted read leaves behind.
bool isPlainText(const QString &version);

} // namespace VHVersion
