#include "VHSafeFolder.h"

#include "VHSysCalls.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QByteArray native(const QString &name) { return VHFileOps::encodeName(name); }

} // namespace

VHSafeFolder::VHSafeFolder(VHFileOps::UniqueFd fd, const QString &path, Options options)
    : m_fd(std::move(fd)), m_path(path), m_options(options)
{}

VHSafeFolder VHSafeFolder::open(const QString &root, const QString &relative, Options options)
{
    VHSafeFolder folder(VHFileOps::UniqueFd(::open(native(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), root,
                        options);
    if (!folder.isValid()) {
        folder.m_error = errno;
        return folder;
    }
    for (const QString &part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        folder = folder.folder(part);
        if (!folder.isValid())
            break;
    }
    return folder;
}

VHSafeFolder VHSafeFolder::folder(const QString &name)
{
    VHFileOps::UniqueFd child;
    QString actual;
    if (!openChild(name, child, actual)) {
        VHSafeFolder invalid;
        invalid.m_error = m_error;
        invalid.m_path = m_path + QLatin1Char('/') + name;
        return invalid;
    }
    return VHSafeFolder(std::move(child), m_path + QLatin1Char('/') + actual, m_options);
}

bool VHSafeFolder::openChild(const QString &name, VHFileOps::UniqueFd &child, QString &actual)
{
    if (!isPlainName(name))
        return fail(EINVAL);
    actual = entryName(name);
    child.reset(::openat(m_fd.get(), native(actual).constData(), kFolderFlags));
    if (!child.isValid() && errno == ENOENT && (m_options & Create)) {
        if (::mkdirat(m_fd.get(), native(actual).constData(), 0777) != 0 && errno != EEXIST)
            return fail(errno);
        if (m_indexed)
            m_names.add(actual);
        child.reset(::openat(m_fd.get(), native(actual).constData(), kFolderFlags));
    }
    // ELOOP: a link stands at the name; ENOTDIR: a file does.
    return child.isValid() || fail(errno);
}

const VHFileOps::NameIndex &VHSafeFolder::names()
{
    if (!m_indexed) {
        m_names = VHFileOps::NameIndex::ofFolder(m_fd.get());
        m_indexed = true;
    }
    return m_names;
}

bool VHSafeFolder::fail(int error)
{
    m_error = error;
    return false;
}

int VHSafeFolder::failWith(int error)
{
    m_error = error;
    return error;
}

QString VHSafeFolder::entryName(const QString &name)
{
    if (!(m_options & FatNames) || !isValid())
        return name;
    struct stat st;
    if (::fstatat(m_fd.get(), native(name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return name;
    const QString existing = names().find(name);
    return existing.isEmpty() ? name : existing;
}

VHSafeFolder::Kind VHSafeFolder::kindOf(const QString &name)
{
    struct stat st;
    if (!isValid() || ::fstatat(m_fd.get(), native(entryName(name)).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Kind::Missing;
    if (S_ISREG(st.st_mode))
        return Kind::File;
    return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
}

bool VHSafeFolder::writeFile(const QString &name, const QByteArray &bytes)
{
    if (!isValid() || !isPlainName(name))
        return fail(EINVAL);
    VHFileOps::PendingFile out = newFile();
    if (!out.isValid())
        return fail(errno);
    if (const int error = out.write(bytes.constData(), bytes.size()))
        return fail(error);
    return placeFile(out, name) == 0;
}

VHFileOps::PendingFile VHSafeFolder::newFile(mode_t mode)
{
    if (!isValid()) {
        errno = EBADF;
        return {};
    }
    return VHFileOps::PendingFile(m_fd.get(), mode);
}

int VHSafeFolder::copyFileInto(const QString &name, const QString &sourcePath, const Progress &progress)
{
    VHFileOps::UniqueFd in(::open(native(sourcePath).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!in.isValid() || ::fstat(in.get(), &st) != 0)
        return failWith(errno);
    return copyFileInto(name, in.get(), st, progress);
}

int VHSafeFolder::copyFileInto(const QString &name, int sourceFd, const struct stat &source, const Progress &progress)
{
    if (!isValid() || !isPlainName(name))
        return failWith(EINVAL);
    if (!S_ISREG(source.st_mode))
        return failWith(S_ISDIR(source.st_mode) ? EISDIR : EINVAL);
    // The source's permissions less the umask, as cp gives them.
    VHFileOps::PendingFile out = newFile(source.st_mode & 0777);
    if (!out.isValid())
        return failWith(errno);
    const int error = VHFileOps::copyData(sourceFd, out.handle(), progress, source.st_size);
    if (error)
        return failWith(error);
    // The skip rules compare modification times; FAT keeps them too.
    VHFileOps::setModificationTime(out.handle(), source.st_mtim);
    return placeFile(out, name);
}

// The folder may have been moved or unmounted since the file was made: the
// rename (and the removal of a failed temporary) goes through its handle.
int VHSafeFolder::placeFile(VHFileOps::PendingFile &file, const QString &name)
{
    if (!isPlainName(name)) {
        file.discard();
        return failWith(EINVAL);
    }
    const QString target = entryName(name);
    if (const int error = file.commit(native(target), m_options & Durable))
        return failWith(error);
    if (m_indexed)
        m_names.add(target);
    return 0;
}

bool VHSafeFolder::removeFile(const QString &name)
{
    if (!isValid() || !isPlainName(name))
        return fail(EINVAL);
    QList<QByteArray> doomed;
    if (m_options & FatNames) {
        const QString folded = name.toCaseFolded();
        VHFileOps::forEachEntry(m_fd.get(), [&](const QByteArray &entry, unsigned char) {
            if (QFile::decodeName(entry).toCaseFolded() == folded)
                doomed.append(entry);
        });
    } else {
        doomed.append(native(name));
    }
    bool ok = true;
    for (const QByteArray &entry : std::as_const(doomed)) {
        struct stat st;
        if (::fstatat(m_fd.get(), entry.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        // unlinkat without AT_REMOVEDIR refuses folders and removes a link itself.
        if (::unlinkat(m_fd.get(), entry.constData(), 0) != 0)
            ok = fail(errno);
    }
    m_indexed = false;
    return ok;
}

bool VHSafeFolder::readFile(const QString &name, qint64 cap, QByteArray &bytes)
{
    bytes.clear();
    if (!isValid() || !isPlainName(name))
        return fail(EINVAL);
    // O_NONBLOCK: a FIFO planted at the name must not hang the open.
    VHFileOps::UniqueFd in(
        ::openat(m_fd.get(), native(entryName(name)).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!in.isValid() || ::fstat(in.get(), &st) != 0)
        return fail(errno);
    if (!S_ISREG(st.st_mode))
        return fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    if (st.st_size > cap)
        return fail(EFBIG);
    // Read up to one byte past the cap: the file may grow after fstat.
    bytes.resize(qsizetype(st.st_size) + 1);
    qsizetype done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (done > cap) {
                bytes.clear();
                return fail(EFBIG);
            }
            bytes.resize(qMin<qint64>(cap + 1, done * 2 + 4096));
        }
        const ssize_t n = VHSys::read(in.get(), bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            bytes.clear();
            return fail(errno);
        }
        if (n == 0)
            break;
        done += n;
    }
    bytes.truncate(done);
    return true;
}

bool VHSafeFolder::sync()
{
    // Some file systems cannot fsync a folder; that is not a lost write.
    if (!isValid())
        return fail(EBADF);
    return VHSys::fsync(m_fd.get()) == 0 || errno == EINVAL || fail(errno);
}

int VHSafeFolder::removeLeftovers()
{
    if (!isValid())
        return 0;
    QList<QByteArray> leftovers;
    VHFileOps::forEachEntry(m_fd.get(), [&leftovers](const QByteArray &name, unsigned char) {
        if (VHFileOps::isTemporaryName(name))
            leftovers.append(name);
    });
    int removed = 0;
    for (const QByteArray &name : std::as_const(leftovers))
        removed += ::unlinkat(m_fd.get(), name.constData(), 0) == 0 ? 1 : 0;
    if (removed > 0)
        m_indexed = false;
    return removed;
}

namespace {
// The folder of `path` below `root` (opened through handles) and the file's name.
VHSafeFolder folderOf(const QString &root, const QString &path, VHSafeFolder::Options options, QString &name)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    name = path.mid(slash + 1);
    const QString base = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (!root.isEmpty() && path.startsWith(base))
        return VHSafeFolder::open(root, path.mid(base.size(), slash + 1 - base.size()), options);
    const QString parent = slash > 0 ? path.left(slash) : QLatin1String(slash == 0 ? "/" : ".");
    return VHSafeFolder::open(parent, QString(), options);
}
} // namespace

bool VHSafeFolder::readFileBelow(const QString &root, const QString &path, qint64 cap, QByteArray &bytes)
{
    QString name;
    VHSafeFolder folder = folderOf(root, path, NoOption, name);
    return folder.readFile(name, cap, bytes);
}

bool VHSafeFolder::writeFileBelow(const QString &root, const QString &path, const QByteArray &bytes, Options options)
{
    QString name;
    VHSafeFolder folder = folderOf(root, path, options & ~Create, name);
    return folder.writeFile(name, bytes);
}

VHSafeFolder VHSafeFolder::openParent(const QString &path, Options options, QString &name)
{
    return folderOf(QString(), path, options, name);
}

bool VHSafeFolder::replaceFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QString name;
    VHSafeFolder folder = openParent(path, Durable, name);
    if (folder.writeFile(name, bytes) && folder.sync())
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(folder.lastError()));
    return false;
}
