#include "VHZipExtractor.h"

#include "VHSysCalls.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zip.h>

namespace {
constexpr size_t kChunkSize = 1024 * 1024;

enum class EntryKind { File, Folder, Link, Special };

struct ZipFileCloser
{
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// How a name looks in a log line: NUL bytes and invalid UTF-8 stay visible.
QString displayName(const QByteArray &raw)
{
    QString text = QString::fromUtf8(raw);
    text.replace(QChar(u'\0'), QStringLiteral("\\0"));
    return text;
}

bool decodeUtf8(const QByteArray &raw, QString &name)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    name = decoder(raw);
    return !decoder.hasError();
}

// Free bytes for an unprivileged writer in the file system that holds `path`
// or, when it does not exist yet, its nearest existing parent.
bool freeBytesAt(const QString &path, quint64 &free)
{
    QString probe = QFileInfo(path).absoluteFilePath();
    for (;;) {
        struct statvfs st;
        if (::statvfs(VHFileOps::encodeName(probe).constData(), &st) == 0) {
            free = quint64(st.f_bavail) * quint64(st.f_frsize);
            return true;
        }
        const int error = errno;
        const QString parent = QFileInfo(probe).path();
        if ((error != ENOENT && error != ENOTDIR) || parent == probe) {
            errno = error;
            return false;
        }
        probe = parent;
    }
}

QString mebibytes(quint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MiB");
}

bool isDrivePrefix(const QString &part)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    return drive.match(part).hasMatch();
}
} // namespace

struct VHZipExtractor::Entry
{
    qint64 index = 0;
    QStringList parts;
    EntryKind kind = EntryKind::File;
    bool hasSize = false;
    quint64 size = 0;
    bool hasTime = false;
    time_t mtime = 0;
};

void VHZipExtractor::ZipCloser::operator()(zip *archive) const { zip_discard(archive); }

VHZipExtractor::VHZipExtractor() = default;

QString VHZipExtractor::errorText(int libzipCode)
{
    zip_error_t error;
    zip_error_init_with_code(&error, libzipCode);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}
VHZipExtractor::~VHZipExtractor() = default;

bool VHZipExtractor::open(const QString &zipPath, QString &error)
{
    int code = 0;
    zip_t *archive = zip_open(VHFileOps::encodeName(zipPath).constData(), ZIP_RDONLY, &code);
    if (!archive) {
        error = errorText(code);
        return false;
    }
    m_archive.reset(archive);
    const qint64 count = entryCount();
    if (count > kMaxEntries) {
        error = QStringLiteral("the archive has %1 entries, more than %2").arg(count).arg(kMaxEntries);
        return false;
    }
    // Offsets and raw names come from our own reading of the directory; an
    // archive whose directory reads differently from libzip's is not trusted.
    if (!VHZipLayout::read(zipPath, m_layout) || qint64(m_layout.records.size()) != count) {
        error = QStringLiteral("the archive's central directory cannot be read");
        return false;
    }
    if (const QString overlap = VHZipLayout::overlapOf(m_layout); !overlap.isEmpty()) {
        error = overlap;
        return false;
    }
    return true;
}

quint64 VHZipExtractor::statedBytes() const { return VHZipLayout::declaredTotal(m_layout); }

bool VHZipExtractor::checkFreeSpace(const QString &folder, QString &error) const
{
    const quint64 needed = VHZipLayout::declaredTotal(m_layout);
    quint64 free = 0;
    if (!freeBytesAt(folder, free)) {
        error = QStringLiteral("cannot read the free space of ") + folder + QStringLiteral(": ") + errnoText(errno);
        return false;
    }
    if (needed > free || free - needed < kFreeSpaceReserve) {
        error = QStringLiteral("the entries need %1, which would leave less than %2 free in %3 (%4 free)")
                    .arg(mebibytes(needed), mebibytes(kFreeSpaceReserve), folder, mebibytes(free));
        return false;
    }
    return true;
}

bool VHZipExtractor::setBaseFolder(const QString &folder, QString &error)
{
    if (folder.isEmpty()) {
        error = QStringLiteral("no target folder given");
        return false;
    }
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the folder ") + folder;
        return false;
    }
    m_base.reset(::open(VHFileOps::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_base.isValid()) {
        error = QStringLiteral("cannot open the folder ") + folder + QStringLiteral(": ") + errnoText(errno);
        return false;
    }
    m_chainKey.clear();
    m_chainFd.reset();
    m_indexes.clear();
    return true;
}

qint64 VHZipExtractor::entryCount() const { return m_archive ? zip_get_num_entries(m_archive.get(), 0) : 0; }

