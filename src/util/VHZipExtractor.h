#pragma once

// Unpacks the entries of one zip archive into one folder, one entry at a time
// and in chunks, so memory does not grow with the entry size. Nothing is ever
// written outside the folder: absolute names, ".." components, symbolic-link
// entries and paths through existing symbolic links are refused. A file is
// written under a temporary name and renamed into place only when its data
// and checksum are complete, so a failed entry leaves no partial file behind.
//
// An archive that could make the unpacking write without bound is refused
// whole before anything is written: more than kMaxEntries entries, entries
// that share bytes of the file, or stated sizes that would leave less than
// kFreeSpaceReserve free in the target. An entry that inflates past its stated
// size fails before the excess is written.

#include "VHFileOps.h"
#include "VHZipLayout.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

struct zip;

class VHZipExtractor
{
public:
    VHZipExtractor();
    ~VHZipExtractor();
    VHZipExtractor(const VHZipExtractor &) = delete;
    VHZipExtractor &operator=(const VHZipExtractor &) = delete;

    static constexpr qint64 kMaxEntries = 100000;
    static constexpr quint64 kFreeSpaceReserve = 64ull * 1024 * 1024;

    // False with `error` set when the archive cannot be opened or is refused.
    [[nodiscard]] bool open(const QString &zipPath, QString &error);
    // False with `error` set when the stated sizes of the entries would leave less
    // than kFreeSpaceReserve free in the file system of `folder` (or of its
    // nearest existing parent: nothing is created here).
    [[nodiscard]] bool checkFreeSpace(const QString &folder, QString &error) const;
    // Creates the folder (with parents) if needed; false with `error` set when it cannot.
    [[nodiscard]] bool setBaseFolder(const QString &folder, QString &error);
    qint64 entryCount() const;
    // The bytes all entries state they unpack to, and a call after every chunk
    // written with the bytes written so far (of every entry together).
    quint64 statedBytes() const;
    void setChunkWritten(std::function<void(qint64 written)> chunkWritten) { m_chunkWritten = std::move(chunkWritten); }

    // `name` is the entry's name for log lines; `error` tells why it failed.
    [[nodiscard]] bool extractEntry(qint64 index, QString &name, QString &error);

    // The text of a libzip error code.
    static QString errorText(int libzipCode);
    // Discards an archive opened through libzip, for its owning pointers.
    struct ZipCloser
    {
        void operator()(zip *archive) const;
    };

private:
    struct Entry;

    bool describeEntry(qint64 index, Entry &entry, QString &error) const;
    bool openFolderChain(const QStringList &parts, qsizetype count, int &dirFd, QString &dirKey, QString &error);
    VHFileOps::UniqueFd openOrCreateChild(int dirFd, const QString &dirKey, const QString &name, QString &actual,
                                          QString &error);
    bool writeFile(int dirFd, const QString &dirKey, const QString &name, const Entry &entry, QString &error);
    bool streamEntryData(const Entry &entry, int out, QString &error);
    VHFileOps::NameIndex &indexOf(int dirFd, const QString &dirKey);

    std::unique_ptr<zip, ZipCloser> m_archive;
    VHZipLayout::Layout m_layout;
    VHFileOps::UniqueFd m_base;
    // The folder of the previous entry stays open: packages list many files per folder.
    QString m_chainKey;
    QString m_chainResolvedKey;
    VHFileOps::UniqueFd m_chainFd;
    QHash<QString, VHFileOps::NameIndex> m_indexes;
    std::vector<char> m_buffer;
    std::function<void(qint64)> m_chunkWritten;
    qint64 m_written = 0;
};
