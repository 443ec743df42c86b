#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// What the first pass of a flash-based update chose for one device, kept in
// the data folder under its UUID until the pass in IAP mode has flashed it.
// An object made for a device already in IAP mode (a later run, `recover`)
// never saw the volume: the device's language and the profile carried into
// the image come from here. Written whole by temporary name and rename.
class VHGalPending
{
public:
    struct Record
    {
        QString language;                  // the device's ISO 639-2 code
        std::optional<QByteArray> profile; // "Profile.bin" as carried, when the image takes it
        QString model;                     // the device's model, to know it again in IAP mode
        QString restoreFolder;             // set when the job is a factory restore from this folder
    };

    static constexpr qint64 kMaxProfileSize = 1024 * 1024;

    // Records in `dataFolder` + "/pending".
    explicit VHGalPending(const QString &dataFolder);
    // The environment's data folder.
    static VHGalPending ofDataFolder();

    [[nodiscard]] bool store(const QString &uuid, const Record &record, QString *error = nullptr) const;
    // False when there is none, or it is unreadable or not ours.
    [[nodiscard]] bool load(const QString &uuid, Record &record) const;
    // True also when there was none.
    bool remove(const QString &uuid) const;

    // Where the record of a device is kept.
    QString filePathFor(const QString &uuid) const;

private:
    QString m_folder;
};
