#include "VHZipUtil.h"

#include "VHFileOps.h"
#include "VHLog.h"
#include "VHSafeFolder.h"
#include "VHZipExtractor.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <memory>

#include <zip.h>

namespace {
using ZipArchive = std::unique_ptr<zip_t, VHZipExtractor::ZipCloser>;

ZipArchive createArchive(const QString &zipPath, QString &error)
{
    int code = 0;
    ZipArchive archive(zip_open(VHFileOps::encodeName(zipPath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code));
    if (!archive)
        error = VHZipExtractor::errorText(code);
    return archive;
}

// libzip writes to a temporary file and renames it, so a failed close leaves
// any earlier archive as it was and never a half-written one.
bool closeArchive(ZipArchive &archive, QString &error)
{
    if (zip_close(archive.get()) != 0) {
        error = QString::fromUtf8(zip_strerror(archive.get()));
        return false;
    }
    archive.release();
    return true;
}

// libzip writes no file for an archive without entries; callers expect one.
bool writeEmptyArchive(const QString &zipPath)
{
    static const char endRecord[22] = {0x50, 0x4b, 0x05, 0x06};
    return VHSafeFolder::writeFileBelow(QString(), zipPath, QByteArray(endRecord, sizeof endRecord));
}

void setProgress(QMutex *mutex, float *progress, float value)
{
    if (!mutex || !progress)
        return;
    QMutexLocker lock(mutex);
    *progress = value;
}
} // namespace

bool VHZipUtil::compress(const QString &zipPath, const QStringList &files, QMutex *mutex, float *progress)
{
    if (!mutex)
        return false;
    return compressFiles(zipPath, QString(), files, mutex, progress);
}

bool VHZipUtil::compress(const QString &zipPath, const QStringList &files)
{
    return compressFiles(zipPath, QString(), files, nullptr, nullptr);
}

bool VHZipUtil::compress(const QString &zipPath, const QString &folder, const QStringList &names)
{
    return compressFiles(zipPath, folder, names, nullptr, nullptr);
}

bool VHZipUtil::compressFiles(const QString &zipPath, const QString &folder, const QStringList &files, QMutex *mutex,
                              float *progress)
{
    QString error;
    ZipArchive archive = createArchive(zipPath, error);
    if (!archive) {
        vhWarning() << "can not create archive" << zipPath << error;
        return false;
    }
    const qsizetype count = files.size();
    int added = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const QString &file = files.at(i);
        const QString path = folder.isEmpty() ? file : folder + QLatin1Char('/') + file;
        // A file that cannot be read would make the whole archive fail at
        // close; it is left out, as a missing entry is not an error here.
        zip_source_t *source = nullptr;
        if (QFileInfo(path).isFile() && QFileInfo(path).isReadable())
            source = zip_source_file(archive.get(), VHFileOps::encodeName(path).constData(), 0, -1);
        if (source
            && zip_file_add(archive.get(), file.toUtf8().constData(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8)
                   >= 0) {
            ++added;
        } else {
            if (source)
                zip_source_free(source);
            vhWarning() << "can not add file" << file << "to" << zipPath;
        }
        setProgress(mutex, progress, float(i) / float(count));
    }
    if (added == 0) {
        archive.reset();
        return writeEmptyArchive(zipPath);
    }
    if (!closeArchive(archive, error)) {
        vhWarning() << "can not write archive" << zipPath << error;
        return false;
    }
    return true;
}

bool VHZipUtil::decompress(const QString &zipPath, const QString &folder, QMutex *mutex, float *progress, float span)
{
    if (!mutex)
        return false;
    const float start = progress ? *progress : 0.0f;
    return extractAll(zipPath, folder, [&](qint64 i, qint64 count, bool failed) {
        if (failed)
            vhWarning() << "unzip failed in decompress(QString fname,QString folder,QMutex *m, float *f)";
        setProgress(mutex, progress, float(i) / float(count) * span + start);
    });
}

bool VHZipUtil::decompress(const QString &zipPath, const QString &folder)
{
    return extractAll(zipPath, folder, [](qint64, qint64, bool) {});
}

bool VHZipUtil::decompress(const QString &zipPath, const QString &folder, const ByteProgress &progress)
{
    return extractAll(
        zipPath, folder, [](qint64, qint64, bool) {}, progress);
}

bool VHZipUtil::extractAll(const QString &zipPath, const QString &folder,
                           const std::function<void(qint64, qint64, bool)> &afterEntry, const ByteProgress &bytes)
{
    VHZipExtractor extractor;
    QString error;
    // A refused archive writes nothing, not even the folder.
    if (!extractor.open(zipPath, error) || !extractor.checkFreeSpace(folder, error)
        || !extractor.setBaseFolder(folder, error)) {
        vhWarning() << "can not unzip" << zipPath << "to" << folder << ":" << error;
        return false;
    }
    const qint64 count = extractor.entryCount();
    const auto stated = qint64(extractor.statedBytes());
    if (bytes) {
        bytes(0, stated);
        extractor.setChunkWritten([&](qint64 written) { bytes(written, stated); });
    }
    bool result = true;
    for (qint64 i = 0; i < count; ++i) {
        QString name;
        const bool failed = !extractor.extractEntry(i, name, error);
        // A package with a bad entry must not pass as unpacked: its images
        // would reach the device incomplete.
        if (failed)
            result = false;
        afterEntry(i, count, failed);
        if (failed) {
            vhWarning() << "failed name " << name << "from " << zipPath;
            vhWarning() << "reason:" << error;
        }
    }
    // An entry may state more than it holds (a folder entry, say): a whole unpack ends the phase.
    if (bytes && result)
        bytes(stated, stated);
    return result;
}

bool VHZipUtil::compressFolder(const QString &zipPath, const QString &folderName)
{
    QString error;
    ZipArchive archive = createArchive(zipPath, error);
    if (archive && zip_dir_add(archive.get(), folderName.toUtf8().constData(), ZIP_FL_ENC_UTF_8) < 0)
        error = QString::fromUtf8(zip_strerror(archive.get()));
    if (!error.isEmpty()) {
        vhWarning() << "can not create archive" << zipPath << "with folder" << folderName << error;
        return false;
    }
    if (!closeArchive(archive, error)) {
        vhWarning() << "can not write archive" << zipPath << error;
        return false;
    }
    return true;
}
