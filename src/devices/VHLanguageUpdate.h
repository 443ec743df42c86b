#pragma once

#include "VHResult.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// The language update of the families whose languages live in a language area
// of internal flash: which languages to write, and the listing kept for a
// rerun. Before the area is written, the languages the device holds are
// stored per UUID in the data folder, so an update pulled in the middle of the
// write (an area left without a directory) writes the same languages again.
// Nothing is written unless the image holds at least one language, nor when
// the area already holds the very image (an unchanged success).
class VHLanguageUpdate
{
public:
    // What a read language area says.
    enum class Area {
        Listed,       // a directory: its codes (maybe none)
        Blank,        // never written: erased or zeroed throughout
        Unrecognised, // written, but without a directory the scan accepts
    };

    // What a family supplies: its area and how it is read, built and written.
    struct Family
    {
        qsizetype areaSize = 0;
        qsizetype directoryReach = 0;                    // a directory this near the end is not read
        QString defaultLanguage = QStringLiteral("eng"); // for an area that names none
        std::function<bool(QByteArray &area)> readArea;
        std::function<VHResult(const QStringList &codes, QByteArray &image)> buildImage;
        // Written and read back equal (or saved to a file, when the user asked for that).
        std::function<bool(const QByteArray &image)> writeImage;
        bool imageToFile = false; // the device keeps its languages: its listing too
    };

    // Reads `area` as the family's language area.
    static Area listing(const QByteArray &area, qsizetype directoryReach, QStringList &codes);

    // The whole update after the pack was unpacked: `named` is the language the
    // user asked for, or several in their order joined by commas ("deu,eng");
    // empty: keep the device's languages.
    static VHResult run(const Family &family, const QString &uuid, const QString &named);

    // The codes a `named` text lists, each one the language table knows, none
    // twice, at most as many as a directory holds; empty when any is not.
    static QStringList namedLanguages(const QString &named);
    // The text that names `codes` to run (and to an update's language argument).
    static QString joinLanguages(const QStringList &codes);

    // A code the language table names, in lower case; empty when it is none
    // ("xyz", "../../x", "").
    static QString languageCode(const QString &text);

    // ---- the listing kept in the data folder ---------------------------------
    static QString listingPath(const QString &uuid);
    // Atomic and flushed: the old listing or the new one.
    static VHResult storeListing(const QString &uuid, const QStringList &codes);
    // The stored codes; empty when there are none or the file is not one we
    // wrote (a name the language table does not know, too many lines, too large).
    static QStringList storedListing(const QString &uuid);

private:
    // An area that already equals the image: nothing is written.
    static VHResult alreadyThere(const QString &device, const QStringList &placed, const QStringList &stored);
    static VHResult choose(const Family &family, Area area, const QStringList &onDevice, const QStringList &stored,
                           const QStringList &named, QStringList &codes);
};
