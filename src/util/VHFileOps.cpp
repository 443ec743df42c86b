#include "VHFileOps.h"

#include "VHSysCalls.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <memory>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace VHFileOps {

namespace {
// copy_file_range moves data inside the kernel; chunks keep the progress
// callback alive on large files.
constexpr size_t kRangeChunk = 16 * 1024 * 1024;
// Someone watches a copy with progress: steps small enough for a bar to move.
constexpr size_t kProgressChunk = 2 * 1024 * 1024;
constexpr size_t kBufferSize = 1024 * 1024;

bool rangeCopyUnsupported(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF
           || error == EPERM;
}

int writeAll(int out, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = VHSys::write(out, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= size_t(n);
    }
    return 0;
}

int copyWithBuffer(int in, int out, qint64 done, const std::function<void(qint64, qint64)> &progress, qint64 total)
{
    const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    for (;;) {
        const ssize_t n = VHSys::read(in, buffer.get(), kBufferSize);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return 0;
        if (const int error = writeAll(out, buffer.get(), size_t(n)))
            return error;
        done += n;
        if (progress)
            progress(done, total);
    }
}

} // namespace

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int UniqueFd::close()
{
    if (m_fd < 0)
        return 0;
    const int result = ::close(release());
    return result == 0 ? 0 : errno;
}

QByteArray encodeName(const QString &path) { return QFile::encodeName(path); }

int copyData(int in, int out, const std::function<void(qint64, qint64)> &progress, qint64 total)
{
    qint64 done = 0;
    // A fault hook sees every read and write: the kernel's copy would hide them.
    if (VHSys::hasFaultHook())
        return copyWithBuffer(in, out, done, progress, total);
    const size_t chunk = progress ? kProgressChunk : kRangeChunk;
    // A regular file is copied up to the size it had when opened: that saves
    // one call per file, which counts on folders of many small files.
    while (total <= 0 || done < total) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && done == 0 && rangeCopyUnsupported(errno))
            return copyWithBuffer(in, out, done, progress, total);
        if (n < 0)
            return errno;
        // Some pseudo files report a size but give nothing through
        // copy_file_range; read them the ordinary way.
        if (n == 0 && done == 0 && total > 0)
            return copyWithBuffer(in, out, done, progress, total);
        if (n == 0)
            return 0;
        done += n;
        if (progress)
            progress(done, total);
    }
    return 0;
}

UniqueFd createTemporaryFile(int dirFd, const QByteArray &folderPrefix, QByteArray &path, mode_t mode)
{
    static std::atomic<quint64> counter{0};
    static const QByteArray tag = ".vhtmp-" + QByteArray::number(qint64(::getpid())) + '-';
    for (int tries = 0; tries < 64; ++tries) {
        path = folderPrefix + tag + QByteArray::number(++counter);
        const int fd =
            VHSys::openat(dirFd, path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return UniqueFd(fd);
    }
    errno = EEXIST;
    return UniqueFd();
}

bool isTemporaryName(const QByteArray &name)
{
    static const QByteArray prefix = QByteArrayLiteral(".vhtmp-");
    if (!name.startsWith(prefix))
        return false;
    const QList<QByteArray> numbers = name.mid(prefix.size()).split('-');
    if (numbers.size() != 2)
        return false;
    for (const QByteArray &number : numbers) {
        if (number.isEmpty() || number.size() > 20)
            return false;
        for (const char c : number) {
            if (c < '0' || c > '9')
                return false;
        }
    }
    return true;
}

PendingFile::PendingFile(int dirFd, mode_t mode) : m_dirFd(dirFd)
{
    m_fd = createTemporaryFile(dirFd, QByteArray(), m_temporary, mode);
    if (!m_fd.isValid())
        m_temporary.clear();
}

PendingFile::PendingFile(int dirFd, const QByteArray &temporaryName, mode_t mode) : m_dirFd(dirFd)
{
    // What a crash left there goes first, a link itself rather than its target.
    ::unlinkat(dirFd, temporaryName.constData(), 0);
    m_fd.reset(
        VHSys::openat(dirFd, temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (m_fd.isValid())
        m_temporary = temporaryName;
}

PendingFile &PendingFile::operator=(PendingFile &&other) noexcept
{
    if (this != &other) {
        discard();
        m_dirFd = other.m_dirFd;
        m_fd = std::move(other.m_fd);
        m_temporary = std::exchange(other.m_temporary, QByteArray());
    }
    return *this;
}

int PendingFile::write(const char *data, qint64 size) { return writeAll(m_fd.get(), data, size_t(size)); }

int PendingFile::commit(const QByteArray &name, bool durable)
{
    if (!isValid())
        return EBADF;
    int error = durable && VHSys::fsync(m_fd.get()) != 0 ? errno : 0;
    if (const int closeError = m_fd.close(); !error)
        error = closeError;
    if (!error && VHSys::renameat(m_dirFd, m_temporary.constData(), m_dirFd, name.constData()) != 0)
        error = errno;
    if (error)
        discard();
    m_temporary.clear();
    return error;
}

void PendingFile::discard()
{
    m_fd.reset();
    if (!m_temporary.isEmpty())
        ::unlinkat(m_dirFd, std::exchange(m_temporary, QByteArray()).constData(), 0);
}

bool forEachEntry(int dirFd, const std::function<void(const QByteArray &name, unsigned char type)> &visit)
{
    const int copy = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return false;
    DIR *dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return false;
    }
    // The duplicate shares its offset with dirFd: start from the beginning.
    ::rewinddir(dir);
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            visit(name, entry->d_type);
    }
    const bool whole = errno == 0;
    ::closedir(dir);
    return whole;
}

int setModificationTime(int fd, const struct timespec &mtime)
{
    const struct timespec times[2] = {{0, UTIME_NOW}, mtime};
    return ::futimens(fd, times) == 0 ? 0 : errno;
}

NameIndex NameIndex::ofFolder(int dirFd)
{
    NameIndex index;
    forEachEntry(dirFd, [&index](const QByteArray &name, unsigned char) { index.add(QFile::decodeName(name)); });
    return index;
}

NameIndex NameIndex::ofFolder(const QString &path)
{
    const UniqueFd folder(::open(encodeName(path.isEmpty() ? QStringLiteral(".") : path).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.isValid() ? ofFolder(folder.get()) : NameIndex();
}

QString NameIndex::find(const QString &name) const { return m_byFoldedName.value(name.toCaseFolded()); }

void NameIndex::add(const QString &name)
{
    const QString folded = name.toCaseFolded();
    if (!m_byFoldedName.contains(folded))
        m_byFoldedName.insert(folded, name);
}

} // namespace VHFileOps
