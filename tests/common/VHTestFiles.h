#pragma once

// Small files and folder listings for tests.

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTest>

// Writes `bytes` to `path` whole, making missing folders. A file that cannot
// be written fails the running test too, so a setup step cannot fail unseen.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size())
        return true;
    QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
    return false;
}

// The whole file, or nothing when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

enum class TreeDetail { NamesOnly, WithHashes };

// Every entry below folder, hidden ones included, relative and sorted; with
// hashes each regular file (links not followed) carries the MD5 of its bytes.
inline QStringList treeOf(const QString &folder, TreeDetail detail = TreeDetail::NamesOnly)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QString name = QDir(folder).relativeFilePath(info.filePath());
        if (detail == TreeDetail::WithHashes && info.isFile() && !info.isSymLink())
            name +=
                QLatin1Char(' ') + QCryptographicHash::hash(readFile(info.filePath()), QCryptographicHash::Md5).toHex();
        names.append(name);
    }
    names.sort();
    return names;
}

// One value of an ini file, such as "OS/Version". Read afresh each time: QSettings keeps files it read
// by path and trusts an equal size and second-grained time, so a rewritten file could read as the old one.
inline QString iniValue(const QString &ini, const QString &key)
{
    QString group;
    for (const QByteArray &raw : readFile(ini).split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString name = line.left(equals).trimmed();
        if ((group.isEmpty() || group == QLatin1String("General") ? name : group + QLatin1Char('/') + name) == key) {
            const QString value = line.mid(equals + 1).trimmed();
            const bool quoted =
                value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'));
            return quoted ? value.mid(1, value.size() - 2) : value;
        }
    }
    return QString();
}

// The tree with hashes, to show that nothing below a folder changed.
inline QStringList snapshot(const QString &folder) { return treeOf(folder, TreeDetail::WithHashes); }
