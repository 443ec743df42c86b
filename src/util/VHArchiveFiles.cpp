#include "VHArchiveFiles.h"

#include "VHFileOps.h"
#include "VHSafeFolder.h"
#include "VHZipExtractor.h"
#include "VHZipLayout.h"

#include <QDir>
#include <QSet>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <zip.h>

#include <memory>

namespace {

constexpr int kRefused = 1;

VHResult refused(const QString &reason) { return VHResult::failure(kRefused, reason); }

// Tracks what the package has taken so far against the limits.
struct Budget
{
    const VHArchiveFiles::Limits &limits;
    QSet<QString> foldedNames;
    qint64 total = 0;

    VHResult take(const QString &name, quint64 size)
    {
        if (!VHArchiveFiles::isSafeName(name))
            return refused("the package holds an entry whose name is not safe: \"" + name + "\"");
        if (foldedNames.contains(name.toCaseFolded()))
            return refused("the package holds two entries named \"" + name + "\"");
        foldedNames.insert(name.toCaseFolded());
        if (foldedNames.size() > limits.maxEntries)
            return refused(QStringLiteral("the package holds more than %1 files").arg(limits.maxEntries));
        if (size > quint64(limits.maxEntrySize))
            return refused(
                QStringLiteral("the entry \"%1\" is larger than %2 bytes").arg(name).arg(limits.maxEntrySize));
        total += qint64(size);
        if (total > limits.maxTotalSize)
            return refused(QStringLiteral("the package unpacks to more than %1 bytes").arg(limits.maxTotalSize));
        return VHResult::success();
    }
};

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    (void)QString(decoder(bytes));
    return !decoder.hasError();
}

enum class Kind { File, Folder, Other };

Kind kindOf(zip_t *archive, zip_uint64_t index, const QByteArray &rawName)
{
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) == 0 && system == ZIP_OPSYS_UNIX) {
        const mode_t type = mode_t(attributes >> 16) & S_IFMT;
        if (type == S_IFDIR)
            return Kind::Folder;
        if (type != 0 && type != S_IFREG)
            return Kind::Other;
    }
    return rawName.endsWith('/') ? Kind::Folder : Kind::File;
}

// The entry's bytes: exactly its stated size, its checksum checked at the end.
VHResult readEntry(zip_t *archive, zip_uint64_t index, const QString &name, quint64 size, QByteArray &bytes)
{
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen_index(archive, index, 0), &zip_fclose);
    if (!file)
        return refused("the entry \"" + name + "\" can not be opened: " + QString::fromUtf8(zip_strerror(archive)));
    bytes.resize(qsizetype(size) + 1);
    qint64 got = 0;
    // One byte past the stated size: an entry that inflates further is caught, and the end checks the sum.
    for (zip_int64_t n = 0; got < qint64(bytes.size()); got += n) {
        n = zip_fread(file.get(), bytes.data() + got, zip_uint64_t(bytes.size() - got));
        if (n < 0)
            return refused("the entry \"" + name
                           + "\" is damaged: " + QString::fromUtf8(zip_file_strerror(file.get())));
        if (n == 0)
            break;
    }
    if (got != qint64(size))
        return refused("the entry \"" + name + "\" does not hold its stated size");
    bytes.resize(qsizetype(size));
    return VHResult::success();
}

} // namespace

bool VHArchiveFiles::isSafeName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
        || name.contains(QChar(0)))
        return false;
    const QStringList parts = name.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

QStringList VHArchiveFiles::topLevel(const Files &files)
{
    QStringList names;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!it.key().contains(QLatin1Char('/')))
            names.append(it.key());
    }
    return names;
}

VHResult VHArchiveFiles::read(const QString &zipPath, Files &files) { return read(zipPath, files, Limits()); }

VHResult VHArchiveFiles::readFolder(const QString &folder, Files &files) { return readFolder(folder, files, Limits()); }

VHResult VHArchiveFiles::read(const QString &zipPath, Files &files, const Limits &limits)
{
    return read(zipPath, files, limits, nullptr);
}

