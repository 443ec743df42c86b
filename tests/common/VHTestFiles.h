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

// The tree with hashes, to show that nothing below a folder changed.
inline QStringList snapshot(const QString &folder) { return treeOf(folder, TreeDetail::WithHashes); }
