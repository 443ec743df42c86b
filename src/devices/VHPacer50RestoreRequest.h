#pragma once

#include "VHResult.h"

#include <QString>

// The factory restore's memory across the device's own format: one small file
// per device UUID in the data folder, written before "/format.ini" and removed
// when the second pass has installed everything. A device that comes back
// formatted, in this process or a later one, finds its request here. A file
// that is damaged, cut short or names another device counts as no request:
// the restore then asks for the format again instead of trusting it.
class VHPacer50RestoreRequest
{
public:
    QString uuid;
    QString packageFolder;  // what the second pass installs when no folder is given
    qint64 requestedAt = 0; // seconds since 1970, for the log

    // The data folder's requests ("<data folder>/pacer50restore").
    static QString folder();

    // Replaces the device's request whole, flushed with its folder.
    static VHResult store(const VHPacer50RestoreRequest &request);
    // The stored request of `uuid`; false when there is none or it can not be trusted.
    static bool find(const QString &uuid, VHPacer50RestoreRequest &request);
    // True when none is left in the folder (a removal whose flush failed counts as done).
    [[nodiscard]] static bool remove(const QString &uuid);

    // The stored form: the fields as JSON, a line with their SHA-256 after it.
    QByteArray toBytes() const;
    static bool fromBytes(const QByteArray &bytes, VHPacer50RestoreRequest &request);
};
