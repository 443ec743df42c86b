#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the Pacer50 family takes from a package, read and checked before the
// device is touched: the unpacked "Total.zip" (its checksum list, the image
// the firmware is told to install, names that stay in their folder), the
// unpacked "DeviceAp.zip", the texts of component and map updates, and the
// version rules of the family. Pure values: no file is read here.
class VHPacer50Package
{
public:
    // The default image of the family, when the device names none.
    static inline const QString kDefaultImage = QStringLiteral("ALDER.bin");
    static inline const QString kChecksums = QStringLiteral("CKS.TXT");
    static inline const QString kReleaseIni = QStringLiteral("release.ini");
    static inline const QString kFolderPrefix = QStringLiteral("Vel0ra!#@");

    // `files`: every file of the unpacked "Total.zip", relative to its folder.
    explicit VHPacer50Package(const QStringList &files = {});

    bool hasReleaseIni() const { return !m_releaseIni.isEmpty(); }
    // The spelling of "release.ini" at the top, or empty.
    QString releaseIni() const { return m_releaseIni; }
    // Why the image `imageName` (a file at the top) can not be installed from
    // this package; empty when it can.
    QString refusalFor(const QString &imageName) const;
    // The spelling in the package of a top-level file, or empty.
    QString topFile(const QString &name) const;

    // "<name>.bin" for a name the device gives, else the default image.
    static QString imageFileName(const QString &metaName);
    // The six lines, CR LF after each, that tell the firmware what to install.
    static QByteArray updateIni(qint64 seconds, const QString &imageName);
    static QString imageFolderName(qint64 seconds) { return kFolderPrefix + QString::number(seconds); }

    // Whether the version `device` is older than `reference`: both lose their
    // first two characters, then the numbers between dots are compared over
    // the shorter length.
    static bool isVersionOlder(const QString &device, const QString &reference);
    // The lowest version of the list; empty when two of them have different
    // numbers of parts.
    static QString minVersion(const QStringList &versions);

    // "<first>^<second>": false when there is no "^" or more than one.
    static bool splitPair(const QString &text, QString &first, QString &second);
    // The map a resource file belongs to: its name up to the first "^" (the
    // whole name without one).
    static QString mapKey(const QString &fileName);
    // Whether an unpacked "DeviceAp.zip" (its files, relative) holds the
    // application tree "nimbra/".
    static bool hasApplicationTree(const QStringList &files);

private:
    QStringList m_files;
    QString m_releaseIni;
};
