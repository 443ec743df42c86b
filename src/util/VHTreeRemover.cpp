#include "VHTreeRemover.h"

#include "VHFileOps.h"
#include "VHLog.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Removes `name` in the folder `dirFd`; 0 or an errno. A folder whose read-only
// bit is set allows no removals in it, so that bit is cleared and the removal tried again.
int unlinkIn(int dirFd, const QByteArray &name, int flags)
{
    if (::unlinkat(dirFd, name.constData(), flags) == 0 || errno == ENOENT)
        return 0;
    const int error = errno;
    struct stat st;
    if ((error == EACCES || error == EPERM) && ::fstat(dirFd, &st) == 0 && !(st.st_mode & S_IWUSR)
        && ::fchmod(dirFd, (st.st_mode & 07777) | S_IWUSR) == 0
        && (::unlinkat(dirFd, name.constData(), flags) == 0 || errno == ENOENT))
        return 0;
    return error;
}
void logFailure(const QByteArray &name, int error)
{
    vhDebug() << QFile::decodeName(name) << " delete file failed:" << QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

struct VHTreeRemover::Level
{
    QByteArray name; // in the parent folder
    dev_t device = 0;
    ino_t inode = 0;
    // Closed while a level deeper than kOpenLevels is worked on; reopened through "..".
    VHFileOps::UniqueFd fd;
    QList<QByteArray> folders; // still to be removed
    bool failed = false;

    bool identify()
    {
        struct stat st;
        if (::fstat(fd.get(), &st) != 0)
            return false;
        device = st.st_dev;
        inode = st.st_ino;
        return true;
    }
};

bool VHTreeRemover::empty(int dirFd) const
{
    std::vector<Level> levels(1);
    levels.front().fd.reset(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (!levels.front().fd.isValid() || !levels.front().identify())
        return false;
    levels.front().failed = !list(levels.front());
    for (;;) {
        Level &current = levels.back();
        if (current.failed && m_onFailure == OnFailure::Stop)
            return false;
        if (current.folders.isEmpty()) {
            if (levels.size() == 1)
                return !current.failed;
            if (!ascend(levels))
                return false;
            continue;
        }
        Level child;
        child.name = current.folders.takeLast();
        child.fd.reset(::openat(current.fd.get(), child.name.constData(), kFolderFlags));
        if (!child.fd.isValid()) {
            // Replaced by a link or a file since it was listed: that is removed, not entered.
            if (errno == ENOTDIR || errno == ELOOP)
                current.failed = !removeNonFolder(current, child.name) || current.failed;
            else if (errno != ENOENT) {
                logFailure(child.name, errno);
                current.failed = true;
            }
            continue;
        }
        child.failed = !child.identify() || !list(child);
        if (levels.size() > size_t(kOpenLevels))
            current.fd.reset();
        levels.push_back(std::move(child));
    }
}

// Lists the folder once: files and links are removed at once, sub-folders noted for later.
bool VHTreeRemover::list(Level &level) const
{
    QList<QByteArray> others;
    const bool listed = VHFileOps::forEachEntry(level.fd.get(), [&](const QByteArray &name, unsigned char type) {
        if (m_hidden == Hidden::Keep && name.startsWith('.'))
            return;
        bool folder = type == DT_DIR;
        struct stat st;
        if (type == DT_UNKNOWN)
            folder = ::fstatat(level.fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        (folder ? level.folders : others).append(name);
    });
    if (!listed)
        return false;
    bool ok = true;
    for (const QByteArray &name : others) {
        ok = removeNonFolder(level, name) && ok;
        if (!ok && m_onFailure == OnFailure::Stop)
            return false;
    }
    return ok;
}

bool VHTreeRemover::removeNonFolder(Level &level, const QByteArray &name) const
{
    const int error = unlinkIn(level.fd.get(), name, 0);
    if (error == EISDIR) {
        // A folder now stands where a file was listed.
        level.folders.append(name);
        return true;
    }
    if (error != 0)
        logFailure(name, error);
    return error == 0;
}

// Leaves the emptied top level for its parent and removes it there.
bool VHTreeRemover::ascend(std::vector<Level> &levels) const
{
    Level &child = levels.back();
    Level &parent = levels[levels.size() - 2];
    if (!parent.fd.isValid()) {
        parent.fd.reset(::openat(child.fd.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st;
        if (!parent.fd.isValid() || ::fstat(parent.fd.get(), &st) != 0 || st.st_dev != parent.device
            || st.st_ino != parent.inode) {
            vhWarning() << "a folder was moved while its tree was removed:" << QFile::decodeName(child.name);
            return false;
        }
    }
    const QByteArray name = child.name;
    const bool childFailed = child.failed;
    levels.pop_back();
    Level &folder = levels.back();
    if (childFailed)
        folder.failed = true;
    else if (const int error = unlinkIn(folder.fd.get(), name, AT_REMOVEDIR)) {
        logFailure(name, error);
        folder.failed = true;
    }
    return true;
}
