#pragma once

// Reads the entry names of a zip file's central directory as raw bytes. libzip
// turns a NUL inside a stored name into a space; the raw names let the unpacker
// refuse such entries instead of writing a file of another name.

#include <QByteArray>
#include <QList>
#include <QString>

namespace VHZipDirectory {

// False when the directory cannot be found or is malformed; `names` is then empty.
bool readRawNames(const QString &zipPath, QList<QByteArray> &names);

} // namespace VHZipDirectory
