#include "VHSimLayout.h"

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

namespace {
// QSettings quotes values with leading or trailing spaces and some characters.
QString unquoted(const QString &value)
{
    if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) || !value.endsWith(QLatin1Char('"')))
        return value;
    QString text;
    const QString inner = value.mid(1, value.size() - 2);
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] == QLatin1Char('\\') && i + 1 < inner.size())
            ++i;
        text.append(inner[i]);
    }
    return text;
}
} // namespace

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
    QHash<QString, QString> values;
    QFile file(path);
    if (!QFileInfo(path).isFile() || file.size() > kMaxSmallFile || !file.open(QIODevice::ReadOnly))
        return values;
    QString group;
    for (const QByteArray &raw : file.read(kMaxSmallFile).split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        // The General group is what QSettings writes for keys outside a group.
        const bool general = group.isEmpty() || group == QLatin1String("General");
        values.insert(general ? key : group + QLatin1Char('/') + key, unquoted(line.mid(equals + 1).trimmed()));
    }
    return values;
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
