#pragma once

#include "VHArchiveFiles.h"
#include "VHPSFLanguageImage.h"
#include "VHResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class VHLanguageMap;

// A language pack of the flash-language families, a value parsed from the
// package's files before any device is touched: the base image (the first
// entry named like "aspens.bin" or, failing that, "linden.bin"), the language
// files ("*_xxx_*" with the code at bytes 4-6) and an optional release.ini.
// Only entries at the top count, in name order. Nothing here reads a file.
class VHPSFLanguagePack
{
public:
    // Refused (BadPackage) without a base image or with one larger than the
    // language area (`areaSize` bytes: the family's area).
    static VHResult parse(const VHArchiveFiles::Files &files, VHPSFLanguagePack &pack,
                          qsizetype areaSize = VHPSFLanguageImage::kAreaSize);

    QString baseName() const { return m_base; }
    bool hasReleaseIni() const { return m_files.contains(QStringLiteral("release.ini")); }
    // The names of the languages the files carry: per file, per code the map
    // knows, one name for each match.
    QStringList languageNames(const VHLanguageMap &map) const;
    // The codes of the languages the files carry, each once, in the map's order.
    QStringList languageCodes(const VHLanguageMap &map) const;
    // Whether `codes` can be written from this pack, before the device is
    // touched: at least one, at most a directory's worth, each with its file
    // here, and all of them within the language area.
    enum class Choice { Fits, Empty, TooMany, NoFile, TooLarge };
    Choice checkChoice(const QStringList &codes) const;
    // The file of a language code: the last entry containing "_code_"; empty when none.
    QString languageFile(const QString &code) const;
    // The language area for the codes in their order (codes without a file
    // get no entry). Refused for an empty base image and when no language
    // file can be placed.
    VHResult buildImage(const QStringList &codes, QByteArray &area) const;

private:
    VHArchiveFiles::Files m_files; // the top-level entries
    QString m_base;
    qsizetype m_areaSize = VHPSFLanguageImage::kAreaSize;
};
