#pragma once

#include "VHClientTypes.h"
#include "VHResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// An unpacked GAL package, read and checked as plain bytes before anything
// touches the device: what its "release.ini" says, the language binary and
// the image binary the device's flash or "/IMG.bin" receives, and whether a
// flash-based update of it can be carried out at all. No file is read here:
// the device class reads the files (capped by the sizes below) and hands the
// bytes in.
class VHGalPackage
{
public:
    // A release description is a few hundred bytes.
    static constexpr qint64 kMaxReleaseIniSize = 64 * 1024;
    // Image, header, language, profile and boot-loader files, and the image
    // area itself; real ones are about a megabyte.
    static constexpr qint64 kMaxFileSize = 32 * 1024 * 1024;
    static constexpr quint32 kFlashBlockSize = 4096;
    // The flash commands address blocks in two bytes.
    static constexpr quint32 kLastFlashBlock = 65535;
    static constexpr int kImageAlignment = 2048;
    static constexpr int kLanguageSlots = 20;
    static constexpr quint32 kLanguageMagic = 0x77A0B2C3;
    static constexpr int kLanguageDataOffset = 229;
    // Bytes 4-6 of a language file are its code; shorter files are not placed.
    static constexpr int kMinLanguageFileSize = 7;
    // No release.ini: the size the two built-in models' images take.
    static constexpr quint32 kDefaultImageSize = 0xF0800;

    struct LanguageFile
    {
        QString fileName; // "*_<code>_*.bft"
        QByteArray bytes;
    };

    // What release.ini gives, plus what the flash check needs to know of it.
    struct Release
    {
        VHImageMetaInfo info;
        bool imageStartValid = false; // given, and hexadecimal text
        bool langStartValid = false;
    };

    struct Binary
    {
        QByteArray bytes; // empty when refused
        QString refusal;  // why; empty when built
        bool ok() const { return refusal.isEmpty(); }
    };

    struct LangBinary : Binary
    {
        QStringList skipped; // shorter than a language file can be
        QStringList leftOut; // beyond the table's places, in name order
    };

    // The files of a package for the flash-based update; a file the package
    // lacks is left unset.
    struct Parts
    {
        std::optional<QByteArray> image;
        std::optional<QByteArray> header;
        QList<LanguageFile> languages;     // the ".bft" files, any order
        std::optional<QByteArray> profile; // appended to the image when set
    };

    // Both binaries built once, checked against the flash.
    struct FlashPlan
    {
        VHResult result;
        QByteArray image;
        QByteArray language;
        quint32 imageBlock = 0;
        quint32 langBlock = 0;
        QStringList skippedLanguages;
        QStringList leftOutLanguages;
    };

    // release.ini's [IMG] Name, Size (KiB), Ext_FlashImageStartAddr,
    // Ext_FlashLangStartAddr and LangVersion, [OS] Version and
    // [BootLoader] Version. A value not given, or not a number, leaves its
    // field at the default (empty, 0).
    static Release readRelease(const QByteArray &releaseIni);
    static VHImageMetaInfo imageInfo(const QByteArray &releaseIni) { return readRelease(releaseIni).info; }
    // A package without release.ini: the built-in model's image name and size.
    static VHImageMetaInfo defaultImageInfo(const QString &model);

    // The package's image among its file names (in name order: the first
    // ".bin" whose name contains `imageName`, none of the package's fixed
    // files); empty when there is none.
    static QString imageFileName(const QStringList &names, const QString &imageName);

    // The ".bft" files in name order (files of other kinds dropped).
    static QList<LanguageFile> inNameOrder(const QList<LanguageFile> &files);
    // Index in `files` of the font for the device: in name order, the first
    // whose name holds "_<code>_" for the first device language, else the
    // first holding "_eng_"; -1 when there is none.
    static int chooseLanguageFile(const QList<LanguageFile> &files, const QStringList &deviceLanguages);

    // The table of fonts the flash's language area holds, padded to at least
    // one flash block.
    static LangBinary langBinary(const QList<LanguageFile> &files);
    // The image padded to 2048 bytes, header.bin, the language font, filled to
    // info.size with its last four bytes copied from offsets 148-151, then the
    // profile when given. Refused when the parts do not fit info.size.
    static Binary imageBinary(const QByteArray &image, const QByteArray &header, const QByteArray &language,
                              const VHImageMetaInfo &info, const std::optional<QByteArray> &profile = std::nullopt);

    // Whether binaries of these lengths can be written where release.ini puts
    // them: a name, a size, both addresses hexadecimal and block-aligned, the
    // two areas apart and within the flash's addressable blocks.
    static VHResult checkFlashPlan(const Release &release, qint64 imageBytes, qint64 langBytes);
    // Everything the flash-based update needs, checked before the device is
    // touched: the files present, both binaries built, the plan checked and
    // the IAP name given.
    static FlashPlan flashPlan(const Release &release, const Parts &parts, const QStringList &deviceLanguages,
                               const QString &iapName);

    // The factory restore's image name: the key Name outside any group, when
    // it is one plain file name; empty otherwise.
    static QString restoreName(const QByteArray &releaseIni);
};
