#pragma once

#include "VHCompress.h"
#include "VHResult.h"

#include <functional>

// Zip archives on libzip. Stateless between calls.
//
// Unpacking refuses, as failed entries, names that are absolute, contain ".."
// or NUL bytes or are not UTF-8, and symbolic-link entries; an entry whose data
// fails to inflate or to match its checksum fails too and leaves no file. The
// other entries are still extracted. Both decompress forms return false when
// any entry failed, and when the archive is refused whole (too many entries,
// entries sharing their bytes, too little free space left in the target),
// in which case nothing is written.
class VHZipUtil : public VHCompress
{
    Q_OBJECT
public:
    VHZipUtil() = default;

    // The progress value is i / n after the i-th of n files (the caller sets the final value).
    [[nodiscard]] bool compress(const QString &zipPath, const QStringList &files, QMutex *mutex,
                                float *progress) override;
    [[nodiscard]] bool compress(const QString &zipPath, const QStringList &files) override;
    // Packs folder/name for each of names under the entry name name, so that
    // short entry names need no change of the process's current folder.
    [[nodiscard]] bool compress(const QString &zipPath, const QString &folder, const QStringList &names);
    // The progress value is start + i / count * span after entry i.
    [[nodiscard]] bool decompress(const QString &zipPath, const QString &folder, QMutex *mutex, float *progress,
                                  float span) override;
    [[nodiscard]] bool decompress(const QString &zipPath, const QString &folder) override;
    // Reports the bytes unpacked of the bytes the entries state, per chunk and once at the end.
    using ByteProgress = std::function<void(qint64 done, qint64 total)>;
    [[nodiscard]] bool decompress(const QString &zipPath, const QString &folder, const ByteProgress &progress);
    [[nodiscard]] bool compressFolder(const QString &zipPath, const QString &folderName) override;

private:
    // Extracts every entry; afterEntry(i, count, failed) runs after each one.
    static bool extractAll(const QString &zipPath, const QString &folder,
                           const std::function<void(qint64, qint64, bool)> &afterEntry, const ByteProgress &bytes = {});
    // Entries are named by files; each is read from folder/name, or from name when folder is empty.
    bool compressFiles(const QString &zipPath, const QString &folder, const QStringList &files, QMutex *mutex,
                       float *progress);
};
