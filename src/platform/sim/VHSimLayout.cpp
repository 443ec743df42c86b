#include "VHSimLayout.h"

#include "VHIniDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace VHSimLayout {

QStringList driveFolders(const QString &root)
{
    QStringList drives;
    const QStringList names = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        if (!name.startsWith(QLatin1Char('.')))
            drives.append(root + QLatin1Char('/') + name);
    }
    return drives;
}

QStringList unmountedDriveNames(const QString &root)
{
    QStringList names = QDir(root + QLatin1Char('/') + kUnmountedFolder)
                            .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    names.removeIf([](const QString &name) { return name.startsWith(QLatin1Char('.')); });
    return names;
}

QString unmountedDrivePath(const QString &root, const QString &name)
{
    return root + QLatin1Char('/') + kUnmountedFolder + QLatin1Char('/') + name;
}

QStringList scsiDeviceNames(const QString &root)
{
    return QDir(root + QLatin1Char('/') + kScsiFolder)
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QString scsiLinkPath(const QString &root, const QString &name)
{
    return root + QLatin1Char('/') + kScsiFolder + QLatin1Char('/') + name;
}

QString deviceFolder(const QString &root, const QString &name)
{
    return root + QLatin1Char('/') + kDevicesFolder + QLatin1Char('/') + name;
}

QString scsiDeviceFolder(const QString &root, const QString &name)
{
    const QFileInfo link(scsiLinkPath(root, name));
    const QString folder = link.isSymLink() ? link.canonicalFilePath() : link.absoluteFilePath();
    return QFileInfo(folder).isDir() ? folder : QString();
}

// Changes with every rewrite of the file (QSettings writes a new file and renames it).
QByteArray fileStamp(const QString &path)
{
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(quint64(st.st_ino)) + ':' + QByteArray::number(qint64(st.st_mtim.tv_sec)) + ':'
           + QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ':' + QByteArray::number(qint64(st.st_size));
}

QHash<QString, QString> readSmallIni(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || file.size() > kMaxSmallFile || !file.open(QIODevice::ReadOnly))
        return {};
    return vhSettingsTextValues(file.read(kMaxSmallFile));
}

QString driveKey(const QString &drivePath)
{
    struct stat st
    {};
    const bool known = ::lstat(QFile::encodeName(drivePath).constData(), &st) == 0;
    const QString plugId = readSmallIni(drivePath + QLatin1Char('/') + kDriveInfo).value(QStringLiteral("plugId"));
    return QStringLiteral("%1|%2|%3").arg(drivePath, plugId).arg(known ? quint64(st.st_ino) : 0);
}

QString scsiKey(const QString &root, const QString &name)
{
    struct stat st
    {};
    const QString link = scsiLinkPath(root, name);
    if (::lstat(QFile::encodeName(link).constData(), &st) != 0)
        return name;
    return QStringLiteral("%1|%2|%3.%4")
        .arg(name)
        .arg(quint64(st.st_ino))
        .arg(st.st_ctim.tv_sec)
        .arg(st.st_ctim.tv_nsec);
}

} // namespace VHSimLayout