bool VHZipExtractor::extractEntry(qint64 index, QString &name, QString &error)
{
    Entry entry;
    const char *libName = zip_get_name(m_archive.get(), zip_uint64_t(index), ZIP_FL_ENC_RAW);
    const QByteArray raw = size_t(index) < m_layout.records.size() ? m_layout.records[size_t(index)].rawName
                                                                   : QByteArray(libName ? libName : "");
    name = displayName(raw);
    if (!libName) {
        error = QString::fromUtf8(zip_strerror(m_archive.get()));
        return false;
    }
    if (raw.contains('\0')) {
        error = QStringLiteral("the entry name contains a NUL byte");
        return false;
    }
    QString decoded;
    if (!decodeUtf8(raw, decoded)) {
        error = QStringLiteral("the entry name is not valid UTF-8");
        return false;
    }
    name = decoded;
    entry.index = index;
    if (!describeEntry(index, entry, error))
        return false;
    // Packages made on Windows may separate folders with "\".
    decoded.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (decoded.startsWith(QLatin1Char('/'))) {
        error = QStringLiteral("the entry name is an absolute path");
        return false;
    }
    if (decoded.endsWith(QLatin1Char('/')) && entry.kind == EntryKind::File)
        entry.kind = EntryKind::Folder;
    for (const QString &part : decoded.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            error = QStringLiteral("the entry name contains a \"..\" component");
            return false;
        }
        if (entry.parts.isEmpty() && isDrivePrefix(part)) {
            error = QStringLiteral("the entry name is an absolute path");
            return false;
        }
        if (part != QLatin1String("."))
            entry.parts.append(part);
    }
    if (entry.kind == EntryKind::Link) {
        error = QStringLiteral("symbolic-link entries are not extracted");
        return false;
    }
    if (entry.kind == EntryKind::Special) {
        error = QStringLiteral("the entry is neither a file nor a folder");
        return false;
    }
    int dirFd = -1;
    QString dirKey;
    if (entry.kind == EntryKind::Folder || entry.parts.isEmpty())
        return openFolderChain(entry.parts, entry.parts.size(), dirFd, dirKey, error);
    return openFolderChain(entry.parts, entry.parts.size() - 1, dirFd, dirKey, error)
           && writeFile(dirFd, dirKey, entry.parts.last(), entry, error);
}

bool VHZipExtractor::describeEntry(qint64 index, Entry &entry, QString &error) const
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_archive.get(), zip_uint64_t(index), 0, &st) != 0) {
        error = QString::fromUtf8(zip_strerror(m_archive.get()));
        return false;
    }
    entry.hasSize = st.valid & ZIP_STAT_SIZE;
    entry.size = st.size;
    entry.hasTime = st.valid & ZIP_STAT_MTIME;
    entry.mtime = st.mtime;
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(m_archive.get(), zip_uint64_t(index), 0, &system, &attributes) == 0
        && system == ZIP_OPSYS_UNIX) {
        const mode_t type = mode_t(attributes >> 16) & S_IFMT;
        if (type == S_IFLNK)
            entry.kind = EntryKind::Link;
        else if (type == S_IFDIR)
            entry.kind = EntryKind::Folder;
        else if (type != 0 && type != S_IFREG)
            entry.kind = EntryKind::Special;
    }
    return true;
}

bool VHZipExtractor::openFolderChain(const QStringList &parts, qsizetype count, int &dirFd, QString &dirKey,
                                     QString &error)
{
    const QString key = parts.mid(0, count).join(QLatin1Char('/'));
    if (count > 0 && m_chainFd.isValid() && key == m_chainKey) {
        dirFd = m_chainFd.get();
        dirKey = m_chainResolvedKey;
        return true;
    }
    VHFileOps::UniqueFd current;
    int currentFd = m_base.get();
    QString currentKey;
    for (qsizetype i = 0; i < count; ++i) {
        QString actual;
        VHFileOps::UniqueFd child = openOrCreateChild(currentFd, currentKey, parts.at(i), actual, error);
        if (!child.isValid())
            return false;
        current = std::move(child);
        currentFd = current.get();
        currentKey += QLatin1Char('/') + actual;
    }
    if (count == 0) {
        dirFd = m_base.get();
        dirKey.clear();
        return true;
    }
    m_chainFd = std::move(current);
    m_chainKey = key;
    m_chainResolvedKey = currentKey;
    dirFd = m_chainFd.get();
    dirKey = currentKey;
    return true;
}

