#pragma once

#include "VHPSFLanguageImage.h"
#include "VHResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class VHLanguageMap;

// A language pack of the flash-language families, unpacked into a folder and
// read as a value before any device is touched: the base image (the first
// entry named like "aspens.bin" or, failing that, "linden.bin"), the language
// files ("*_xxx_*" with the code at bytes 4-6) and an optional release.ini.
// Entries are taken in name order; links and folders are no entries.
class VHPSFLanguagePack
{
public:
    // Empties `folder` (made when missing) and unzips the package into it.
    // Fails when any entry failed: a pack that did not unpack whole is no pack.
    static VHResult unpack(const QString &packageFile, const QString &folder);
    // Lists the folder; refused without a base image or with one larger than
    // the language area (`areaSize` bytes: the family's area).
    static VHResult read(const QString &folder, VHPSFLanguagePack &pack,
                         qsizetype areaSize = VHPSFLanguageImage::kAreaSize);

    QString folder() const { return m_folder; }
    QString basePath() const;
    bool hasReleaseIni() const { return m_releaseIni; }
    QString releaseIniPath() const { return m_folder + QStringLiteral("/release.ini"); }
    // The names of the languages the files carry: per file, per code the map
    // knows, one name for each match.
    QStringList languageNames(const VHLanguageMap &map) const;
    // The file of a language code: the last entry containing "_code_"; empty when none.
    QString languageFile(const QString &code) const;
    // The language area for the codes in their order (codes without a file
    // get no entry). Refused for an empty base image and when no language
    // file can be placed.
    VHResult buildImage(const QStringList &codes, QByteArray &area) const;

private:
    VHResult readEntry(const QString &name, QByteArray &bytes) const;

    QString m_folder;
    QStringList m_entries;
    QString m_base;
    bool m_releaseIni = false;
    qsizetype m_areaSize = VHPSFLanguageImage::kAreaSize;
};
