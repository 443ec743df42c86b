#include "VHZipDirectory.h"

#include "VHZipExtractor.h"
#include "VHZipLayout.h"

#include <QFile>

#include <memory>

#include <zip.h>

namespace VHZipDirectory {

namespace {
bool fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}
} // namespace

bool readRawNames(const QString &zipPath, QList<QByteArray> &names)
{
    names.clear();
    VHZipLayout::Layout layout;
    if (!VHZipLayout::read(zipPath, layout))
        return false;
    names.reserve(qsizetype(layout.records.size()));
    for (const VHZipLayout::Record &record : layout.records)
        names.append(record.rawName);
    return true;
}

bool isComplete(const QString &zipPath, QString *why)
{
    int code = 0;
    // ZIP_CHECKCONS compares every entry's local header with its directory record.
    const std::unique_ptr<zip_t, VHZipExtractor::ZipCloser> archive(
        zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!archive)
        return fail(why, VHZipExtractor::errorText(code));
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (count <= 0)
        return fail(why, QStringLiteral("no entries"));
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive.get(), zip_uint64_t(i), 0, &stat) != 0)
            return fail(why, QStringLiteral("entry %1: %2").arg(i).arg(QString::fromUtf8(zip_strerror(archive.get()))));
        if ((stat.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(stat.comp_method, 0))
            return fail(why,
                        QStringLiteral("entry %1: compression method %2 not supported").arg(i).arg(stat.comp_method));
    }
    // The unpacker reads the raw names with our own reader; it must agree.
    QList<QByteArray> names;
    if (!readRawNames(zipPath, names) || names.size() != count)
        return fail(why, QStringLiteral("directory records can not be read"));
    return true;
}

} // namespace VHZipDirectory