VHFileOps::UniqueFd VHZipExtractor::openOrCreateChild(int dirFd, const QString &dirKey, const QString &name,
                                                      QString &actual, QString &error)
{
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    actual = name;
    VHFileOps::UniqueFd child(::openat(dirFd, VHFileOps::encodeName(name).constData(), flags));
    if (!child.isValid() && errno == ENOENT) {
        // As on FAT: a folder that exists in another spelling is that folder.
        const QString existing = indexOf(dirFd, dirKey).find(name);
        if (!existing.isEmpty()) {
            actual = existing;
            child.reset(::openat(dirFd, VHFileOps::encodeName(existing).constData(), flags));
        } else if (::mkdirat(dirFd, VHFileOps::encodeName(name).constData(), 0777) == 0) {
            indexOf(dirFd, dirKey).add(name);
            // A folder made just now is known to be empty.
            m_indexes.insert(dirKey + QLatin1Char('/') + name, VHFileOps::NameIndex());
            child.reset(::openat(dirFd, VHFileOps::encodeName(name).constData(), flags));
        } else if (errno == EEXIST) {
            child.reset(::openat(dirFd, VHFileOps::encodeName(name).constData(), flags));
        }
    }
    if (!child.isValid()) {
        const int code = errno;
        if (code == ELOOP || code == ENOTDIR)
            error = QStringLiteral("\"") + actual + QStringLiteral("\" is a symbolic link or not a folder");
        else
            error = QStringLiteral("cannot create the folder \"") + actual + QStringLiteral("\": ") + errnoText(code);
    }
    return child;
}

bool VHZipExtractor::writeFile(int dirFd, const QString &dirKey, const QString &name, const Entry &entry,
                               QString &error)
{
    QString target = name;
    struct stat st;
    if (::fstatat(dirFd, VHFileOps::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        const QString existing = indexOf(dirFd, dirKey).find(name);
        if (!existing.isEmpty()
            && ::fstatat(dirFd, VHFileOps::encodeName(existing).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            target = existing;
        else
            st.st_mode = 0;
    }
    if (S_ISDIR(st.st_mode)) {
        error = QStringLiteral("a folder \"") + target + QStringLiteral("\" is in the way");
        return false;
    }
    VHFileOps::PendingFile out(dirFd, 0666);
    if (!out.isValid()) {
        error = QStringLiteral("cannot create a file: ") + errnoText(errno);
        return false;
    }
    if (!streamEntryData(entry, out.handle(), error))
        return false;
    // The skip rules of the device procedures compare modification times.
    if (entry.hasTime)
        VHFileOps::setModificationTime(out.handle(), timespec{entry.mtime, 0});
    if (const int code = out.commit(VHFileOps::encodeName(target), false)) {
        error = QStringLiteral("cannot write the file into place: ") + errnoText(code);
        return false;
    }
    indexOf(dirFd, dirKey).add(target);
    return true;
}

bool VHZipExtractor::streamEntryData(const Entry &entry, int out, QString &error)
{
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(m_archive.get(), zip_uint64_t(entry.index), 0));
    if (!file) {
        error = QString::fromUtf8(zip_strerror(m_archive.get()));
        return false;
    }
    if (m_buffer.empty())
        m_buffer.resize(kChunkSize);
    quint64 total = 0;
    for (;;) {
        // An inflate or checksum error is corruption: the entry fails.
        const zip_int64_t n = zip_fread(file.get(), m_buffer.data(), m_buffer.size());
        if (n < 0) {
            error = QString::fromUtf8(zip_file_strerror(file.get()));
            return false;
        }
        if (n == 0)
            break;
        // Checked before writing: an entry stating a few bytes must not fill the disk.
        if (!entry.hasSize || quint64(n) > entry.size - total) {
            error = QStringLiteral("the entry inflates past its stated size");
            return false;
        }
        for (zip_int64_t offset = 0; offset < n;) {
            const ssize_t w = VHSys::write(out, m_buffer.data() + offset, size_t(n - offset));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0) {
                error = QStringLiteral("cannot write the file: ") + errnoText(errno);
                return false;
            }
            offset += w;
        }
        total += quint64(n);
        m_written += n;
        if (m_chunkWritten)
            m_chunkWritten(m_written);
    }
    if (total != entry.size) {
        error = QStringLiteral("the entry's data does not match its stated size");
        return false;
    }
    return true;
}

VHFileOps::NameIndex &VHZipExtractor::indexOf(int dirFd, const QString &dirKey)
{
    auto it = m_indexes.find(dirKey);
    if (it == m_indexes.end())
        it = m_indexes.insert(dirKey, VHFileOps::NameIndex::ofFolder(dirFd));
    return it.value();
}
