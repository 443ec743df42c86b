#pragma once

// Small POSIX helpers: owned descriptors, data copies, files written under a
// temporary name, and the FAT-like lookup of names that exist in another
// spelling.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

#include <sys/stat.h>

namespace VHFileOps {

// Owns one file descriptor; closes it on destruction.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release();
    void reset(int fd = -1);
    // Closes now and reports the error of close() (0 when fine): a delayed
    // write error of a network or USB volume shows up here.
    int close();

private:
    int m_fd = -1;
};

QByteArray encodeName(const QString &path);

// Copies the whole of `in` to `out` from their current offsets; 0 or an errno.
int copyData(int in, int out, const std::function<void(qint64, qint64)> &progress, qint64 total);

// Creates a new, empty, hidden file under a name of its own in the folder
// `folderPrefix` (empty or ending in "/") relative to `dirFd` (AT_FDCWD for
// the current folder); returns the descriptor (or -1 with errno set) and the
// file's path relative to `dirFd` in `path`.
UniqueFd createTemporaryFile(int dirFd, const QByteArray &folderPrefix, QByteArray &path, mode_t mode);
// Whether a file name is one that createTemporaryFile makes (".vhtmp-<pid>-<n>").
bool isTemporaryName(const QByteArray &name);

// A file written whole under a temporary name in a folder before it takes its
// final name, so a crash leaves the old file or the new one. commit() renames
// it over the name (a link of that name is replaced, never followed); a file
// not committed is removed through the folder handle, which must outlive it.
class PendingFile
{
public:
    PendingFile() = default;
    // Invalid, with errno set, when no temporary could be made.
    PendingFile(int dirFd, mode_t mode);
    // Under a fixed name instead, for a stream others watch by name: a file
    // or link left there by a crash is removed first, never written through.
    PendingFile(int dirFd, const QByteArray &temporaryName, mode_t mode);
    PendingFile(PendingFile &&other) noexcept = default;
    PendingFile &operator=(PendingFile &&other) noexcept;
    ~PendingFile() { discard(); }

    bool isValid() const { return m_fd.isValid(); }
    int handle() const { return m_fd.get(); }
    // 0 or an errno.
    int write(const char *data, qint64 size);
    // Flushes the data (when `durable`), closes and renames over `name`; 0 or
    // an errno, and then the temporary is gone.
    int commit(const QByteArray &name, bool durable);
    void discard();

private:
    int m_dirFd = -1;
    UniqueFd m_fd;
    QByteArray m_temporary;
};

// Calls `visit` with the name and the directory-entry type (DT_REG, DT_DIR,
// DT_LNK, ...; DT_UNKNOWN where the file system does not tell) of every entry
// of the folder `dirFd` but "." and ".."; false when the folder could not be
// listed whole.
bool forEachEntry(int dirFd, const std::function<void(const QByteArray &name, unsigned char type)> &visit);

// Sets the modification time (and leaves the access time now).
int setModificationTime(int fd, const struct timespec &mtime);

// Names of one folder, looked up the way FAT does: a name that exists in
// another spelling ("Device.ini" for "device.ini") yields the existing one.
class NameIndex
{
public:
    NameIndex() = default;
    static NameIndex ofFolder(int dirFd);
    static NameIndex ofFolder(const QString &path);

    // The existing spelling of `name`, or an empty text when none exists.
    QString find(const QString &name) const;
    void add(const QString &name);

private:
    QHash<QString, QString> m_byFoldedName;
};

} // namespace VHFileOps
