#include "VHVolumeSync.h"

#include "VHFileOps.h"
#include "VHLog.h"
#include "VHSysCalls.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VHVolumeSync {

namespace {

bool syncPath(const QString &path, bool wholeVolume)
{
    // A link on the volume is nothing we wrote: it is not opened (and so never
    // a FIFO or device node elsewhere that would block or act on open).
    const int flags = O_RDONLY | O_CLOEXEC | (wholeVolume ? O_DIRECTORY : O_NOFOLLOW | O_NONBLOCK);
    const VHFileOps::UniqueFd fd(::open(QFile::encodeName(path).constData(), flags));
    if (!fd.isValid()) {
        vhCritical() << "can not open for flushing: " << path << strerror(errno);
        return false;
    }
    const int result = wholeVolume ? VHSys::syncfs(fd.get()) : VHSys::fsync(fd.get());
    const int error = errno;
    // Some file systems cannot fsync a folder; that is not a lost write.
    if (result != 0 && error != EINVAL) {
        vhCritical() << "flush failed: " << path << strerror(error);
        return false;
    }
    return true;
}

} // namespace

bool flush(const QStringList &files, const QString &volumeRoot)
{
    bool ok = true;
    QSet<QString> folders;
    for (const QString &file : files) {
        struct stat st;
        if (::lstat(QFile::encodeName(file).constData(), &st) != 0)
            continue;
        ok = syncPath(file, false) && ok;
        folders.insert(QFileInfo(file).absolutePath());
    }
    for (const QString &folder : std::as_const(folders))
        ok = syncPath(folder, false) && ok;
    if (!volumeRoot.isEmpty())
        ok = syncPath(volumeRoot, true) && ok;
    return ok;
}

} // namespace VHVolumeSync
