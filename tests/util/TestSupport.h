#pragma once

// Helpers shared by the util tests: log capture, small files, a tiny volume.

#include "VHTestFiles.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <unistd.h>

// Collects every log message while alive.
class LogCapture
{
public:
    LogCapture()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    int count(const QString &part) const
    {
        int n = 0;
        for (const QString &line : s_lines)
            n += line.contains(part) ? 1 : 0;
        return n;
    }
    QString all() const { return s_lines.join(QLatin1Char('\n')); }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message) { s_lines.append(message); }
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

inline QByteArray randomBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(generator.generate() & 0xFF);
    return data;
}

// Every entry below folder, hidden ones included, relative and sorted.
inline QStringList treeOf(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names.append(QDir(folder).relativeFilePath(it.next()));
    names.sort();
    return names;
}

// A small tmpfs (64 KiB unless told) mounted for the life of the object (root only).
class TinyVolume
{
public:
    explicit TinyVolume(const QString &path, const QString &size = QStringLiteral("64k")) : m_path(path)
    {
        QDir().mkpath(path);
        m_mounted = ::geteuid() == 0
                    && QProcess::execute(QStringLiteral("mount"),
                                         {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                          QStringLiteral("size=") + size, QStringLiteral("tmpfs"), path})
                           == 0;
    }
    ~TinyVolume()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_path});
    }
    bool isMounted() const { return m_mounted; }

private:
    QString m_path;
    bool m_mounted = false;
};