VHResult VHArchiveFiles::read(const QString &zipPath, Files &files, const Limits &limits, Times *modified)
{
    files.clear();
    Times times;
    // Our own reading of the directory gives the names as stored and refuses entries that share their bytes.
    VHZipLayout::Layout layout;
    if (!VHZipLayout::read(zipPath, layout))
        return refused("the package " + zipPath + " is not a whole zip archive");
    if (const QString overlap = VHZipLayout::overlapOf(layout); !overlap.isEmpty())
        return refused("the package " + zipPath + " is malformed: " + overlap);
    if (qint64(layout.records.size()) > limits.maxEntries)
        return refused(QStringLiteral("the package holds more than %1 entries").arg(limits.maxEntries));
    // Before libzip sees the directory: it refuses a repeated name with words of its own.
    QSet<QString> seen;
    for (const VHZipLayout::Record &record : layout.records) {
        const QString folded = QString::fromUtf8(record.rawName).toCaseFolded();
        if (seen.contains(folded))
            return refused("the package holds two entries named \"" + QString::fromUtf8(record.rawName) + "\"");
        seen.insert(folded);
    }
    int code = 0;
    std::unique_ptr<zip_t, VHZipExtractor::ZipCloser> archive(
        zip_open(VHFileOps::encodeName(zipPath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!archive)
        return refused("the package " + zipPath + " can not be opened: " + VHZipExtractor::errorText(code));
    if (zip_get_num_entries(archive.get(), 0) != zip_int64_t(layout.records.size()))
        return refused("the package " + zipPath + " has a directory that reads two ways");
    Budget budget{limits, {}, 0};
    Files read;
    for (zip_uint64_t index = 0; index < layout.records.size(); ++index) {
        const QByteArray &raw = layout.records[index].rawName;
        if (raw.contains('\0') || !isValidUtf8(raw))
            return refused("the package " + zipPath + " holds an entry whose name is not UTF-8 text");
        const QString name = QString::fromUtf8(raw);
        const Kind kind = kindOf(archive.get(), index, raw);
        if (kind == Kind::Other)
            return refused("the package holds a link or special entry: \"" + name + "\"");
        if (kind == Kind::Folder)
            continue;
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive.get(), index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
            return refused("the entry \"" + name + "\" states no size");
        if (VHResult taken = budget.take(name, st.size); !taken)
            return taken;
        QByteArray bytes;
        if (VHResult entry = readEntry(archive.get(), index, name, st.size, bytes); !entry)
            return entry;
        read.insert(name, bytes);
        if (st.valid & ZIP_STAT_MTIME)
            times.insert(name, qint64(st.mtime));
    }
    files = read;
    if (modified)
        *modified = times;
    return VHResult::success();
}

namespace {

// Empties `folder`, making it when missing.
bool emptyFolder(const QString &folder)
{
    QDir dir(folder);
    return !(dir.exists() && !dir.removeRecursively()) && QDir().mkpath(folder);
}

bool writeOne(const QString &folder, const QString &path, const QByteArray &bytes, const VHArchiveFiles::Times &times)
{
    const QString name = path.section(QLatin1Char('/'), -1);
    VHSafeFolder target = VHSafeFolder::open(folder, path.section(QLatin1Char('/'), 0, -2), VHSafeFolder::Create);
    if (!target.isValid() || !target.writeFile(name, bytes))
        return false;
    if (!times.contains(path))
        return true;
    const struct timespec stamps[2] = {{0, UTIME_OMIT}, {time_t(times.value(path)), 0}};
    return ::utimensat(target.handle(), VHFileOps::encodeName(name).constData(), stamps, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace

VHResult VHArchiveFiles::writeInto(const QString &folder, const Files &files, const Times &modified)
{
    if (!emptyFolder(folder))
        return VHResult::failure(kRefused, "can not empty the folder " + folder);
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!isSafeName(it.key()))
            return refused("the package holds an entry whose name is not safe: \"" + it.key() + "\"");
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (writeOne(folder, it.key(), it.value(), modified))
            continue;
        // Half a tree is never left to be copied.
        (void)emptyFolder(folder);
        return VHResult::failure(kRefused, "can not write " + it.key() + " into " + folder);
    }
    return VHResult::success();
}

VHResult VHArchiveFiles::readFolder(const QString &folder, Files &files, const Limits &limits)
{
    files.clear();
    const QDir dir(folder);
    if (!dir.exists())
        return refused("the folder " + folder + " does not exist");
    VHSafeFolder safe = VHSafeFolder::open(dir.absolutePath(), QString());
    if (!safe.isValid())
        return refused("the folder " + folder + " can not be opened");
    Budget budget{limits, {}, 0};
    Files read;
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Name)) {
        if (VHResult taken = budget.take(entry.fileName(), quint64(entry.size())); !taken)
            return taken;
        QByteArray bytes;
        // Read without following a link that took the file's place since it was listed.
        if (!safe.readFile(entry.fileName(), limits.maxEntrySize, bytes))
            return refused("can not read " + entry.absoluteFilePath());
        read.insert(entry.fileName(), bytes);
    }
    files = read;
    return VHResult::success();
}
