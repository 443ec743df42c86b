#include "VHPackageIdentity.h"

#include "VHFileOps.h"
#include "VHIniDocument.h"
#include "VHVersion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <zip.h>

namespace {

const char *const kReleaseIni = "release.ini";

struct ArchiveCloser
{
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
struct EntryCloser
{
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

// The bytes of the archive's top-level release.ini; empty when it has none
// or one too large to be ours.
QByteArray releaseIniOfZip(const QString &zipPath)
{
    int code = 0;
    std::unique_ptr<zip_t, ArchiveCloser> archive(
        zip_open(VHFileOps::encodeName(zipPath).constData(), ZIP_RDONLY, &code));
    if (!archive)
        return {};
    const zip_int64_t index = zip_name_locate(archive.get(), kReleaseIni, ZIP_FL_NOCASE);
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (index < 0 || zip_stat_index(archive.get(), zip_uint64_t(index), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)
        || stat.size > zip_uint64_t(VHPackageIdentity::kMaxReleaseIniSize))
        return {};
    std::unique_ptr<zip_file_t, EntryCloser> entry(zip_fopen_index(archive.get(), zip_uint64_t(index), 0));
    if (!entry)
        return {};
    QByteArray bytes(qsizetype(stat.size), '\0');
    const zip_int64_t read = zip_fread(entry.get(), bytes.data(), stat.size);
    // A short or failed read is a damaged package: nothing it says is trusted.
    return read == zip_int64_t(stat.size) ? bytes : QByteArray();
}

QByteArray releaseIniOfFile(const QString &path)
{
    QFile file(path);
    if (QFileInfo(path).size() > VHPackageIdentity::kMaxReleaseIniSize || !file.open(QIODevice::ReadOnly))
        return {};
    return file.read(VHPackageIdentity::kMaxReleaseIniSize);
}

// Only plain, short texts count: a damaged or hostile file names nothing.
QString plainValue(const VHIniDocument &ini, const char *group, const char *key)
{
    const QString value = ini.value(QLatin1String(group), QLatin1String(key)).trimmed();
    return value.size() <= 64 && VHVersion::isPlainText(value) ? value : QString();
}

} // namespace

VHPackageIdentity VHPackageIdentity::fromReleaseIni(const QByteArray &text)
{
    const VHIniDocument ini(text);
    VHPackageIdentity identity;
    identity.model = plainValue(ini, "MODEL", "Name");
    if (identity.model.isEmpty())
        identity.model = plainValue(ini, "MODEL", "Model");
    identity.version = plainValue(ini, "OS", "Version");
    identity.bootLoaderVersion = plainValue(ini, "BootLoader", "Version");
    return identity;
}

VHPackageIdentity VHPackageIdentity::read(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return fromReleaseIni(releaseIniOfZip(path));
    if (!info.isDir())
        return {};
    const QDir folder(path);
    if (QFileInfo(folder.filePath(QLatin1String(kReleaseIni))).isFile())
        return fromReleaseIni(releaseIniOfFile(folder.filePath(QLatin1String(kReleaseIni))));
    return fromReleaseIni(releaseIniOfZip(folder.filePath(QStringLiteral("Total.zip"))));
}
