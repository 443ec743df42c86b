#pragma once

#include "VHResult.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// A small package read whole into memory, name -> bytes, so the classes that
// understand a package are plain values parsed from bytes and never touch an
// archive or a folder themselves. Everything is bounded: entry count, each
// entry's size and the sum. Entries whose names could leave a folder
// (absolute, "..", a backslash, NUL or not UTF-8), links and other special
// entries, and two entries of one name (also in another case: device volumes
// do not tell them apart) refuse the whole package. Folder entries are no files.
class VHArchiveFiles
{
public:
    // Sorted by name; a name may hold "/" for an entry below the top.
    using Files = QMap<QString, QByteArray>;
    // Name -> modification time (seconds since 1970) as the archive states it.
    using Times = QMap<QString, qint64>;

    struct Limits
    {
        qint64 maxEntries = 4096;
        qint64 maxEntrySize = 16 * 1024 * 1024;
        qint64 maxTotalSize = 64 * 1024 * 1024;
    };

    // Reads every entry of the zip at `zipPath`; an entry that inflates to
    // other than its stated size or fails its checksum refuses the package.
    static VHResult read(const QString &zipPath, Files &files, const Limits &limits);
    static VHResult read(const QString &zipPath, Files &files);
    // The same, with each file's stated modification time in `modified`.
    static VHResult read(const QString &zipPath, Files &files, const Limits &limits, Times *modified);
    // The regular files at the top of `folder` (links, folders and special
    // files are left out), with the same limits.
    static VHResult readFolder(const QString &folder, Files &files, const Limits &limits);
    static VHResult readFolder(const QString &folder, Files &files);

    // For a family that copies a package's tree: `folder` (made or emptied first) then holds exactly `files`,
    // names below the top in their folders, each with its time from `modified` where known. Walked through
    // folder handles, never through a link; a name that is not safe refuses the whole set. On failure the
    // folder is left empty.
    static VHResult writeInto(const QString &folder, const Files &files, const Times &modified = {});

    // Whether `name` may name an entry: relative, no "." or ".." component,
    // no backslash or NUL, not empty.
    static bool isSafeName(const QString &name);
    // The names without "/": the entries at the top.
    static QStringList topLevel(const Files &files);
};
