#include "VHVolumeSync.h"

#include "VHLog.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace VHVolumeSync {

namespace {

bool syncPath(const QString &path, bool wholeVolume)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        vhCritical() << "can not open for flushing: " << path << strerror(errno);
        return false;
    }
    const int result = wholeVolume ? ::syncfs(fd) : ::fsync(fd);
    const int error = errno;
    ::close(fd);
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
        if (!QFileInfo::exists(file))
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
