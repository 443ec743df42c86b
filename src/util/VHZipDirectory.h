#pragma once

// Reads the entry names of a zip file's central directory as raw bytes. libzip
// turns a NUL inside a stored name into a space; the raw names let the unpacker
// refuse such entries instead of writing a file of another name.

#include <QByteArray>
#include <QList>
#include <QString>

namespace VHZipDirectory {

// False when the directory cannot be found or is malformed; `names` is then empty.
[[nodiscard]] bool readRawNames(const QString &zipPath, QList<QByteArray> &names);

// True when the file is a whole zip archive: its directory is found and
// readable, every entry's local header agrees with its directory record and
// lies before the directory, there is at least one entry, and every entry
// uses a compression method we can inflate. Reads headers only, not the
// entries' data, so a body cut short or an error page is caught cheaply.
// On false `why` (when given) says what is wrong.
bool isComplete(const QString &zipPath, QString *why = nullptr);

} // namespace VHZipDirectory
