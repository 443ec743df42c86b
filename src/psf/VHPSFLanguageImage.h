#pragma once

// The language area of the internal flash (0xF8800 bytes): a base image padded
// to 16 bytes, a 229-byte language directory and the language files behind it.
//
// Directory (little-endian): 0 magic 0x77A0B2C3; 4 first 4 bytes of the last
// file placed; 8 count; 9 20 x 3-byte codes (bytes 4-6 of each file);
// 69 20 x offsets counted from the directory (the first is 229); 149 20 x sizes.

#include "VHResult.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

class VHLanguageMap;

namespace VHPSFLanguageImage {

constexpr qsizetype kAreaSize = 0xF8800;
constexpr quint32 kMagic = 0x77A0B2C3;
constexpr qsizetype kDirectorySize = 229;
constexpr int kMaxLanguages = 20;
// A directory this near the end of the area is not read.
constexpr qsizetype kDirectoryReach = 232;
constexpr qsizetype kMinLanguageFile = 7; // the code is bytes 4-6

// Builds the area from the base image and the language files in the order
// they are wanted. Files too short to hold a code are skipped; files past the
// twentieth are not placed. An image larger than the area is refused rather
// than cut, since a cut one has entries pointing past its end. `areaSize` is
// the family's area (0x79000 on the 1 MiB family).
VHResult build(const QByteArray &base, const QList<QByteArray> &languages, QByteArray &area,
               qsizetype areaSize = kAreaSize);

// Where the language directory of an area starts: the last directory whose
// entries lie inside the area after the directory, none overlapping another.
// A match inside the files of a directory is font data, not a directory, and
// is not looked at. 0 when there is none (check with isDirectoryAt).
qsizetype findDirectory(const QByteArray &area);
// Whether a directory that findDirectory accepts starts at `position`.
bool isDirectoryAt(const QByteArray &area, qsizetype position);

// The codes of the directory at `position` that `map` names, in entry order;
// false when the directory lies within `reach` bytes of the area's end (232
// on the 2 MiB family, 229, the directory itself, on the 1 MiB family).
[[nodiscard]] bool languageCodes(const QByteArray &area, qsizetype position, const VHLanguageMap &map,
                                 QStringList &codes, qsizetype reach = kDirectoryReach);

} // namespace VHPSFLanguageImage
