#pragma once

// One folder, opened from a root through directory handles, for files whose
// place is not ours to trust (a device volume, where anything may be a link).
// Nothing read or written through it follows a symbolic link or leaves the
// folder: every component is opened with O_NOFOLLOW, a file is written to a
// new temporary name in the folder and renamed over its final name (a link of
// that name is replaced, never written through), and a file is read only when
// it is a regular file no larger than a cap. It suits any file whose
// half-written state would hurt, in the user's folders too.

#include "VHFileOps.h"

#include <QByteArray>
#include <QFlags>
#include <QString>

#include <functional>

#include <sys/stat.h>

class VHSafeFolder
{
public:
    enum Option {
        NoOption = 0x0,
        // Missing folders on the way are made.
        Create = 0x1,
        // A name that exists in another spelling means that entry, as on FAT
        // volumes ("Device.ini" for "device.ini"); without it names are exact.
        FatNames = 0x2,
        // Every file written is flushed to the device before it takes its name.
        Durable = 0x4,
    };
    Q_DECLARE_FLAGS(Options, Option)

    enum class Kind { Missing, File, Folder, Other };
    using Progress = std::function<void(qint64 done, qint64 total)>;

    VHSafeFolder() = default;
    VHSafeFolder(VHSafeFolder &&) noexcept = default;
    VHSafeFolder &operator=(VHSafeFolder &&) noexcept = default;

    // `root` is trusted and opened by path; `relative` ("" for the root itself,
    // "System", "a/b") is walked one component at a time, never through a link.
    // Invalid, with lastError() set, when a component is missing (without
    // Create), a link, not a folder, or not a plain name.
    static VHSafeFolder open(const QString &root, const QString &relative, Options options = NoOption);
    // A folder inside this one, opened the same way.
    VHSafeFolder folder(const QString &name);

    bool isValid() const { return m_fd.isValid(); }
    int handle() const { return m_fd.get(); }
    // For log lines and callers that name files by path: root + the components as found.
    QString path() const { return m_path; }
    QString filePath(const QString &name) { return m_path + QLatin1Char('/') + entryName(name); }
    int lastError() const { return m_error; }

    // The name as it exists in the folder (with FatNames), else `name` itself.
    QString entryName(const QString &name);
    // What is at `name`, links not followed (a link is Other).
    Kind kindOf(const QString &name);

    // Atomic: the old file or the new one, whole.
    [[nodiscard]] bool writeFile(const QString &name, const QByteArray &bytes);
    // For a file written as a stream: a new file under a temporary name here,
    // which placeFile() renames over `name` (flushed first with Durable).
    VHFileOps::PendingFile newFile(mode_t mode = 0666);
    int placeFile(VHFileOps::PendingFile &file, const QString &name);
    // Copies a regular file, keeping its modification time; 0 or an errno.
    int copyFileInto(const QString &name, const QString &sourcePath, const Progress &progress = {});
    int copyFileInto(const QString &name, int sourceFd, const struct stat &source, const Progress &progress = {});
    // Removes the file (with FatNames every spelling of it) or the link of that
    // name, never a folder and never a link's target; true when none is left.
    [[nodiscard]] bool removeFile(const QString &name);
    // The whole of a regular file of at most `cap` bytes; false for a link, a
    // folder, anything else or a larger file.
    [[nodiscard]] bool readFile(const QString &name, qint64 cap, QByteArray &bytes);
    // fsync of the folder, so renames and removals in it reach the device.
    [[nodiscard]] bool sync();
    // Removes files of our temporary pattern left by an interrupted write; the count.
    int removeLeftovers();

    // Reads `path`, a file below `root`, through handles from the root; a path
    // not below `root` is read from its own folder, the file itself not followed.
    [[nodiscard]] static bool readFileBelow(const QString &root, const QString &path, qint64 cap, QByteArray &bytes);
    // Writes `path`, a file below `root`, the same way (the folders must exist).
    [[nodiscard]] static bool writeFileBelow(const QString &root, const QString &path, const QByteArray &bytes,
                                             Options options = NoOption);
    // The folder holding `path` (opened by path, as trusted) and the file's name.
    static VHSafeFolder openParent(const QString &path, Options options, QString &name);
    // Replaces a file of our own folders whole, as a state file the next run
    // relies on: data flushed before the rename, the folder after it. On
    // failure the old file stays and `error` (when given) says why.
    [[nodiscard]] static bool replaceFile(const QString &path, const QByteArray &bytes, QString *error = nullptr);

private:
    VHSafeFolder(VHFileOps::UniqueFd fd, const QString &path, Options options);
    bool openChild(const QString &name, VHFileOps::UniqueFd &child, QString &actual);
    const VHFileOps::NameIndex &names();
    bool fail(int error);
    int failWith(int error);

    VHFileOps::UniqueFd m_fd;
    QString m_path;
    Options m_options;
    int m_error = 0;
    bool m_indexed = false;
    VHFileOps::NameIndex m_names;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(VHSafeFolder::Options)
