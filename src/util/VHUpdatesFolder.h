#pragma once

#include <QByteArray>
#include <QString>

// The expiry stamp kept beside GPS assist data ("date.txt", on the computer
// and on the device): four bytes, a signed 32-bit big-endian count of seconds
// since 1970 UTC.
namespace VHDateStamp {

constexpr qsizetype kSize = 4;

QByteArray toBytes(qint32 seconds);
// False, leaving `seconds` alone, unless `bytes` is exactly one stamp.
bool fromBytes(const QByteArray &bytes, qint32 &seconds);

} // namespace VHDateStamp

// One model's downloads: the software package with the texts the update
// server sent along, and the GPS assist data with its expiry stamp. The
// folder is the data folder + "/updates/" + the model name; a model name that
// is not one safe path component names no folder, and nothing is read there.
class VHUpdatesFolder
{
public:
    static inline const QString kPackage = QStringLiteral("Total.zip");
    static inline const QString kVersion = QStringLiteral("version.txt");
    static inline const QString kNote = QStringLiteral("note.txt");
    static inline const QString kPackageNameFile = QStringLiteral("filename.txt");
    static inline const QString kAlpData = QStringLiteral("AssitOff.alp");
    static inline const QString kAlpStamp = QStringLiteral("date.txt");
    // The folder a factory restore of the model is made from.
    static inline const QString kRestoreFolder = QStringLiteral("restore");

    // Empty when `model` cannot name a folder.
    static QString pathFor(const QString &dataFolder, const QString &model);

    VHUpdatesFolder() = default;
    VHUpdatesFolder(const QString &dataFolder, const QString &model) : m_path(pathFor(dataFolder, model)) {}
    // A folder named elsewhere (the network clients are handed one).
    static VHUpdatesFolder at(const QString &path);

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    QString file(const QString &name) const { return m_path + QLatin1Char('/') + name; }

    // The whole text of "version.txt" or "note.txt"; null when it cannot be read.
    QString version() const { return readText(kVersion); }
    QString note() const { return readText(kNote); }
    // The expiry of the stored assist data; 0 when "date.txt" is missing or
    // not exactly one stamp.
    qint32 alpExpiry() const;

private:
    QString readText(const QString &name) const;

    QString m_path;
};
